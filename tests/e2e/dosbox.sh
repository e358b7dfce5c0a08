#!/usr/bin/env bash
# A DOS program in DOSBox prints through ferrin, as the emulator guide
# (docs/dos-emulators.md) sets it up: ferrin's folder is mounted as drive C,
# the program (tests/dos/printout.asm) writes WLSDFKJN.DRY there in two
# halves two seconds apart and closes it. ferrin, on "Save as PDF", prints it
# once and whole: one PDF with both halves, the code page 437 text as the
# characters it stands for and the form feed as a page break.
source "$(dirname "$0")/lib.sh"
e2e_begin
need dosbox nasm pdftotext pdfinfo timeout

mkdir -p "$WORK/dos" "$WORK/home"
nasm -f bin -o "$WORK/dos/PRINTOUT.COM" "$FERRIN_SOURCE/tests/dos/printout.asm" || fail "nasm could not assemble printout.asm"

printf '[printer 0]\r\nprintername=Save as PDF\r\nfilename=WLSDFKJN.DRY\r\nfontsize=10\r\nfontname=Courier New\r\n' \
  > "$RUN_DIR/ferrin.ini"
start_ferrin posix
wait_started

# DOSBox without a window or sound; its settings file goes to a private home.
HOME=$WORK/home SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout 60 \
  dosbox -noconsole -c "mount c $RUN_DIR" -c "mount d $WORK/dos" -c "c:" -c "d:\\printout.com" -c "exit" \
  > "$WORK/dosbox.txt" 2>&1 || { cat "$WORK/dosbox.txt" >&2; fail "DOSBox failed"; }
grep -q "printout failed" "$WORK/dosbox.txt" && fail "the DOS program could not write the spool file"

wait_until 30 "the printout's PDF" bash -c "ls '$RUN_DIR'/printed/*.pdf"
wait_until 10 "the spool file to be deleted" test ! -e "$RUN_DIR/WLSDFKJN.DRY"
# Time for a second print, were there one.
sleep 2
pdfs=("$RUN_DIR"/printed/*.pdf)
[ "${#pdfs[@]}" = 1 ] || fail "expected one PDF, got ${#pdfs[@]}: ${pdfs[*]}"
[ "$(pdfinfo "${pdfs[0]}" | sed -n 's/^Pages: *//p')" = 2 ] || fail "expected 2 pages (the form feed)"
page1=$(pdftotext -layout -f 1 -l 1 "${pdfs[0]}" -)
for expect in "DOS TILL RECEIPT" "┌────────┐" "Café au lait" "Total"; do
  grep -qF "$expect" <<< "$page1" || fail "page 1 lacks \"$expect\": $page1"
done
grep -qF "Page two: thank you" <(pdftotext -f 2 -l 2 "${pdfs[0]}" -) || fail "page 2 lacks its line"
ferrin_running || fail "ferrin ended"
send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"
echo "dosbox: all checks passed"
