#!/bin/sh
# The demo's second route: the same sample through the Printer Application.
# A private server (state, spool and socket in demo-out/app, a free
# loopback port), one printer per model on a file: device, the sample sent
# by ipptool, the pages decoded next to those of the CUPS-filter route.
#   scripts/demo-app.sh build-dir out-dir model...
set -eu
build=$1
out=$2
shift 2
dir="$out/app"
# shellcheck source=scripts/app-lib.sh
. "$(dirname "$0")/app-lib.sh"
trap app_stop EXIT
trap 'exit 1' INT TERM
app_start "$dir" || exit 1
port=$app_port
echo "Printer Application: http://localhost:$port/ (state and spool in $dir)"

# Print-Job, then Get-Job-Attributes every tenth of a second until the job ends.
cat > "$dir/print-and-wait.test" <<'EOF2'
{
  NAME "Print the sample"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name $user
  ATTR mimeMediaType document-format application/pdf
  FILE $filename
  STATUS successful-ok
}
{
  NAME "Wait for the job"
  OPERATION Get-Job-Attributes
  DELAY 0.1
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $job-id
  STATUS successful-ok
  EXPECT job-state WITH-VALUE 9 REPEAT-NO-MATCH REPEAT-LIMIT 600
}
EOF2

status=0
for model in "$@"; do
  driver=$(echo "$model" | tr - _)
  mkdir -p "$dir/out-$model"
  app_add "$model" "$driver" "file://$dir/out-$model"
  name=$(sed -n 's/^\*ModelName: "\(.*\)"/\1/p' "$build/ppd/$model.ppd")
  start=$(date +%s.%N)
  if ! ipptool -f "$out/sample.pdf" "ipp://localhost:$port/ipp/print/$model" \
      "$dir/print-and-wait.test" > "$dir/$model.ipptool" 2>&1; then
    echo "$name: the job failed, see $dir/$model.ipptool and $dir/log"
    status=1
    continue
  fi
  end=$(date +%s.%N)
  prn=$(ls "$dir/out-$model"/*.prn | head -n 1)
  cp "$prn" "$out/$model-app.prn"
  case $model in
    tesvel-ps-*)  # PostScript: its pages drawn, compared with the CUPS route's
      pages=$("$(dirname "$0")/ps-pages.sh" "$prn" "$out/$model-app-pages") || status=1
      same="same pages as the CUPS route"
      for page in "$out/$model-app-pages"/*.png; do
        cmp -s "$page" "$out/$model-pages/$(basename "$page")" || same="PAGES DIFFER from the CUPS route"
      done
      printf '%-24s %-11s %6s %10s %12s  %s (%s)\n' "$name" "app" "$pages" "$(wc -c < "$prn")" "-" \
        "$out/$model-app-pages/" "$same"
      continue ;;
  esac
  pages=$("$build/bin/prndecode" --check "$prn" | sed -n 's/.*pages=\([0-9]*\).*/\1/p')
  bytes=$(wc -c < "$prn")
  per_page=$(awk "BEGIN { if (\"$pages\" + 0 > 0) printf \"%.2f\", ($end - $start) / $pages; else print \"-\" }")
  "$build/bin/prndecode" -o "$out/$model-app-pages" "$prn" > /dev/null 2>&1 || status=1
  same="same pages as the CUPS route"
  for page in "$out/$model-app-pages"/*.pbm; do
    cmp -s "$page" "$out/$model-pages/$(basename "$page")" || same="PAGES DIFFER from the CUPS route"
  done
  [ "$same" = "same pages as the CUPS route" ] || status=1
  printf '%-24s %-11s %6s %10s %12s  %s (%s)\n' "$name" "app" "$pages" "$bytes" "$per_page" \
    "$out/$model-app-pages/" "$same"
done
exit $status
