#!/usr/bin/env bash
# The road of spool files through the Windows build under Wine,
# printing into queues of a private CUPS scheduler (slot 0 on "Receipt",
# slot 1 on "Reports"): pages and echo, a form feed on the last line, an
# empty file, Ctrl-Z and LF-only line ends, the slot 1 watcher's start delay,
# a file its (Windows) writer still holds open, an unknown printer mended
# while ferrin runs, and a read-only file that cannot be deleted.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext
SPOOLWRITER=${FERRIN_WIN32_SPOOLWRITER:-$(dirname "$FERRIN_WIN32")/spoolwriter.exe}
wine_can_run "$FERRIN_WIN32"
wine_can_run "$SPOOLWRITER"
e2e_begin
start_cupsd
add_pdf_queue Receipt
add_pdf_queue Reports
wine_private_prefix

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
REPORT="$RUN_DIR/WLSDFKJN.DR2"

# Drops a spool file, waits until it is gone and its job done; sets PDF.
JOB=0
print_spool() {
  local before
  before=$(cups_job_count Receipt)
  printf "$1" > "$SPOOL"
  wait_until 20 "the spool file to be printed" gone
  JOB=$((JOB + 1))
  PDF="$WORK/job$JOB.pdf"
  cups_collect Receipt "$PDF"
  [ "$(cups_job_count Receipt)" = $((before + 1)) ] || fail "one spool file gave $(( $(cups_job_count Receipt) - before )) jobs"
}

write_ini Receipt Reports
printf 'R1\r\nR2\r\n' > "$REPORT"
start_ferrin win32
started=$SECONDS
wait_output "Starting thread for printer #0"
[ -e "$REPORT" ] || fail "the slot 1 watcher took its file before the slot 0 watcher started"
wait_until 15 "the report to be printed" gone "$REPORT"
[ $((SECONDS - started)) -ge 2 ] || fail "the report was printed sooner than 2 s after the start"
output_has "Starting thread for printer #1" || fail "no start line for printer #1"
cups_collect Reports "$WORK/report.pdf"
[ "$(page_text "$WORK/report.pdf" 1 | tr '\n' ' ')" = "R1 R2 " ] || fail "the report differs"

echo "-- the road of a spool file"
print_spool 'Alpha\r\nBravo\f\r\nDelta\r\n'
[ "$(pages_of "$PDF")" = 2 ] || fail "A CR LF B FF CR LF D gave $(pages_of "$PDF") pages, expected 2"
[ "$(page_text "$PDF" 1 | tr '\n' ' ')" = "Alpha Bravo " ] || fail "page 1 is '$(page_text "$PDF" 1)'"
[ "$(page_text "$PDF" 2 | tr '\n' ' ')" = "Delta " ] || fail "page 2 is '$(page_text "$PDF" 2)'"
screen_text | sed 's/ *$//' | grep -A3 -x 'Alpha' | tr '\n' '|' | grep -qx 'Alpha|Bravo|----Page Feed----|Delta|' ||
  fail "the echo of the road is not Alpha, Bravo, ----Page Feed----, Delta"

echo "-- a form feed alone on the last line"
print_spool 'Echo\r\n\f'
[ "$(pages_of "$PDF")" = 1 ] || fail "a form feed on the last line made $(pages_of "$PDF") pages"

echo "-- an empty file"
before=$(cups_job_count Receipt)
: > "$SPOOL"
wait_until 5 "the empty file to be deleted" gone
sleep 1
[ "$(cups_job_count Receipt)" = "$before" ] || fail "an empty spool file made a job"

echo "-- LF-only line ends and Ctrl-Z"
print_spool 'Foxtrot\r\nHotel\nIndia\n\r\nGolf\032Secret\r\nMore\r\n'
[ "$(page_text "$PDF" 1 | head -n 1)" = Foxtrot ] || fail "the first line is missing"
pdftotext "$PDF" - | grep -q Golf || fail "the line before Ctrl-Z is missing"
pdftotext "$PDF" - | grep -q -e Secret -e More && fail "text after Ctrl-Z was printed"
screen_has Secret && fail "text after Ctrl-Z was echoed"
# One screen row; how the console shows the LF byte is Wine's affair (a "?"
# in a terminal, the glyph on Windows).
screen_text | sed 's/ *$//' | grep -qE '^Hotel(◙|\?)India(◙|\?)$' || fail "the LF-only line is not echoed as one line"

