#!/usr/bin/env python3
"""A network printer on 127.0.0.1 that takes AppSocket (raw port) jobs for
the load tests: each connection's bytes go to a file of their own, so a
test can tell whether a connection carried one job, two, or a job twice.

    fake_socket_printer.py DIR [IDLE-SECONDS]

Listens on a free port and writes it to DIR/port once it listens.
Connection N (in the order they came) is written to DIR/conn-NNN.part and
renamed DIR/conn-NNN.prn when the sender closes it.  Stops by itself when
no connection has been open for IDLE-SECONDS (default 30), or when the
process that started it has gone.
"""
import os
import socket
import sys
import threading
import time


def receive(conn, out, path):
    with conn, out:
        while True:
            data = conn.recv(65536)
            if not data:
                break
            out.write(data)
    os.rename(path + ".part", path + ".prn")


def main():
    out_dir = sys.argv[1]
    idle_limit = float(sys.argv[2]) if len(sys.argv) > 2 else 30.0
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
        t = threading.Thread(target=receive, args=(conn, out, path), daemon=True)
        t.start()
        threads.append(t)
        last_busy = time.monotonic()
    for t in threads:
        t.join(5)


if __name__ == "__main__":
    main()
