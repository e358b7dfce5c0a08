#!/usr/bin/env bash
# The POSIX printer device end to end: a text file printed through the
# printing layer into "Save as PDF" keeps its columns, box drawing and page
# breaks; the printer list at start-up falls back to "Save as PDF" at once
# when the scheduler is down and within a few seconds when it is silent.
source "$(dirname "$0")/lib.sh"
e2e_begin
need pdfinfo pdftotext pdfimages pdftoppm python3
PRINTFILE=${FERRIN_BUILD:-$FERRIN_SOURCE/build/posix}/printfile
[ -x "$PRINTFILE" ] || fail "$PRINTFILE is missing: build the posix preset"

echo "-- columns and pages through Save as PDF"
cd "$RUN_DIR"
printf '%s\r\n' "Qty  Item        Price" "  2  Coffee       3.80" $'\xda\xc4\xc4\xc4\xc2\xc4\xc4\xc4\xbf' \
  $'\xb3 A \xb3 B \xb3\x0c' "page two" > receipt.txt
out=$("$PRINTFILE" "Save as PDF" receipt.txt 10 "Courier New") || fail "printfile: $out"
pdf=$(pdfs | head -n 1)
[ -n "$pdf" ] || fail "no PDF in printed/"
[ "$(pdfinfo "$pdf" | sed -n 's/^Title: *//p')" = "Print job" ] || fail "PDF title is not Print job"
[ "$(pdfinfo "$pdf" | sed -n 's/^Pages: *//p')" = 2 ] || fail "expected 2 pages"
# 10 pt Courier New: a character is 6 pt wide, so the quarter-inch border
# (18 pt) shows as three columns of blanks.
pdftotext -fixed 6 "$pdf" "$WORK/text.txt"
expected=$(printf '%s\n' "Qty  Item        Price" "  2  Coffee       3.80" "┌───┬───┐" "│ A │ B │")
got=$(awk 'BEGIN { RS = "\f" } NR == 1' "$WORK/text.txt" | sed 's/[[:space:]]*$//' | grep -v '^$' | sed 's/^   //')
[ "$got" = "$expected" ] || { diff <(echo "$expected") <(echo "$got") >&2; fail "page 1 text differs"; }
grep -q "page two" <(awk 'BEGIN { RS = "\f" } NR == 2' "$WORK/text.txt") || fail "page two missing after the form feed"

echo "-- a second print never overwrites the first"
"$PRINTFILE" "Save as PDF" receipt.txt 10 >/dev/null || fail "second print failed"
[ "$(pdf_count)" = 2 ] || fail "expected two PDFs after two prints"
cmp -s "$pdf" "$(pdfs | head -n 1)" || fail "the first PDF changed"

echo "-- a form under a three-page report: every page, the first only, a broken one"
# 600 x 900 pixels at 150 dpi: 4 x 6 inches from the paper's corner.
write_form "$RUN_DIR/form.png" 600 900 150
for p in 1 2 3; do printf 'Report page %d\r\nTotal %d\r\n' "$p" "$p"; [ "$p" = 3 ] || printf '\f\r\n'; done > report.txt
report_with_form() {  # pages choice, then the number of PDFs before
  out=$("$PRINTFILE" "Save as PDF" report.txt 10 "Courier New" "$@" 2>"$WORK/form-errors.txt") || fail "printfile: $out"
  pdf=$(newest_pdf)
  [ "$(pages_of "$pdf")" = 3 ] || fail "the report with a form has $(pages_of "$pdf") pages, expected 3"
  [ "$(text_of "$pdf")" = "Report page 1|Total 1|Report page 2|Total 2|Report page 3|Total 3|" ] ||
    fail "the report's text under a form differs: $(text_of "$pdf")"
}
report_with_form form.png all
[ "$(pdfimages -list "$pdf" | awk 'NR > 2 && $3 == "image" && $4 == 600 && $5 == 900 && $13 == 150' | wc -l)" = 3 ] ||
  { pdfimages -list "$pdf" >&2; fail "expected the 600 x 900 form at 150 ppi on each of the 3 pages"; }
[ "$(pdfimages -list "$pdf" | awk 'NR > 2 { print $11 }' | sort -u | wc -l)" = 1 ] ||
  fail "the form is stored more than once in the PDF"
for p in 1 2 3; do check_form "$pdf" "$p" 4 6 form; done
report_with_form form.png first
check_form "$pdf" 1 4 6 form
check_form "$pdf" 2 4 6 none
check_form "$pdf" 3 4 6 none
printf 'not a picture\r\n' > broken.png
report_with_form broken.png all
grep -qx "form: it is not a PNG image" "$WORK/form-errors.txt" || fail "the broken form's cause was not said"
[ "$(pdfimages -list "$pdf" | awk 'NR > 2' | wc -l)" = 0 ] || fail "a broken form drew an image"

echo "-- scheduler down: the list is only Save as PDF, at once"
export CUPS_SERVER="$WORK/no-such.sock"
started=$SECONDS
start_ferrin posix -LISTPRINTERS
wait_started 10
[ $((SECONDS - started)) -le 3 ] || fail "start-up took $((SECONDS - started)) s with no scheduler"
output_has "1:Save as PDF" || fail "Save as PDF not listed"
output_has "2:" && fail "a printer listed with no scheduler"
send_keys x
wait_exit >/dev/null

echo "-- silent scheduler: the list gives up within a few seconds"
python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.bind(sys.argv[1]); s.listen(16)
time.sleep(120)' "$WORK/silent.sock" &
SILENT_PID=$!
trap 'kill $SILENT_PID 2>/dev/null || true; e2e_end' EXIT
wait_until 5 "the silent socket" test -S "$WORK/silent.sock"
export CUPS_SERVER="$WORK/silent.sock"
started=$SECONDS
start_ferrin posix -LISTPRINTERS
wait_started 15
[ $((SECONDS - started)) -le 8 ] || fail "start-up took $((SECONDS - started)) s with a silent scheduler"
output_has "1:Save as PDF" || fail "Save as PDF not listed"
send_keys x
wait_exit >/dev/null
echo "print_posix: all checks passed"
