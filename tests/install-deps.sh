#!/bin/sh
# Installs with apt-get (Debian) what building and testing symvert needs, when missing:
# the tool chain, GoogleTest, Python 3, the independent tools the peer checks compare
# against, clang-format for the formatting check, and groff, dpkg-dev and lintian for
# the release checks (manual page, Debian package), and the mingw-w64 cross compilers and
# wine for the Windows programs and their tests: wine64 for the 64-bit program, and wine's
# 32-bit side (wine32, a package of the i386 architecture, which is added to dpkg's
# architectures when missing) for the 32-bit one. Uses sudo when not run as root.
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
wine32:i386
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
case "$missing" in
*:i386*)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  ;;
esac
$sudo apt-get update -qq
# shellcheck disable=SC2086 # one word per package
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
