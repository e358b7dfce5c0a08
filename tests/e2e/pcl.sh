#!/usr/bin/env bash
# controls=pcl end to end, on both platforms: a LaserJet report, as a DOS
# accounting program's driver sends it (PJL around the job, a reset, A4,
# fonts, rows and columns, a downloaded soft font, a raster logo in
# PackBits, a rule, HP-GL/2, then a landscape page), is drawn as the laser
# printer would have printed it. On POSIX it goes to "Save as PDF", on
# Windows (under Wine) to a private CUPS PDF queue. Checked in the PDF: the
# text in its columns and nothing of the commands, words at their places
# against each other, the second page landscape, the logo at its pixel
# size and place. Then a word processor's letter with headings at 48 and
# 72 points and a footer near the page's foot: one page, every line on it;
# and a Windows driver's duplex job: exactly the sides the printer ejects,
# blank ones included.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext pdfimages pdftoppm python3
e2e_begin
start_cupsd
add_pdf_queue Report

SPOOL="$RUN_DIR/WLSDFKJN.DR2"
PRINTED="$RUN_DIR/printed"
SAMPLE="$WORK/report.pcl"

python3 - "$SAMPLE" <<'EOF'
import sys
E = b'\x1b'
def packbits_row(data):
    # Runs of one byte as repeats, the rest as literals.
    out, i = b'', 0
    while i < len(data):
        j = i
        while j < len(data) and j - i < 128 and data[j] == data[i]:
            j += 1
        if j - i >= 2:
            out += bytes([257 - (j - i)]) + data[i:i + 1]
            i = j
        else:
            out += b'\x00' + data[i:i + 1]
            i += 1
    return out
job = E + b'%-12345X@PJL JOB NAME="REPORT"\r\n@PJL ENTER LANGUAGE=PCL\r\n'
job += E + b'E' + E + b'&l26a0o6d3e60F' + E + b'&k0G' + E + b'(10U' + E + b'(s0p10h12v0s0b3T'
soft = E + b')s64W' + bytes(range(64))          # a soft font's header: binary, never printed
job += E + b'*c5D' + soft + E + b'(s3B' + b'ACME TRADING LTD' + E + b'(s0B\r\n'
job += b'Stock report\r\n\r\n'
job += E + b'&d0D' + b'Item' + E + b'&d@' + E + b'&a30C' + b'Qty' + E + b'&a45C' + b'Amount\r\n'
for n, (item, qty, amount) in enumerate([(b'Bolts M6', 1200, b'84.00'), (b'Nuts M6', 800, b'32.00'),
                                         (b'Washers', 5000, b'25.00')]):
    job += item + E + b'&a30C' + str(qty).encode() + E + b'&a45C' + amount + b'\r\n'
# Totals placed by dots: 3 inches right, 4 inches below the top margin.
job += E + b'*p900x1200Y' + b'Total' + E + b'*p+300X' + b'141.00'
# A rule under the header, and the logo: 120 x 60 pixels at 150 dpi, 6 inches
# across and 1 inch below the top margin.
job += E + b'*p0x150Y' + E + b'*c1800a6b0P'
job += E + b'*p1800x300Y' + E + b'*t150R' + E + b'*r120S' + E + b'*r1A' + E + b'*b2M'
for row in range(60):
    data = b'\xff' * 15
    packed = packbits_row(data)
    job += E + b'*b%dW' % len(packed) + packed
job += E + b'*rC'
job += E + b'%1BIN;SP1;PU0,0;PD1000,1000;LBHPGL\x03;' + E + b'%0A'
job += b'\x0c'
job += E + b'&l1O' + E + b'(s0p16.67h8.5v0s0b0T' + b'Landscape listing' + E + b'&a150C' + b'Col150\r\n'
job += b'\x0c' + E + b'E' + E + b'%-12345X@PJL EOJ\r\n' + E + b'%-12345X'
open(sys.argv[1], 'wb').write(job)
EOF

# A word processor's one-page letter: a heading at 72 and 48 points in the
# proportional faces, the body in Courier, a footer line in 24 point near
# the page's foot; ended by FF, a reset and PJL, as such programs end.
LETTER="$WORK/letter.pcl"
python3 - "$LETTER" <<'EOF2'
import sys
E = b'\x1b'
job = E + b'%-12345X@PJL ENTER LANGUAGE=PCL\r\n' + E + b'E' + E + b'&l26a0o0e6D'
job += E + b'*p0x300Y' + E + b'(s1p72v0s3b4101T' + b'Harbour' + E + b'*p0x500Y' + E + b'(s1p48v0s0b16602T' + b'Freight'
job += E + b'*p0x600Y' + E + b'(s0p10h12v0s0b3T\r\n'
for n in range(1, 31):
    job += b'Body line %02d of the letter\r\n' % n
