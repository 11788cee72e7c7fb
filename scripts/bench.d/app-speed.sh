#!/bin/sh
# PDF to printer bytes through the Printer Application and through the CUPS
# filter chain (cupsfilter with the model's PPD: pdftopdf, gstoraster, our
# rasterfilter), side by side for the demo sample, a 20-page text document
# and a 5-page photograph-like document; best of BENCH_RUNS runs each.  The
# application's printer is a socket: device on a loopback listener that
# notes when the first and the last byte arrive, so the figures include
# everything up to the printer.  Also: the time to the first byte of the
# 20-page document against one page rendered alone, and the idle server's
# resident memory.
#   sh scripts/bench.d/app-speed.sh [BUILD_DIR]     (SPEED_MODEL=tesvel-tz3010 to choose)
set -eu
build=$(cd "${1:-build}" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
model=${SPEED_MODEL:-tesvel-tc1110}
runs=${BENCH_RUNS:-3}
ppd="$build/ppd/$model.ppd"
if [ ! -x "$build/bin/tesvel-printer-app" ] || [ ! -f "$ppd" ]; then
  echo "app-speed: the Printer Application or $ppd is not built; skipped"
  exit 0
fi
# shellcheck source=scripts/app-lib.sh
. "$top/scripts/app-lib.sh"
work=$(mktemp -d)
listener=""
trap 'app_stop; [ -z "$listener" ] || kill "$listener" 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

now() { date +%s.%N; }
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }
pages_of() { "$build/bin/prndecode" --check "$1" | sed -n 's/.*pages=\([0-9]*\).*/\1/p'; }
same_pages() {  # a.prn b.prn: the decoded page pictures agree
  rm -rf "$work/pa" "$work/pb"
  "$build/bin/prndecode" -o "$work/pa" "$1" > /dev/null && "$build/bin/prndecode" -o "$work/pb" "$2" > /dev/null &&
    for f in "$work/pa"/*.pbm; do cmp -s "$f" "$work/pb/${f##*/}" || return 1; done
}

mkdir -p "$work/docs" "$work/serverbin/filter" "$work/device"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE=a4 -sOutputFile="$work/docs/sample.pdf" \
  "$top/scripts/sample-document.ps"
doc_text_pdf 20 "$work/docs/text-20.pdf"
doc_photo_pdf 5 "$work/docs/photo-5.pdf"
docs="sample text-20 photo-5"

# The CUPS chain, in a private filter directory as make demo runs it.
for f in pdftopdf gstoraster; do ln -s "/usr/lib/cups/filter/$f" "$work/serverbin/filter/$f"; done
ln -s "$build/bin/rasterfilter" "$work/serverbin/filter/rasterfilter"
echo "ServerBin $work/serverbin" > "$work/cups-files.conf"
cups_run() {  # doc: prints seconds
  t0=$(now)
  cupsfilter -c "$work/cups-files.conf" -p "$ppd" -e -m printer/tesvel "$work/docs/$1.pdf" \
    > "$work/$1-cups.prn" 2> "$work/$1-cups.log"
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}

# The printer: each connection's bytes in device/N.prn, and in device/N.times
# the clock at its first and last byte.
python3 -c '
import socket, sys, time
out = sys.argv[1]
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(4)
print(s.getsockname()[1], flush=True)
n = 0
while True:
    c, _ = s.accept()
    first = last = None
    size = 0
    with open("%s/%d.prn" % (out, n + 1), "wb") as f:
        while True:
            b = c.recv(65536)
            if not b:
                break
            last = time.time()
            first = first or last
            size += len(b)
            f.write(b)
    c.close()
    if size:
        n += 1
        with open("%s/%d.times.tmp" % (out, n), "w") as f:
            f.write("%.6f %.6f %d\n" % (first, last, size))
        import os
        os.rename("%s/%d.times.tmp" % (out, n), "%s/%d.times" % (out, n))
' "$work/device" > "$work/listener.port" &
listener=$!
for _ in $(seq 1 50); do [ -s "$work/listener.port" ] && break; sleep 0.1; done
device_port=$(cat "$work/listener.port")

app_start "$work/app"
app_add s "$(echo "$model" | tr - _)" "socket://127.0.0.1:$device_port"
sleep 1
idle_rss=$(app_rss_kb)
app_run() {  # doc: prints "seconds first-byte-seconds"
  conn=$(($(find "$work/device" -name '*.times' | wc -l) + 1))
  t0=$(now)
  app_submit s "$1" "$work/docs/$1.pdf" application/pdf 1 one-sided > /dev/null
  for _ in $(seq 1 3000); do [ -f "$work/device/$conn.times" ] && break; sleep 0.05; done
  cp "$work/device/$conn.prn" "$work/$1-app.prn"
  awk -v t0="$t0" '{ printf "%.3f %.3f", $2 - t0, $1 - t0 }' "$work/device/$conn.times"
}

# One page rendered alone: Ghostscript on the first page, into nothing.
t0=$(now)
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=cups -r600 -dcupsBitsPerColor=8 -dcupsColorSpace=18 \
  -sPAPERSIZE=a4 -dLastPage=1 -sOutputFile=/dev/null "$work/docs/text-20.pdf" 2> /dev/null
one_page=$(awk -v a="$t0" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }')

printf '%-8s %5s %12s %12s %7s  %s\n' document pages 'cups s/page' 'app s/page' ratio 'first byte (app)'
status=0
for doc in $docs; do
  cups="" app="" first=""
  for _ in $(seq 1 "$runs"); do
    cups=$(best "$(cups_run "$doc")" "$cups")
    # shellcheck disable=SC2046
    set -- $(app_run "$doc")
    app=$(best "$1" "$app")
    first=$(best "$2" "$first")
  done
  pc=$(pages_of "$work/$doc-cups.prn")
  pa=$(pages_of "$work/$doc-app.prn")
  if [ -z "$pc" ] || [ "$pc" != "$pa" ] || ! same_pages "$work/$doc-cups.prn" "$work/$doc-app.prn"; then
    echo "$doc: the CUPS chain gave ${pc:-no} pages, the application ${pa:-no}, or pages that differ"
    status=1
    continue
  fi
  awk -v d="$doc" -v p="$pc" -v c="$cups" -v a="$app" -v f="$first" \
    'BEGIN { printf "%-8s %5d %12.3f %12.3f %7.2f  %.3f s\n", d, p, c / p, a / p, a / c, f }'
done
echo "one page of text-20 rendered alone by Ghostscript: $one_page s"
echo "idle server resident memory: $((idle_rss / 1024)) MB ($idle_rss kB) with one printer;" \
  "$(($(app_rss_kb) / 1024)) MB after the runs"
exit $status
