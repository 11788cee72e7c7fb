#!/bin/sh
# The Printer Application under load (scripts/app-load.sh, which CI runs
# with twelve): sixty jobs from six clients on three printers and, at the
# same time, clients sending at the same instant to one file: and one
# socket: printer, and bursts of two jobs to them when idle.
#   sh scripts/bench.d/app-load.sh [BUILD_DIR]
set -eu
build=${1:-build}
if [ ! -x "$build/bin/tesvel-printer-app" ]; then
  echo "app-load: the Printer Application is not built; skipped"
  exit 0
fi
exec sh "$(dirname "$0")/../app-load.sh" "$build" 60
