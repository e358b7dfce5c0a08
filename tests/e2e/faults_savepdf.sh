#!/usr/bin/env bash
# The output folder of "Save as PDF" unusable, then mended, on the POSIX
# build: made immutable with chattr, and replaced by a plain file. The spool
# printout waits in the queue folder (one message), a printout that arrives
# meanwhile waits behind it, and both print once, in order, when the folder
# is mended.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext chattr
e2e_begin

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
HANDOVER='Printer #0: the printout of WLSDFKJN.DRY could not be handed to the printer "Save as PDF"'

write_ini "Save as PDF"

start_ferrin posix
wait_started
wait_output "Starting thread for printer #0"

printf 'Before the fault\r\n' > "$SPOOL"
wait_until 20 "the first job to be printed" gone
wait_until 5 "the first printout" count_is pdf_count 1

# Breaks the folder with $1, drops two printouts, checks that they wait,
# mends the folder with $2 and checks that both come out once, in order.
fault_and_mend() {
  local break_it=$1 mend_it=$2 tag=$3 said before
  said=$(count_output "$HANDOVER")
  before=$(pdf_count)
  $break_it
  printf '%s first\r\nline two\r\n' "$tag" > "$SPOOL"
  wait_until 20 "the hand-over failure to be said" bash -c "[ \$(grep -cF '$HANDOVER' '$RUN_DIR/out.txt') -gt $said ]"
  [ "$(waiting_count)" = 1 ] || fail "$tag: the printout does not wait in the queue"
  # The next printout joins the queue behind it.
  printf '%s second\r\n' "$tag" > "$SPOOL"
  sleep 3
  [ "$(waiting_count)" = 2 ] && [ ! -e "$SPOOL" ] || fail "$tag: the printouts do not both wait in the queue"
  [ "$(count_output "$HANDOVER")" = $((said + 1)) ] || fail "$tag: the failure was said $(( $(count_output "$HANDOVER") - said )) times, not once"
  ferrin_running || fail "$tag: ferrin ended"
  $mend_it
  # The hand-over is tried again 10 s after it failed.
  wait_until 30 "$tag: both printouts to be printed" gone
  sleep 1
  [ "$(pdf_count)" = $((before + 2)) ] || fail "$tag: two printouts gave $(( $(pdf_count) - before )) PDFs"
  local first second
  first=$(pdfs | tail -n 2 | head -n 1)
  second=$(pdfs | tail -n 1)
  [ "$(text_of "$first")" = "$tag first|line two|" ] || fail "$tag: the kept printout is '$(text_of "$first")'"
  [ "$(text_of "$second")" = "$tag second|" ] || fail "$tag: the printout behind it is '$(text_of "$second")'"
  [ "$(count_output "$HANDOVER")" = $((said + 1)) ] || fail "$tag: the failure was said again"
  [ -z "$(find "$PRINTED" -maxdepth 1 -name '.print-*' 2>/dev/null)" ] || fail "$tag: scratch files were left in $PRINTED"
}

echo "-- the folder made immutable"
immutable() { chattr +i "$PRINTED" || fail "cannot make $PRINTED immutable"; UNLOCK_INI="$PRINTED"; }
mutable() { chattr -i "$PRINTED"; }
fault_and_mend immutable mutable Immutable

echo "-- a plain file where the folder should be"
mv "$PRINTED" "$WORK/printed-before"
plain_file() { echo "not a folder" > "$PRINTED"; }
# ferrin makes the folder again itself.
folder_again() { rm -f "$PRINTED"; }
fault_and_mend plain_file folder_again Blocked

echo "-- pdfname: folders made, a taken name counted on, a hostile template said once"
month=$(date +%Y-%m)
day=$(date +%d)
printf 'pdfname=%%Y-%%m/%%d-%%t-%%n\r\n' >> "$RUN_DIR/ferrin.ini"
printf '  Total 12.50\r\nThank you\r\n' > "$SPOOL"
wait_until 20 "the named printout" test -f "$PRINTED/$month/$day-Total_12_50-001.pdf"
[ "$(text_of "$PRINTED/$month/$day-Total_12_50-001.pdf")" = "Total 12.50|Thank you|" ] || fail "the named PDF holds the wrong text"
echo "keep me" > "$PRINTED/$month/$day-Total_12_50-002.pdf"
printf 'Total 12.50\r\nagain\r\n' > "$SPOOL"
wait_until 20 "the next counter" test -f "$PRINTED/$month/$day-Total_12_50-003.pdf"
[ "$(cat "$PRINTED/$month/$day-Total_12_50-002.pdf")" = "keep me" ] || fail "a taken name was overwritten"
before=$(pdf_count)
sed -i 's|^pdfname=.*|pdfname=../escape/%t\r|' "$RUN_DIR/ferrin.ini"
for n in 1 2; do
  printf 'Hostile %s\r\n' "$n" > "$SPOOL"
  wait_until 20 "hostile printout $n" count_is pdf_count $((before + n))
done
[ "$(count_output 'ferrin.ini sets pdfname to "../escape/%t", which would leave the folder printed, so the PDFs it saves get the usual names.')" = 1 ] ||
  fail "the hostile template was not said exactly once"
[ ! -e "$RUN_DIR/escape" ] && [ ! -e "$WORK/escape" ] || fail "a PDF was saved outside printed"

ferrin_running || fail "ferrin ended"
send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"
echo "faults_savepdf: all checks passed"
