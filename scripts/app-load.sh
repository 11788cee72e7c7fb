#!/bin/sh
# The Printer Application under load, its clients sending as real ones do:
# at the same instant, to the same printer, never taking turns.  All at once:
# - the mix: JOBS jobs from six clients to three printers (one per dialect,
#   file: devices), PDF, JPEG and PWG raster of 1 to 20 pages (at most
#   MAX_PAGES), some with copies, some two-sided;
# - on a printer with a file: directory device and on one with a socket:
#   device (tests/printer-app/fake_socket_printer.py, which keeps each
#   connection's bytes apart): six clients sending JOBS/6 short jobs each
#   from the same instant, then JOBS/4 bursts of two jobs sent at the same
#   instant to the idle printer.
# Every job's document is its own: each page carries its job's number and
# its own (see doc_text_pdf), read back from the printer's bytes with the
# stream inspector.  Then every job must have completed; every job's bytes
# must have reached the printer once, whole, its pages in order and nothing
# else with them; no connection may carry two jobs; the server's memory
# must be within 10 MB of what it was after a warm-up job per printer; no
# spool or temporary file may be left, and the sanitizers report nothing.
# Prints the wall time, pages per second and whether jobs on different
# printers overlapped; exits 1 when a check fails.
#   scripts/app-load.sh BUILD-DIR [JOBS] [MAX_PAGES]     (default 60 jobs, 20 pages)
set -eu
build=$(cd "$1" && pwd)
jobs=${2:-60}
max_pages=${3:-20}
clients=6
rounds=$((jobs / clients > 0 ? jobs / clients : 1))
bursts=$((jobs / 4 > 0 ? jobs / 4 : 1))
limit=${LOAD_SECONDS:-1800}  # for the whole run; sanitizer builds are slow
deadline=$(($(date +%s) + limit))
left_s() { echo $((deadline - $(date +%s))); }
here=$(cd "$(dirname "$0")" && pwd)
tests=$here/../tests/printer-app
# shellcheck source=scripts/app-lib.sh
. "$here/app-lib.sh"

work=$(mktemp -d)
printer_pid=""
trap 'app_stop; kill "$printer_pid" 2>/dev/null || true; [ -n "${LOAD_KEEP:-}" ] || rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
status=0
fail() {
  echo "FAILED: $*"
  status=1
}

# The plan, a job a line: number (its marks), printer, kind, pages, copies,
# sides, phase and client (or burst).  Only the M printer has a duplex
# unit; f and s are the file: directory and socket: printers.
plan() {
  awk -v n="$jobs" -v max="$max_pages" -v clients="$clients" -v rounds="$rounds" -v bursts="$bursts" 'BEGIN {
    split("c z m f s", warm, " ")
    for (i = 1; i <= 5; i++) printf "%d %s jpeg 1 1 one-sided warm 0\n", g++, warm[i]
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
      printf "%d %s %s %d %d %s mix %d\n", g++, p, k, pages, copies, sides, i % clients
    }
    # Short jobs at f and s: mostly one-page PDF, some of two, every third a JPEG.
    split("f s", rushed, " ")
    for (r = 1; r <= 2; r++) {
      for (i = 0; i < clients * rounds + 2 * bursts; i++) {
        phase = i < clients * rounds ? "rush " i % clients : "burst " int((i - clients * rounds) / 2)
        k = g % 3 == 2 ? "jpeg" : "pdf"
        pages = k == "pdf" && g % 4 == 1 ? 2 : 1
        printf "%d %s %s %d 1 one-sided %s\n", g++, rushed[r], k, pages, phase
      }
    }
  }'
}

# The documents, one per job.
mkdir -p "$work/docs"
plan > "$work/plan"
[ "$(wc -l < "$work/plan")" -le 512 ] || { echo "too many jobs for the page marks"; exit 2; }
make_doc() {  # number kind pages
  f=$work/docs/$1
  case $2 in
    pdf) doc_text_pdf "$3" "$f.pdf" "$1" ;;
    pwg) doc_text_pdf "$3" "$f.pdf" "$1" && doc_pwg "$f.pdf" "$f.pwg" ;;
    jpeg) doc_text_pdf 1 "$f.pdf" "$1" && doc_jpeg "$f.pdf" "$f.jpeg" ;;
  esac
}
# Two at a time: Ghostscript's start-up is most of each.
while read -r g _ kind pages _; do
  make_doc "$g" "$kind" "$pages" &
  [ $((g % 2)) = 0 ] || wait
