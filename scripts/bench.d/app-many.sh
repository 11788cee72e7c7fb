#!/bin/sh
# Many printers at once: for 20 printers x 3 jobs and for 40 printers x 5
# jobs, every Print-Job sent at the same moment (a 2-page text PDF each, so
# each job is a Ghostscript and a filter), the peak memory of the server
# and all its children together (resident, sampled every 0.1 s) and the
# slowest Print-Job answer.  Targets on 2 cores: under 400 MB and under
# 1 s.  The server runs with its default limit on jobs rendering at once
# (jobs-at-once follows the cores and memory); APP_OPTIONS adds options
# ("-o jobs-at-once=0" for none).
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
  for p in $printers; do
    for j in $(seq 1 "$2"); do
      (t0=$(date +%s.%N); id=$(app_submit "$p" "j$j" "$work/doc.pdf" application/pdf 1 one-sided)
       t1=$(date +%s.%N); echo "$t0 $t1 $id" >> "$work/answers") &
    done
  done
  wait_submits=$(($1 * $2))
  while [ "$(wc -l < "$work/answers" 2>/dev/null || echo 0)" -lt "$wait_submits" ]; do sleep 0.1; done
  # shellcheck disable=SC2086
  app_wait_idle 900 $printers || echo "app-many: jobs still waiting after 900 s"
  kill "$sampler"
  sampler=""
  printed=$(find "$work/out" -type f | wc -l)
  awk -v n="$1" -v j="$2" -v printed="$printed" -v peak="$(sort -n "$work/rss" | tail -n 1)" '
    { d = $2 - $1; if (d > slow) slow = d; if ($3 !~ /^[0-9]+$/) refused++ }
    END { printf "%2d printers x %d jobs: peak memory %4.0f MB, slowest Print-Job %.2f s, %d printed, %d refused\n",
                 n, j, peak / 1024, slow, printed, refused }' "$work/answers"
  app_stop
  rm -rf "$work/out"
}

echo "(at once: $(nproc) cores; the default jobs-at-once; ${APP_OPTIONS:-no other options})"
run 20 3
run 40 5
