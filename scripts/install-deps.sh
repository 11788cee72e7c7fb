#!/bin/sh
# Installs the Debian packages the driver needs to build, test and run the
# demo, with what our own build of PAPPL needs (third_party/pappl).  A
# package already installed is not asked for again, so a warm machine never
# calls apt.  Needs root (or sudo) only when something is missing.
set -eu

packages="
build-essential cmake pkg-config
libcups2-dev libcupsimage2-dev libusb-1.0-0-dev
cups cups-client cups-filters cups-filters-core-drivers cups-ppdc cups-ipp-utils
libavahi-client-dev libgnutls28-dev libjpeg-dev libpam0g-dev zlib1g-dev
ghostscript poppler-utils qpdf
libgtest-dev libgmock-dev libbenchmark-dev
libjbig-dev jbigkit-bin libpng-dev
valgrind python3 tidy
avahi-daemon avahi-utils dbus-daemon iproute2
"

# "install-deps.sh fuzz": also the compiler of the fuzz targets.
if [ "${1:-}" = fuzz ]; then
  packages="$packages clang libclang-rt-14-dev"
fi
# "install-deps.sh deb": also the tools that build and check the packages.
if [ "${1:-}" = deb ]; then
  packages="$packages debhelper dpkg-dev lintian"
fi

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing="$missing $p"
  fi
done

if [ -z "$missing" ]; then
  exit 0
fi

echo "Installing missing packages:$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q $missing
