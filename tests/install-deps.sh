#!/bin/sh
# Installs with apt-get (Debian) what building and testing symvert needs, when missing:
# the tool chain, GoogleTest, Python 3, the independent tools the peer checks compare
# against, clang-format for the formatting check, and groff, dpkg-dev and lintian for
# the release checks (manual page, Debian package), and the mingw-w64 cross compilers and
# wine for the Windows program and its tests. Uses sudo when not run as root.
# Add a package by adding its line below.
set -eu

packages="
cmake
g++
make
libgtest-dev
python3
srecord
gputils
binutils-h8300-hms
binutils
gdb-multiarch
llvm
elfutils
binutils-multiarch
gcc-arm-none-eabi
gcc-mips-linux-gnu
sdcc
clang-format
groff-base
dpkg-dev
lintian
g++-mingw-w64-x86-64-posix
g++-mingw-w64-i686-posix
wine64
wine
"

missing=""
for pkg in $packages; do
  if [ "$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null)" != "install ok installed" ]; then
    missing="$missing $pkg"
  fi
done
if [ -z "$missing" ]; then
  echo "install-deps: everything the tests need is installed"
  exit 0
fi

echo "install-deps: installing$missing"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086 # one word per package
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
