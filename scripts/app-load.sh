#!/bin/sh
# The Printer Application under load: three printers (one per dialect, on
# file: devices), JOBS jobs sent at once by six concurrent IPP clients, a
# mix of PDF, JPEG and PWG raster of 1 to 20 pages (at most MAX_PAGES), some
# with copies, some two-sided.  Then every job must have completed, every
# printer file must pass the stream inspector's check with the pages sent,
# the server's memory must be within 10 MB of what it was after a warm-up
# job per printer, and no spool or temporary file may be left.  Prints the
# wall time, pages per second and whether jobs on different printers
# overlapped; exits 1 when a check fails.
#   scripts/app-load.sh BUILD-DIR [JOBS] [MAX_PAGES]     (default 60 jobs, 20 pages)
set -eu
build=$(cd "$1" && pwd)
jobs=${2:-60}
max_pages=${3:-20}
clients=6
limit=${LOAD_SECONDS:-1800}  # for the whole run; sanitizer builds are slow
deadline=$(($(date +%s) + limit))
left_s() { echo $((deadline - $(date +%s))); }
# shellcheck source=scripts/app-lib.sh
. "$(dirname "$0")/app-lib.sh"

work=$(mktemp -d)
trap 'app_stop; [ -n "${LOAD_KEEP:-}" ] || rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
status=0
fail() {
  echo "FAILED: $*"
  status=1
}

# The mix, job by job: printer, kind, pages, copies, sides.  Only the M
# printer has a duplex unit.
printers="c:tesvel_tc1110 z:tesvel_tz3010 m:tesvel_tm4010"
mix() {
  awk -v n="$jobs" -v max="$max_pages" 'BEGIN {
    split("c z m", printer, " ")
    split("pdf pwg pdf jpeg", kind, " ")
    split("20 2 7 1 12 3 5 16 1 9", pdfPages, " ")
    split("1 3 2 5", pwgPages, " ")
    for (i = 0; i < n; i++) {
      p = printer[i % 3 + 1]
      k = kind[int(i / 3) % 4 + 1]
      pages = k == "jpeg" ? 1 : k == "pwg" ? pwgPages[int(i / 12) % 4 + 1] : pdfPages[i * 7 % 10 + 1]
      if (pages > max) pages = max
      copies = i % 5 == 4 ? 2 : 1
      sides = p == "m" && int(i / 3) % 2 == 0 ? "two-sided-long-edge" : "one-sided"
      printf "%02d %s %s %d %d %s\n", i, p, k, pages, copies, sides
    }
  }'
}

# The documents: one per kind and page count the mix uses.
mkdir -p "$work/docs"
mix > "$work/mix"
doc_text_pdf 1 "$work/docs/warm.pdf"
doc_jpeg "$work/docs/warm.pdf" "$work/docs/1.jpeg"
while read -r _ _ kind pages _ _; do
  f="$work/docs/$pages.$kind"
  [ -f "$f" ] && continue
  case $kind in
    pdf) doc_text_pdf "$pages" "$f" ;;
    pwg) doc_text_pdf "$pages" "$f.pdf" && doc_pwg "$f.pdf" "$f" ;;
  esac
done < "$work/mix"
format_of() {
  case $1 in
    pdf) echo application/pdf ;; pwg) echo image/pwg-raster ;; jpeg) echo image/jpeg ;;
  esac
}

app_start "$work/app"
names=""
for p in $printers; do
  name=${p%%:*}
  names="$names $name"
  mkdir -p "$work/out-$name"
  app_add "$name" "${p#*:}" "file://$work/out-$name"
done

# One job per printer first, so that "before" counts what the server keeps
# once it has printed (libraries loaded, caches filled).
app_submit c warm-c "$work/docs/warm.pdf" application/pdf 1 one-sided > /dev/null
app_submit z warm-z "$work/docs/1.jpeg" image/jpeg 1 one-sided > /dev/null
app_submit m warm-m "$work/docs/1.jpeg" image/jpeg 1 one-sided > /dev/null
# shellcheck disable=SC2086
if ! app_wait_idle "$(left_s)" $names; then
  fail "the warm-up jobs did not end"
  app_diagnose
fi
sleep 1
rss_before=$(app_rss_kb)

