#!/usr/bin/env bash
# Real DOS output, end to end, on both platforms: the per-printer keys
# codepage, lineends, formfeed and controls, changed in ferrin.ini between
# printouts of one running ferrin. On POSIX slot 0 prints on "Save as PDF" and
# slot 1 on a private CUPS queue; on Windows (under Wine) both slots
# print on CUPS queues. Every printout is read back whole: pages, text, order.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext
e2e_begin
start_cupsd
add_pdf_queue Receipt
add_pdf_queue Reports

SPOOL0="$RUN_DIR/WLSDFKJN.DRY"
SPOOL1="$RUN_DIR/WLSDFKJN.DR2"
PRINTED="$RUN_DIR/printed"
SAMPLES="$WORK/samples"
mkdir -p "$SAMPLES"

# --- the printouts --------------------------------------------------------

# A CP437 box with block shades, then Czech letters in CP852.
printf '\xDA\xC4\xC4\xBF\r\n\xB3OK\xB3\r\n\xC0\xC4\xC4\xD9\r\n\xDB\xB2\xB1\xB0\r\n\x9F\xD8\xFD\xE7\xA7\x85\r\n' > "$SAMPLES/codepage"
# The same bytes read as code page 437, 852 and 1252 (Windows' ANSI page).
EXPECT_437=$'┌──┐\n│OK│\n└──┘\n█▓▒░\nƒ╪²τºà'
EXPECT_852=$'┌──┐\n│OK│\n└──┘\n█▓▒░\nčěřšžů'
EXPECT_1252=$'ÚÄÄ¿\n³OK³\nÀÄÄÙ\nÛ²±°\nŸØýç§…'

# Three pages of LF-only lines, a form feed ending the pages' last lines.
printf 'Alpha 1\nAlpha 2\f\nBravo 1\nBravo 2\f\nCharlie 1\n' > "$SAMPLES/lf-only"

# Each page header just after its form feed. Line ends of every kind (CR LF,
# LF, LF CR, lone CR); a form feed at the top, two in a row, one inside a line
# and one at the very end.
printf '\fHEADER 1\r\nbody a\n\f\fHEADER 2\n\rbody b\rtotal 5\fHEADER 3\r\nbody c\n\f' > "$SAMPLES/headers"

# A dot-matrix printout: reset, bold, condensed, underline, line spacing and
# print mode whose parameters are letters, two bit images whose data holds
# form feeds, Ctrl-Z, CR LF and letters, and a TAB after a dropped command.
{
  printf '\x1b@\x1bEBold line\x1bF\r\n'
  printf '\x0fCondensed\x12\r\n'
  printf '\x1b-\x01Underlined\x1b-\x00\r\n'
  printf '\x1b3A\x1b!XImage:'
  printf '\x1bK\x0c\x00XY\x0cZ\x1a\r\nQ\x0c\x1aWV'     # ESC K: 12 columns of data
  printf '\x1b*\x00\x03\x00\x0c\x1aP'                 # ESC * mode 0: 3 columns
  printf 'end\r\n'
  printf '\x1bET1\x1bF\tS1\r\n'
  printf 'U1      V1\r\n'
  printf 'Last line\r\n'
} > "$SAMPLES/escp"
EXPECT_ESCP=$'Bold line\nCondensed\nUnderlined\nImage:end\nT1 S1\nU1 V1\nLast line'

# A receipt printer's printout: initialise, print modes, character size, a
# raster image whose data holds form feeds, Ctrl-Z and letters, and a cut.
{
  printf '\x1b@\x1b!\x38SHOP NAME\x1b!\x00\r\n'
  printf '\x1d!\x11BIG\x1d!\x00\r\n'
  printf '\x1bE\x01Item 1.00\x1bE\x00'
  printf '\x1dv0\x00\x04\x00\x03\x00AB\x0cC\x1aD\r\nE\x0cFG'   # GS v 0: 4 x 3 bytes
  printf '\r\nThanks\r\n'
  printf '\x1bd\x03\x1dVA\x10'                              # feed, cut with feed
} > "$SAMPLES/escpos"
EXPECT_ESCPOS=$'SHOP NAME\nBIG\nItem 1.00\nThanks'

