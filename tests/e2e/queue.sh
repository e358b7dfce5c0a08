#!/usr/bin/env bash
# Printer outages: printouts written one after another under the spool name
# while the printer is unknown (both platforms) or its scheduler is stopped
# (POSIX) are moved into the folder "waiting" at once, survive a restart of
# ferrin, and print once, in the order they were written, when the printer is
# back; the outage and its end are each said once. Ending ferrin with X while
# a long printout prints finishes it first: it prints once, and nothing is
# printed again at the next start. A till that also prints on a kitchen
# printer (alsoto) that is down: the till is not held up, and after a kill
# and a restart with the kitchen printer back each receipt prints once there;
# copies counted at the printer (the job's copies, the pages of a PDF).
source "$(dirname "$0")/lib.sh"
need pdftotext python3
e2e_begin

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
JOBS="$WORK/jobs"
start_cupsd
# Every job the queue prints is kept, in the order the jobs arrive.
add_listener_queue Till "$JOBS" 900

jobs_done() { find "$JOBS" -maxdepth 1 -name 'job-*.bin' | sort; }

# Writes three printouts one after another, each as soon as the one before
# has left the spool name, and checks that all three wait.
write_three() {
  local tag=$1 n
  for n in 1 2 3; do
    printf '%s printout %s\r\nline two\r\n' "$tag" "$n" > "$SPOOL"
    wait_until 20 "$tag printout $n to leave the spool name" test ! -e "$SPOOL"
  done
  [ "$(waiting_count)" = 3 ] || fail "$tag: $(waiting_count) printouts wait, not 3"
}

# The texts of the given files, in order, as one line.
texts() { local f; for f in "$@"; do printf '%s/' "$(text_of "$f")"; done; }
expected() { local tag=$1; echo "$tag printout 1|line two|/$tag printout 2|line two|/$tag printout 3|line two|/"; }

for platform in $(e2e_platforms); do
  rm -rf "$RUN_DIR/waiting" "$RUN_DIR/printed"
  write_ini Nobody
  start_ferrin "$platform"
  wait_started
  wait_output "Starting thread for printer #0"
  write_three "$platform"
  wait_output 'Printer #0: the printer "Nobody" cannot be reached (error 68), so 1 printout is waiting in the folder waiting.'
  sleep 2
  [ "$(count_output Nobody)" = 1 ] || fail "$platform: the outage was said $(count_output Nobody) times"

  # The queue survives a restart.
  send_keys x
  [ "$(wait_exit 30)" = 0 ] || fail "$platform: ferrin did not end with 0"
  [ "$(waiting_count)" = 3 ] || fail "$platform: the queue did not survive the restart"
  before=$(jobs_done | wc -l)
  write_ini Till
  start_ferrin "$platform"
  wait_started
  printf '%s printout 4\r\n' "$platform" > "$SPOOL"  # written after the others, printed after them
  wait_until 90 "$platform: the queue to be printed" bash -c "[ \$(find '$JOBS' -name 'job-*.bin' | wc -l) -ge $((before + 4)) ]"
  sleep 2
  mapfile -t done_jobs < <(jobs_done | tail -n +$((before + 1)))
  [ "${#done_jobs[@]}" = 4 ] || fail "$platform: ${#done_jobs[@]} jobs reached the printer, not 4"
  [ "$(texts "${done_jobs[@]}")" = "$(expected "$platform")$platform printout 4|/" ] ||
    fail "$platform: the printer got '$(texts "${done_jobs[@]}")'"
  gone || fail "$platform: printouts are left in the queue"
  wait_output "Printer #0: the waiting printouts have been printed."
  [ "$(count_output 'have been printed')" = 1 ] || fail "$platform: the end of the outage was not said once"
  send_keys x
  [ "$(wait_exit 30)" = 0 ] || fail "$platform: ferrin did not end with 0"
done

