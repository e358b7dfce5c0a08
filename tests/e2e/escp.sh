#!/usr/bin/env bash
# controls=escp end to end, on both platforms: a dot-matrix printout is drawn
# as the printer would have printed it. On POSIX it goes to "Save as PDF", on
# Windows (under Wine) to a private CUPS PDF queue. Checked in the
# PDFs: a bold face, an underline under the underlined word only, double
# width, 137 condensed columns on one line, line pitches, form lengths and
# form feeds as pages, bit images at their pixel size, and text without
# control glyphs.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext pdffonts pdfimages pdftoppm python3
e2e_begin
start_cupsd
add_pdf_queue Receipt

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
PRINTED="$RUN_DIR/printed"
SAMPLES="$WORK/samples"
mkdir -p "$SAMPLES"

# --- the printouts --------------------------------------------------------

CONDENSED=$(printf '%0137d' 0 | tr 0 C | sed 's/^C/[/; s/C$/]/')
# Styles, pitches, line spacing and two bit images on one page.
{
  printf '\x1b@Plain words here\r\n'
  printf '\x1bEBoldword\x1bF plain\r\n'
  printf '\x1b-\x01Underword\x1b-\x00 Overword\r\n'
  printf '\x1bW\x01DOUBLE\x1bW\x00\r\n'
  printf 'SINGLE\r\n'
  printf '\x0f%s\x12\r\n' "$CONDENSED"
  printf '\x1b0EIGHTHA\r\nEIGHTHB\r\n'          # 1/8 inch: 9 points
  printf '\x1bA\x12QUARTERA\r\nQUARTERB\r\n\x1b2'  # 18/72 inch: 18 points
  printf 'Image:'
  printf '\x1bK\x64\x00'; head -c 100 /dev/zero | tr '\0' '\377'   # 100 columns, 60 x 72 dpi
  printf '\x1b*\x01\x32\x00'; head -c 50 /dev/zero | tr '\0' '\252' # 50 columns, 120 x 72 dpi
  printf 'end\r\n'
  printf '\x1bM12cpi\x1bP\ttab\r\n'
  printf '\x1b\x21\x08Master\x1b\x21\x00\r\n'
} > "$SAMPLES/styles"
EXPECT_STYLES="Plain words here
Boldword plain
Underword Overword
DOUBLE
SINGLE
$CONDENSED
EIGHTHA
EIGHTHB
QUARTERA
QUARTERB
Image: end
12cpi tab
Master"

# Forms of 10 lines: 25 lines make three pages, a form feed a fourth.
{
  printf '\x1b@\x1bC\x0a'
  for i in $(seq 1 25); do printf 'Line%02d\r\n' "$i"; done
  printf '\x0cAfterFF\r\n\x0c'
} > "$SAMPLES/forms"

# --- helpers --------------------------------------------------------------

write_ini() {
  printf '[printer 0]\r\nprintername=%s\r\nfilename=WLSDFKJN.DRY\r\nfontname=Courier New\r\nfontsize=10\r\ncontrols=escp\r\n' \
    "$PRINTER0" > "$RUN_DIR/ferrin.ini.new"
  mv "$RUN_DIR/ferrin.ini.new" "$RUN_DIR/ferrin.ini"
}

saved_count() { { find "$PRINTED" -maxdepth 1 -name 'print-*.pdf' 2>/dev/null || true; } | wc -l; }
pages_of() { pdfinfo "$1" | awk '/^Pages:/ { print $2 }'; }

