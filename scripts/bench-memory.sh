#!/usr/bin/env bash
# Memory of the POSIX build on hostile input, run headless (no terminal:
# the echo goes to standard error, here /dev/null) on "Save as PDF":
#  - a 200 MB spool file without a single CR (one line of 200 MB): printed
#    once, and ferrin's peak memory;
#  - a 50 MB ferrin.ini (its settings first, then junk): five receipts still
#    print, and ferrin's peak memory.
# Prints the figures; the target for both is under 64 MB.
#
# Usage: scripts/bench-memory.sh [path to the POSIX ferrin]
set -euo pipefail
FERRIN_POSIX=${1:-${FERRIN_POSIX:-$(cd "$(dirname "$0")/.." && pwd)/build/posix/ferrin}}
export FERRIN_POSIX
source "$(dirname "$0")/../tests/e2e/lib.sh"
need setsid pdfinfo
e2e_begin

INI='[printer 0]\r\nprintername=Save as PDF\r\nfilename=WLSDFKJN.DRY\r\nfontname=Courier New\r\nfontsize=10\r\n'
at_least_pdfs() { [ "$(pdf_count)" -ge "$1" ]; }

# Runs ferrin headless in $RUN_DIR until the given number of PDFs are there;
# prints its peak memory in KiB.
run_until_pdfs() {
  local want=$1 pid peak
  (cd "$RUN_DIR" && exec setsid "$FERRIN_POSIX" > out.txt 2> /dev/null < /dev/null) &
  pid=$!
  wait_until 600 "$want PDFs" at_least_pdfs "$want"
  peak=$(peak_memory_kb "$pid")
  kill -TERM "$pid"
  wait "$pid" || true
  echo "$peak"
}

printf "$INI" > "$RUN_DIR/ferrin.ini"
head -c $((200 * 1024 * 1024)) /dev/zero | tr '\0' 'x' > "$WORK/big"
mv "$WORK/big" "$RUN_DIR/WLSDFKJN.DRY"
start=$(date +%s.%N)
line_peak=$(run_until_pdfs 1)
line_seconds=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN { printf "%.1f", a - b }')
[ ! -e "$RUN_DIR/WLSDFKJN.DRY" ] || fail "the 200 MB printout is still there"
[ "$(pdfinfo "$(find "$RUN_DIR/printed" -name 'print-*.pdf')" | awk '/^Pages:/ { print $2 }')" = 1 ] ||
  fail "the 200 MB line did not print as one page"
rm -rf "$RUN_DIR/printed"

{
  printf "$INI"
  awk 'BEGIN { for (i = 0; i < 700000; i++) printf "junk%07d=%s\r\n", i, "................................................................" }'
} > "$RUN_DIR/ferrin.ini"
ini_size=$(stat -c %s "$RUN_DIR/ferrin.ini")
(for n in 1 2 3 4 5; do
  while [ -e "$RUN_DIR/WLSDFKJN.DRY" ]; do sleep 0.1; done
  printf 'Receipt %s\r\n' "$n" > "$WORK/r" && mv "$WORK/r" "$RUN_DIR/WLSDFKJN.DRY"
done) &
ini_peak=$(run_until_pdfs 5)
wait
grep -q "ferrin.ini is larger than 1 MiB; only its first 1 MiB is read." "$RUN_DIR/out.txt" || fail "the large ferrin.ini was not said"

echo "200 MB spool file, one line: printed in ${line_seconds} s, peak memory $((line_peak / 1024)) MB"
echo "ferrin.ini of $((ini_size / 1024 / 1024)) MB: 5 receipts printed, peak memory $((ini_peak / 1024)) MB"
