#!/usr/bin/env bash
# Pickup latency and idle cost of a running ferrin: the POSIX build on the
# built-in "Save as PDF" printer, or the Windows build under Wine on a
# private CUPS queue.
#
# Latency: BENCH_FILES (60) receipts are dropped one after another, first
# each written elsewhere and renamed into place as a whole, then each written
# in place (opened, written, closed under the spool name, as DOS programs
# write). Each drop is made and timed by build/posix/bench_pickup, which
# watches with inotify (so that the watching takes no CPU from ferrin) and
# gives two times from the close (or the rename):
#  - taken: ferrin holds the file and has noted its hand-over (the record in
#    ".handover" appears), before any byte goes to the printer;
#  - printed: posix, its PDF is in the "printed" folder (it appears there
#    complete, by a link of a flushed file); win32, ferrin has handed it to
#    Wine's spooler and deleted its spool file (the scheduler's own filters
#    come after that).
# Between drops the script waits 700-850 ms after the previous printout, so
# that the watcher has finished its pause after a job and the drops fall at
# random points of its cycle.
# Idle: with both watchers running and no spool files, the CPU time the
# process uses over BENCH_IDLE_SECONDS (60), from /proc/<pid>/task/*/schedstat
# (under Wine, of ferrin's process and of the wineserver).
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

probe=$FERRIN_SOURCE/build/posix/bench_pickup
[ -x "$probe" ] || fail "$probe is missing: build the posix preset"
done_when=pdf
[ "$platform" = win32 ] && done_when=gone

# The median, 95th percentile, shortest and longest of the numbers on
# standard input, as "median X ms, 95th percentile Y ms, min Z ms, max W ms".
figures() {
  sort -n | awk '{ v[NR] = $1 } END {
    m = v[int((NR + 1) / 2)]; p = v[int((NR * 95 + 99) / 100)]
    printf "median %.1f ms, 95th percentile %.1f ms, min %.1f ms, max %.1f ms", m, p, v[1], v[NR] }'
}

# Drops BENCH_FILES receipts one way ("renamed": written aside and renamed
# into place; "in-place": opened, written and closed under the spool name, as
# DOS programs and emulators write); sets taken and printed to their figures.
measure() {
  local how=$1 n line times="$WORK/times-$1"
  : > "$times"
  for n in $(seq 1 "$files"); do
    line=$("$probe" "$how" "$WORK/receipt" "$RUN_DIR/WLSDFKJN.DRY" "$done_when") ||
      fail "receipt $n ($how) was not printed within 10 s"
    echo "$line" >> "$times"
    # The spool file is deleted a moment after its PDF appears.
    wait_until 10 "receipt $n ($how) to be deleted" gone "$RUN_DIR/WLSDFKJN.DRY"
    sleep "0.$((700 + RANDOM % 150))"
  done
  [ "$(awk '$1 == "-"' "$times" | wc -l)" = 0 ] || fail "a receipt ($how) was printed with no hand-over record seen"
  taken=$(awk '{ print $1 }' "$times" | figures)
  printed=$(awk '{ print $2 }' "$times" | figures)
}
measure renamed
renamed_taken=$taken renamed_printed=$printed
measure in-place
inplace_taken=$taken inplace_printed=$printed

# Idle: both watchers running, nothing to print.
sleep 2
# CPU time in nanoseconds, summed over the process's threads (schedstat is
# exact where the tick counts of /proc/<pid>/stat are 10 ms steps).
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { printf "%.0f", s }'; }
# Under Wine every wait and every file call of ferrin goes through the
# wineserver of its prefix (found by its working folder, named after the
# prefix's device and inode), so its CPU time counts as well.
server=""
if [ "$platform" = win32 ]; then
  server_dir="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
  for p in $(pgrep wineserver || true); do
    [ "$(basename "$(readlink "/proc/$p/cwd" 2>/dev/null)")" = "$server_dir" ] && server=$p
  done
  [ -n "$server" ] || fail "cannot find the wineserver of $WINEPREFIX"
fi
percent() { awk -v d="$1" -v s="$idle_seconds" 'BEGIN { printf "%.3f", d / 1e9 / s * 100 }'; }
t0=$(cpu_ns "$pid")
[ -z "$server" ] || s0=$(cpu_ns "$server")
sleep "$idle_seconds"
t1=$(cpu_ns "$pid")
[ -z "$server" ] || s1=$(cpu_ns "$server")
idle=$(percent $((t1 - t0)))
cpu_per_minute=$(awk -v d=$((t1 - t0)) -v s="$idle_seconds" 'BEGIN { printf "%.0f", d / 1e6 / s * 60 }')
[ -z "$server" ] || server_idle=$(percent $((s1 - s0)))

send_keys x
wait_exit >/dev/null

# The wineserver's cost of its own: the same over a Windows program that only
# sleeps (the test writer holding a file open between its two lines), for
# comparison.
if [ -n "$server" ]; then
  writer=$(dirname "$FERRIN_WIN32")/spoolwriter.exe
  [ -f "$writer" ] || fail "$writer is missing: build the win$FERRIN_WINE_BITS preset"
  timeout 20 wineserver -w || true
  (cd "$WORK" && "$FERRIN_WINE" "$writer" sleeper $(( (idle_seconds + 5) * 1000 )) first second >/dev/null 2>&1) &
  sleeper=$!
  sleep 3
  server=""
  for p in $(pgrep wineserver || true); do
    [ "$(basename "$(readlink "/proc/$p/cwd" 2>/dev/null)")" = "$server_dir" ] && server=$p
  done
  [ -n "$server" ] || fail "cannot find the wineserver of $WINEPREFIX for the sleeping program"
  s0=$(cpu_ns "$server")
  sleep "$idle_seconds"
  s1=$(cpu_ns "$server")
  sleeping_idle=$(percent $((s1 - s0)))
  wait "$sleeper" || true
fi

echo "pickup on $platform over $files receipts each way, from the end of the write"
echo "  to taken (ferrin holds the file and has noted its hand-over):"
echo "    renamed into place: $renamed_taken"
echo "    written in place:   $inplace_taken (target on win32: 40 / 100 ms)"
echo "  to printed ($([ "$platform" = win32 ] && echo "handed to Wine's spooler, spool file deleted" || echo "PDF complete in printed/")):"
echo "    renamed into place: $renamed_printed"
echo "    written in place:   $inplace_printed (target on posix: 20 / 50 ms)"
echo "idle with both watchers over ${idle_seconds} s:"
echo "  ${idle}% of one core, ${cpu_per_minute} ms of CPU per minute (target: under 0.1%)"
[ -z "$server" ] || echo "  the wineserver meanwhile: ${server_idle}% of one core (over a Windows program that only sleeps: ${sleeping_idle}%)"
