#!/usr/bin/env bash
# ferrin killed (SIGKILL) at aimed moments of a hand-over, then started
# again: every printout comes out exactly once. A debugger attached to the
# running program stops it at the moment named and kills it there:
#  - "Save as PDF": the PDF is saved in the folder printed, the in-progress
#    copy not yet deleted; for a fresh printout and for one from the waiting
#    queue;
#  - a CUPS queue: the scheduler has taken the whole document, ferrin has not
#    read its answer; and ferrin cut off while sending the document, so that
#    the scheduler has a job without it.
# Scratch files of a layout cut off by a kill are removed at the next start.
source "$(dirname "$0")/lib.sh"
need gdb pdftotext chattr
e2e_begin
start_cupsd
add_lasting_pdf_queue Receipts

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
TAKEN=$(taken_copy "$SPOOL")
REACHED='before its hand-over was cut off, so it is not printed again.'

restart() {
  start_ferrin posix
  wait_started
}

# Stops at the deletion of the named in-progress copy (its path as ferrin
# passes it to unlink).
unlink_of() { echo "break unlink if \$_streq((const char*)\$rdi, \"$1\")"; }

echo "-- Save as PDF: killed after the PDF is saved, before the copy is deleted"
write_ini "Save as PDF"
restart
wait_output "Starting thread for printer #0"
kill_at "$(unlink_of .WLSDFKJN.DRY.printing)" continue
printf 'Fresh receipt\r\n' > "$SPOOL"
killed "the deletion of the printed copy"
[ "$(pdf_count)" = 1 ] && [ -e "$TAKEN" ] || fail "the kill did not come between the PDF and the deletion"
# A layout cut off by a kill leaves its scratch file; the next start removes it.
: > "$PRINTED/.print-AbCdEf.part"
restart
wait_until 20 "the copy to be settled" gone
sleep 1
[ "$(pdf_count)" = 1 ] || fail "a printout saved before the kill gave $(pdf_count) PDFs"
[ "$(count_output "$REACHED")" = 1 ] || fail "the printout found in printed was not said"
[ ! -e "$PRINTED/.print-AbCdEf.part" ] || fail "the scratch file of a cut-off layout was left"

echo "-- Save as PDF: the same for a printout from the waiting queue"
chattr +i "$PRINTED" || fail "cannot make $PRINTED immutable"
UNLOCK_INI="$PRINTED"
printf 'Queued receipt\r\n' > "$SPOOL"
wait_until 20 "the printout to wait" count_is waiting_count 1
kill_at "$(unlink_of waiting/.WLSDFKJN.DRY.000001.printing)" continue
chattr -i "$PRINTED"
# The hand-over is tried again 10 s after it failed.
killed "the deletion of the printed waiting copy"
[ "$(pdf_count)" = 2 ] || fail "the waiting printout was not saved before the kill"
restart
wait_until 20 "the waiting copy to be settled" gone
sleep 1
[ "$(pdf_count)" = 2 ] || fail "a waiting printout saved before the kill gave $(( $(pdf_count) - 1 )) PDFs"
[ "$(count_output "$REACHED")" = 1 ] || fail "the waiting printout found in printed was not said"
[ "$(text_of "$(newest_pdf)")" = "Queued receipt|" ] || fail "the saved PDF is '$(text_of "$(newest_pdf)")'"
send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"

echo "-- CUPS: killed when the scheduler has the whole document, before its answer is read"
write_ini Receipts
restart
wait_output "Starting thread for printer #0"
# The answer is read once the document has gone out whole: the first read
# from the scheduler after the document's last piece.
kill_at "break cupsWriteRequestData" continue delete "break cupsGetResponse" continue delete "break recv" continue
printf 'CUPS receipt\r\n' > "$SPOOL"
killed "the scheduler's answer"
wait_until 60 "the queue to print the job it kept" cups_printed_at_least Receipts 1
restart
wait_until 20 "the copy to be settled" gone
sleep 2
cups_settle Receipts
[ "$(cups_printed_count Receipts)" = 1 ] || fail "the receipt was printed $(cups_printed_count Receipts) times"
[ "$(count_output "$REACHED")" = 1 ] || fail "the job the scheduler kept was not said"
send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"