# Prints one sample and moves its printout to $PDF.
print_sample() {
  local sample=$1 saved
  saved=$(saved_count)
  cp "$SAMPLES/$sample" "$WORK/next"
  mv "$WORK/next" "$SPOOL"
  wait_until 30 "$sample to be printed" bash -c "[ ! -e '$SPOOL' ]"
  PDF="$WORK/$FERRIN_PLATFORM-$sample.pdf"
  if [ "$PRINTER0" = "Save as PDF" ]; then
    wait_until 10 "$sample in printed" bash -c "[ \$(find '$PRINTED' -maxdepth 1 -name 'print-*.pdf' | wc -l) -gt $saved ]"
    mv "$(find "$PRINTED" -maxdepth 1 -name 'print-*.pdf' | sort | tail -n 1)" "$PDF"
  else
    cups_collect Receipt "$PDF"
  fi
}

# A word's box on a page: "xMin yMin xMax yMax" in points.
box_of() {
  pdftotext -bbox -f "$2" -l "$2" "$1" - | awk -v w="$3" '
    /<word / && index($0, ">" w "</word>") {
      n = split($0, f, "\""); print f[2], f[4], f[6], f[8]; exit }'
}

need_box() {
  local box
  box=$(box_of "$@")
  [ -n "$box" ] || { pdftotext -bbox "$1" - >&2; fail "no word $3 on page $2 of $1"; }
  echo "$box"
}

# Share of dark pixels in the darkest row just below a word's box (from its
# bottom to 4 points under it), across the word's width: near 1 for an
# underline, small for letters' descenders alone.
underline_share() {
  local pdf=$1 word=$2 box
  box=$(need_box "$pdf" 1 "$word")
  pdftoppm -gray -r 144 -f 1 -l 1 "$pdf" "$WORK/render"
  python3 - "$WORK"/render*.pgm $box <<'EOF'
import sys
path, x0, y0, x1, y1 = sys.argv[1], *map(float, sys.argv[2:6])
data = open(path, 'rb').read()
parts = data.split(maxsplit=4)
width, height = int(parts[1]), int(parts[2])
pixels = parts[4]
scale = 2.0  # 144 dpi over 72 points
left, right = int(x0 * scale) + 2, int(x1 * scale) - 2
best = 0.0
for row in range(int((y1 - 2) * scale), min(height, int((y1 + 4) * scale))):
    line = pixels[row * width + left: row * width + right]
    best = max(best, sum(1 for p in line if p < 128) / max(1, len(line)))
print(f"{best:.2f}")
EOF
  rm -f "$WORK"/render*.pgm
}

# Fails unless |a - b| <= tolerance.
near() {
  awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }' ||
    fail "$4: $1, expected $2 (within $3)"
}

field() { echo "$1" | awk -v f="$2" '{ print $f }'; }

# --- one platform -----------------------------------------------------------

