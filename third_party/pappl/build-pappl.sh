#!/bin/sh
# Builds the PAPPL library that tesvel-printer-app links statically: the
# source of Debian 12's package (1.3.1), checked against the checksum its
# .dsc gives, with our patches (patches/series, in order) on top.
#
#   build-pappl.sh <work-dir> [configure options...]
#   build-pappl.sh --fetch <work-dir>      (only fetch and check the source)
#
# The environment's CC, CFLAGS and LDFLAGS reach PAPPL's configure, so the
# sanitizer and arm64 builds get a library built like the rest of them
# (--host=aarch64-linux-gnu for arm64).  The result is
#   <work-dir>/src/pappl/libpappl.a  and the headers under <work-dir>/src,
# with <work-dir>/libs.txt listing the libraries it needs at link time.
#
# The source package is fetched once into third_party/pappl/download (or
# $TESVEL_PAPPL_DOWNLOAD) with apt-get, through a private sources list made
# from the system's own Debian entries: the system's apt set-up is never
# changed.  A download already there is checked, never fetched again, so
# the Debian package build, which must not use the network, gets it from
# the source tree (scripts/deb.sh copies it there).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
fetch_only=false
if [ "${1:-}" = --fetch ]; then
  fetch_only=true
  shift
fi
work=${1:?usage: build-pappl.sh [--fetch] <work-dir> [configure options...]}
shift
mkdir -p "$work"
work=$(cd "$work" && pwd)
download=${TESVEL_PAPPL_DOWNLOAD:-$here/download}
version=1.3.1
debversion=$version-2
tarball=pappl_$version.orig.tar.gz
dsc=pappl_$debversion.dsc

# The sha256 the .dsc gives for the tarball.
dsc_sha256() {
  awk -v f="$tarball" '/^Checksums-Sha256:/ {s=1; next} /^[^ ]/ {s=0} s && $3 == f {print $1}' "$download/$dsc"
}

verified() {
  [ -f "$download/$dsc" ] && [ -f "$download/$tarball" ] || return 1
  want=$(dsc_sha256)
  [ -n "$want" ] || return 1
  have=$(sha256sum "$download/$tarball" | cut -d' ' -f1)
  [ "$want" = "$have" ]
}

fetch() {
  apt_dir="$work/apt"
  rm -rf "$apt_dir"
  mkdir -p "$apt_dir/sources.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$download"
  # deb-src twins of the system's Debian "deb" entries (deb822 and one-line).
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'BEGIN{RS=""; ORS="\n\n"} /(^|\n)Types:[^\n]*deb([ \n]|$)/ && /debian/ {
           sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
  done > "$apt_dir/sources.d/src.sources"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]\(.*debian.*\)/deb-src \1/p' "$f"
  done > "$apt_dir/sources.d/src.list"
  set -- -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources.d" \
         -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" \
         -o APT::Sandbox::User=root
  echo "Fetching PAPPL $debversion's source package from Debian"
  apt-get "$@" -q update >"$apt_dir/update.log" 2>&1 || { cat "$apt_dir/update.log" >&2; exit 1; }
  # The archive serves the .dsc and the upstream tarball but not always
  # Debian's own .debian.tar.xz, which we do not use: apt-get then exits
  # non-zero after fetching what we need, so its status is not the test.
  (cd "$download" && apt-get "$@" -q source --download-only "pappl=$debversion") >"$apt_dir/source.log" 2>&1 || true
  rm -f "$download"/*.debian.tar.*
}

if ! verified; then
  fetch
  if ! verified; then
    echo "PAPPL's source does not match the checksum in $dsc" >&2
    exit 1
  fi
fi
if $fetch_only; then
  exit 0
fi

# A fresh tree each time: the patches apply to pristine source only.
rm -rf "$work/src" "$work/libs.txt"
mkdir -p "$work/src"
tar xzf "$download/$tarball" -C "$work/src" --strip-components=1
while read -r patch; do
  case $patch in ''|\#*) continue ;; esac
  echo "Applying $patch"
  patch -d "$work/src" -p1 --quiet --no-backup-if-mismatch <"$here/patches/$patch"
done <"$here/patches/series"

cd "$work/src"
# Debian builds PAPPL with GnuTLS; the library is linked statically into
# the application, so no shared library is built.
./configure --disable-shared --with-tls=gnutls --with-dnssd=avahi "$@" >"$work/configure.log" 2>&1 ||
  { tail -30 "$work/configure.log" >&2; exit 1; }
make -C pappl -j "${JOBS:-2}" libpappl.a >"$work/make.log" 2>&1 ||
  { grep -E -B2 -A6 'error' "$work/make.log" | head -60 >&2; exit 1; }
sed -n 's/^LIBS[[:space:]]*=[[:space:]]*//p' Makedefs >"$work/libs.txt"
echo "PAPPL $version with $(grep -cv '^\(#\|$\)' "$here/patches/series") patches built in $work"
