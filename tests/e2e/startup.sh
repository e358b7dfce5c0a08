#!/usr/bin/env bash
# Start-up and key loop on both platforms: the banner and prompt lines on
# standard output byte for byte, X and x end with code 0, Ctrl+C, other
# letters and arrow keys do not. A first start without ferrin.ini says once
# how to set a printer up.
source "$(dirname "$0")/lib.sh"
e2e_begin

expected_output() {
  printf '%s\r\n' \
    "Welcome to ferrin 5" \
    "Ferrin is the Halverdon utility, which can be used to print from DOS" \
    "applications that do not support windows printers." \
    "It is made above all for the Tillwright POS point-of-sale system," \
    "which you can get from www.tillwright.example.com, where the" \
    "Tillwright forums also offer help with ferrin and its printers." \
    "Ferrin $(sed -n 's/^project(ferrin VERSION \([0-9.]*\) .*/\1/p' "$FERRIN_SOURCE/CMakeLists.txt") is made by Halverdon Software Works, 2026." \
    "Running in directory: $1" \
    "Starting ferrin..." \
    "Press X to exit the application or S to change settings."
}

NOT_SET_UP="Printer #0: no printer is set up yet, so nothing is printed. Press S to choose one."
[ ! -e "$RUN_DIR/ferrin.ini" ] || fail "the start-up test needs a folder without ferrin.ini"

for platform in $(e2e_platforms); do
  echo "== $platform"
  if [ "$platform" = win32 ]; then dir="Z:${RUN_DIR//\//\\}"; else dir="$RUN_DIR"; fi

  # Keys that must not end ferrin, then x.
  start_ferrin "$platform"
  wait_started
  send_keys a q Up Down Left F1 Home Escape Enter
  sleep 0.3
  send_keys C-c
  sleep 0.5
  send_keys C-c
  sleep 1
  ferrin_running || fail "$platform: ferrin ended on a key other than X"
  wait_output "$NOT_SET_UP"
  send_keys x
  rc=$(wait_exit)
  [ "$rc" = 0 ] || fail "$platform: exit code $rc after x, expected 0"
  # Lines written after start-up (the watcher's start line) may follow.
  expected_output "$dir" > "$WORK/expected.txt"
  head -c "$(stat -c %s "$WORK/expected.txt")" "$RUN_DIR/out.txt" > "$WORK/head.txt"
  cmp -s "$WORK/expected.txt" "$WORK/head.txt" || {
    diff <(cat -A "$WORK/expected.txt") <(cat -A "$RUN_DIR/out.txt") >&2 || true
    fail "$platform: standard output differs from the banner"
  }
  [ "$(count_output "$NOT_SET_UP")" = 1 ] || fail "$platform: how to set a printer up was said $(count_output "$NOT_SET_UP") times"
  tr -d '\r' < "$RUN_DIR/out.txt" | grep -A1 -x 'Starting thread for printer #0' | tail -1 | grep -qxF "$NOT_SET_UP" ||
    fail "$platform: how to set a printer up does not follow the watcher's start line"

  # Capital X ends it too.
  start_ferrin "$platform"
  wait_started
  send_keys X
  rc=$(wait_exit)
  [ "$rc" = 0 ] || fail "$platform: exit code $rc after X, expected 0"
done
echo "startup: all checks passed"
