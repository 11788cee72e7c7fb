#!/bin/sh
# make deb: the Debian packages, built by dpkg-buildpackage from a copy of
# the tree's own files in BUILD/deb (dh_clean there never touches the
# working tree), left in BUILD and checked by lintian, which fails on errors.
#   scripts/deb.sh BUILD JOBS
set -eu
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build}")
jobs=${2:-2}
src="$build/deb"

rm -rf "$src"
mkdir -p "$src"
# The tree's files as they are now, committed or not, but nothing git
# ignores and nothing of the build directory itself.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  rel=$(realpath -m --relative-to=. "$build")
  git ls-files -z --cached --others --exclude-standard |
    { grep -zv "^$rel/" || true; } |
    tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$src"
else
  tar --exclude='./build*' --exclude=./.git --exclude=./demo-out --exclude="./$(basename "$build")" \
    -cf - . | tar -xf - -C "$src"
fi

# PAPPL's source, which git ignores, goes into the package build with the
# tree: the build links our patched PAPPL and must not use the network.
sh third_party/pappl/build-pappl.sh --fetch "$build/pappl-fetch"
mkdir -p "$src/third_party/pappl/download"
cp third_party/pappl/download/pappl_* "$src/third_party/pappl/download/"

rm -f "$build"/printer-driver-tesvel*_* "$build"/tesvel-printer-app*_* "$build"/tesvel-driver_*
(cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=$jobs" dpkg-buildpackage -us -uc -b)

changes=$(ls "$build"/tesvel-driver_*.changes)
lintian --fail-on error --tag-display-limit 0 "$changes"
ls -l "$build"/*.deb
