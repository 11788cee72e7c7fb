#!/bin/sh
# Instructions per coded pixel of our JBIG encoder (tesvel_compress) and of
# JBIG-KIT's jbg85 on the three generated 600-dpi A4 pages of bench_jbig,
# counted by valgrind's callgrind: a figure that does not move with machine
# load.  Only the encoder call itself is counted (--toggle-collect); a coded
# pixel is a pixel of a line that typical prediction does not skip.
#   sh scripts/bench.d/jbig-callgrind.sh [BUILD_DIR]
set -eu
build=${1:-build}
prog="$build/bin/bench_jbig"
if [ ! -x "$prog" ]; then
  echo "jbig-callgrind: $prog not built (needs Google Benchmark); skipped"
  exit 0
fi
if ! command -v valgrind >/dev/null 2>&1; then
  echo "jbig-callgrind: valgrind not installed; skipped"
  exit 0
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$prog" --write-pbm "$tmp"

printf '%-6s %-6s %14s %14s %10s\n' page coder instructions coded_pixels 'instr/px'
for page in text mixed photo; do
  for coder in ours jbg85; do
    if [ "$coder" = ours ]; then fn='tesvel_compress*'; else fn='jbg85_enc_lineout'; fi
    valgrind --tool=callgrind --callgrind-out-file="$tmp/cg.out" --toggle-collect="$fn" \
      "$prog" --encode-once "$tmp/$page.pbm" "$coder" >"$tmp/out" 2>"$tmp/err"
    ir=$(sed -n 's/^==[0-9]*== Collected : \([0-9]*\).*/\1/p' "$tmp/err")
    coded=$(sed -n 's/.*coded_pixels=\([0-9]*\).*/\1/p' "$tmp/out")
    awk -v p="$page" -v c="$coder" -v ir="$ir" -v px="$coded" \
      'BEGIN { printf "%-6s %-6s %14d %14d %10.2f\n", p, c, ir, px, ir / px }'
  done
done
