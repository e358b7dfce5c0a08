#!/usr/bin/env bash
# What alsoto costs, on POSIX into "Save as PDF", headless: receipts of 40
# lines printed by three slots of three distinct layouts (plain text, the
# receipt printer's language, the dot-matrix printer's), first each slot on
# its own, then all three from one slot with alsoto=1,2. Each layout is laid
# out once per receipt either way: the CPU time of the alsoto run should come
# to about the sum of the three runs alone, plus the copies for the further
# printers (written and synced before the hand-over). Prints the figures;
# checks that every slot made exactly one PDF per receipt.
#
# Usage: scripts/bench-alsoto.sh [receipts] [path to the POSIX ferrin]
set -euo pipefail
RECEIPTS=${1:-40}
FERRIN_POSIX=${2:-${FERRIN_POSIX:-$(cd "$(dirname "$0")/.." && pwd)/build/posix/ferrin}}
export FERRIN_POSIX
source "$(dirname "$0")/../tests/e2e/lib.sh"
need setsid pdfinfo
e2e_begin

# Three slots, each its own layout and spool name; $1 is slot 0's alsoto.
write_settings() {
  {
    printf '[printer 0]\r\nprintername=Save as PDF\r\nfilename=A.PRN\r\nfontsize=10\r\nalsoto=%s\r\n' "$1"
    printf '[printer 1]\r\nprintername=Save as PDF\r\nfilename=B.PRN\r\ncontrols=escpos\r\n'
    printf '[printer 2]\r\nprintername=Save as PDF\r\nfilename=C.PRN\r\ncontrols=escp\r\n'
  } > "$RUN_DIR/ferrin.ini"
}

receipt() {
  printf '\033@\033a\001\033E\001SHOP %s\033E\000\r\n\033a\000' "$1"
  for i in $(seq 1 38); do printf 'Item %02d                      %3d.%02d\r\n' "$i" $((i * 3)) $((i % 100)); done
  printf 'TOTAL  99.99\r\n'
}
for n in $(seq 1 "$RECEIPTS"); do receipt "$n" > "$WORK/receipt-$n"; done

at_least_pdfs() { [ "$(pdf_count)" -ge "$1" ]; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# Runs ferrin headless, drops the receipts under the given spool name one
# after another, waits for `want` PDFs; prints "wall-seconds cpu-seconds".
run_receipts() {
  local spool=$1 want=$2 pid start ticks0 ticks1 n
  rm -rf "$RUN_DIR/printed" "$RUN_DIR/waiting"
  (cd "$RUN_DIR" && exec setsid "$FERRIN_POSIX" > out.txt 2> /dev/null < /dev/null) &
  pid=$!
  wait_until 30 "ferrin's third watcher" grep -q "Starting thread for printer #2" "$RUN_DIR/out.txt"
  sleep 1
  ticks0=$(cpu_ticks "$pid")
  start=$(date +%s.%N)
  for n in $(seq 1 "$RECEIPTS"); do
    while [ -e "$RUN_DIR/$spool" ]; do sleep 0.01; done
    cp "$WORK/receipt-$n" "$WORK/drop" && mv "$WORK/drop" "$RUN_DIR/$spool"
  done
  wait_until 600 "$want PDFs" at_least_pdfs "$want"
  ticks1=$(cpu_ticks "$pid")
  awk -v a="$(date +%s.%N)" -v b="$start" -v t=$((ticks1 - ticks0)) -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf "%.2f %.2f\n", a - b, t / hz }'
  kill -TERM "$pid"
  wait "$pid" || true
  [ "$(pdf_count)" = "$want" ] || fail "$(pdf_count) PDFs, not $want"
}

write_settings ""
read -r plain_wall plain_cpu < <(run_receipts A.PRN "$RECEIPTS")
read -r escpos_wall escpos_cpu < <(run_receipts B.PRN "$RECEIPTS")
read -r escp_wall escp_cpu < <(run_receipts C.PRN "$RECEIPTS")
write_settings "1,2"
read -r also_wall also_cpu < <(run_receipts A.PRN $((RECEIPTS * 3)))
grep -q "alsoto" "$RUN_DIR/out.txt" && fail "alsoto said something: $(grep alsoto "$RUN_DIR/out.txt")"

echo "$RECEIPTS receipts of 40 lines into Save as PDF (wall s / CPU s of ferrin):"
echo "  plain text alone:           $plain_wall / $plain_cpu"
echo "  receipt printer alone:      $escpos_wall / $escpos_cpu"
echo "  dot-matrix alone:           $escp_wall / $escp_cpu"
echo "  plain text, alsoto=1,2:     $also_wall / $also_cpu  (each receipt laid out in all three layouts, 3 PDFs each)"
awk -v a="$also_cpu" -v p="$plain_cpu" -v r="$escpos_cpu" -v d="$escp_cpu" -v n="$RECEIPTS" \
  'BEGIN { s = p + r + d; printf "  CPU with alsoto against the three alone: %.2f s against %.2f s (ratio %.2f), %.1f ms a receipt\n", a, s, (s > 0 ? a / s : 0), 1000 * a / n }'