echo "-- CUPS: killed while sending the document: the job has none, and the receipt is sent again"
restart
wait_output "Starting thread for printer #0"
kill_at "break cupsWriteRequestData" continue
printf 'Cut-off receipt\r\n' > "$SPOOL"
killed "the sending of the document"
restart
wait_until 30 "the receipt to be printed" gone
wait_until 60 "the queue to print it" cups_printed_at_least Receipts 2
sleep 2
cups_settle Receipts
[ "$(cups_printed_count Receipts)" = 2 ] || fail "the cut-off receipt was printed $(( $(cups_printed_count Receipts) - 1 )) times"
[ "$(count_output "$REACHED")" = 0 ] || fail "a job without its document was taken for printed"
cups_collect Receipts "$WORK/cut-off.pdf"
[ "$(text_of "$WORK/cut-off.pdf")" = "Cut-off receipt|" ] || fail "the reprinted receipt is '$(text_of "$WORK/cut-off.pdf")'"
send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"

# A printout handed to a CUPS queue is kept in the folder sent until the
# scheduler reports its job finished. The queue is stopped (as when its
# printer is off), so that the job waits; then the scheduler is killed.
LOST='lost a printout of WLSDFKJN.DRY that it had taken, so it is printed once more.'
sent_count() { find "$RUN_DIR/sent" -maxdepth 1 -type f 2>/dev/null | wc -l; }
pending_job() { [ -n "$(lpstat -W not-completed -o Receipts 2>/dev/null)" ]; }

# kill_scheduler_with_job <tag> <saved: yes|no>
kill_scheduler_with_job() {
  local tag=$1 saved=$2 printed
  printed=$(cups_printed_count Receipts)
  cupsdisable Receipts
  restart
  wait_output "Starting thread for printer #0"
  printf '%s receipt\r\n' "$tag" > "$SPOOL"
  wait_until 20 "$tag: the spool name to be free" gone
  wait_until 20 "$tag: the job to wait in the scheduler" pending_job
  [ "$(sent_count)" = 1 ] || fail "$tag: the printout is not kept until it is confirmed"
  # The scheduler writes a job's record lazily unless told otherwise.
  [ "$saved" = no ] || sleep 2
  kill_cupsd KILL
  restart_cupsd
  cupsenable Receipts
  wait_until 60 "$tag: the receipt to be printed" cups_printed_at_least Receipts $((printed + 1))
  wait_until 20 "$tag: the kept copy to be settled" count_is sent_count 0
  sleep 5
  cups_settle Receipts
  [ "$(cups_printed_count Receipts)" = $((printed + 1)) ] ||
    fail "$tag: the receipt was printed $(( $(cups_printed_count Receipts) - printed )) times"
  if [ "$saved" = no ]; then
    [ "$(count_output "$LOST")" = 1 ] || fail "$tag: the lost job was not said"
  else
    [ "$(count_output "$LOST")" = 0 ] || fail "$tag: a job the scheduler kept was sent again"
  fi
  send_keys x
  [ "$(wait_exit)" = 0 ] || fail "$tag: ferrin did not end with 0"
}

echo "-- CUPS: the scheduler killed before it saved the waiting job: the receipt is sent once more"
kill_scheduler_with_job Unsaved no
echo "-- CUPS: the scheduler killed after it saved the waiting job: it prints it, ferrin does not send it again"
echo "DirtyCleanInterval 0" >> "$CUPS_DIR/cupsd.conf"
restart_cupsd
kill_scheduler_with_job Saved yes
echo "faults_handover_kill: all checks passed"
