#!/usr/bin/env bash
# The CUPS scheduler going away under the POSIX build. Stopped before a job:
# the printout waits in the queue folder, one message says so, and it prints
# once after the scheduler is back. Killed while a long job is laid out: the
# printout waits and comes out once and complete after the restart.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext
e2e_begin
start_cupsd
add_pdf_queue Receipts

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
TAKEN=$(taken_copy "$SPOOL")

write_ini Receipts

# Waits until the queue has printed `want` jobs in all and takes the last
# one's PDF to $1.
collect_job() {
  local want=$1 target=$2
  wait_until 60 "job $want of the queue to be printed" cups_printed_at_least Receipts "$want"
  cups_collect Receipts "$target"
}

# After a pause long enough for a second printout to appear, the queue must
# still have printed exactly `want` jobs.
exactly_jobs() {
  sleep "${2:-1.5}"
  cups_settle Receipts 30
  [ "$(cups_printed_count Receipts)" = "$1" ] || fail "the queue printed $(cups_printed_count Receipts) jobs, expected $1"
}

start_ferrin posix
wait_started
wait_output "Starting thread for printer #0"

echo "-- a job with the scheduler running"
printf 'Before the fault\r\n' > "$SPOOL"
wait_until 20 "the first job to be printed" gone
collect_job 1 "$WORK/first.pdf"
[ "$(lines_in "$WORK/first.pdf" '^Before the fault$')" = 1 ] || fail "the first job lacks its text"

echo "-- the scheduler stopped before a job, then started again"
kill_cupsd TERM
printf 'Waited for the scheduler\r\nSecond line\r\n' > "$SPOOL"
OUTAGE='the printer "Receipts" cannot be reached'
wait_output "$OUTAGE"
sleep 3.5  # over 20 watcher cycles and 3 retries of the printer
[ "$(waiting_count)" = 1 ] || fail "the printout did not wait while the scheduler was down"
[ "$(count_output "$OUTAGE")" = 1 ] || fail "the failure was said $(count_output "$OUTAGE") times, not once"
screen_has "Waited for the scheduler" && fail "a job that could not be printed was echoed"
ferrin_running || fail "ferrin ended while the scheduler was down"
restart_cupsd
wait_until 20 "the kept job to be printed after the restart" gone
collect_job 2 "$WORK/waited.pdf"
[ "$(text_of "$WORK/waited.pdf")" = "Waited for the scheduler|Second line|" ] ||
  fail "the kept job did not come out complete"
exactly_jobs 2
[ "$(count_output "$OUTAGE")" = 1 ] || fail "the failure was said again after the restart"

# A report long enough to be caught in the middle.
lines=30000
awk -v n=$lines 'BEGIN { for (i = 1; i <= n; i++) printf "Report line %06d\r\n", i }' > "$WORK/report"
check_report() {
  local pdf=$1
  [ "$(lines_in "$pdf" '^Report line [0-9]\{6\}$')" = $lines ] || fail "the report holds $(lines_in "$pdf" '^Report line [0-9]\{6\}$') of its $lines lines"
  pdftotext "$pdf" - | tr -d '\f' | grep -qx "Report line $(printf %06d $lines)" || fail "the report's last line is missing"
}

echo "-- the scheduler killed while the job is laid out"
handovers=$(count_output 'the printout of WLSDFKJN.DRY could not be handed')
cp "$WORK/report" "$WORK/report1"
mv "$WORK/report1" "$SPOOL"
wait_until 10 "the report to be taken" test -e "$TAKEN"
# Killed once its lines are being laid out (not while the printer is opened).
wait_screen "Report line" 10
kill_cupsd KILL
wait_output 'the printout of WLSDFKJN.DRY could not be handed to the printer "Receipts"' 60
[ "$(waiting_count)" = 1 ] || fail "the report did not wait when the scheduler was killed"
ferrin_running || fail "ferrin ended when the scheduler was killed"
restart_cupsd
# The hand-over is tried again 10 s after it failed.
wait_until 60 "the report to be printed after the restart" gone
collect_job 3 "$WORK/report1.pdf"
check_report "$WORK/report1.pdf"
exactly_jobs 3
[ "$(count_output 'the printout of WLSDFKJN.DRY could not be handed')" = $((handovers + 1)) ] ||
  fail "the failed hand-over was not said exactly once"

ferrin_running || fail "ferrin ended"
send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"
echo "faults_cups: all checks passed"
