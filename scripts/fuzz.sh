#!/bin/sh
# Runs every fuzz target for a while and prints a table.
#   scripts/fuzz.sh [seconds-per-target] [target ...]     (default 60 s, all)
# The seconds are wall-clock time; with FUZZ_CPU=1 they are CPU seconds of
# the fuzzer process instead (for campaigns on a machine doing other work).
# Builds a clang tree with libFuzzer in build-fuzz/; corpora are kept in
# build-fuzz/corpus/<target>, findings in build-fuzz/findings/<target>;
# tests/fuzz/dicts/<target>.dict, where there is one, gives the fuzzer the
# keywords of its input.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-"options raster_header raster_job ps_lines monitor_text prndecode jbig app_request"}
build="$top/build-fuzz"
mkdir -p "$build"

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DTESVEL_FUZZ=ON -DBUILD_BENCHMARKS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
for t in $targets; do
  cmake --build "$build" -j 2 --target "fuzz_$t" "fuzz_${t}_replay" > "$build/build.log" 2>&1 ||
    { tail -30 "$build/build.log"; exit 1; }
done

# CPU seconds (user + system) a running process has used.
cpu_seconds() {
  awk -v tck="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); print int(($12 + $13) / tck) }' \
    "/proc/$1/stat" 2>/dev/null || echo 0
}

printf '%-14s %10s %7s %8s %9s %5s %8s %7s\n' target execs cpu-min crashes timeouts oom corpus cov
for t in $targets; do
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  mkdir -p "$corpus" "$findings"
  "$build/bin/fuzz_${t}_replay" --write-seeds "$corpus" > /dev/null 2>&1
  log="$build/fuzz-$t.log"
  limit=$secs
  [ "${FUZZ_CPU:-0}" = 1 ] && limit=0
  # libcups allocates what crafted raster headers announce (up to 4 GB):
  # such allocations fail (libcups then rejects the header) instead of
  # stopping the campaign; real memory use is still bounded by the RSS limit.
  dict=
  [ -f "$top/tests/fuzz/dicts/$t.dict" ] && dict="-dict=$top/tests/fuzz/dicts/$t.dict"
  ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=1024:detect_leaks=0 \
    "$build/bin/fuzz_$t" $dict -max_total_time="$limit" -timeout=25 -rss_limit_mb=2048 \
    -malloc_limit_mb=1000000 -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" > "$log" 2>&1 &
  pid=$!
  cpu=0
  while kill -0 "$pid" 2> /dev/null; do
    sleep 2
    now=$(cpu_seconds "$pid")
    [ "$now" -gt "$cpu" ] && cpu=$now
    if [ "${FUZZ_CPU:-0}" = 1 ] && [ "$cpu" -ge "$secs" ]; then
      kill -INT "$pid" 2> /dev/null || true
      break
    fi
  done
  wait "$pid" || true
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  [ -n "$execs" ] || execs=$(grep -a -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')
  cov=$(grep -a -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  printf '%-14s %10s %7s %8s %9s %5s %8s %7s\n' "$t" "${execs:-0}" \
    "$(awk -v c="$cpu" 'BEGIN { printf "%.1f", c / 60 }')" \
    "$(ls "$findings" | grep -c '^crash-' || true)" "$(ls "$findings" | grep -c '^timeout-' || true)" \
    "$(ls "$findings" | grep -c '^oom-' || true)" "$(ls "$corpus" | wc -l)" "${cov:-?}"
done
