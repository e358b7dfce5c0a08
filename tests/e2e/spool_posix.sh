#!/usr/bin/env bash
# The road of spool files through the POSIX build: slot 0 prints on the
# built-in "Save as PDF" printer, slot 1 on a queue of a private CUPS
# scheduler. Pages, echo and deletion; a form feed on the last line; an empty
# file; Ctrl-Z; LF-only line ends; the slot 1 watcher's start delay; a file
# its writer still holds open; an unknown printer mended while ferrin runs;
# read-only and undeletable files; a long report; a job cut off by SIGKILL.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext chattr
e2e_begin
start_cupsd
add_pdf_queue Reports

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
REPORT="$RUN_DIR/WLSDFKJN.DR2"

# Drops a spool file as a DOS program does (written in place, then closed)
# and waits until its printout is there and the file gone; sets PDF.
print_spool() {
  local before
  before=$(pdf_count)
  printf "$1" > "$SPOOL"
  wait_until 20 "the spool file to be printed" more_pdfs_than "$before"
  wait_until 5 "the spool file to be deleted" gone "$SPOOL"
  PDF=$(newest_pdf)
  [ "$(pdf_count)" = $((before + 1)) ] || fail "one spool file gave $(( $(pdf_count) - before )) printouts"
}

write_ini "Save as PDF" Reports
# A report waiting before ferrin starts: the slot 1 watcher must leave it for
# two seconds.
printf 'R1\r\nR2\r\n' > "$REPORT"
start_ferrin posix
started=$SECONDS
sleep 1.7
[ -e "$REPORT" ] || fail "the slot 1 watcher took its file within 1.7 s of the start"
wait_started
wait_output "Starting thread for printer #0"
wait_until 10 "the report to be printed" gone "$REPORT"
[ $((SECONDS - started)) -ge 2 ] || fail "the report was printed sooner than 2 s after the start"
cups_collect Reports "$WORK/first-report.pdf"
[ "$(page_text "$WORK/first-report.pdf" 1 | tr '\n' ' ')" = "R1 R2 " ] || fail "the first report differs"
output_has "Starting thread for printer #1" || fail "no start line for printer #1"

echo "-- the road of a spool file"
print_spool 'Alpha\r\nBravo\f\r\nDelta\r\n'
[ "$(pages_of "$PDF")" = 2 ] || fail "A CR LF B FF CR LF D gave $(pages_of "$PDF") pages, expected 2"
[ "$(pdfinfo "$PDF" | sed -n 's/^Title: *//p')" = "Print job" ] || fail "the job is not named Print job"
[ "$(page_text "$PDF" 1 | tr '\n' ' ')" = "Alpha Bravo " ] || fail "page 1 is '$(page_text "$PDF" 1)'"
[ "$(page_text "$PDF" 2 | tr '\n' ' ')" = "Delta " ] || fail "page 2 is '$(page_text "$PDF" 2)'"
screen_text | grep -A3 -x 'Alpha' | tr '\n' '|' | grep -qx 'Alpha|Bravo|----Page Feed----|Delta|' ||
  fail "the echo of the road is not Alpha, Bravo, ----Page Feed----, Delta"

echo "-- a form feed alone on the last line"
print_spool 'Echo\r\n\f'
[ "$(pages_of "$PDF")" = 1 ] || fail "a form feed on the last line made $(pages_of "$PDF") pages"

echo "-- an empty file"
before=$(pdf_count)
: > "$SPOOL"
wait_until 5 "the empty file to be deleted" gone "$SPOOL"
sleep 0.7
[ "$(pdf_count)" = "$before" ] || fail "an empty spool file made a printout"

echo "-- Ctrl-Z and LF-only line ends"
print_spool 'Foxtrot\r\nGolf\032Secret\r\nMore\r\n'
pdftotext "$PDF" - | grep -q Golf || fail "the line before Ctrl-Z is missing"
pdftotext "$PDF" - | grep -q -e Secret -e More && fail "text after Ctrl-Z was printed"
screen_has Secret && fail "text after Ctrl-Z was echoed"
print_spool 'Hotel\nIndia\n'
[ "$(page_text "$PDF" 1 | grep -c .)" = 1 ] || fail "LF-only line ends did not stay one line"
screen_has "Hotel◙India◙" || fail "the LF-only line is not echoed as one line with LF glyphs"

echo "-- a file its writer still holds open"
before=$(pdf_count)
exec 3> "$SPOOL"
printf 'Juliett one\r\n' >&3
sleep 1
[ -e "$SPOOL" ] || fail "the file was taken while its writer held it open"
[ "$(pdf_count)" = "$before" ] || fail "a printout was made while the writer held the file open"
printf 'Juliett two\r\n' >&3
exec 3>&-
wait_until 10 "the held file to be printed" gone "$SPOOL"
sleep 0.7
[ "$(pdf_count)" = $((before + 1)) ] || fail "the held file gave $(( $(pdf_count) - before )) printouts"
[ "$(page_text "$(newest_pdf)" 1 | tr '\n' ' ')" = "Juliett one Juliett two " ] || fail "the held file was not printed complete"