done < "$work/plan"
wait
format_of() {
  case $1 in
    pdf) echo application/pdf ;; pwg) echo image/pwg-raster ;; jpeg) echo image/jpeg ;;
  esac
}

mkdir -p "$work/printer"
python3 "$tests/fake_socket_printer.py" "$work/printer" 120 &
printer_pid=$!
app_start "$work/app"
for _ in $(seq 1 100); do [ -f "$work/printer/port" ] && break; sleep 0.1; done
printers="c:tesvel_tc1110 z:tesvel_tz3010 m:tesvel_tm4010 f:tesvel_tz3010"
names="c z m f s"
for p in $printers; do
  mkdir -p "$work/out-${p%%:*}"
  app_add "${p%%:*}" "${p#*:}" "file://$work/out-${p%%:*}"
done
app_add s tesvel_tz3010 "socket://127.0.0.1:$(cat "$work/printer/port")"

# send NUMBER PRINTER KIND PAGES COPIES SIDES: one Print-Job; prints
# "number printer id times-busy".  PAPPL streams PWG raster straight to the
# driver, so a printer takes it only while idle: refused with
# server-error-busy, the raster is sent again half a second later, as
# CUPS's IPP backend does.
send() {
  busy=0
  while :; do
    id=$(app_submit "$2" "load-$1" "$work/docs/$1.$3" "$(format_of "$3")" "$5" "$6")
    if [ "$id" != busy ] || [ "$(left_s)" -le 0 ]; then break; fi
    busy=$((busy + 1))
    sleep 0.5
  done
  echo "$1 $2 $id $busy"
}
# Clients wait for the go file, so that they send at the same instant.
wait_for_go() { until [ -e "$work/go-$1" ]; do sleep 0.01; done; }
send_jobs() {  # GO FILTER: each job of the plan that FILTER (awk) selects, in turn
  wait_for_go "$1"
  awk "$2" "$work/plan" | while read -r g p kind pages copies sides _; do
    send "$g" "$p" "$kind" "$pages" "$copies" "$sides"
  done
}

# One job per printer first, so that "before" counts what the server keeps
# once it has printed (libraries loaded, caches filled).
touch "$work/go-warm"
# shellcheck disable=SC2016
send_jobs warm '$7 == "warm"' > "$work/sent-warm"
# shellcheck disable=SC2086
app_wait_idle "$(left_s)" $names || { fail "the warm-up jobs did not end"; app_diagnose; }
sleep 1
rss_before=$(app_rss_kb)

# The mix: each client sends its share one after another.  At f and s: six
# clients, then the bursts, each once the printer is idle again.
rush_then_bursts() {  # PRINTER
  for c in $(seq 0 $((clients - 1))); do
    send_jobs go "\$2 == \"$1\" && \$7 == \"rush\" && \$8 == $c" > "$work/sent-$1-$c" &
  done
  wait
  for b in $(seq 0 $((bursts - 1))); do
    app_wait_idle "$(left_s)" "$1" || break
    for one in 0 1; do
      send_jobs "$1-$b" "\$2 == \"$1\" && \$7 == \"burst\" && \$8 == $b && \$1 % 2 == $one" > "$work/sent-$1-b$b-$one" &
    done
    touch "$work/go-$1-$b"
    wait
  done
}
pids=""
for c in $(seq 0 $((clients - 1))); do
  send_jobs go "\$7 == \"mix\" && \$8 == $c" > "$work/sent-mix-$c" &
  pids="$pids $!"
done
for p in f s; do
  rush_then_bursts "$p" &
  pids="$pids $!"
done
sleep 0.5  # every client is waiting for the go
start=$(date +%s.%N)
touch "$work/go-go"
for pid in $pids; do wait "$pid" || true; done
cat "$work"/sent-* > "$work/sent"
# shellcheck disable=SC2086
if ! app_wait_idle "$(left_s)" $names; then
  fail "jobs still pending or processing after ${limit}s"
  app_diagnose