# Six clients, each sending its share of the jobs one after another.
# PAPPL streams PWG raster straight to the driver, so a printer takes it
# only while idle and answers server-error-busy otherwise.  Clients take
# turns at each printer (a lock file per printer): a raster client waits,
# holding its turn, until the printer is idle, so no job slips in before
# its raster.  It is never refused, which matters beyond the retries it
# saves: a refusal takes PAPPL 1.3's printer and system locks in the
# opposite order to its state save and can deadlock the server (see the
# README).  Should a refusal come all the same, the raster is sent again
# half a second later.
send() {  # i printer kind pages copies sides
  busy=0
  while :; do
    id=$({
      flock 9
      if [ "$3" = pwg ]; then
        until app_printer_idle "$2" || [ "$(left_s)" -le 0 ]; do sleep 0.2; done
      fi
      app_submit "$2" "load-$1" "$work/docs/$4.$3" "$(format_of "$3")" "$5" "$6"
    } 9> "$work/turn-$2")
    if [ "$id" != busy ] || [ "$(left_s)" -le 0 ]; then break; fi
    busy=$((busy + 1))
    sleep 0.5
  done
  echo "$2 $id load-$1 $busy"
}
start=$(date +%s.%N)
client_pids=""
for c in $(seq 0 $((clients - 1))); do
  awk -v c="$c" -v n="$clients" '($1 + 0) % n == c' "$work/mix" | while read -r i p kind pages copies sides; do
    send "$i" "$p" "$kind" "$pages" "$copies" "$sides"
  done > "$work/client-$c" 2>&1 &
  client_pids="$client_pids $!"
done
for pid in $client_pids; do wait "$pid" || true; done
cat "$work"/client-* > "$work/sent"
# shellcheck disable=SC2086
if ! app_wait_idle "$(left_s)" $names; then
  fail "jobs still pending or processing after ${limit}s"
  app_diagnose
fi
end=$(date +%s.%N)
refused=$(awk '$2 !~ /^[0-9]+$/' "$work/sent")
[ -z "$refused" ] || fail "Print-Job requests refused: $refused"
busy=$(awk '{ n += $4 } END { print n + 0 }' "$work/sent")
app_running || fail "the server has gone"

# Every job the server took completed, with its pages on the printer.
# jobs.csv: printer,id,name,state,time-at-processing,time-at-completed,message
for name in $names; do app_jobs "$name" | sed "s/^/$name,/"; done > "$work/all.csv"
awk -F, 'NR == FNR { split($0, f, " "); taken[f[1] "," f[2]] = 1; next } taken[$1 "," $2]' "$work/sent" "$work/all.csv" \
  > "$work/jobs.csv"
done_jobs=$(awk -F, '$4 == "completed"' "$work/jobs.csv" | wc -l)
[ "$done_jobs" = "$jobs" ] || fail "$done_jobs of $jobs jobs completed: $(grep -v ',completed,' "$work/jobs.csv")"
pages_total=0
while read -r i p kind pages copies sides; do
  expect=$pages
  [ "$sides" = one-sided ] || expect=$((pages + pages % 2))  # a blank back after an odd last page
  expect=$((expect * copies))
  pages_total=$((pages_total + expect))
  prn="$work/out-$p/load-$i.prn"
  got=$("$build/bin/prndecode" --check "$prn" 2>&1 | tail -n 1 || true)
  case $got in
    "check ok "*" pages=$expect") ;;
    *) fail "load-$i ($kind, $pages pages, $copies copies, $sides on $p): expected $expect pages: $got" ;;
  esac
done < "$work/mix"

# Memory and leftovers, once PAPPL has saved its state.
sleep 1
rss_after=$(app_rss_kb)
# (LOAD_CHECK_MEMORY=0 in sanitizer builds, which hold freed memory back.)
[ "${LOAD_CHECK_MEMORY:-1}" = 0 ] || [ $((rss_after - rss_before)) -le 10240 ] ||
  fail "resident memory grew from $rss_before kB to $rss_after kB"
left=""
for _ in $(seq 1 60); do
  left=$(find "$work/app/tesvel-printer-app.d" "$work/app/tmp" -mindepth 1)
  [ -z "$left" ] && break
  sleep 1
done
[ -z "$left" ] || fail "files left in the spool or temporary directory: $left"

# Jobs on different printers overlapped: one was processing while another
# printer's job was (times in whole seconds, so only clear overlaps count).
overlaps=$(awk -F, '{ p[NR] = $1; s[NR] = $5; e[NR] = $6 }
  END { n = 0
        for (a = 1; a <= NR; a++) for (b = a + 1; b <= NR; b++)
          if (p[a] != p[b] && s[a] < e[b] && s[b] < e[a]) n++
        print n }' "$work/jobs.csv")
[ "$overlaps" -gt 0 ] || fail "no two jobs on different printers were processed at the same time"
wall=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", e - s }')
rate=$(awk -v n="$pages_total" -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", n / (e - s) }')
app_stop
if grep -E 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$work/app/server.out"; then
  fail "the sanitizers reported the errors above"
fi
echo "jobs: $done_jobs of $jobs completed from $clients clients on 3 printers, $pages_total pages decoded"
echo "raster jobs sent again after server-error-busy: $busy times"
echo "wall time: $wall s   pages per second: $rate"
echo "resident memory: $rss_before kB after warm-up, $rss_after kB after the run"
echo "overlapping job pairs on different printers: $overlaps"
exit $status
