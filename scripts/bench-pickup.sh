#!/usr/bin/env bash
# Pickup latency and idle cost of the POSIX build on the built-in
# "Save as PDF" printer.
#
# Latency: BENCH_FILES (60) receipts are dropped one after another, first
# each written elsewhere and renamed into place as a whole, then each written
# in place (opened, written, closed under the spool name, as DOS programs
# write); the time from the rename or the close to the moment its PDF is in
# the "printed" folder (a PDF appears there complete, by rename) is measured. Between drops the script waits
# 700-850 ms after the previous PDF, so that the watcher has finished its
# pause after a job and the drops fall at random points of its cycle.
# Idle: with both watchers running and no spool files, the CPU time the
# process uses over BENCH_IDLE_SECONDS (60), from /proc/<pid>/stat.
#
# win32: the Windows program under Wine printing on a private CUPS queue; a
# receipt counts as printed once ferrin has handed it to the spooler and
# deleted its spool file (the scheduler's own filters come after that).
#
# Usage: scripts/bench-pickup.sh [posix|win32]
set -euo pipefail
platform=${1:-posix}
source "$(dirname "$0")/../tests/e2e/lib.sh"
e2e_begin

files=${BENCH_FILES:-60}
idle_seconds=${BENCH_IDLE_SECONDS:-60}
printer="Save as PDF"
if [ "$platform" = win32 ]; then
  start_cupsd
  add_pdf_queue Receipt
  printer=Receipt
fi
printf '[printer 0]\r\nprintername=%s\r\nfilename=WLSDFKJN.DRY\r\nfontname=Courier New\r\nfontsize=10\r\n' "$printer" > "$RUN_DIR/ferrin.ini"
printf '[printer 1]\r\nprintername=%s\r\nfilename=WLSDFKJN.DR2\r\nfontname=Courier New\r\nfontsize=10\r\n' "$printer" >> "$RUN_DIR/ferrin.ini"

# A receipt of 30 lines.
{
  printf 'RECEIPT %s\r\n' '0001'
  for i in $(seq 1 27); do printf 'Item %02d                      %3d.%02d\r\n' "$i" $((i * 3)) $((i % 100)); done
  printf 'TOTAL                        999.99\r\n\f\r\n'
} > "$WORK/receipt"

start_ferrin "$platform"
wait_started
wait_output "Starting thread for printer #1" 10
pane=$(tmux -L "$TMUX_SOCKET" list-panes -F '#{pane_pid}')
pid=$(pgrep -P "$pane" | head -n 1)
[ -n "$pid" ] || fail "cannot find ferrin's process"

shopt -s nullglob
pdfs() { local f=("$RUN_DIR"/printed/print-*.pdf); echo ${#f[@]}; }
# True once the receipt just written is printed: its PDF saved (posix), or
# handed to the spooler and its spool file deleted (win32).
printed() {
  if [ "$platform" = win32 ]; then [ ! -e "$RUN_DIR/WLSDFKJN.DRY" ]; else [ "$(pdfs)" -gt "$before" ]; fi
}
micros() { local t=${EPOCHREALTIME/./}; echo "$t"; }

# Drops BENCH_FILES receipts one way ("renamed": written aside and renamed
# into place; "in-place": opened, written and closed under the spool name, as
# DOS programs and emulators write) and sets median, p95, min and max in ms.
measure() {
  local how=$1 n start deadline latencies=() sorted count
  for n in $(seq 1 "$files"); do
    before=$(pdfs)
    cp "$WORK/receipt" "$WORK/next"
    start=$(micros)
    if [ "$how" = renamed ]; then
      mv "$WORK/next" "$RUN_DIR/WLSDFKJN.DRY"
    else
      cat "$WORK/next" > "$RUN_DIR/WLSDFKJN.DRY"
    fi
    deadline=$((start + 10000000))
    until printed; do
      [ "$(micros)" -lt "$deadline" ] || fail "receipt $n ($how) was not printed within 10 s"
      sleep 0.002
    done
    latencies+=($(( ($(micros) - start) / 1000 )))
    sleep "0.$((700 + RANDOM % 150))"
  done
  sorted=$(printf '%s\n' "${latencies[@]}" | sort -n)
  count=${#latencies[@]}
  median=$(sed -n "$(( (count + 1) / 2 ))p" <<< "$sorted")
  p95=$(sed -n "$(( (count * 95 + 99) / 100 ))p" <<< "$sorted")
  max=$(tail -n 1 <<< "$sorted")
  min=$(head -n 1 <<< "$sorted")
}
measure renamed
renamed="median ${median} ms, 95th percentile ${p95} ms, min ${min} ms, max ${max} ms"
measure in-place
inplace="median ${median} ms, 95th percentile ${p95} ms, min ${min} ms, max ${max} ms"

# Idle: both watchers cycling, nothing to print.
sleep 2
# CPU time in nanoseconds, summed over the process's threads (schedstat is
# exact where the tick counts of /proc/<pid>/stat are 10 ms steps).
cpu_ns() { cat /proc/"$pid"/task/*/schedstat | awk '{ s += $1 } END { printf "%.0f", s }'; }
t0=$(cpu_ns)
sleep "$idle_seconds"
t1=$(cpu_ns)
idle=$(awk -v d=$((t1 - t0)) -v s="$idle_seconds" 'BEGIN { printf "%.3f", d / 1e9 / s * 100 }')
cpu_per_minute=$(awk -v d=$((t1 - t0)) -v s="$idle_seconds" 'BEGIN { printf "%.0f", d / 1e6 / s * 60 }')

send_keys x
wait_exit >/dev/null

echo "pickup latency on $platform over $files receipts each way (end of the write to printed):"
echo "  renamed into place: $renamed"
echo "  written in place:   $inplace (targets: posix 20 / 50 ms, win32 40 / 100 ms)"
echo "idle with both watchers over ${idle_seconds} s:"
echo "  ${idle}% of one core, ${cpu_per_minute} ms of CPU per minute (target: under 0.1%)"