echo "-- a read-only file"
before=$(pdf_count)
printf 'Kilo\r\n' > "$WORK/ro"
chmod 0444 "$WORK/ro"
mv "$WORK/ro" "$SPOOL"
wait_until 10 "the read-only file to be printed" gone "$SPOOL"
sleep 1
[ "$(pdf_count)" = $((before + 1)) ] || fail "a read-only file gave $(( $(pdf_count) - before )) printouts"

echo "-- an unknown printer, mended while ferrin runs"
write_ini "Nobody" Reports
sleep 0.5
before=$(pdf_count)
printf 'Lima\r\n' > "$SPOOL"
wait_output 'Printer #0: the printer "Nobody" cannot be reached (error 68), so 1 printout is waiting in the folder waiting.'
sleep 2
[ ! -e "$SPOOL" ] && [ "$(waiting_count)" = 1 ] || fail "the printout did not wait in the queue for an unknown printer"
[ "$(count_output 'Nobody')" = 1 ] || fail "the failure was said more than once"
screen_has Lima && fail "a job that could not be printed was echoed"

echo "-- a file that cannot be deleted is printed once"
QUEUED=$(waiting_of)
chattr +i "$QUEUED" || fail "cannot make $QUEUED immutable"
UNLOCK_INI="$QUEUED"
write_ini "Save as PDF" Reports
wait_output "but could not be deleted"
sleep 1.5
chattr -i "$QUEUED"
[ "$(pdf_count)" = $((before + 1)) ] || fail "an undeletable file gave $(( $(pdf_count) - before )) printouts"
[ "$(count_output "could not be deleted")" = 1 ] || fail "the delete failure was reported more than once"
pdftotext "$(newest_pdf)" - | grep -q Lima || fail "the mended job's printout lacks its text"
rm -f "$QUEUED"
sleep 0.3

echo "-- mended again: printed and deleted"
write_ini "Nobody" Reports
sleep 0.3
before=$(pdf_count)
printf 'Mike\r\n' > "$SPOOL"
wait_until 10 "the second failure to be said" bash -c "[ \$(grep -c 'Nobody' '$RUN_DIR/out.txt') = 2 ]"
[ "$(waiting_count)" = 1 ] || fail "the printout did not wait in the queue for an unknown printer"
write_ini "Save as PDF" Reports
wait_until 10 "the mended job to be printed" gone "$SPOOL"
sleep 0.7
[ "$(pdf_count)" = $((before + 1)) ] || fail "the mended job gave $(( $(pdf_count) - before )) printouts"
pdftotext "$(newest_pdf)" - | grep -q Mike || fail "the mended job's printout lacks its text"

echo "-- a report of 200 lines on the CUPS queue"
for i in $(seq 1 200); do printf 'Report line %03d\r\n' "$i"; done > "$WORK/report"
mv "$WORK/report" "$REPORT"
wait_until 20 "the report to be printed" gone "$REPORT"
cups_collect Reports "$WORK/report.pdf"
[ "$(lines_in "$WORK/report.pdf" '^Report line [0-9][0-9][0-9]$')" = 200 ] ||
  fail "the report does not hold its 200 lines"
pdftotext "$WORK/report.pdf" - | tr -d "\f" | grep -q '^Report line 200$' || fail "the report's last line is missing"

echo "-- a job cut off by SIGKILL is printed in full on the next start"
# Long enough (several seconds of printing) that the kill lands mid-job.
lines=200000
awk -v n=$lines 'BEGIN { for (i = 1; i <= n; i++) printf "Big line %06d\r\n", i }' > "$WORK/big"
before=$(pdf_count)
mv "$WORK/big" "$SPOOL"
wait_until 10 "the big job to start" test -e "$(taken_copy "$SPOOL")"
wait_screen "Big line" 10
kill -KILL "$(ferrin_pid)"
wait_until 10 "ferrin to end" test -s "$RUN_DIR/rc.txt"
[ -e "$(taken_copy "$SPOOL")" ] || fail "the job cut off was not kept"
[ "$(pdf_count)" = "$before" ] || fail "the job cut off made a printout"
start_ferrin posix
wait_until 60 "the cut-off job to be printed" gone "$SPOOL"
sleep 1
[ "$(pdf_count)" = $((before + 1)) ] || fail "the cut-off job gave $(( $(pdf_count) - before )) printouts on restart"
text=$(pdftotext "$(newest_pdf)" - | tr -d "\f")
[ "$(grep -c '^Big line' <<< "$text")" = $lines ] || fail "the cut-off job was not printed in full"
send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"

echo "spool_posix: all checks passed"
