#!/usr/bin/env python3
"""A network printer on 127.0.0.1 that takes AppSocket (raw port) jobs for
the load tests: each connection's bytes go to a file of their own, so a
test can tell whether a connection carried one job, two, or a job twice.

    fake_socket_printer.py DIR [IDLE-SECONDS] [--never-reads] [--rate=BYTES/S]
                           [--close-after=BYTES | --reset-after=BYTES]

A printer takes the job, reading it as fast as it comes, and closes the
connection once the sender has shut its side down.  Failing printers:
--never-reads accepts the connection and reads nothing; --rate reads
slowly (a printer reading as it prints); --close-after closes the
connection after that many bytes, --reset-after resets it (as a printer
that loses power or restarts does).

Listens on a free port and writes it to DIR/port once it listens.
Connection N (in the order they came) is written to DIR/conn-NNN.part and
renamed DIR/conn-NNN.prn when the sender closes it.  Stops by itself when
no connection has been open for IDLE-SECONDS (default 30), or when the
process that started it has gone.
"""
import os
import socket
import struct
import sys
import threading
import time


def receive(conn, out, path, how):
    taken = 0
    with conn, out:
        if how.get("never-reads"):
            while not how["stop"].wait(0.2):
                pass
            return
        limit = how.get("close-after") or how.get("reset-after")
        rate = how.get("rate")
        started = time.monotonic()
        while limit is None or taken < limit:
            want = 65536 if limit is None else min(65536, limit - taken)
            data = conn.recv(min(want, rate // 10) if rate else want)
            if not data:
                break
            out.write(data)
            taken += len(data)
            if rate:
                ahead = taken / rate - (time.monotonic() - started)
                if ahead > 0:
                    time.sleep(ahead)
        if limit is not None and taken >= limit and how.get("reset-after"):
            # A close with no lingering sends a reset.
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    os.rename(path + ".part", path + ".prn")


def options(args):
    how = {"stop": threading.Event()}
    positional = []
    for a in args:
        if a == "--never-reads":
            how["never-reads"] = True
        elif a.startswith("--") and "=" in a:
            name, value = a[2:].split("=", 1)
            how[name] = int(value)
        else:
            positional.append(a)
    return positional, how


def main():
    args, how = options(sys.argv[1:])
    out_dir = args[0]
    idle_limit = float(args[1]) if len(args) > 1 else 30.0
    parent = os.getppid()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    listener.settimeout(0.2)
    with open(os.path.join(out_dir, "port.tmp"), "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    os.rename(os.path.join(out_dir, "port.tmp"), os.path.join(out_dir, "port"))
    threads = []
    count = 0
    last_busy = time.monotonic()
    while os.getppid() == parent:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            threads = [t for t in threads if t.is_alive()]
            if threads:
                last_busy = time.monotonic()
            elif time.monotonic() - last_busy > idle_limit:
                break
            continue
        count += 1
        path = os.path.join(out_dir, "conn-%03d" % count)
        # Opened here, so that a .part file stands for every open connection.
        out = open(path + ".part", "wb")
        t = threading.Thread(target=receive, args=(conn, out, path, how), daemon=True)
        t.start()
        threads.append(t)
        last_busy = time.monotonic()
    how["stop"].set()
    for t in threads:
        t.join(5)


if __name__ == "__main__":
    main()
