#!/usr/bin/env bash
# Builds Zint's symbol encoder (its "backend", without PNG output) as
# a static library for the Windows builds, from Debian's source package of
# the same Zint the POSIX build links: build/zint/<triplet>/libzint.a and
# zint.h beside it. Nothing of Zint enters the source tree.
#   scripts/zint-mingw.sh [i686|x86_64]...   (default: both)
# Safe to run again: a library already built is kept.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work=${FERRIN_ZINT_DIR:-$root/build/zint}
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(i686 x86_64)

SUDO=
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

src=$(ls -d "$work"/src/zint-*/backend 2>/dev/null | head -n 1 || true)
if [ -z "$src" ]; then
  if ! apt-get source --print-uris zint >/dev/null 2>&1; then
    # Source lines for the release the machine runs, beside its binary lines.
    $SUDO tee /etc/apt/sources.list.d/ferrin-zint-src.sources >/dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $(. /etc/os-release && echo "$VERSION_CODENAME")
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    # A mirror of another suite caught mid-sync must not stop this one.
    $SUDO apt-get update -q || true
  fi
  mkdir -p "$work/src"
  (cd "$work/src" && apt-get source -q zint)
  src=$(ls -d "$work"/src/zint-*/backend | head -n 1)
fi

for arch in "${arches[@]}"; do
  out="$work/$arch-w64-mingw32"
  if [ -f "$out/libzint.a" ] && [ -f "$out/zint.h" ]; then continue; fi
  mkdir -p "$out/obj"
  for c in "$src"/*.c; do
    case $(basename "$c") in
      dllversion.c) continue ;;  # the DLL's version resource
    esac
    "$arch-w64-mingw32-gcc" -O2 -DNO_PNG -DZINT_NO_PNG -w -c "$c" -o "$out/obj/$(basename "$c" .c).o"
  done
  "$arch-w64-mingw32-ar" rcs "$out/libzint.a.tmp" "$out"/obj/*.o
  mv "$out/libzint.a.tmp" "$out/libzint.a"
  cp "$src/zint.h" "$out/zint.h"
  echo "Built $out/libzint.a"
done
