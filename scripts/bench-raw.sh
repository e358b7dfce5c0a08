#!/usr/bin/env bash
# Raw printing latency on POSIX: a 1 KB ESC/POS receipt sent raw, 50 times,
# into a private CUPS raw queue whose printer is a loopback listener; the
# time from the receipt's bytes being read to its job being in the scheduler,
# and what accounting for each receipt adds: the journal (copy flushed, index
# line), the hand-over record, the move into "sent", the request that
# confirms the job finished, and the removal of the printout and its record.
#   scripts/bench-raw.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source "$root/tests/e2e/lib.sh"
need python3
e2e_begin
cmake --preset posix >/dev/null
cmake --build --preset posix --target bench_raw >/dev/null
start_cupsd
add_listener_queue Drawer "$WORK/jobs" 300 raw
{
  printf '\033@\033a\001\035!\021SHOP\035!\000\n\033a\000'
  for i in $(seq 1 30); do printf 'Item %02d                      %3d.%02d\n' "$i" $((i * 3)) $((i % 100)); done
  printf '\033E\001TOTAL  99.99\033E\000\n\035VA\003\033p\000\031\372'
} > "$WORK/receipt"
# In the work folder: the journal's copies are kept in its folder "journal".
(cd "$WORK" && "$root/build/posix/bench_raw" Drawer "$WORK/receipt" 50)