job += E + b'*p0x3100Y' + E + b'(s1p24v1s0b4101T' + b'Footnote' + E + b'(s1p72v0s3b16602T' + b' Closing'
job += b'\x0c' + E + b'E' + E + b'%-12345X@PJL EOJ\r\n' + E + b'%-12345X'
open(sys.argv[1], 'wb').write(job)
EOF2

# A Windows driver's duplex job: PJL, a reset, page set-up, a soft font
# downloaded (its data holding FF and ESC bytes), text placed by dots,
# raster in delta rows, FF between pages. The printer ejects 7 sides: P1,
# P2, a page of raster only, a blank page (FF after FF), P5 on a front side,
# a blank back (ESC &a1G asks for the next front), and P7; the trailing
# reset and PJL eject nothing.
DRIVER="$WORK/driver.pcl"
python3 - "$DRIVER" <<'EOF2'
import sys
E = b'\x1b'
job = E + b'%-12345X@PJL JOB NAME="Sheets"\r\n@PJL SET DUPLEX=ON\r\n@PJL ENTER LANGUAGE=PCL\r\n'
job += E + b'E' + E + b'&u600D' + E + b'&l26a0o1s0E' + E + b'*c9D' + E + b')s64W' + b'\x0c\x1bE' * 21 + b'\x0c'
for code in range(33, 40):
    job += E + b'*c%dE' % code + E + b'(s13W' + b'\x1bE\x0c\x0cFF\x1b&a1Gxx'
job += E + b'*c9d2F'
def page(name):
    return E + b'*p600x600Y' + E + b'(s0p10h12v0s0b3T' + name
raster = E + b'*p600x1200Y' + E + b'*t300R' + E + b'*r96S' + E + b'*r1A' + E + b'*b3M'
raster += E + b'*b13W' + b'\xe0' + b'\xff' * 8 + b'\xa0' + b'\xff' * 3
for row in range(47):
    raster += E + b'*b0W'
raster += E + b'*rC'
job += page(b'P1') + b'\x0c' + page(b'P2') + b'\x0c' + raster + b'\x0c' + b'\x0c'
job += page(b'P5') + b'\x0c' + E + b'&a1G' + page(b'P7') + b'\x0c'
job += E + b'E' + E + b'%-12345X@PJL EOJ\r\n' + E + b'%-12345X'
open(sys.argv[1], 'wb').write(job)
EOF2

write_ini() {  # more lines of the section, if any
  printf '[printer 1]\r\nprintername=%s\r\nfilename=WLSDFKJN.DR2\r\ncontrols=pcl\r\n%s' "$PRINTER1" "${1:-}" \
    > "$RUN_DIR/ferrin.ini.new"
  mv "$RUN_DIR/ferrin.ini.new" "$RUN_DIR/ferrin.ini"
}

print_report() {
  local sample=${1:-$SAMPLE} name=${2:-report}
  cp "$sample" "$WORK/next"
  mv "$WORK/next" "$SPOOL"
  wait_until 30 "the report to be printed" bash -c "[ ! -e '$SPOOL' ]"
  PDF="$WORK/$FERRIN_PLATFORM-$name.pdf"
  if [ "$PRINTER1" = "Save as PDF" ]; then
    wait_until 10 "the $name in printed" bash -c "[ -n \"\$(find '$PRINTED' -maxdepth 1 -name 'print-*.pdf')\" ]"
    mv "$(find "$PRINTED" -maxdepth 1 -name 'print-*.pdf' | head -n 1)" "$PDF"
  else
    cups_collect Report "$PDF"
  fi
}

# A word's box on a page: "xMin yMin xMax yMax" in points.
need_box() {
  local box
  box=$(pdftotext -bbox -f "$2" -l "$2" "$1" - | awk -v w="$3" '
    /<word / && index($0, ">" w "</word>") { n = split($0, f, "\""); print f[2], f[4], f[6], f[8]; exit }')
  [ -n "$box" ] || { pdftotext -bbox "$1" - >&2; fail "no word $3 on page $2 of $1"; }
  echo "$box"
}
field() { echo "$1" | awk -v f="$2" '{ print $f }'; }
# "landscape" or "portrait": how page $1 of $PDF reads, from its size and
# the direction of the word $2 on it.
page_shape() {
  local size box
  size=$(pdfinfo -f "$1" -l "$1" "$PDF" | awk '/^Page +[0-9]+ size:/ { print $4, $6 }')
  box=$(need_box "$PDF" "$1" "$2")
  awk -v s="$size" -v b="$box" 'BEGIN {
    split(s, p, " "); split(b, w, " ")
    wide = p[1] > p[2]; turned = (w[4] - w[2]) > (w[3] - w[1])
    print (wide != turned) ? "landscape" : "portrait" }'
}
# How far word $3 begins after word $2 on page $1, along their line.
along() {
  local a b
  a=$(need_box "$PDF" "$1" "$2"); b=$(need_box "$PDF" "$1" "$3")
  awk -v a="$a" -v b="$b" 'BEGIN {
    split(a, p, " "); split(b, q, " ")
    if ((p[4] - p[2]) > (p[3] - p[1])) d = p[4] - q[4]; else d = q[1] - p[1]
    print (d < 0) ? -d : d }'
}
near() {
  awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }' ||
    fail "$4: $1, expected $2 (within $3)"
}