# A lone LF inside a line: one line by the DOS rule.
printf 'One\nTwo\r\nThree\r\n' > "$SAMPLES/default-ends"

# --- helpers --------------------------------------------------------------

# ferrin.ini with the platform's printers; $1 and $2 are extra "key=value"
# lines for slot 0 and slot 1. Written aside and moved into place, then given
# time for the watchers to reread it before the next spool file.
write_ini() {
  local kv
  {
    printf '[printer 0]\r\nprintername=%s\r\nfilename=WLSDFKJN.DRY\r\nfontname=Courier New\r\nfontsize=10\r\n' "$PRINTER0"
    for kv in $1; do printf '%s\r\n' "$kv"; done
    printf '[printer 1]\r\nprintername=Reports\r\nfilename=WLSDFKJN.DR2\r\nfontname=Courier New\r\nfontsize=10\r\n'
    for kv in $2; do printf '%s\r\n' "$kv"; done
  } > "$RUN_DIR/ferrin.ini.new"
  mv "$RUN_DIR/ferrin.ini.new" "$RUN_DIR/ferrin.ini"
  sleep 0.5
}

jobs_of() { lpstat -W all -o "$1" 2>/dev/null | wc -l; }
saved_count() { { find "$PRINTED" -maxdepth 1 -name 'print-*.pdf' 2>/dev/null || true; } | wc -l; }
newest_saved() { find "$PRINTED" -maxdepth 1 -name 'print-*.pdf' | sort | tail -n 1; }
gone() { [ ! -e "$1" ] && [ ! -e "$(dirname "$1")/.$(basename "$1").printing" ]; }
pages_of() { pdfinfo "$1" | awk '/^Pages:/ { print $2 }'; }
# The text of one page: blanks at the ends of lines and runs of blanks made
# one, empty lines at the page's end dropped (empty lines inside are kept).
page_text() {
  pdftotext -layout -f "$2" -l "$2" "$1" - | tr -d '\f' | sed 's/^ *//; s/ *$//' | tr -s ' ' |
    sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'
}
count_output() { grep -cF -- "$1" "$RUN_DIR/out.txt" || true; }

# Prints one sample in each slot at once ("-" for none) and collects each
# printout as $PDF0 and $PDF1: each spool file must give exactly one.
ROUND=0
print_round() {
  local sample0=$1 sample1=$2 saved0 jobs0 jobs1
  ROUND=$((ROUND + 1))
  saved0=$(saved_count)
  jobs0=$(jobs_of Receipt)
  jobs1=$(jobs_of Reports)
  [ "$sample0" = - ] || { cp "$SAMPLES/$sample0" "$WORK/next0"; mv "$WORK/next0" "$SPOOL0"; }
  [ "$sample1" = - ] || { cp "$SAMPLES/$sample1" "$WORK/next1"; mv "$WORK/next1" "$SPOOL1"; }
  wait_until 30 "round $ROUND to be printed" bash -c "[ ! -e '$SPOOL0' ] && [ ! -e '$SPOOL1' ]"
  wait_until 10 "round $ROUND's spool files to be deleted" gone "$SPOOL0"
  wait_until 10 "round $ROUND's spool files to be deleted" gone "$SPOOL1"
  PDF0="$WORK/$FERRIN_PLATFORM-$ROUND-$sample0-0.pdf"
  PDF1="$WORK/$FERRIN_PLATFORM-$ROUND-$sample1-1.pdf"
  if [ "$sample0" != - ]; then
    if [ "$PRINTER0" = "Save as PDF" ]; then
      [ "$(saved_count)" = $((saved0 + 1)) ] || fail "$sample0 gave $(( $(saved_count) - saved0 )) printouts on Save as PDF"
      mv "$(newest_saved)" "$PDF0"
    else
      cups_collect Receipt "$PDF0"
      [ "$(jobs_of Receipt)" = $((jobs0 + 1)) ] || fail "$sample0 gave $(( $(jobs_of Receipt) - jobs0 )) jobs on Receipt"
    fi
  fi
  if [ "$sample1" != - ]; then
    cups_collect Reports "$PDF1"
    [ "$(jobs_of Reports)" = $((jobs1 + 1)) ] || fail "$sample1 gave $(( $(jobs_of Reports) - jobs1 )) jobs on Reports"
  fi
}

