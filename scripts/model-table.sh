#!/bin/sh
# Prints the README's table of supported printers from the built PPDs:
#   scripts/model-table.sh [build-dir]
set -eu
build=${1:-build}
echo "| Printer | Kind | PPD file | Printer Application driver |"
echo "|---|---|---|---|"
for ppd in "$build"/ppd/*.ppd; do
  model=$(sed -n 's/^\*ModelName: "\(.*\)"/\1/p' "$ppd")
  filter=$(sed -n 's/^\*cupsFilter2: ".* \([a-z]*\)"/\1/p' "$ppd" | head -n 1)
  platform=$(sed -n 's/^\*cupsIPPReason PlatForm\/\([A-Z_]*\):.*/\1/p' "$ppd")
  case "$filter:$platform" in
    rasterfilter:PLATFORM_C) kind="host-based, command records (C)" ;;
    rasterfilter:PLATFORM_Z) kind="host-based, command records (Z)" ;;
    rasterfilter:PLATFORM_M) kind="host-based, chunk stream (M)" ;;
    jobwrapper:*)
      if grep -q '^\*ColorDevice: True' "$ppd"; then kind="PostScript, colour group (PDF)"; else kind="PostScript"; fi ;;
    *) kind="?" ;;
  esac
  driver=$(basename "$ppd" .ppd | tr - _)
  echo "| $model | $kind | $(basename "$ppd") | $driver |"
done
