#!/bin/sh
# Many printers at once: for 20 printers x 3 jobs and for 40 printers x 5
# jobs, every Print-Job sent at the same moment (a 2-page text PDF each, so
# each job is a Ghostscript and a filter), the peak memory of the server
# and all its children together (resident, sampled every 0.1 s) and the
# slowest Print-Job answer (curl's time from connecting to the answer).  Targets on 2 cores: under 400 MB and under
# 1 s.  The server runs with its default limit on jobs rendering at once
# (jobs-at-once follows the cores and memory); APP_OPTIONS adds options
# ("-o jobs-at-once=0" for none); MANY_SIZES other sizes ("5x2 10x4").
# Then Print-Job and Get-Jobs on a paused printer with none and with 1,000
# jobs queued (MANY_QUEUE).  MANY_LOG=PREFIX keeps each run's server log.
#   sh scripts/bench.d/app-many.sh [BUILD_DIR]
set -eu
build=$(cd "${1:-build}" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
if [ ! -x "$build/bin/tesvel-printer-app" ]; then
  echo "app-many: the Printer Application is not built; skipped"
  exit 0
fi
# shellcheck source=scripts/app-lib.sh
. "$top/scripts/app-lib.sh"
work=$(mktemp -d)
sampler=""
trap 'app_stop; [ -z "$sampler" ] || kill "$sampler" 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

doc_text_pdf 2 "$work/doc.pdf"

# The resident memory of a process and all its descendants, in kB.
tree_rss_kb() {
  ps -e -o pid=,ppid=,rss= | awk -v root="$1" '
    { parent[$1] = $2; rss[$1] = $3 }
    END { for (p in parent) { q = p; while (q != "" && q != root && q > 1) q = parent[q]
                              if (q == root) sum += rss[p] }
          print sum + 0 }'
}

# print_job_bodies URI FILE OUT JOBS: whole Print-Job requests (IPP 2.0)
# for FILE, OUT-1.ipp to OUT-JOBS.ipp, each job named apart (the printer's
# file is named after the job), so that curl times the server's answer
# alone, not a client's start.
print_job_bodies() {
  python3 - "$@" <<'PY'
import struct, sys
uri, doc, out, jobs = sys.argv[1:]
def attr(tag, name, value):
    return struct.pack(">BH", tag, len(name)) + name.encode() + struct.pack(">H", len(value)) + value.encode()
for j in range(1, int(jobs) + 1):
    body = struct.pack(">BBHI", 2, 0, 0x0002, 1) + b"\x01"
    body += attr(0x47, "attributes-charset", "utf-8") + attr(0x48, "attributes-natural-language", "en")
    body += attr(0x45, "printer-uri", uri) + attr(0x42, "requesting-user-name", "bench")
    body += attr(0x42, "job-name", "job%d" % j) + attr(0x49, "document-format", "application/pdf") + b"\x03"
    open("%s-%d.ipp" % (out, j), "wb").write(body + open(doc, "rb").read())
PY
}

# run PRINTERS JOBS: one line of figures.
run() {
  app_start "$work/app"
  printers=""
  for i in $(seq 1 "$1"); do
    mkdir -p "$work/out/p$i"
    app_add "p$i" tesvel_tz3010 "file://$work/out/p$i"
    printers="$printers p$i"
  done
  (while :; do tree_rss_kb "$app_pid"; sleep 0.1; done) > "$work/rss" &
  sampler=$!
  rm -f "$work/answers"
  for p in $printers; do print_job_bodies "$(app_uri "$p")" "$work/doc.pdf" "$work/$p" "$2"; done
  # Every request at once; curl gives the time from connecting to the
  # whole answer, and the answer's status (0x0000: successful-ok).
  for p in $printers; do
    for j in $(seq 1 "$2"); do
      (t=$(curl -s -m 120 -o "$work/$p-$j.out" -w '%{time_total}' -H 'Content-Type: application/ipp' \
             --data-binary "@$work/$p-$j.ipp" "http://127.0.0.1:$app_port/ipp/print/$p")
       echo "$t $(od -An -tx1 -j2 -N2 "$work/$p-$j.out" 2>/dev/null | tr -d ' ')" >> "$work/answers") &
    done
  done
  wait_submits=$(($1 * $2))
  while [ "$(cat "$work/answers" 2>/dev/null | wc -l)" -lt "$wait_submits" ]; do sleep 0.1; done
  # shellcheck disable=SC2086
  app_wait_idle 900 $printers || echo "app-many: jobs still waiting after 900 s"
  kill "$sampler"
  sampler=""
  printed=$(find "$work/out" -type f | wc -l)
  # The same answers as the server saw them, from accepting the connection
  # to answering (its log): on a loaded machine the clients' own wait for
  # the CPU is the difference.
  inside=$(python3 - "$app_dir/log" <<'PY'
import datetime, re, sys
accepted, slow = {}, 0.0
for line in open(sys.argv[1]):
    m = re.match(r". \[([^\]]+)Z\] \[Client (\d+)\] (.*)", line)
    if not m:
        continue
    t = datetime.datetime.fromisoformat(m.group(1))
    if m.group(3).startswith("Accepted"):
        accepted[m.group(2)] = t
    elif m.group(3).startswith("Print-Job") and m.group(2) in accepted:
        slow = max(slow, (t - accepted[m.group(2)]).total_seconds())
print("%.2f" % slow)
PY
)
  awk -v n="$1" -v j="$2" -v printed="$printed" -v peak="$(sort -n "$work/rss" | tail -n 1)" -v inside="$inside" '
    { if ($1 > slow) slow = $1; if ($2 != "0000") refused++ }
    END { printf "%2d printers x %d jobs: peak memory %4.0f MB, slowest Print-Job %.2f s (%s s in the server), %d printed, %d refused\n",
                 n, j, peak / 1024, slow, inside, printed, refused }' "$work/answers"
  [ -z "${MANY_LOG:-}" ] || cp "$app_dir/log" "$MANY_LOG-$1x$2"
  app_stop
  rm -rf "$work/out"
}

echo "(at once: $(nproc) cores; the default jobs-at-once; ${APP_OPTIONS:-no other options})"
# queue JOBS: Print-Job and Get-Jobs answers on a paused printer with no
# job queued and with JOBS queued (each the best of three).
queue() {
  app_start "$work/app"
  mkdir -p "$work/out/q"
  app_add q tesvel_tz3010 "file://$work/out/q"
  TESVEL_PRINTER_APP_DIR=$app_dir "$app" pause -d q
  print_job_bodies "$(app_uri q)" "$work/doc.pdf" "$work/q" 1
  python3 - "$(app_uri q)" "$work/get-jobs.ipp" <<'PY'
import struct, sys
def attr(tag, name, value):
    return struct.pack(">BH", tag, len(name)) + name.encode() + struct.pack(">H", len(value)) + value.encode()
body = struct.pack(">BBHI", 2, 0, 0x000A, 1) + b"\x01" + attr(0x47, "attributes-charset", "utf-8")
body += attr(0x48, "attributes-natural-language", "en") + attr(0x45, "printer-uri", sys.argv[1]) + b"\x03"
open(sys.argv[2], "wb").write(body)
PY
  post() { curl -s -o /dev/null -w '%{time_total}\n' -H 'Content-Type: application/ipp' --data-binary "@$1" \
             "http://127.0.0.1:$app_port/ipp/print/q"; }
  best3() { for _ in 1 2 3; do post "$1"; sleep 0.5; done | sort -n | head -n 1; }
  p0=$(best3 "$work/q-1.ipp"); g0=$(best3 "$work/get-jobs.ipp")
  for _ in $(seq 4 "$1"); do post "$work/q-1.ipp" > /dev/null; done
  sleep 3  # the state saved with them
  p1=$(best3 "$work/q-1.ipp"); g1=$(best3 "$work/get-jobs.ipp")
  echo "paused printer: Print-Job ${p0} s with none queued, ${p1} s with $1; Get-Jobs ${g0} s, ${g1} s"
  # Idle connections (connected, saying nothing): each a client thread and
# its buffers in the server.
  before=$(app_rss_kb)
  python3 - "$app_port" "$app_pid" "$work/open-rss" <<'PY'
import socket, sys, time
port, pid, out = int(sys.argv[1]), sys.argv[2], sys.argv[3]
conns = []
for _ in range(300):
    s = socket.create_connection(("127.0.0.1", port))
    conns.append(s)
time.sleep(3)
with open("/proc/%s/status" % pid) as status:
    rss = [l.split()[1] for l in status if l.startswith("VmRSS:")][0]
open(out, "w").write(rss)
for s in conns:
    s.close()
PY
  sleep 5  # the connections' threads end and the next tick trims the heap
  echo "idle connections: server ${before} kB, $(cat "$work/open-rss") kB with 300 open, $(app_rss_kb) kB after they closed"
  app_stop
  rm -rf "$work/out"
}

for size in ${MANY_SIZES:-20x3 40x5}; do run "${size%x*}" "${size#*x}"; done
queue "${MANY_QUEUE:-1000}"
