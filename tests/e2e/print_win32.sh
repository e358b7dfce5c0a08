#!/usr/bin/env bash
# Printing on Windows, end to end: the Windows build of printfile runs under
# Wine, prints through winspool and GDI into a private CUPS scheduler
# whose queue writes PDF, and the PDF is read back: pages, lines in order,
# page breaks where the form feeds were, the font and its line pitch, 8-bit
# text passed through unchanged, and error 68 for a printer nobody has.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext pdffonts pdfimages pdftoppm python3
PRINTFILE=${FERRIN_WIN32_PRINTFILE:-$(dirname "$FERRIN_WIN32")/printfile.exe}
wine_can_run "$PRINTFILE"
e2e_begin
start_cupsd
add_pdf_queue Office_Laser
add_pdf_queue Receipt
wine_private_prefix

# Runs printfile under Wine in the work folder; prints its output and keeps
# its exit code in $WORK/printfile-rc.
printfile() {
  local rc=0
  (cd "$WORK" && wine_run "$PRINTFILE" "$@" 2>"$WORK/wine-errors.txt" >"$WORK/printfile-out.txt") || rc=$?
  echo "$rc" > "$WORK/printfile-rc"
  tr -d '\r' < "$WORK/printfile-out.txt"
}

# --- a receipt of two pages ----------------------------------------------
# CR LF and bare CR line ends, an empty line, a form feed ending page 1, and
# a byte of the ANSI code page (0xE9, e acute).
printf 'Receipt 0001\r\nCoffee      2.50\r\n\r\nTotal       2.50\f\r\nCaf\xe9 Ferrin\rLast line\r\n' > "$WORK/receipt.txt"
result=$(printfile Receipt "$WORK/receipt.txt" 10 "Courier New")
[ "$result" = ok ] || { cat "$WORK/wine-errors.txt" >&2; fail "printfile said '$result', expected ok"; }
cups_collect Receipt "$WORK/receipt.pdf"

pages=$(pdfinfo "$WORK/receipt.pdf" | awk '/^Pages:/ { print $2 }')
[ "$pages" = 2 ] || fail "the receipt has $pages pages, expected 2"
title=$(pdfinfo "$WORK/receipt.pdf" | sed -n 's/^Title: *//p')
[ "$title" = "Print job" ] || fail "the job is named '$title', expected 'Print job'"
pdffonts "$WORK/receipt.pdf" | grep -q LiberationMono || {
  pdffonts "$WORK/receipt.pdf" >&2
  fail "the text is not in Courier New (Liberation Mono under Wine)"
}

# Lines in order, the page break where the form feed was.
pdftotext -layout "$WORK/receipt.pdf" - | sed 's/^ *//; s/ *$//' | tr -s ' ' > "$WORK/text.txt"
printf 'Receipt 0001\nCoffee 2.50\n\nTotal 2.50\n\fCaf\xc3\xa9 Ferrin\nLast line\n\f' > "$WORK/expected.txt"
cmp -s "$WORK/expected.txt" "$WORK/text.txt" || {
  diff <(cat -A "$WORK/expected.txt") <(cat -A "$WORK/text.txt") >&2 || true
  fail "the receipt's text differs"
}

# Geometry. Courier New 10 pt at the PostScript driver's 300 dpi has a cell
# of 48 dots and no external leading: 48/300 inch = 11.52 pt per line. The
# empty line takes its place; every line starts at the left edge; page 2
# starts at the top again. The glyphs of a fixed-pitch font are 0.6 em apart:
# 25 dots for GDI's current position, 25.2 (6.048 pt) in the PostScript Wine
# writes, so column 13 lies between 72 and 72.6 pt to the right.
top1=$(word_at "$WORK/receipt.pdf" 1 Receipt 2)
top2=$(word_at "$WORK/receipt.pdf" 1 Coffee 2)
top4=$(word_at "$WORK/receipt.pdf" 1 Total 2)
[ -n "$top1" ] && [ -n "$top2" ] && [ -n "$top4" ] || { words "$WORK/receipt.pdf" >&2; fail "words of page 1 not found"; }
near "$(awk -v a="$top2" -v b="$top1" 'BEGIN { print a - b }')" 11.52 0.05 "line pitch of 10 pt Courier New"
near "$(awk -v a="$top4" -v b="$top1" 'BEGIN { print a - b }')" 34.56 0.05 "three lines down (empty line kept)"
left=$(word_at "$WORK/receipt.pdf" 1 Receipt 3)
near "$(word_at "$WORK/receipt.pdf" 1 Total 3)" "$left" 0.01 "left edge of line 4"
near "$(word_at "$WORK/receipt.pdf" 2 Last 3)" "$left" 0.01 "left edge of page 2"
near "$(word_at "$WORK/receipt.pdf" 1 2.50 3)" "$(awk -v l="$left" 'BEGIN { print l + 72.3 }')" 0.35 \
  "column 13 of a fixed-pitch line"
