#!/bin/sh
# Builds the driver for arm64 (64-bit ARM Linux: a Raspberry Pi print
# server, say) with Debian's cross toolchain and checks it here under
# qemu-user: the unit tests that need no running service, the JBIG
# byte-equality and round-trip tests, and one whole job per printer dialect
# compared byte for byte with this machine's build (scripts/cross-jobs.sh).
#   scripts/cross-arm64.sh [native-build] [arm64-build]     (make cross-arm64)
#
# The tests chosen are the ones that read and write bytes: records and
# checksums, text parsing, the encoder and its thread pool, the halftoning
# (NEON in halftone_tests, the plain C++ path in halftone_portable_tests)
# and the stream inspector.  Tests that start
# programs are left to the native runs: qemu-user runs only the program it
# was given, and this machine has no binfmt entry to run arm64 children.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
native=${1:-build}
arm=${2:-build-arm64}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}

"$top/scripts/install-cross-deps.sh"

has_target() {
  cmake --build "$1" --target help | grep -q -- "\.\.\. $2\$"
}

# This machine's filter, stream inspector, PPDs and Printer Application:
# the reference.
[ -f "$native/CMakeCache.txt" ] || cmake -S "$top" -B "$native"
reference="rasterfilter prndecode ppds"
if has_target "$native" tesvel-printer-app; then reference="$reference tesvel-printer-app"; fi
# shellcheck disable=SC2086
cmake --build "$native" -j "$jobs" --target $reference

# Benchmarks and the ThreadSanitizer programs are not built for arm64.
cmake -S "$top" -B "$arm" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-aarch64-linux-gnu.cmake" \
  -DBUILD_BENCHMARKS=OFF -DMONITOR_TSAN=OFF
targets="rasterfilter jobwrapper prndecode ppds
  jbig_unit_test jbig_t82_test jbig_t85_test halftone_tests halftone_portable_tests
  stream_tests rasterfilter_unit_tests stores_unit_tests prndecode_tests
  jobwrapper_tests monitor_tests"
for t in options raster_header raster_job ps_lines monitor_text prndecode jbig; do
  targets="$targets fuzz_${t}_replay"
done
# The Printer Application, when this tree has it and its library was found.
skip_app=""
if has_target "$arm" tesvel-printer-app; then
  targets="$targets tesvel-printer-app fuzz_app_request_replay"
else
  echo "No tesvel-printer-app target in the arm64 build: the Printer Application is left out"
  skip_app='|^fuzz\.app_request\.'
fi
# shellcheck disable=SC2086
cmake --build "$arm" -j "$jobs" --target $targets

# Whole suites of byte-level tests, less the ones that start programs or
# serve on the fixed SNMP port.
selected='^(jbig|halftone|stream|rasterfilter|stores|prndecode|fuzz|jobwrapper|monitor)\.'
starts_programs='\.(ProcessStream|RasterFilterBadInput|RasterFilterPages|RasterFilterStart|StoredPagesProcess|Cli|CupsdTest|PpdSet|[A-Za-z]*ProcessTest|threads|SnmpTest)\.'
starts_programs="$starts_programs|^stores\.StoresTest\.ABlankPageIsWhiteAndNumberedAfterTheLastPage\$"
(cd "$arm" && ctest --output-on-failure -j "$jobs" -R "$selected" -E "$starts_programs$skip_app")

"$top/scripts/cross-jobs.sh" "$native" "$arm"