run_platform() {
  local platform=$1
  echo "== $platform"
  rm -rf "${RUN_DIR:?}"/* "${RUN_DIR:?}"/.[!.]* 2>/dev/null || true
  if [ "$platform" = posix ]; then PRINTER1="Save as PDF"; else PRINTER1=Report; fi
  write_ini
  start_ferrin "$platform"
  wait_started 60
  print_report

  echo "-- pages"
  [ "$(pdfinfo "$PDF" | awk '/^Pages:/ { print $2 }')" = 2 ] || fail "$(pdfinfo "$PDF" | grep Pages), expected 2"
  # A landscape page is a sheet wider than tall with its lines across, or
  # (a PostScript printer's way, Wine's) a portrait sheet with its lines
  # turned to run up it.
  local shapes
  shapes="$(page_shape 1 ACME) $(page_shape 2 Landscape)"
  [ "$shapes" = "portrait landscape" ] || { pdfinfo -f 1 -l 2 "$PDF" >&2; fail "pages are $shapes"; }

  echo "-- text in its columns, nothing of the commands"
  local text want
  # The lines in order, a blank for each gap (the columns' places are
  # measured below).
  text=$(pdftotext -layout -f 1 -l 1 "$PDF" - | tr -d '\f' | sed 's/^ *//; s/ *$//' | tr -s ' ' | grep -v '^$')
  want="ACME TRADING LTD
Stock report
Item Qty Amount
Bolts M6 1200 84.00
Nuts M6 800 32.00
Washers 5000 25.00
Total 141.00"
  [ "$text" = "$want" ] || { diff <(echo "$want") <(echo "$text") >&2 || true; fail "page 1's text"; }
  local all
  all=$(pdftotext "$PDF" - | tr -d '\f')
  if LC_ALL=C grep -q '[[:cntrl:]]' <<<"$(echo "$all" | tr -d '\n')"; then fail "control glyphs in the text"; fi
  if grep -qE '@PJL|&l|\(s|\*p|\*b|\*r|\*c|%1B|HPGL|IN;|[0-9]+[A-Z]$' <<<"$all"; then
    echo "$all" >&2
    fail "command residue in the text"
  fi
  grep -q "Landscape listing" <<<"$(pdftotext -f 2 -l 2 "$PDF" -)" || fail "page 2 has no landscape listing"

  echo "-- places"
  local acme item qty total amount
  acme=$(need_box "$PDF" 1 ACME); item=$(need_box "$PDF" 1 Item); qty=$(need_box "$PDF" 1 Qty)
  total=$(need_box "$PDF" 1 Total); amount=$(need_box "$PDF" 1 141.00)
  # Column 30 at 10 pitch: 3 inches from column 0.
  near "$(awk -v a="$(field "$item" 1)" -v b="$(field "$qty" 1)" 'BEGIN { print b - a }')" 216 1 "column 30"
  near "$(awk -v a="$(field "$item" 1)" -v b="$(field "$(need_box "$PDF" 1 Amount)" 1)" 'BEGIN { print b - a }')" 324 1 "column 45"
  # Total: 3 inches right of the logical page's edge, its baseline 4 inches
  # below the top margin, where the first line's is 3/4 of a line (1/8 inch)
  # and the second's a line further (Stock, in the same face as Total).
  near "$(awk -v a="$(field "$acme" 1)" -v b="$(field "$total" 1)" 'BEGIN { print b - a }')" 216 1 "Total across"
  # And on the paper: the logical page begins a quarter inch in from its
  # edge, wherever the printer's printable area begins; the top margin is
  # half an inch down. (Under Wine the PDF queue's page comes out some 18
  # points lower than the printable area Wine's PostScript driver reports,
  # so down the page only the POSIX program's place is checked.)
  near "$(field "$total" 1)" 234 1.5 "Total from the paper's left edge"
  if [ "$platform" = posix ]; then
    near "$(field "$(need_box "$PDF" 1 Stock)" 4)" "$(awk 'BEGIN { print 72 * (0.5 + 0.125 + 1 / 6) + 3 }')" 2 \
      "Stock's baseline from the paper's top"
  fi
  near "$(awk -v a="$(field "$(need_box "$PDF" 1 Stock)" 4)" -v b="$(field "$total" 4)" 'BEGIN { print b - a }')" 267 1 "Total down"
  near "$(awk -v a="$(field "$total" 1)" -v b="$(field "$amount" 1)" 'BEGIN { print b - a }')" 108 1 "300 dots on"
  # Column 150 at 16.67 pitch: 9 inches, which only fits across a landscape page.
  near "$(along 2 Landscape Col150)" 648 1.5 "column 150"

  echo "-- the logo at its size and place"
  pdfimages -list -f 1 -l 1 "$PDF" | awk 'NR > 2 { print $4 "x" $5 }' | grep -qx 120x60 ||
    { pdfimages -list "$PDF" >&2; fail "no 120 x 60 image on page 1"; }
  pdftoppm -gray -r 72 -f 1 -l 1 "$PDF" "$WORK/page"
  # The logo's ink: 0.8 x 0.4 inch, 6 inches right of ACME's left edge, its
  # top 1 inch below the top margin: 7/8 inch below ACME's baseline, which
  # is some 3 points above the bottom of its box.
  python3 - "$WORK"/page*.pgm "$(field "$acme" 1)" "$(field "$acme" 4)" <<'EOF' || fail "the logo is not at its place"
import sys
path, left, bottom = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
data = open(path, 'rb').read()
parts = data.split(maxsplit=4)
width, height, pixels = int(parts[1]), int(parts[2]), parts[4]
x0, x1 = int(left + 432 + 4), int(left + 432 + 57.6 - 4)
rows = [y for y in range(height) if all(pixels[y * width + x] < 100 for x in range(x0, x1))]
if not rows:
    sys.exit("no solid rows under the logo's columns")
first, last = rows[0], rows[-1]
print("logo rows", first, last)
ok = abs((last - first + 1) - 28.8) <= 2 and abs(first - (bottom - 3 + 63)) <= 4
sys.exit(0 if ok else f"logo rows {first}..{last}, ACME's bottom {bottom}")
EOF
  rm -f "$WORK"/page*.pgm

  echo "-- a form named in ferrin.ini under both pages, the text over it"
  write_form "$RUN_DIR/form.png" 600 900 150
  write_ini $'overlay=form.png\r\n'
  print_report
  [ "$(pdfimages -list "$PDF" | awk 'NR > 2 && $4 == 600 && $5 == 900 { print $1 }' | tr '\n' ' ')" = "1 2 " ] ||
    { pdfimages -list "$PDF" >&2; fail "the form is not under both pages"; }
  check_form "$PDF" 1 4 6 form
  pdfimages -list -f 1 -l 1 "$PDF" | awk 'NR > 2 { print $4 "x" $5 }' | grep -qx 120x60 || fail "the logo is gone"

  wait_screen "Landscape listing" 10

  echo "-- a letter: one page, every size of its type on it"
  print_report "$LETTER" letter
  [ "$(pdfinfo "$PDF" | awk '/^Pages:/ { print $2 }')" = 1 ] || fail "the letter has $(pdfinfo "$PDF" | grep Pages), expected 1"
  text=$(pdftotext "$PDF" - | tr -s ' \n' ' ')
  for want in Harbour Freight "Body line 01" "Body line 30" Footnote Closing; do
    grep -qF "$want" <<<"$text" || fail "the letter lacks '$want': $text"
  done
  # The footer below the last body line, the heading above the first.
  awk -v f="$(field "$(need_box "$PDF" 1 Footnote)" 2)" -v b="$(field "$(need_box "$PDF" 1 30)" 4)" \
    -v h="$(field "$(need_box "$PDF" 1 Harbour)" 4)" -v o="$(field "$(need_box "$PDF" 1 01)" 2)" \
    'BEGIN { exit !(f > b && h < o) }' || fail "the letter's heading and footer are out of their places"

  echo "-- a Windows driver's duplex job: the sides the printer ejects"
  print_report "$DRIVER" driver
  [ "$(pdfinfo "$PDF" | awk '/^Pages:/ { print $2 }')" = 7 ] || fail "the driver's job has $(pdfinfo "$PDF" | grep Pages), expected 7"
  local pages=()
  for n in 1 2 3 4 5 6 7; do pages+=("$(pdftotext -f $n -l $n "$PDF" - | tr -d ' \n\f')"); done
  [ "${pages[*]}" = "P1 P2   P5  P7" ] || fail "the driver's pages read '${pages[*]}'"
  pdfimages -list -f 3 -l 3 "$PDF" | awk 'NR > 2 { print $4 "x" $5 }' | grep -qx 96x48 ||
    { pdfimages -list "$PDF" >&2; fail "no 96 x 48 raster on page 3"; }
  send_keys x
  [ "$(wait_exit 30)" = 0 ] || fail "ferrin on $platform did not end with 0"
}

for platform in $(e2e_platforms); do
  run_platform "$platform"
done
echo "pcl: all checks passed"