near "$(word_at "$WORK/receipt.pdf" 2 Café 2)" "$top1" 0.01 "top of page 2"

# --- a larger font -----------------------------------------------------------
# 12 pt: lfHeight -50, a cell of 57 dots, 13.68 pt per line.
printf 'First\r\nSecond\r\n' > "$WORK/large.txt"
result=$(printfile Office_Laser "$WORK/large.txt" 12 "Courier New")
[ "$result" = ok ] || fail "printfile at 12 pt said '$result', expected ok"
cups_collect Office_Laser "$WORK/large.pdf"
near "$(awk -v a="$(word_at "$WORK/large.pdf" 1 Second 2)" -v b="$(word_at "$WORK/large.pdf" 1 First 2)" \
  'BEGIN { print a - b }')" 13.68 0.05 "line pitch of 12 pt Courier New"

# --- a form under a three-page report -----------------------------------------
# Decoded by the Windows Imaging Component, drawn by StretchDIBits: on every
# page, on the first only, and a broken form said with its cause while the
# report still prints. 600 x 900 pixels at 150 dpi: 4 x 6 inches.
write_form "$WORK/form.png" 600 900 150
for p in 1 2 3; do printf 'Report page %d\r\nTotal %d\r\n' "$p" "$p"; [ "$p" = 3 ] || printf '\f\r\n'; done > "$WORK/report.txt"
printf 'not a picture\r\n' > "$WORK/broken.png"
for form in form.png:all form.png:first broken.png:all; do
  result=$(printfile Office_Laser "$WORK/report.txt" 10 "Courier New" "${form%%:*}" "${form##*:}")
  [ "$result" = ok ] || { cat "$WORK/wine-errors.txt" >&2; fail "printfile with the form $form said '$result'"; }
  pdf="$WORK/report-${form%%.*}-${form##*:}.pdf"
  cups_collect Office_Laser "$pdf"
  [ "$(pages_of "$pdf")" = 3 ] || fail "the report with the form $form has $(pages_of "$pdf") pages, expected 3"
  [ "$(text_of "$pdf")" = "Report page 1|Total 1|Report page 2|Total 2|Report page 3|Total 3|" ] ||
    fail "the report's text under the form $form differs: $(text_of "$pdf")"
done
pdf="$WORK/report-form-all.pdf"
[ "$(pdfimages -list "$pdf" | awk 'NR > 2 && $3 == "image"' | wc -l)" -ge 3 ] ||
  { pdfimages -list "$pdf" >&2; fail "expected the form on each of the 3 pages"; }
for p in 1 2 3; do check_form "$pdf" "$p" 4 6 form; done
check_form "$WORK/report-form-first.pdf" 1 4 6 form
check_form "$WORK/report-form-first.pdf" 2 4 6 none
check_form "$WORK/report-form-first.pdf" 3 4 6 none
grep -q "^form: it is not a PNG image" "$WORK/wine-errors.txt" || { cat "$WORK/wine-errors.txt" >&2; fail "the broken form's cause was not said"; }
[ "$(pdfimages -list "$WORK/report-broken-all.pdf" | awk 'NR > 2' | wc -l)" = 0 ] || fail "a broken form drew an image"

# --- a printer nobody has ----------------------------------------------------
before=$(cups_job_count)
result=$(printfile "No Such Printer" "$WORK/large.txt" 10 "Courier New")
[ "$result" = "error 68" ] || fail "printing to an unknown printer said '$result', expected 'error 68'"
[ "$(cat "$WORK/printfile-rc")" = 1 ] || fail "printfile ended with $(cat "$WORK/printfile-rc") after error 68, expected 1"
sleep 1
after=$(cups_job_count)
[ "$after" = "$before" ] || fail "printing to an unknown printer made a job"

# --- an office with many printers ------------------------------------------
# 64 more queues with long names need about 6,900 bytes of level-5 records
# and strings, more than the first 5120-byte buffer: the list must still
# show all 66 printers, in the spooler's (alphabetical) order.
wine_can_run "$FERRIN_WIN32"
for i in $(seq -w 1 64); do
  lpadmin -p "Branch_Office_Printer_Number_${i}_Floor_2" -E -v file:///dev/null 2>/dev/null ||
    fail "could not add queue $i"
done
start_ferrin win32 -LISTPRINTERS
wait_started
send_keys x
rc=$(wait_exit)
[ "$rc" = 0 ] || fail "ferrin -LISTPRINTERS ended with $rc"
{
  for i in $(seq -w 1 64); do echo "Branch_Office_Printer_Number_${i}_Floor_2"; done
  echo Office_Laser
  echo Receipt
} | awk '{ printf "%d:%s\r\n", NR, $0 }' > "$WORK/expected-list.txt"
listed_printers > "$WORK/list.txt"
cmp -s "$WORK/expected-list.txt" "$WORK/list.txt" || {
  diff <(cat -A "$WORK/expected-list.txt") <(cat -A "$WORK/list.txt") >&2 || true
  fail "the list of 66 printers differs"
}

echo "print_win32: all checks passed"
