#!/bin/sh
# Renders the pages of a PostScript model's printer job to PNG pictures:
# the PostScript after the PJL job header, drawn by Ghostscript at 100 dpi.
#   scripts/ps-pages.sh JOB OUTDIR
set -eu
job=$1
dir=$2
mkdir -p "$dir"
# The printer reads PJL up to the language switch; Ghostscript takes the
# PostScript from its first "%!PS" on.
at=$(grep -a -b -m 1 -o '%!PS' "$job" | cut -d: -f1)
[ -n "$at" ] || { echo "ps-pages.sh: no PostScript in $job" >&2; exit 1; }
tail -c +"$((at + 1))" "$job" > "$dir/job.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r100 -sOutputFile="$dir/page-%03d.png" "$dir/job.ps" \
  > "$dir/gs.log" 2>&1 || { cat "$dir/gs.log" >&2; exit 1; }
rm -f "$dir/job.ps"
ls "$dir"/page-*.png | wc -l