# POSIX: the scheduler stopped while printouts arrive, then started again.
if [[ " $(e2e_platforms) " == *" posix "* ]]; then
  write_ini Till
  start_ferrin posix
  wait_started
  wait_output "Starting thread for printer #0"
  kill_cupsd TERM
  write_three stopped
  restart_cupsd
  before=$(jobs_done | wc -l)
  wait_until 90 "the queue to be printed after the scheduler is back" \
    bash -c "[ \$(find '$JOBS' -name 'job-*.bin' | wc -l) -ge $((before + 3)) ]"
  sleep 3
  mapfile -t done_jobs < <(jobs_done | tail -n +$((before + 1)))
  [ "$(texts "${done_jobs[@]}")" = "$(expected stopped)" ] || fail "stopped scheduler: the printer got '$(texts "${done_jobs[@]}")'"
  gone || fail "stopped scheduler: printouts are left in the queue"

  # X while a long printout prints into "Save as PDF": it is finished first.
  write_ini "Save as PDF"
  sleep 1
  awk 'BEGIN { for (i = 1; i <= 150000; i++) printf "Long report line %d\r\n", i }' > "$RUN_DIR/long.txt"
  mv "$RUN_DIR/long.txt" "$SPOOL"
  wait_until 20 "the long printout to be taken" test -e "$RUN_DIR/.WLSDFKJN.DRY.printing"
  send_keys x
  [ "$(wait_exit 70)" = 0 ] || fail "X during a job: ferrin did not end with 0"
  [ ! -e "$SPOOL" ] && [ ! -e "$RUN_DIR/.WLSDFKJN.DRY.printing" ] || fail "X during a job: the printout was left behind"
  [ "$(pdfs | wc -l)" = 1 ] || fail "X during a job: $(pdfs | wc -l) PDFs, not 1"
  pdftotext "$(pdfs)" - | grep -qx "Long report line 150000" || fail "X during a job: the printout is not complete"
  start_ferrin posix
  wait_started
  wait_output "Starting thread for printer #0"
  sleep 3
  [ "$(pdfs | wc -l)" = 1 ] || fail "X during a job: the printout was printed again after the restart"
  send_keys x
  wait_exit 30 > /dev/null

  # alsoto: every receipt of the till also goes to a kitchen printer (raw)
  # that is down; the till prints each in one job of two copies at once. A
  # kill, the kitchen printer back, a restart: each receipt once more, there
  # only, byte for byte. copies=3 into "Save as PDF": the pages three times.
  till_listener=$LISTENER_PID
  add_listener_queue Kitchen "$WORK/kitchen" 900 raw
  kitchen_jobs() { find "$WORK/kitchen" -maxdepth 1 -name 'job-*.bin' | sort; }
  kitchen_ini() {
    printf '[printer 0]\r\nprintername=Till\r\nfilename=WLSDFKJN.DRY\r\ncopies=2\r\nalsoto=1\r\n' > "$RUN_DIR/ferrin.ini"
    printf '[printer 1]\r\nprintername=%s\r\nfilename=KITCHEN.PRN\r\nmode=raw\r\n' "$1" >> "$RUN_DIR/ferrin.ini"
  }
  kitchen_ini Nobody
  start_ferrin posix
  wait_started
  wait_output "Starting thread for printer #1"
  before=$(jobs_done | wc -l)
  for n in 1 2; do
    printf 'Order %s\r\nSoup\r\n' "$n" > "$SPOOL"
    wait_until 20 "order $n to leave the spool name" test ! -e "$SPOOL"
    wait_until 20 "order $n at the till" bash -c "[ \$(find '$JOBS' -name 'job-*.bin' | wc -l) -ge $((before + n)) ]"
    [ "$(cups_newest_copies Till)" = 2 ] || fail "alsoto: the till's job asks for $(cups_newest_copies Till) copies, not 2"
  done
  wait_until 20 "both orders to wait for the kitchen" bash -c "[ \$(ls '$RUN_DIR/waiting' | grep -c '^KITCHEN.PRN.[0-9]*$') = 2 ]"
  wait_output 'Printer #1: the printer "Nobody" cannot be reached (error 68)'
  count_output 'Printer #0: the printer' | grep -qx 0 || fail "alsoto: the kitchen's outage held up the till"
  kill -KILL "$(ferrin_pid)"
  wait_until 20 "ferrin to be killed" test -s "$RUN_DIR/rc.txt"
  kitchen_ini Kitchen
  start_ferrin posix
  wait_started
  wait_until 30 "the orders at the kitchen" bash -c "[ \$(find '$WORK/kitchen' -name 'job-*.bin' | wc -l) -ge 2 ]"
  sleep 3
  mapfile -t done_jobs < <(kitchen_jobs)
  [ "${#done_jobs[@]}" = 2 ] || fail "alsoto: the kitchen printed ${#done_jobs[@]} jobs, not 2"
  [ "$(cat "${done_jobs[0]}")" = "$(printf 'Order 1\r\nSoup\r\n')" ] && [ "$(cat "${done_jobs[1]}")" = "$(printf 'Order 2\r\nSoup\r\n')" ] ||
    fail "alsoto: the kitchen got '$(cat "${done_jobs[@]}" | tr '\r\n' '  ')'"
  [ "$(jobs_done | wc -l)" = $((before + 2)) ] || fail "alsoto: the till printed again after the restart"
  gone || fail "alsoto: printouts are left in the queue"
  [ -z "$(ls "$RUN_DIR/waiting")" ] || fail "alsoto: left in the folder waiting: $(ls "$RUN_DIR/waiting")"

  printf '[printer 0]\r\nprintername=Save as PDF\r\nfilename=WLSDFKJN.DRY\r\ncopies=3\r\n' > "$RUN_DIR/ferrin.ini"
  sleep 1
  rm -rf "$RUN_DIR/printed"
  printf 'Invoice\f\r\nTotals\r\n' > "$SPOOL"
  wait_until 20 "the PDF of three copies" more_pdfs_than 0
  [ "$(pages_of "$(pdfs)")" = 6 ] || fail "copies=3 of two pages gave $(pages_of "$(pdfs)") pages in Save as PDF"
  [ "$(text_of "$(pdfs)")" = "Invoice|Totals|Invoice|Totals|Invoice|Totals|" ] || fail "copies=3 gave '$(text_of "$(pdfs)")'"
  send_keys x
  wait_exit 30 > /dev/null
  kill "$till_listener" 2>/dev/null || true
fi
kill "$LISTENER_PID" 2>/dev/null || true
echo "PASS: queue"
