#!/bin/sh
# One whole job per printer dialect, printed by this machine's filter and by
# the arm64 filter under qemu-user from the same CUPS raster, PPD and
# options: the two printer files must be the same bytes.  The raster comes
# from CUPS's own filter chain (cupsfilter with Ghostscript) and the PPDs
# from the native build.  Both stream inspectors then read the arm64 file,
# and their reports and page pictures must agree too.
#   scripts/cross-jobs.sh NATIVE-BUILD ARM64-BUILD
#
# Two things in a job may differ between any two runs and are left out of
# the comparison: the clock fields of the job header (the PJL JOBTIME line
# of PLATFORM_Z and the date record 0x1F of PLATFORM_C), and the keep-alive
# timer's zero fillers, whose places depend on how long a page takes; the
# filters run with SIGALRM blocked, so the timer never fires.
set -eu
native=$(cd "$1" && pwd)
arm=$(cd "$2" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
qemu="qemu-aarch64 -L /"  # the multiarch C library (cmake/toolchain-aarch64-linux-gnu.cmake)
work=$(mktemp -d "${TMPDIR:-/tmp}/tesvel-cross.XXXXXX")
trap 'rm -rf "$work"' EXIT

# model  copies  options (for the raster and for the filter)
jobs="
tesvel-tc1110 1 Duplex=DuplexNoTumble,Density=3,TonerMode=True
tesvel-tz3010 1 PageSize=A5,FeedLongEdge=True,NegativePrint=True,FineMode=True
tesvel-tm4010 2 Collate=True,ImageRotation=True
"

mkdir -p "$work/serverbin/filter"
for f in pdftopdf gstoraster; do
  ln -s "/usr/lib/cups/filter/$f" "$work/serverbin/filter/$f"
done
echo "ServerBin $work/serverbin" > "$work/cups-files.conf"
ps2pdf -sPAPERSIZE=a4 "$top/scripts/sample-document.ps" "$work/doc.pdf"

without_alarm() {
  perl -MPOSIX -e 'sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGALRM)) or die; exec @ARGV or die' "$@"
}

# The job with its clock fields set to zeros.
without_clock() {
  perl -0777 -pe 's/(\@PJL JOBTIME=)\d\d:\d\d:\d\d:\d\d:\d{4}/${1}00:00:00:00:0000/;
                  s/\x0b\x08\x1f[\s\S]{5}/\x0b\x08\x1f\0\0\0\0\0/' "$1"
}

# Prints one job for the model through both filters and compares them.
compare_job() {
  model=$1 copies=$2 spaced=$(echo "$3" | tr ',' ' ')
  ppd="$native/ppd/$model.ppd"
  job="$work/$model"
  mkdir -p "$job"
  # shellcheck disable=SC2046
  cupsfilter -c "$work/cups-files.conf" -p "$ppd" -m application/vnd.cups-raster \
    $(for o in $spaced; do printf -- '-o %s ' "$o"; done) "$work/doc.pdf" \
    > "$job/raster" 2> "$job/cupsfilter.log" || { cat "$job/cupsfilter.log"; return 1; }
  for side in native arm64; do
    if [ $side = native ]; then run="$native/bin/rasterfilter"; else run="$qemu $arm/bin/rasterfilter"; fi
    # shellcheck disable=SC2086
    if ! PPD="$ppd" without_alarm $run 42 alice cross "$copies" "$spaced" "$job/raster" \
        > "$job/$side.prn" 2> "$job/$side.log"; then
      echo "$model: the $side filter failed"
      cat "$job/$side.log"
      return 1
    fi
    without_clock "$job/$side.prn" > "$job/$side.cmp"
  done
  if ! cmp "$job/native.cmp" "$job/arm64.cmp"; then
    echo "$model: the arm64 printer file differs from this machine's"
    return 1
  fi
  "$native/bin/prndecode" --check -o "$job/native-pages" "$job/arm64.prn" > "$job/native.check" 2>&1
  $qemu "$arm/bin/prndecode" --check -o "$job/arm64-pages" "$job/arm64.prn" > "$job/arm64.check" 2>&1
  if ! cmp -s "$job/native.check" "$job/arm64.check" ||
     ! diff -r "$job/native-pages" "$job/arm64-pages" > /dev/null; then
    echo "$model: the arm64 stream inspector reads the job differently"
    diff "$job/native.check" "$job/arm64.check" || true
    return 1
  fi
  pages=$(find "$job/native-pages" -name 'page-*.p[bg]m' | wc -l)
  echo "$model ($3): $(wc -c < "$job/arm64.prn") bytes, $pages pages, the same from both builds"
}

passed=0 failed=0
while read -r model copies options; do
  [ -n "$model" ] || continue
  if compare_job "$model" "$copies" "$options"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done <<EOF
$jobs
EOF
# The Printer Application (when both builds have it) starts on arm64 and
# offers the same drivers.
if [ -x "$arm/bin/tesvel-printer-app" ] && [ -x "$native/bin/tesvel-printer-app" ]; then
  "$native/bin/tesvel-printer-app" drivers > "$work/drivers.native" 2>&1 || true
  $qemu "$arm/bin/tesvel-printer-app" drivers > "$work/drivers.arm64" 2>&1 || true
  if [ -s "$work/drivers.native" ] && cmp -s "$work/drivers.native" "$work/drivers.arm64"; then
    echo "tesvel-printer-app: the same $(wc -l < "$work/drivers.arm64") drivers from both builds"
    passed=$((passed + 1))
  else
    echo "tesvel-printer-app: the arm64 build lists other drivers"
    diff "$work/drivers.native" "$work/drivers.arm64" || true
    failed=$((failed + 1))
  fi
fi
echo "arm64: $passed passed, $failed failed"
[ $failed -eq 0 ]