echo "-- a file its writer still holds open"
before=$(cups_job_count Receipt)
(cd "$RUN_DIR" && wine_run "$SPOOLWRITER" WLSDFKJN.DRY 2500 "Juliett one" "Juliett two" > "$WORK/writer.txt" 2>&1) &
writer=$!
wait_until 10 "the writer to create the file" test -s "$SPOOL"
sleep 1
[ -e "$SPOOL" ] || fail "the file was taken while its writer held it open"
[ "$(cups_job_count Receipt)" = "$before" ] || fail "a job was made while the writer held the file open"
wait "$writer" || fail "the writer failed: $(cat "$WORK/writer.txt")"
wait_until 10 "the held file to be printed" gone
cups_collect Receipt "$WORK/held.pdf"
[ "$(cups_job_count Receipt)" = $((before + 1)) ] || fail "the held file gave $(( $(cups_job_count Receipt) - before )) jobs"
[ "$(page_text "$WORK/held.pdf" 1 | tr '\n' ' ')" = "Juliett one Juliett two " ] || fail "the held file was not printed complete"

echo "-- an unknown printer, mended while ferrin runs"
write_ini "Nobody" Reports
sleep 0.5
before=$(cups_job_count Receipt)
printf 'Mike\r\n' > "$SPOOL"
wait_output 'Printer #0: the printer "Nobody" cannot be reached (error 68), so 1 printout is waiting in the folder waiting.'
sleep 2
[ ! -e "$SPOOL" ] && [ "$(waiting_count)" = 1 ] || fail "the printout did not wait in the queue for an unknown printer"
[ "$(count_output 'Nobody')" = 1 ] || fail "the failure was said more than once"
screen_has Mike && fail "a job that could not be printed was echoed"
write_ini Receipt Reports
wait_until 10 "the mended job to be printed" gone
cups_collect Receipt "$WORK/mended.pdf"
[ "$(cups_job_count Receipt)" = $((before + 1)) ] || fail "the mended job gave $(( $(cups_job_count Receipt) - before )) jobs"
pdftotext "$WORK/mended.pdf" - | grep -q Mike || fail "the mended job's printout lacks its text"

echo "-- a read-only file is printed once"
before=$(cups_job_count Receipt)
printf 'November\r\n' > "$WORK/ro"
chmod 0444 "$WORK/ro"
mv "$WORK/ro" "$SPOOL"
wait_output "Printer #0: WLSDFKJN.DRY was printed but could not be deleted"
sleep 2
[ "$(cups_job_count Receipt)" = $((before + 1)) ] || fail "a read-only file gave $(( $(cups_job_count Receipt) - before )) jobs"
[ "$(count_output "could not be deleted")" = 1 ] || fail "the delete failure was said more than once"
cups_collect Receipt "$WORK/readonly.pdf"
pdftotext "$WORK/readonly.pdf" - | grep -q November || fail "the read-only file's printout lacks its text"
rm -f "$SPOOL"

echo "-- copies=2: one job, the copies counted at the printer"
write_ini Receipt Reports
sed -i 's/^fontsize=10\r$/fontsize=10\r\ncopies=2\r/' "$RUN_DIR/ferrin.ini"
sleep 0.5
print_spool 'Oscar\f\r\nPapa\r\n'
copies=$(cups_newest_copies Receipt)
pages=$(pages_of "$PDF")
echo "copies=2 under Wine: the job asks the scheduler for $copies copies, its PDF has $pages pages"
# The driver's copy count (dmCopies, which Wine passes on as the job's
# copies, the scheduler making the pages), or where the driver has none the
# pages twice in the one job: four pages either way, each copy whole.
[ "$copies" = 2 ] || [ "$copies" = 1 ] || fail "copies=2 gave a job of $copies copies"
[ "$pages" = 4 ] || fail "copies=2 of a printout of 2 pages gave $pages pages"
[ "$(lines_in "$PDF" '^Oscar$') $(lines_in "$PDF" '^Papa$')" = "2 2" ] ||
  fail "the copies are not whole: $(pdftotext "$PDF" - | tr '\n' ' ')"

send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"
echo "spool_win32: all checks passed"
