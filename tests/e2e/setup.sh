#!/usr/bin/env bash
# The S dialogue on both platforms: prompts on the screen, lines on standard
# output, and the sections it writes into ferrin.ini.
source "$(dirname "$0")/lib.sh"
e2e_begin
start_cupsd
add_pdf_queue Receipt
add_pdf_queue Office

check_ini() {
  local section=$1 key=$2 want=$3 got
  got=$(ini_get "$RUN_DIR/ferrin.ini" "$section" "$key")
  [ "$got" = "$want" ] || fail "$FERRIN_PLATFORM: [$section] $key is '$got', expected '$want'"
}

for platform in $(e2e_platforms); do
  echo "== $platform"
  rm -f "$RUN_DIR/ferrin.ini"

  # Primary printer only; wrong answers are asked again.
  start_ferrin "$platform"
  wait_started
  send_keys s
  wait_output "Beginning printer configuration"
  wait_screen "Do you need ferrin to manage your primary (reciept) printer? (Y/N)"
  answer "yeah"
  answer "ye"
  answer ""
  answer "  y  "
  wait_output ":Receipt"
  wait_screen "enter printer number:"
  n=$(tr -d '\r' < "$RUN_DIR/out.txt" | sed -n 's/^\([0-9]*\):Receipt$/\1/p')
  answer "0"
  answer "x"
  answer "$((n - 1)).6"  # rounds to the index of Receipt
  wait_output "Selected Receipt... saving now"
  wait_screen "Enter font point size (12 is normal)"
  answer "4"
  answer "48.5"
  answer "12pt"
  wait_screen "Do you need a seperate printer for reports? (Y/N)"
  answer "nO"
  wait_output "Completed Setup."
  # Each wrong answer asked the question again.
  [ "$(screen_text | grep -c 'Do you need ferrin to manage')" -ge 4 ] || fail "$platform: yes/no question not repeated"
  [ "$(screen_text | grep -c 'enter printer number:')" -ge 3 ] || fail "$platform: printer number not asked again"
  [ "$(screen_text | grep -c 'Enter font point size')" -ge 3 ] || fail "$platform: font size not asked again"
  check_ini "printer 0" printername Receipt
  check_ini "printer 0" filename WLSDFKJN.DRY
  check_ini "printer 0" fontsize 12pt
  check_ini "printer 0" fontname "Courier New"
  # The keys are written in this order.
  order=$(tr -d '\r' < "$RUN_DIR/ferrin.ini" | grep -o '^[a-z]*=' | tr -d '=\n' )
  [ "$order" = printernamefilenamefontsizefontname ] || fail "$platform: keys written in the order $order"
  [ -z "$(ini_get "$RUN_DIR/ferrin.ini" "printer 1" printername)" ] || fail "$platform: printer 1 written after No"

  # The slot 0 watcher, idle since start-up, now prints on the chosen printer
  # at the chosen size: 12 pt Courier New is a cell of 113 dots at 600 dpi on
  # POSIX (13.56 pt a line) and of 57 dots at the 300 dpi of Wine's
  # PostScript driver (13.68 pt a line).
  printf 'First line\r\nSecond line\r\n' > "$RUN_DIR/WLSDFKJN.DRY"
  wait_until 20 "the spool file to be printed" gone "$RUN_DIR/WLSDFKJN.DRY"
  cups_collect Receipt "$WORK/receipt-$platform.pdf"
  pitch=$(awk -v a="$(word_at "$WORK/receipt-$platform.pdf" 1 Second 2)" \
              -v b="$(word_at "$WORK/receipt-$platform.pdf" 1 First 2)" 'BEGIN { print a - b }')
  if [ "$platform" = posix ]; then near "$pitch" 13.56 0.05 "line pitch at 12 pt"; else near "$pitch" 13.68 0.05 "line pitch at 12 pt"; fi

  # Setup again: keep the primary printer (No) and add a report printer.
  send_keys S
  wait_until 20 "second setup" bash -c "[ \$(grep -c 'Beginning printer configuration' '$RUN_DIR/out.txt') = 2 ]"
  answer "n"
  answer "Yes"
  wait_until 20 "second list" bash -c "[ \$(grep -c ':Receipt' '$RUN_DIR/out.txt') -ge 2 ]"
  answer "1"  # the first printer of the list
  answer "10"
  wait_until 20 "second setup to end" bash -c "[ \$(grep -c 'Completed Setup.' '$RUN_DIR/out.txt') = 2 ]"
  check_ini "printer 0" printername Receipt
  check_ini "printer 0" fontsize 12pt
  first=$( [ "$platform" = posix ] && echo "Save as PDF" || echo "Office" )
  check_ini "printer 1" printername "$first"
  check_ini "printer 1" filename WLSDFKJN.DR2
  check_ini "printer 1" fontsize 10
  check_ini "printer 1" fontname "Courier New"
  # A report printer added while ferrin runs has no watcher until the next start.
  printf 'Report\r\n' > "$RUN_DIR/WLSDFKJN.DR2"
  sleep 3
  [ -e "$RUN_DIR/WLSDFKJN.DR2" ] || fail "$platform: slot 1 printed although its watcher was not started"
  rm -f "$RUN_DIR/WLSDFKJN.DR2"

  # A settings file that cannot be written: the user is told, and the file
  # keeps what it had.
  cp "$RUN_DIR/ferrin.ini" "$WORK/before.ini"
  # Immutable, so that not even root (or Wine running as root) can write it.
  chattr +i "$RUN_DIR/ferrin.ini" || fail "chattr +i is needed to make ferrin.ini unwritable for root"
  UNLOCK_INI="$RUN_DIR/ferrin.ini"
  send_keys s
  wait_until 20 "third setup" bash -c "[ \$(grep -c 'Beginning printer configuration' '$RUN_DIR/out.txt') = 3 ]"
  answer "y"
  answer "1"
  answer "20"
  answer "n"
  wait_until 20 "third setup to end" bash -c "[ \$(grep -c 'Completed Setup.' '$RUN_DIR/out.txt') = 3 ]"
  tr -d '\r' < "$RUN_DIR/out.txt" | grep -B1 -x 'Completed Setup.' | tail -2 | head -1 | grep -q 'could not be saved' \
    || fail "$platform: no message before Completed Setup. when ferrin.ini is read-only"
  cmp -s "$WORK/before.ini" "$RUN_DIR/ferrin.ini" || fail "$platform: a read-only ferrin.ini was changed"
  chattr -i "$RUN_DIR/ferrin.ini"

  send_keys x
  rc=$(wait_exit)
  [ "$rc" = 0 ] || fail "$platform: exit code $rc"
done
echo "setup: all checks passed"
