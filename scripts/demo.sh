#!/bin/sh
# Prints the bundled sample document through the driver for one model of
# each kind, with the real CUPS filter chain (no scheduler needed) and
# through the Printer Application, and decodes what each printer would
# receive into page pictures.
#   scripts/demo.sh [build-dir]      (DEMO_MODELS="tesvel-tz3010 ..." to choose)
# A PostScript model (DEMO_PS_MODEL, default tesvel-ps-tp5010) goes through
# CUPS's filters and jobwrapper; its pages are the PostScript drawn to PNG.
set -eu
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd)
out="$top/demo-out"
models=${DEMO_MODELS:-"tesvel-tc1110 tesvel-tz3010 tesvel-tm4010 tesvel-txa"}
ps_model=${DEMO_PS_MODEL:-tesvel-ps-tp5010}

rm -rf "$out"
mkdir -p "$out/serverbin/filter"
# A private filter directory: CUPS's own pre-filters plus this build's filter.
for f in pdftopdf gstoraster pdftops pstops; do
  ln -s "/usr/lib/cups/filter/$f" "$out/serverbin/filter/$f"
done
ln -s "$build/bin/rasterfilter" "$out/serverbin/filter/rasterfilter"
ln -s "$build/bin/jobwrapper" "$out/serverbin/filter/jobwrapper"
echo "ServerBin $out/serverbin" > "$out/cups-files.conf"

ps2pdf -sPAPERSIZE=a4 "$top/scripts/sample-document.ps" "$out/sample.pdf"
echo "Sample document: $out/sample.pdf"
echo
printf '%-24s %-11s %6s %10s %12s  %s\n' "model" "class" "pages" "bytes" "s per page" "pictures"

status=0
for model in $models; do
  ppd="$build/ppd/$model.ppd"
  name=$(sed -n 's/^\*ModelName: "\(.*\)"/\1/p' "$ppd")
  class=$(sed -n 's/^\*cupsIPPReason PlatForm\/\([A-Z_]*\):.*/\1/p' "$ppd")
  start=$(date +%s.%N)
  if ! cupsfilter -c "$out/cups-files.conf" -p "$ppd" -e -m printer/tesvel \
      "$out/sample.pdf" > "$out/$model.prn" 2> "$out/$model.log"; then
    echo "$name: the filter chain failed, see $out/$model.log"
    status=1
    continue
  fi
  end=$(date +%s.%N)
  pages=$(grep -c '^PAGE: ' "$out/$model.log" || true)
  bytes=$(wc -c < "$out/$model.prn")
  per_page=$(awk "BEGIN { if ($pages > 0) printf \"%.2f\", ($end - $start) / $pages; else print \"-\" }")
  if "$build/bin/prndecode" --check -o "$out/$model-pages" "$out/$model.prn" > "$out/$model.check" 2>&1; then
    pictures="$out/$model-pages/"
  else
    pictures="CHECK FAILED: $(cat "$out/$model.check")"
    status=1
  fi
  printf '%-24s %-11s %6s %10s %12s  %s\n' "$name" "$class" "$pages" "$bytes" "$per_page" "$pictures"
done

# The PostScript model: the job CUPS's filters and jobwrapper make.
ppd="$build/ppd/$ps_model.ppd"
name=$(sed -n 's/^\*ModelName: "\(.*\)"/\1/p' "$ppd")
start=$(date +%s.%N)
if cupsfilter -c "$out/cups-files.conf" -p "$ppd" -e -m printer/tesvel \
    "$out/sample.pdf" > "$out/$ps_model.prn" 2> "$out/$ps_model.log" &&
    pages=$("$top/scripts/ps-pages.sh" "$out/$ps_model.prn" "$out/$ps_model-pages"); then
  end=$(date +%s.%N)
  per_page=$(awk "BEGIN { printf \"%.2f\", ($end - $start) / $pages }")
  printf '%-24s %-11s %6s %10s %12s  %s\n' "$name" "PostScript" "$pages" "$(wc -c < "$out/$ps_model.prn")" \
    "$per_page" "$out/$ps_model-pages/"
else
  echo "$name: the filter chain failed, see $out/$ps_model.log"
  status=1
fi

# The same sample through the Printer Application: rows marked "app".
# shellcheck disable=SC2086
"$top/scripts/demo-app.sh" "$build" "$out" $models $ps_model || status=1

echo
echo "Printer files: $out/<model>.prn and $out/<model>-app.prn   filter messages: $out/<model>.log"
echo "Look at a page: $out/tesvel-tz3010-pages/page-001.png and $out/tesvel-tz3010-app-pages/page-001.png"
exit $status
