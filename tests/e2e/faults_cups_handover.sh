#!/usr/bin/env bash
# The CUPS scheduler stopped (SIGTERM, a stop of the service) just as a long
# report's document has reached it, then started again: the report must come
# out once and complete. The stopped scheduler never answers the document
# and the job cannot be cancelled, so ferrin cannot tell whether it will
# print; the restarted scheduler has kept the job and prints it, and ferrin,
# asking about that job before sending the report again, does not send it.
#
# FAULTS_HANDOVER_SIGNAL=KILL kills the scheduler instead. It writes its job
# files lazily, so a killed one usually comes back without the job: ferrin
# then learns that the job is unknown and sends the report once more, and it
# still comes out once. Whether the job survives a kill is the scheduler's
# own durability, so this variant is run by hand, not by the test suite.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext
e2e_begin
start_cupsd
add_lasting_pdf_queue Receipts

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
TAKEN=$(taken_copy "$SPOOL")
SIGNAL=${FAULTS_HANDOVER_SIGNAL:-TERM}
write_ini Receipts

lines=30000
awk -v n=$lines 'BEGIN { for (i = 1; i <= n; i++) printf "Report line %06d\r\n", i }' > "$WORK/report"

start_ferrin posix
wait_started
wait_output "Starting thread for printer #0"

echo "-- the report with the scheduler running"
cp "$WORK/report" "$SPOOL"
wait_until 30 "the first report to be printed" gone
wait_until 60 "the queue to print it" cups_printed_at_least Receipts 1
cups_settle Receipts

echo "-- the scheduler stopped with SIG$SIGNAL as the document arrives"
cp "$WORK/report" "$WORK/report2"
mv "$WORK/report2" "$SPOOL"
# The scheduler counts a job's document once it has taken it whole, as it
# answers: the stop comes at that moment, just before or just after ferrin
# reads the answer.
cups_wait_for_document Receipts
kill -STOP "$CUPSD_PID"
kill -"$SIGNAL" "$CUPSD_PID"
kill -CONT "$CUPSD_PID" 2>/dev/null || true
kill_cupsd "$SIGNAL"
kept=$([ -e "$TAKEN" ] && echo "kept by ferrin" || echo "deleted by ferrin")
echo "   stopped as the report's document arrived; the spool file was $kept"
sleep 1
ferrin_running || fail "ferrin ended when the scheduler was stopped during the hand-over"
restart_cupsd
echo "   jobs the restarted scheduler has: $(cups_jobs Receipts | tr '\n' ' ')"
# A failed hand-over is tried again after 10 s.
wait_until 30 "the report to be printed after the restart" gone
sleep 12
cups_settle Receipts
printed=$(cups_printed_count Receipts)
echo "   jobs printed: $(awk '$6 == "total" && $7 > 0 { print $3 }' "$CUPS_DIR/log/page_log" | uniq | tr '\n' ' ')"
[ "$printed" = 2 ] || fail "the report stopped at the hand-over was printed $((printed - 1)) times ($kept)"
cups_collect Receipts "$WORK/report2.pdf"
[ "$(lines_in "$WORK/report2.pdf" '^Report line [0-9]\{6\}$')" = $lines ] ||
  fail "the report is not complete"

ferrin_running || fail "ferrin ended"
send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"
echo "faults_cups_handover: all checks passed"
