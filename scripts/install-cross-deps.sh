#!/bin/sh
# Installs what the arm64 cross build needs: Debian's cross toolchain, the
# arm64 libraries from Debian's multiarch packages, and qemu-user to run the
# arm64 programs here.  Like install-deps.sh it asks apt only for what is
# missing, and it adds the arm64 architecture (and refreshes the package
# lists) only when dpkg does not know it yet.  Needs root (or sudo) only
# when something is missing.
#
# The libraries our own build of PAPPL needs are tried on their own
# afterwards: the rest of the cross build does not need them, so a mirror
# that cannot give them leaves the build without the Printer Application.
set -eu

arch=arm64
packages="
crossbuild-essential-$arch qemu-user
libcups2-dev:$arch libcupsimage2-dev:$arch libusb-1.0-0-dev:$arch
libjbig-dev:$arch libpng-dev:$arch
libgtest-dev:$arch libgmock-dev:$arch
"
optional="libavahi-client-dev:$arch libgnutls28-dev:$arch libjpeg-dev:$arch libpam0g-dev:$arch zlib1g-dev:$arch"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing_of() {
  for p in "$@"; do
    installed "$p" || printf ' %s' "$p"
  done
}

# shellcheck disable=SC2086
missing=$(missing_of $packages)
# shellcheck disable=SC2086
missing_optional=$(missing_of $optional)
if [ -z "$missing" ] && [ -z "$missing_optional" ]; then
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  echo "Adding the $arch architecture to dpkg"
  $SUDO dpkg --add-architecture "$arch"
fi
$SUDO apt-get update -q

if [ -n "$missing" ]; then
  echo "Installing missing packages:$missing"
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -q --no-install-recommends $missing
fi

if [ -n "$missing_optional" ]; then
  echo "Installing missing packages:$missing_optional"
  # shellcheck disable=SC2086
  if ! $SUDO apt-get install -y -q --no-install-recommends $missing_optional; then
    echo "Could not install$missing_optional: the arm64 build leaves out what needs it" >&2
  fi
fi
