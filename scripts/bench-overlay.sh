#!/usr/bin/env bash
# Benchmark of forms (overlay): what an A4 form at 300 dpi costs a printout
# into "Save as PDF", on its first page and per page after it (the goal: under
# 10 ms), and the size of the PDFs. Builds bench_overlay in its own build
# folder and runs it in a scratch folder.
#   scripts/bench-overlay.sh [pages]     (default 50)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
pages=${1:-50}

build="$root/build/bench-print"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DFERRIN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target bench_overlay >/dev/null

work=$(mktemp -d /tmp/ferrin-bench-overlay.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bench_overlay" "$pages"
for pdf in $(ls printed/*.pdf | sort); do
  echo "$(pdfinfo "$pdf" 2>/dev/null | sed -n 's/^Pages: *//p') pages: $(du -k "$pdf" | cut -f1) KB," \
       "$(pdfimages -list "$pdf" 2>/dev/null | awk 'NR > 2' | wc -l) images"
done | sort | uniq -c