fi
end=$(date +%s.%N)
refused=$(awk '$3 !~ /^[0-9]+$/' "$work/sent")
[ -z "$refused" ] || fail "Print-Job requests refused: $refused"
busy=$(awk '{ n += $4 } END { print n + 0 }' "$work/sent")
app_running || fail "the server has gone"
# The printer has each connection once the server has closed it.
for _ in $(seq 1 100); do
  [ -z "$(find "$work/printer" -name '*.part')" ] && break
  sleep 0.1
done

# Every job the server took completed, and it has no other (a raster job
# refused as busy stays in the history, aborted).
# jobs.csv: printer,id,name,state,time-at-processing,time-at-completed,message
for name in $names; do app_jobs "$name" | sed "s/^/$name,/"; done > "$work/all.csv"
planned=$(wc -l < "$work/plan")
[ "$(wc -l < "$work/all.csv")" = $((planned + busy)) ] ||
  fail "the server has $(wc -l < "$work/all.csv") jobs; $planned were taken and $busy refused"
awk -F, 'NR == FNR { split($0, f, " "); taken[f[2] "," f[3]] = 1; next } taken[$1 "," $2]' "$work/sent" "$work/all.csv" \
  > "$work/jobs.csv"
done_jobs=$(awk -F, '$4 == "completed"' "$work/jobs.csv" | wc -l)
[ "$done_jobs" = "$planned" ] || fail "$done_jobs of $planned jobs completed: $(grep -v ',completed,' "$work/jobs.csv")"

# What the printers got: each file or connection checked and its pages'
# marks read.  A job's pages are its document's in order, once per copy,
# with a blank back after an odd last page when two-sided.
find "$work"/out-* "$work/printer" -name '*.prn' | sort |
  xargs python3 "$tests/page_marks.py" "$build/bin/prndecode" > "$work/printed"
verdict=$(awk -F'\t' '
  NR == FNR {
    split($0, f, " ")
    want[f[1]] = ""
    for (c = 0; c < f[5]; c++) {
      for (p = 1; p <= f[4]; p++) want[f[1]] = want[f[1]] " " f[1] "." p
      if (f[6] != "one-sided" && f[4] % 2) want[f[1]] = want[f[1]] " blank"
    }
    want[f[1]] = substr(want[f[1]], 2)
    what[f[1]] = f[3] ", " f[4] " pages, " f[5] " copies, " f[6] " on " f[2]
    next
  }
  {
    n = split($3, page, " ")
    one = ""
    others = ""
    for (i = 1; i <= n; i++) {
      g = page[i]
      sub(/\..*/, "", g)
      if (g == "blank" || g == one) continue
      if (one == "") one = g
      else if (index(" " others " ", " " g " ") == 0) others = others " " g
    }
    if (others != "") { print "FAILED: " $1 " carries jobs " one others ": " $3; next }
    if (one == "") { print "FAILED: " $1 " has no page of any job: " $2; next }
    seen[one]++
    pages += n
    if (!($2 ~ "^check ok .* pages=" n "$") || $3 != want[one])
      print "FAILED: " $1 " (job " one ": " what[one] "): " $2 "; pages " $3 ", expected " want[one]
  }
  END {
    for (g in want) if (seen[g] != 1) print "FAILED: job " g " (" what[g] ") reached the printer " seen[g] + 0 " times"
    print "pages " pages + 0
  }' "$work/plan" "$work/printed")
echo "$verdict" | grep '^FAILED' && status=1
pages_total=$(echo "$verdict" | sed -n 's/^pages //p')
connections=$(find "$work/printer" -name '*.prn' | wc -l)

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
echo "jobs: $done_jobs of $planned completed, from $clients clients on c, z and m, $clients at once and $bursts bursts of two on f and s"
echo "printer files and connections checked: $(wc -l < "$work/printed") ($connections connections), $pages_total pages decoded"
echo "raster jobs sent again after server-error-busy: $busy times"
echo "wall time: $wall s   pages per second: $rate"
echo "resident memory: $rss_before kB after warm-up, $rss_after kB after the run"
echo "overlapping job pairs on different printers: $overlaps"
exit $status