run_platform() {
  local platform=$1
  echo "== $platform"
  rm -rf "${RUN_DIR:?}"/* "${RUN_DIR:?}"/.[!.]* 2>/dev/null || true
  if [ "$platform" = posix ]; then PRINTER0="Save as PDF"; else PRINTER0=Receipt; fi
  write_ini
  start_ferrin "$platform"
  wait_started 60

  echo "-- styles, pitches, line spacing and bit images"
  print_sample styles
  local styles=$PDF
  [ "$(pages_of "$styles")" = 1 ] || fail "styles: $(pages_of "$styles") pages, expected 1"
  local text
  text=$(pdftotext -layout "$styles" - | tr -d '\f' | sed 's/^ *//; s/ *$//' | tr -s ' ' | grep -v '^$')
  [ "$text" = "$EXPECT_STYLES" ] || { diff <(echo "$EXPECT_STYLES") <(echo "$text") >&2 || true; fail "styles: the text differs"; }
  if LC_ALL=C grep -q '[[:cntrl:]]' <<<"$(pdftotext "$styles" - | tr -d '\n\f')"; then fail "styles: control glyphs in the text"; fi

  pdffonts "$styles" | grep -qi 'bold' || { pdffonts "$styles" >&2; fail "styles: no bold face in the PDF"; }

  local under over
  under=$(underline_share "$styles" Underword)
  over=$(underline_share "$styles" Overword)
  awk -v u="$under" -v o="$over" 'BEGIN { exit !(u >= 0.9 && o <= 0.4) }' ||
    fail "underline: $under of the row under Underword dark, $over under Overword"

  local double single
  double=$(need_box "$styles" 1 DOUBLE)
  single=$(need_box "$styles" 1 SINGLE)
  local ratio
  ratio=$(awk -v d="$double" -v s="$single" 'BEGIN { split(d, a, " "); split(s, b, " "); printf "%.3f", (a[3] - a[1]) / (b[3] - b[1]) }')
  near "$ratio" 2 0.05 "double width against single width"

  local condensed
  condensed=$(pdftotext -bbox "$styles" - | grep -c ">\\[C*\\]</word>" || true)
  [ "$condensed" = 1 ] || fail "137 condensed columns are not one word on one line"
  # 137 columns at 17.14 cpi: 7.99 inches (less where the page is narrower).
  local cbox
  cbox=$(need_box "$styles" 1 "$CONDENSED")
  awk -v b="$cbox" 'BEGIN { split(b, a, " "); w = a[3] - a[1]; exit !(w > 540 && w < 580) }' ||
    fail "137 condensed columns are $(field "$cbox" 3) - $(field "$cbox" 1) points wide"

  local a b
  a=$(need_box "$styles" 1 EIGHTHA); b=$(need_box "$styles" 1 EIGHTHB)
  near "$(awk -v a="$(field "$a" 2)" -v b="$(field "$b" 2)" 'BEGIN { print b - a }')" 9 0.3 "ESC 0 line pitch"
  a=$(need_box "$styles" 1 QUARTERA); b=$(need_box "$styles" 1 QUARTERB)
  near "$(awk -v a="$(field "$a" 2)" -v b="$(field "$b" 2)" 'BEGIN { print b - a }')" 18 0.3 "ESC A 18 line pitch"
  a=$(need_box "$styles" 1 Plain); b=$(need_box "$styles" 1 Boldword)
  near "$(awk -v a="$(field "$a" 2)" -v b="$(field "$b" 2)" 'BEGIN { print b - a }')" 12 0.3 "default line pitch"

  # Each image at its own pixel size: 100 x 8 and 50 x 8.
  local images
  images=$(pdfimages -list "$styles" | awk 'NR > 2 { print $4 "x" $5 }' | sort | tr '\n' ' ')
  [ "$images" = "100x8 50x8 " ] || { pdfimages -list "$styles" >&2; fail "bit images: $images"; }

  echo "-- form length and form feed"
  print_sample forms
  [ "$(pages_of "$PDF")" = 4 ] || fail "forms: $(pages_of "$PDF") pages, expected 4"
  [ "$(pdftotext -f 2 -l 2 "$PDF" - | grep -m1 Line)" = Line11 ] || fail "forms: page 2 does not begin with Line11"
  [ "$(pdftotext -f 3 -l 3 "$PDF" - | grep -c Line)" = 5 ] || fail "forms: page 3 does not hold 5 lines"
  [ "$(pdftotext -f 4 -l 4 "$PDF" - | grep -v '^\s*$' | tr -d '\f')" = AfterFF ] || fail "forms: the form feed's page"
  a=$(need_box "$PDF" 1 Line01); b=$(need_box "$PDF" 1 Line10)
  near "$(awk -v a="$(field "$a" 2)" -v b="$(field "$b" 2)" 'BEGIN { print b - a }')" 108 0.5 "nine lines at 6 per inch"

  # The echo shows the text lines, and the form feeds.
  wait_screen "AfterFF" 10
  screen_text | grep -q -- "----Page Feed----" || fail "the echo shows no form feed"
  screen_text | grep -qxF "Line25" || fail "the echo misses Line25"

  send_keys x
  [ "$(wait_exit 30)" = 0 ] || fail "ferrin on $platform did not end with 0"
}

for platform in $(e2e_platforms); do
  run_platform "$platform"
done
echo "escp: all checks passed"