# Fails unless the printout has the pages given, each page's text as given.
expect_pages() {
  local pdf=$1 what=$2 page=0 expected
  shift 2
  [ "$(pages_of "$pdf")" = $# ] || fail "$what: $(pages_of "$pdf") pages, expected $#"
  for expected in "$@"; do
    page=$((page + 1))
    [ "$(page_text "$pdf" $page)" = "$expected" ] || {
      diff <(echo "$expected") <(page_text "$pdf" $page) >&2 || true
      fail "$what: page $page differs"
    }
  done
}

# The top of a word on a page, in points.
top_of() {
  local top
  top=$(word_at "$1" "$2" "$3" 2)
  [ -n "$top" ] || { words "$1" >&2; fail "no word $3 on page $2 of $1"; }
  echo "$top"
}

left_of() {
  local left
  left=$(word_at "$1" "$2" "$3" 3)
  [ -n "$left" ] || { words "$1" >&2; fail "no word $3 on page $2 of $1"; }
  echo "$left"
}

# The screen shows the lines given one after another (blanks at the ends of
# the screen's lines ignored).
echo_has() {
  local first=$1 want
  want=$(printf '%s|' "$@")
  screen_text | sed 's/ *$//' | grep -A$(($# - 1)) -xF -- "$first" | head -n $# | tr '\n' '|' | grep -qxF -- "$want"
}

# --- one platform -----------------------------------------------------------

run_platform() {
  local platform=$1
  echo "== $platform"
  rm -rf "${RUN_DIR:?}"/* "${RUN_DIR:?}"/.[!.]* 2>/dev/null || true
  if [ "$platform" = posix ]; then PRINTER0="Save as PDF"; else PRINTER0=Receipt; fi
  write_ini "" ""
  start_ferrin "$platform"
  wait_started 60
  wait_output "Starting thread for printer #1" 30

  echo "-- code pages: 437 and 852, and the platform's own without the key"
  write_ini "codepage=437" "codepage=852"
  print_round codepage codepage
  expect_pages "$PDF0" "codepage=437" "$EXPECT_437"
  expect_pages "$PDF1" "codepage=852" "$EXPECT_852"
  write_ini "" ""
  print_round codepage codepage
  if [ "$platform" = posix ]; then
    expect_pages "$PDF0" "no codepage on POSIX (437)" "$EXPECT_437"
    expect_pages "$PDF1" "no codepage on POSIX (437)" "$EXPECT_437"
  else
    expect_pages "$PDF0" "no codepage on Windows (ANSI, 1252)" "$EXPECT_1252"
    expect_pages "$PDF1" "no codepage on Windows (ANSI, 1252)" "$EXPECT_1252"
  fi

  echo "-- LF-only lines: lineends=any, and dos"
  write_ini "lineends=ANY" "lineends=dos"
  print_round lf-only lf-only
  expect_pages "$PDF0" "lineends=any" $'Alpha 1\nAlpha 2' $'Bravo 1\nBravo 2' 'Charlie 1'
  [ "$(pages_of "$PDF1")" = 1 ] || fail "lineends=dos: the LF-only file gave $(pages_of "$PDF1") pages, expected 1"
  page_text "$PDF1" 1 > "$WORK/dos-page.txt"
  [ "$(grep -c . "$WORK/dos-page.txt")" = 1 ] && grep -q '^Alpha 1.*Alpha 2.*Bravo 1.*Bravo 2.*Charlie 1' "$WORK/dos-page.txt" ||
    { cat "$WORK/dos-page.txt" >&2; fail "lineends=dos: the LF-only file is not one line"; }

  echo "-- headers after form feeds: formfeed=exact, and line"
  write_ini "formfeed=Exact lineends=any" "formfeed=line lineends=any"
  print_round headers headers
  expect_pages "$PDF0" "formfeed=exact" $'HEADER 1\nbody a' $'HEADER 2\nbody b\ntotal 5' $'HEADER 3\nbody c'
  # Each header is the first line of its page, at the page's top.
  local top
  top=$(top_of "$PDF0" 1 HEADER)
  near "$(top_of "$PDF0" 2 HEADER)" "$top" 0.01 "formfeed=exact: top of the header of page 2"
  near "$(top_of "$PDF0" 3 HEADER)" "$top" 0.01 "formfeed=exact: top of the header of page 3"
  # The old rule: a line carrying a form feed ends its page after the line.
  expect_pages "$PDF1" "formfeed=line" 'HEADER 1' $'body a\nHEADER 2' $'body b\ntotal 5HEADER 3' 'body c'

  echo "-- control codes stripped: ESC/P and ESC/POS on either printer"
  write_ini "controls=strip" "controls=STRIP"
  print_round escp -
  expect_pages "$PDF0" "controls=strip, ESC/P" "$EXPECT_ESCP"
  echo_has "Bold line" "Condensed" "Underlined" "Image:end" ||
    fail "the echo of the ESC/P printout is not its text alone"
  # The TAB (after two letters and a dropped command) reaches column 8, as
  # the six blanks after two letters on the next line do.
  near "$(left_of "$PDF0" 1 S1)" "$(left_of "$PDF0" 1 V1)" 0.05 "ESC/P: the column after a TAB"
  near "$(left_of "$PDF0" 1 T1)" "$(left_of "$PDF0" 1 U1)" 0.05 "ESC/P: the left edge of the TAB's line"
  print_round escpos escp
  expect_pages "$PDF0" "controls=strip, ESC/POS" "$EXPECT_ESCPOS"
  expect_pages "$PDF1" "controls=strip, ESC/P on the second printer" "$EXPECT_ESCP"
  print_round - escpos
  expect_pages "$PDF1" "controls=strip, ESC/POS on the second printer" "$EXPECT_ESCPOS"

  echo "-- unknown values: said once, the defaults used"
  write_ini "lineends=sideways" "codepage=999"
  print_round default-ends default-ends
  local said='Unknown value "sideways" for lineends in [printer 0]; using the default.'
  wait_output "$said"
  wait_output 'Unknown value "999" for codepage in [printer 1]; using the default.'
  # Both slots print with the defaults alone, so alike.
  [ "$(page_text "$PDF0" 1)" = "$(page_text "$PDF1" 1)" ] && [ "$(pages_of "$PDF0")" = "$(pages_of "$PDF1")" ] ||
    fail "lineends=sideways printed otherwise than the default: '$(page_text "$PDF0" 1)'"
  page_text "$PDF0" 1 > "$WORK/default-page.txt"
  [ "$(grep -c . "$WORK/default-page.txt")" = 2 ] && grep -q '^One.*Two' "$WORK/default-page.txt" ||
    { cat "$WORK/default-page.txt" >&2; fail "lineends=sideways: the lone LF ended a line"; }
  local reference=$PDF1
  print_round default-ends -
  [ "$(page_text "$PDF0" 1)" = "$(page_text "$reference" 1)" ] || fail "lineends=sideways: the second printout differs"
  [ "$(count_output "$said")" = 1 ] || fail "the unknown value was said $(count_output "$said") times, expected once"
  [ "$(count_output 'Unknown value')" = 2 ] || fail "unknown values were said $(count_output 'Unknown value') times, expected 2"

  send_keys x
  [ "$(wait_exit 30)" = 0 ] || fail "ferrin on $platform did not end with 0"
}

for platform in $(e2e_platforms); do
  run_platform "$platform"
done
echo "dos_output: all checks passed"
