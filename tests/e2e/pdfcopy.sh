#!/usr/bin/env bash
# A PDF of a printout for sending on (layOutPdfCopy), end to end on both
# programs: the pdfcopy tool lays printouts out with a slot's settings from
# ferrin.ini, on a thread of its own. A plain-text report of three pages
# keeps its pages and lines, laid out while another printout is being
# printed (on "Save as PDF", on Windows into a PDF file): each PDF holds only
# its own text, whole; an
# ESC/POS receipt with a bar code is a receipt-shaped page whose text reads
# back and whose code decodes; a printout that cannot be read and a PDF that
# cannot be written give their error codes and leave no PDF behind.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext pdftoppm zbarimg
e2e_begin
cd "$RUN_DIR"

# Three pages of five lines, the pages ended by form feeds.
for page in 1 2 3; do
  for line in 1 2 3 4 5; do printf 'Report page %d line %d\r\n' "$page" "$line"; done
  if [ "$page" -lt 3 ]; then printf '\f'; fi
done > report.txt
printf 'Printed meanwhile %d\r\n' 1 2 3 4 5 6 7 8 > meanwhile.txt
# A receipt: centred name, bold total, a CODE39 bar code, the cut.
printf '\033@\033a\001SHOP\n\033a\000Bread       2.50\n\033E\001TOTAL       2.50\033E\000\n' > receipt.bin
printf '\035h\120\035w\002\035H\002\035k\004FERRIN42\000\nThank you\n\035VA\003' >> receipt.bin
printf '[printer 0]\r\nprintername=Receipt\r\nfilename=WLSDFKJN.DRY\r\ncontrols=escpos\r\npaperwidth=58\r\n' > ferrin.ini
printf '[printer 1]\r\nprintername=Report\r\nfilename=WLSDFKJN.DR2\r\nfontname=Courier New\r\nfontsize=10\r\nformfeed=exact\r\n' >> ferrin.ini

# Runs the platform's pdfcopy in the run folder; prints its output.
pdfcopy() {
  local platform=$1
  shift
  if [ "$platform" = posix ]; then
    "$(dirname "$FERRIN_POSIX")/pdfcopy" "$@" || true
  else
    wine_run "$(dirname "$FERRIN_WIN32")/pdfcopy.exe" "$@" 2>"$WORK/wine-errors.txt" | tr -d '\r' || true
  fi
}

check_report() {
  local pdf=$1 page
  [ "$(pages_of "$pdf")" = 3 ] || fail "$pdf has $(pages_of "$pdf") pages, expected 3"
  for page in 1 2 3; do
    expected=$(for line in 1 2 3 4 5; do echo "Report page $page line $line"; done)
    got=$(page_text "$pdf" "$page" | sed 's/^ *//')
    [ "$got" = "$expected" ] || { diff <(echo "$expected") <(echo "$got") >&2; fail "page $page of $pdf differs"; }
  done
}

check_receipt() {
  local pdf=$1 width text
  [ "$(pages_of "$pdf")" = 1 ] || fail "the receipt has $(pages_of "$pdf") pages, expected 1"
  # 58 mm paper is 164 points wide; the page is no longer than the receipt.
  read -r width height < <(pdfinfo "$pdf" | awk '/^Page size:/ { print int($3), int($5) }')
  [ "$width" = 164 ] || fail "the receipt is $width points wide, expected 164 (58 mm)"
  [ "$height" -lt 300 ] || fail "the receipt is $height points long, not receipt-shaped"
  text=$(pdftotext -layout "$pdf" - | tr -d '\f' | tr -s ' ' | sed 's/^ //; /^$/d' | tr '\n' '|')
  [ "$text" = "SHOP|Bread 2.50|TOTAL 2.50|*FERRIN42*|Thank you|" ] || fail "receipt text: $text"
  pdftoppm -r 300 -gray -png "$pdf" "$WORK/receipt" || fail "the receipt cannot be rendered"
  [ "$(zbarimg -q --raw "$WORK"/receipt-1.png 2>/dev/null)" = FERRIN42 ] || fail "the bar code does not read FERRIN42"
}

for platform in $(e2e_platforms); do
  echo "-- $platform: a report of three pages, laid out while another printout prints"
  [ "$platform" = win32 ] && { wine_can_run "$(dirname "$FERRIN_WIN32")/pdfcopy.exe"; wine_prefix; }
  rm -rf printed ./*.pdf
  if [ "$platform" = posix ]; then
    out=$(pdfcopy posix 1 report.txt report.pdf meanwhile.txt)
    [ "$(pdf_count)" = 1 ] || fail "expected the one PDF printed meanwhile in printed/"
    meanwhile=$(newest_pdf)
  else
    out=$(pdfcopy win32 1 report.txt report.pdf meanwhile.txt meanwhile.pdf)
    meanwhile=meanwhile.pdf
  fi
  [ "$out" = ok ] || fail "pdfcopy said '$out'"
  check_report report.pdf
  [ "$(lines_in report.pdf meanwhile)" = 0 ] || fail "the copy holds text of the printout printed meanwhile"
  [ "$(lines_in "$meanwhile" "Printed meanwhile")" = 8 ] || fail "the printout printed meanwhile is not whole"
  [ "$(lines_in "$meanwhile" Report)" = 0 ] || fail "the printout printed meanwhile holds text of the copy"

  echo "-- $platform: an ESC/POS receipt with a bar code"
  out=$(pdfcopy "$platform" 0 receipt.bin receipt.pdf)
  [ "$out" = ok ] || fail "pdfcopy said '$out'"
  check_receipt receipt.pdf

  echo "-- $platform: failures leave no PDF"
  out=$(pdfcopy "$platform" 1 no-such.txt gone.pdf)
  [ "$out" = "error 53" ] || fail "a missing printout gave '$out', expected error 53"
  out=$(pdfcopy "$platform" 1 report.txt no-such-folder/gone.pdf)
  [ "$out" = "error 68" ] || fail "a PDF in a missing folder gave '$out', expected error 68"
  [ ! -e gone.pdf ] && [ ! -e no-such-folder ] || fail "a failed copy left a file behind"
  [ -z "$(find . -name '*.pdf.*' -o -name 'gone.pdf*')" ] || fail "a failed copy left a scratch file"
done
echo PASS
