#!/usr/bin/env bash
# Log-off and shut-down on Windows, under Wine: while ferrin prints a report,
# the session ends (the log-off query and the end of the session, sent to
# ferrin's hidden window as Windows sends them). ferrin finishes the printout
# in hand, deletes its spool file and ends with 0 within the few seconds
# Windows grants, or, when the printout takes longer, ends without handing it
# over; either way the report arrives once and whole. Closing a terminal sends
# Wine programs no console event, so the window messages stand for the close
# button too.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext
ENDSESSION=${FERRIN_WIN32_ENDSESSION:-$(dirname "$FERRIN_WIN32")/endsession.exe}
wine_can_run "$FERRIN_WIN32"
wine_can_run "$ENDSESSION"
e2e_begin
start_cupsd
add_pdf_queue Receipt
wine_prefix
# Windows need a display driver; with no X display Wine's null driver
# serves (printing does not use it).
timeout 60 "$FERRIN_WINE" reg.exe add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 ||
  fail "could not choose Wine's null display driver"
timeout 30 wineserver -w || true

write_ini Receipt
start_ferrin win32
wait_started
wait_output "Starting thread for printer #0"
# Wine starts its desktop for the first window of the prefix; a loaded
# machine takes a while, and the report should not start before it.
session_window() { (cd "$WORK" && timeout 20 "$FERRIN_WINE" "$ENDSESSION" find >/dev/null 2>&1); }
wait_until 60 "ferrin's session window" session_window
for i in $(seq 1 300); do printf 'Report line %04d\r\n' "$i"; done > "$WORK/report"
mv "$WORK/report" "$RUN_DIR/WLSDFKJN.DRY"
# Any report line shows that printing has begun; on a fast machine the first
# lines may already have scrolled off the screen.
report_shown() { screen_has "Report line 0" || output_has "Report line 0"; }
wait_until 30 "the report to start printing" report_shown
answer=$(cd "$WORK" && timeout 30 "$FERRIN_WINE" "$ENDSESSION" | tr -d '\r') || true
[ "$answer" = sent ] || fail "the end of the session could not be sent to ferrin: '$answer'"
rc=$(wait_exit 10)
[ "$rc" = 0 ] || fail "ferrin ended with $rc at the end of the session, expected 0"
# Finished in time: handed over once and deleted. Too slow for the time
# Windows grants (a loaded machine): nothing handed over, the spool file kept,
# and printed once at the next start.
if [ -e "$RUN_DIR/WLSDFKJN.DRY" ] || [ "$(waiting_count "$RUN_DIR/WLSDFKJN.DRY")" != 0 ]; then
  echo "the report was not finished before the end of the session: printed at the next start"
  [ "$(cups_job_count Receipt)" = 0 ] || fail "a report that was not finished was handed over all the same"
  start_ferrin win32
  wait_until 60 "the kept report to print" gone "$RUN_DIR/WLSDFKJN.DRY"
  send_keys x
  wait_exit 20 >/dev/null
fi
cups_collect Receipt "$WORK/report.pdf"
[ "$(cups_job_count Receipt)" = 1 ] || fail "the report was handed over $(cups_job_count Receipt) times"
[ "$(lines_in "$WORK/report.pdf" '^Report line [0-9]*$')" = 300 ] ||
  fail "the report arrived with $(lines_in "$WORK/report.pdf" '^Report line [0-9]*$') of its 300 lines"
[ "$(pages_of "$WORK/report.pdf")" -ge 2 ] || fail "the report has $(pages_of "$WORK/report.pdf") pages"
echo "session_win32: all checks passed"
