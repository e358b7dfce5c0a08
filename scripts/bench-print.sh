#!/usr/bin/env bash
# Printing benchmark: ferrin's printing layer into "Save as PDF" against
# iconv | paps | ps2pdf on the same text, and the same lines as an ESC/P
# report through controls=escp. Installs paps when it is missing,
# builds bench_print in its own build folder and runs it in a scratch folder.
#   scripts/bench-print.sh [lines]     (default 100000)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
lines=${1:-100000}

if ! command -v paps >/dev/null || ! command -v ps2pdf >/dev/null || ! command -v iconv >/dev/null; then
  SUDO=
  [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends paps ghostscript libc-bin
fi

build="$root/build/bench-print"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DFERRIN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target bench_print >/dev/null

work=$(mktemp -d /tmp/ferrin-bench-print.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bench_print" "$lines"
for pdf in printed/*.pdf; do
  echo "ferrin's PDF: $(pdfinfo "$pdf" 2>/dev/null | sed -n 's/^Pages: *//p') pages, $(du -k "$pdf" | cut -f1) KB"
done
