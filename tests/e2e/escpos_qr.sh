#!/usr/bin/env bash
# QR codes on ESC/POS receipts read back: a receipt with three QR codes (a
# short one, a long one at error correction H, one with 8-dot modules on
# 58 mm paper) is laid out by escpos_dump, which writes every image as a PBM
# file; zbarimg must read each code back as exactly the text that was stored,
# and the text around the codes must come out as text runs.
source "$(dirname "$0")/lib.sh"
need zbarimg
FERRIN_BUILD=${FERRIN_BUILD:-$FERRIN_SOURCE/build/posix}
DUMP=$FERRIN_BUILD/escpos_dump
[ -x "$DUMP" ] || fail "$DUMP is missing: build the posix preset"
e2e_begin

# GS ( k for QR codes (cn 49): the function, its parameters as printf
# escapes, then plain ASCII data.
export LC_ALL=C
qr() {
  local function=$1 escaped=$2 data=${3:-}
  local length=$(( $(printf "$escaped" | wc -c) + ${#data} + 2 ))
  printf '\x1d(k'"$(printf '\\x%02x\\x%02x' $((length & 255)) $((length >> 8)))"'1'"$function$escaped"
  printf '%s' "$data"
}

SHORT='https://ferrin.example/r/1042'
LONG='RECEIPT 2026-12-09 TILL 3 #000187; TOTAL EUR 37.40; VAT 19% 5.97; CARD ****4242; THANK YOU FOR SHOPPING WITH US!'
NARROW='58mm:tax-id/DE123456789'

# A: model (function 65), C: module size (67), E: error correction (69),
# P: store (80), Q: print (81).
{
  printf '\x1b@\x1ba\x01Shop\n'
  qr A '2\x00'; qr C '\x04'; qr E 1; qr P 0 "$SHORT"; qr Q 0
  printf 'Between\n'
  qr C '\x03'; qr E 3; qr P 0 "$LONG"; qr Q 0
  printf '\x1bp\x00\x19\xfaEnd\n\x1dVA\x10'
} > "$WORK/receipt.bin"
{
  printf '\x1b@\x1ba\x01'
  qr C '\x08'; qr P 0 "$NARROW"; qr Q 0
  printf 'Narrow\n'
} > "$WORK/narrow.bin"

"$DUMP" "$WORK/receipt.bin" "$WORK/wide" > "$WORK/wide.txt" || fail "escpos_dump failed on the receipt"
"$DUMP" -58 "$WORK/narrow.bin" "$WORK/narrow" > "$WORK/narrow.txt" || fail "escpos_dump failed on the narrow receipt"

# Reads the QR code in image n of a dump and compares it with the text.
check_code() {
  local prefix=$1 n=$2 expected=$3 got
  [ -f "$prefix-$n.pbm" ] || fail "no image $n ($prefix): $(cat "$prefix.txt")"
  got=$(zbarimg -q --raw "$prefix-$n.pbm" 2>/dev/null) || fail "zbarimg read no QR code in image $n ($prefix)"
  [ "$got" = "$expected" ] || fail "image $n ($prefix) reads \"$got\", expected \"$expected\""
}
check_code "$WORK/wide" 1 "$SHORT"
check_code "$WORK/wide" 2 "$LONG"
check_code "$WORK/narrow" 1 "$NARROW"

# The layout around the codes: centred text, the codes centred between
# them, the drawer kick's parameters nowhere, one page each.
texts=$(sed -n 's/^text .* "\(.*\)"$/\1/p' "$WORK/wide.txt" | tr '\n' '|')
[ "$texts" = "Shop|Between|End|" ] || fail "text runs: $texts"
[ "$(grep -c '^image ' "$WORK/wide.txt")" = 2 ] || fail "images: $(cat "$WORK/wide.txt")"
[ "$(grep -c '^page ' "$WORK/wide.txt")" = 1 ] || fail "pages: $(cat "$WORK/wide.txt")"
# 29 modules of 4 dots, centred on 576 dots.
grep -qx 'image 230 34 116 116 .*' "$WORK/wide.txt" || fail "first code placed wrongly: $(cat "$WORK/wide.txt")"
# On 58 mm paper the 8-dot modules still fit (25 x 8 = 200 of 384 dots).
grep -qx 'image 92 0 200 200 .*' "$WORK/narrow.txt" || fail "narrow code placed wrongly: $(cat "$WORK/narrow.txt")"
echo "escpos_qr: 3 QR codes read back"
