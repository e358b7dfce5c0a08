#!/usr/bin/env bash
# Installs what ferrin needs to build (both targets) and to run its tests on
# Debian 12. Safe to run again: packages already there are skipped.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  g++-mingw-w64-i686
  libcups2-dev libcairo2-dev libpango1.0-dev libfreetype-dev libfontconfig-dev
  fonts-liberation
  libgtest-dev googletest
  cups-daemon cups-client cups-filters cups-filters-core-drivers
  cups  # the socket backend, for the raw queue of the device tests
  libzint-dev  # bar codes and 2D codes on receipts (POSIX build)
  dpkg-dev  # apt-get source: Zint's source for the Windows builds
  libcurl4-openssl-dev  # SMTP and MIME for mailing printouts (POSIX build)
  python3-aiosmtpd openssl  # the mail tests' SMTP server and its self-signed certificate
  poppler-utils tmux procps gdb
  zbar-tools  # zbarimg reads bar codes and QR codes back in the tests
  zxing-cpp-tools  # ZXingReader reads PDF417 codes back in the tests
  clang libclang-rt-14-dev clang-tidy cppcheck python3
  wine wine32:i386 libcups2:i386 fonts-wine
  dpkg-dev lintian systemd unzip
  dosbox nasm
)
# The Windows program is tested under 32-bit Wine where this machine runs
# 32-bit programs; where it does not (IA-32 emulation off), a 64-bit build of
# the same sources is tested under 64-bit Wine instead.
if ! bash "$(dirname "$0")/runs-32bit.sh"; then
  packages+=(wine64 g++-mingw-w64-x86-64)
fi

SUDO=
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Zint's encoder for the Windows builds, from Debian's source package.
mingw=(i686)
if ! bash "$(dirname "$0")/runs-32bit.sh"; then mingw+=(x86_64); fi
bash "$(dirname "$0")/zint-mingw.sh" "${mingw[@]}"
# libcurl (SMTP over Schannel) for the Windows builds, from Debian's source
# package likewise; it needs only the cross compiler and make.
bash "$(dirname "$0")/curl-mingw.sh" "${mingw[@]}"
