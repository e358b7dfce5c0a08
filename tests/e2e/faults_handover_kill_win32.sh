#!/usr/bin/env bash
# The Windows build under Wine killed (SIGKILL) at aimed moments of a
# hand-over to a CUPS PDF queue, then started again. A debugger attached to
# the Wine process stops the program at the moment named and kills it there:
#  - before the document ends (its job noted in the record, EndDoc not yet
#    called): nothing reached the spooler, and the receipt prints once after
#    the restart;
#  - after the end of the document returned, before it is noted: Wine's
#    spooler passed the job on to CUPS and forgot it, so the restart finds
#    neither the note nor the job and prints the receipt again. This is the
#    window that remains (the Windows README says how long it is); on
#    Windows the spooler still has a job it has not printed yet;
#  - after the end is noted, before the printed copy is deleted: the restart
#    deletes it without printing it again, and says so once.
source "$(dirname "$0")/lib.sh"
need gdb pdftotext
wine_can_run "$FERRIN_WIN32"
e2e_begin
start_cupsd
add_pdf_queue Receipt
wine_private_prefix

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
REACHED='Printer #0: a printout of WLSDFKJN.DRY had reached the printer "Receipt" before its hand-over was cut off, so it is not printed again.'
write_ini Receipt

restart() {
  start_ferrin win32
  wait_output "Starting thread for printer #0"
}

# kill_and_restart <what> <receipt> <gdb commands...>: drops the receipt
# into the running ferrin, kills it where the commands lead, checks the record the kill left
# against $EXPECT_RECORD (a grep -E pattern), starts ferrin again and waits
# until the receipt is settled and the queue idle.
kill_and_restart() {
  local what=$1 receipt=$2
  shift 2
  kill_at "$@"
  printf '%s\r\n' "$receipt" > "$SPOOL"
  killed "$what"
  [ -e "$SPOOL" ] || fail "$what: the spool file was gone before the kill"
  [ "$(handover_records | wc -l)" = 1 ] || fail "$what: the kill left $(handover_records | wc -l) records"
  handover_records | grep -qE "$EXPECT_RECORD" || fail "$what: the kill left the record '$(handover_records)'"
  JOBS_AT_KILL=$(cups_job_count Receipt)
  restart
  wait_until 30 "$what: the receipt to be settled" gone
  cups_settle Receipt
  [ -z "$(handover_records)" ] || fail "$what: the record '$(handover_records)' was left"
}

jobs=0
restart
echo "-- killed before the document ends"
EXPECT_RECORD='job=[1-9][0-9]* $'
kill_and_restart "the end of the document" "Before the end" "break deviceEndDoc" continue
[ "$JOBS_AT_KILL" = $jobs ] || fail "a job reached the spooler before the document ended"
jobs=$((jobs + 1))
[ "$(cups_job_count Receipt)" = $jobs ] || fail "the receipt cut off before its end gave $(( $(cups_job_count Receipt) - jobs + 1 )) jobs"
cups_collect Receipt "$WORK/before.pdf"
[ "$(text_of "$WORK/before.pdf")" = "Before the end|" ] || fail "the receipt printed is '$(text_of "$WORK/before.pdf")'"
[ "$(count_output "$REACHED")" = 0 ] || fail "a receipt that never reached the spooler was taken for printed"

echo "-- killed after the end of the document returned, before it is noted"
kill_and_restart "the note of the end" "In the window" "break noteHandOverEnded" continue
[ "$JOBS_AT_KILL" = $((jobs + 1)) ] || fail "the document had not reached CUPS when its end returned"
jobs=$((jobs + 2))
[ "$(cups_job_count Receipt)" = $jobs ] ||
  fail "a receipt cut off in the window gave $(( $(cups_job_count Receipt) - jobs + 2 )) jobs, expected 2 under Wine"
cups_collect Receipt "$WORK/window.pdf"
[ "$(text_of "$WORK/window.pdf")" = "In the window|" ] || fail "the receipt printed again is '$(text_of "$WORK/window.pdf")'"
[ "$(count_output "$REACHED")" = 0 ] || fail "Wine's spooler cannot know the job, yet it was taken for printed"

echo "-- killed after the end is noted, before the printed copy is deleted"
EXPECT_RECORD='job=[1-9][0-9]* ended=1 $'
kill_and_restart "the deletion of the printed copy" "After the note" "break removeSpoolFile" continue
jobs=$((jobs + 1))
[ "$JOBS_AT_KILL" = $jobs ] || fail "the receipt had not reached CUPS before the kill"
sleep 1
[ "$(cups_job_count Receipt)" = $jobs ] || fail "a receipt whose end was noted was printed again"
[ "$(count_output "$REACHED")" = 1 ] || fail "the receipt whose end was noted was not said once"
send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"
echo "faults_handover_kill_win32: all checks passed"
