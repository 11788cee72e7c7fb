#!/bin/sh
# Prints the bundled sample document through the driver with the real
# CUPS filter chain (no scheduler needed) and shows what came out.
set -eu
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd)
out="$top/demo-out"
model=${DEMO_MODEL:-tesvel-tz3010}

rm -rf "$out"
mkdir -p "$out/serverbin/filter"
# A private filter directory: CUPS's own pre-filters plus this build's filter.
for f in pdftopdf gstoraster; do
  ln -s "/usr/lib/cups/filter/$f" "$out/serverbin/filter/$f"
done
ln -s "$build/bin/rasterfilter" "$out/serverbin/filter/rasterfilter"
echo "ServerBin $out/serverbin" > "$out/cups-files.conf"

ps2pdf -sPAPERSIZE=a4 "$top/scripts/sample-document.ps" "$out/sample.pdf"

ppd="$build/ppd/$model.ppd"
echo "Printing $out/sample.pdf for $(grep '^\*ModelName' "$ppd" | cut -d'"' -f2)"
start=$(date +%s.%N)
cupsfilter -c "$out/cups-files.conf" -p "$ppd" -e -m printer/tesvel \
  "$out/sample.pdf" > "$out/$model.prn" 2> "$out/$model.log"
end=$(date +%s.%N)

pages=$(grep -c '^PAGE: ' "$out/$model.log" || true)
bytes=$(wc -c < "$out/$model.prn")
echo "  pages read by rasterfilter: $pages"
grep '^PAGE: ' "$out/$model.log" | sed 's/^/    /'
echo "  printer data: $bytes bytes in $out/$model.prn"
echo "  time: $(awk "BEGIN { printf \"%.2f\", $end - $start }") s"
echo "  filter messages: $out/$model.log"

if [ -x "$build/bin/prndecode" ] && [ "$bytes" -gt 0 ]; then
  "$build/bin/prndecode" --check -o "$out/$model-pages" "$out/$model.prn" > "$out/$model.listing"
  echo "  page images: $out/$model-pages/"
fi
