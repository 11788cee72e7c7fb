#!/bin/sh
# Runs every benchmark program built into <build>/bin (named bench_*) and
# every benchmark script in scripts/bench.d, printing their figures.
set -eu
build=${1:-build}
status=0
found=0
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b" || status=1
done
for s in "$(dirname "$0")"/bench.d/*.sh; do
  [ -f "$s" ] || continue
  found=1
  echo "== $(basename "$s")"
  sh "$s" "$build" || status=1
done
[ "$found" = 1 ] || echo "no benchmarks built"
exit $status
