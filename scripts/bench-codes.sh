#!/usr/bin/env bash
# Codes benchmark: receipts with ten bar codes and 2D codes each against the
# same receipts without them, through controls=escpos into "Save as PDF".
# Builds bench_codes in its own build folder and runs it in a scratch folder.
#   scripts/bench-codes.sh [receipts]     (default 200)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="$root/build/bench-print"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DFERRIN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target bench_codes >/dev/null

work=$(mktemp -d /tmp/ferrin-bench-codes.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bench_codes" "${1:-200}"
for pdf in printed/*.pdf; do
  echo "PDF: $(pdfinfo "$pdf" 2>/dev/null | sed -n 's/^Pages: *//p') pages, $(du -k "$pdf" | cut -f1) KB"
done
