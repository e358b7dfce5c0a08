#!/usr/bin/env bash
# Large spool files on the POSIX build, printed on "Save as PDF": a 50 MB file
# of short lines and a file whose one line is 10 MB long. Both come out
# complete and once, ferrin keeps running, and its peak memory stays far
# below the size of the files (a copy of a whole file in memory would show).
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext awk
e2e_begin

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
# Generous: ferrin idles at about 10 MB; the whole 50 MB file would exceed it.
PEAK_LIMIT_KB=$((200 * 1024))

write_ini "Save as PDF"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# Moves a finished file under the spool name and waits for its one printout;
# sets PDF and SECONDS_TAKEN.
print_large() {
  local file=$1 timeout=$2 before started
  before=$(pdf_count)
  started=$(now)
  mv "$file" "$SPOOL"
  wait_until "$timeout" "the large file to be printed" gone "$SPOOL"
  wait_until 5 "its printout" more_pdfs_than "$before"
  SECONDS_TAKEN=$(since "$started")
  sleep 0.7
  [ "$(pdf_count)" = $((before + 1)) ] || fail "one large file gave $(( $(pdf_count) - before )) printouts"
  PDF=$(newest_pdf)
}

start_ferrin posix
wait_started
wait_output "Starting thread for printer #0"
PID=$(ferrin_pid)
echo "idle: peak memory $(peak_memory_kb "$PID") KiB"

echo "-- 50 MB of short lines"
lines=280000
filler=$(printf '%0170d' 0 | tr 0 x)
awk -v n=$lines -v f="$filler" 'BEGIN { for (i = 1; i <= n; i++) printf "Line %07d %s\r\n", i, f }' > "$WORK/many"
size=$(stat -c %s "$WORK/many")
[ "$size" -ge 50000000 ] || fail "the file of many lines is only $size bytes"
print_large "$WORK/many" 120
peak=$(peak_memory_kb "$PID")
echo "50 MB file ($size bytes, $lines lines): printed in ${SECONDS_TAKEN} s, peak memory ${peak} KiB"
[ "$peak" -le "$PEAK_LIMIT_KB" ] || fail "peak memory ${peak} KiB after the 50 MB file exceeds ${PEAK_LIMIT_KB} KiB"
pages=$(pages_of "$PDF")
per_page=$(page_text "$PDF" 1 | grep -c '^Line ')
[ "$(page_text "$PDF" 1 | head -n 1 | cut -c1-12)" = "Line 0000001" ] || fail "page 1 does not begin with the first line"
[ "$per_page" -gt 10 ] || fail "page 1 holds only $per_page lines"
[ "$pages" = $(( (lines + per_page - 1) / per_page )) ] ||
  fail "$lines lines at $per_page a page gave $pages pages"
[ "$(page_text "$PDF" "$pages" | tail -n 1 | cut -c1-12)" = "$(printf 'Line %07d' $lines)" ] ||
  fail "the last page does not end with the last line"
counted=$(lines_in "$PDF" "^Line [0-9]\{7\} x")
[ "$counted" = $lines ] || fail "the printout holds $counted of the $lines lines"

echo "-- one line of 10 MB"
awk 'BEGIN { printf "Head-of-the-long-line "; s = "0123456789"; for (i = 0; i < 20; i++) s = s s;
             printf "%s", s; printf "\r\nAfter the long line\r\n" }' > "$WORK/long"
size=$(stat -c %s "$WORK/long")
[ "$size" -gt 10000000 ] || fail "the long line is only $size bytes"
print_large "$WORK/long" 60
peak=$(peak_memory_kb "$PID")
echo "10 MB line ($size bytes): printed in ${SECONDS_TAKEN} s, peak memory ${peak} KiB"
[ "$peak" -le "$PEAK_LIMIT_KB" ] || fail "peak memory ${peak} KiB after the 10 MB line exceeds ${PEAK_LIMIT_KB} KiB"
[ "$(pages_of "$PDF")" = 1 ] || fail "the long line gave $(pages_of "$PDF") pages"
first=$(page_text "$PDF" 1 | head -n 1)
[ "${first:0:52}" = "Head-of-the-long-line 012345678901234567890123456789" ] ||
  fail "the long line begins '${first:0:60}'"
[ "${#first}" -lt 200 ] || fail "the long line was not cut at the right edge (${#first} characters on its row)"
[ "$(page_text "$PDF" 1 | sed -n 2p)" = "After the long line" ] || fail "the line after the long line is missing"

ferrin_running || fail "ferrin ended"
send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"
echo "faults_large: all checks passed"
