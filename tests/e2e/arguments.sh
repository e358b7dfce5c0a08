#!/usr/bin/env bash
# Command-line arguments on both platforms. --help (and /? on Windows) and
# --version answer on standard output and end with 0 before anything starts:
# no banner, no watcher (a waiting spool file stays unprinted), the terminal's
# modes untouched. -LISTPRINTERS lists and starts as usual; an unknown
# argument is ignored and ferrin starts and prints as usual.
source "$(dirname "$0")/lib.sh"
e2e_begin
start_cupsd
add_pdf_queue Receipt
version=$(sed -n 's/^project(ferrin VERSION \([0-9.]*\) .*/\1/p' "$FERRIN_SOURCE/CMakeLists.txt")
[ -n "$version" ] || fail "no version in CMakeLists.txt"

printf '[printer 0]\r\nprintername=Receipt\r\nfilename=WLSDFKJN.DRY\r\nfontsize=10\r\nfontname=Courier New\r\n' \
  > "$RUN_DIR/ferrin.ini"

# Runs ferrin with an argument that must answer and end at once; $1 is the
# platform, the rest the arguments. Leaves the answer in $RUN_DIR/out.txt.
answer_and_end() {
  local platform=$1
  shift
  start_ferrin "$platform" "$@"
  local rc
  rc=$(wait_exit 30)
  [ "$rc" = 0 ] || fail "$platform $*: exit code $rc"
  ! output_has "Welcome to ferrin" || fail "$platform $*: the banner was shown"
  # Line ends as the platform writes text: CR LF on Windows, LF on POSIX.
  local lines crlf
  lines=$(tr -cd '\n' < "$RUN_DIR/out.txt" | wc -c)
  crlf=$(grep -c $'\r$' "$RUN_DIR/out.txt" || true)
  if [ "$platform" = win32 ]; then
    [ "$crlf" = "$lines" ] || fail "$platform $*: $crlf of $lines lines end in CR LF"
  else
    [ "$crlf" = 0 ] || fail "$platform $*: lines end in CR LF"
  fi
}

check_help() {
  local platform=$1
  shift
  answer_and_end "$platform" "$@"
  local expect
  for expect in "Usage: ferrin [-LISTPRINTERS]" "--version" "-LISTPRINTERS  list the printers" \
                "WLSDFKJN.DRY" "WLSDFKJN.DR2" "S  set up the printers" "X  end ferrin" \
                "Settings are kept in ferrin.ini"; do
    output_has "$expect" || fail "$platform $*: the usage lacks \"$expect\""
  done
  if [ "$platform" = win32 ]; then
    output_has "ferrin --help | /? | --version" || fail "$platform $*: the usage does not name /?"
  fi
}

for platform in $(e2e_platforms); do
  echo "== $platform"
  # A printout waits in the folder all along: only a started watcher prints it.
  printf 'WAITING RECEIPT\r\n' > "$RUN_DIR/WLSDFKJN.DRY"
  jobs_before=$(cups_completed_count Receipt)

  check_help "$platform" --help
  if [ "$platform" = posix ]; then
    # ferrin put the terminal into raw mode if it set up its console: a
    # terminal left raw would not echo or edit lines any more.
    modes=$(stty -F "$(tmux -L "$TMUX_SOCKET" display -p '#{pane_tty}')" -a)
    echo "$modes" | grep -qE '(^| )icanon( |$)' && echo "$modes" | grep -qE '(^| )echo( |$)' \
      || fail "posix --help: the terminal was left in raw mode: $modes"
  fi
  check_help "$platform" --HELP
  if [ "$platform" = win32 ]; then check_help "$platform" '/?'; fi

  answer_and_end "$platform" --version
  [ "$(tr -d '\r' < "$RUN_DIR/out.txt")" = "ferrin $version" ] \
    || fail "$platform --version: $(cat -A "$RUN_DIR/out.txt")"

  sleep 1
  [ -f "$RUN_DIR/WLSDFKJN.DRY" ] || fail "$platform: a watcher printed the spool file after --help or --version"
  [ "$(cups_completed_count Receipt)" = "$jobs_before" ] || fail "$platform: a job reached CUPS after --help or --version"

  # -LISTPRINTERS lists the queues between the directory line and the start.
  start_ferrin "$platform" -LISTPRINTERS
  wait_started
  sed -n '/^Running in directory: /,/^Starting ferrin\.\.\./p' "$RUN_DIR/out.txt" | grep -q ":Receipt"$'\r' \
    || fail "$platform -LISTPRINTERS: the queue Receipt was not listed"
  output_has "Ferrin $version is made by Halverdon Software Works, 2026." || fail "$platform: the banner lacks the version"
  wait_until 30 "$platform -LISTPRINTERS to print the waiting file" test ! -e "$RUN_DIR/WLSDFKJN.DRY"
  cups_collect Receipt "$WORK/$platform-listprinters.pdf"
  send_keys x
  [ "$(wait_exit)" = 0 ] || fail "$platform -LISTPRINTERS: exit code not 0"

  # Unknown arguments (and /? on POSIX) are ignored: a normal start that prints.
  unknown=(--frobnicate)
  if [ "$platform" = posix ]; then unknown+=('/?'); fi
  for i in "${!unknown[@]}"; do
    argument=${unknown[$i]}
    # Text without hyphens: Wine's PostScript turns them into soft hyphens.
    printf 'UNKNOWN ARGUMENT %s\r\n' "$i" > "$RUN_DIR/WLSDFKJN.DRY"
    start_ferrin "$platform" "$argument"
    wait_started
    wait_until 30 "$platform $argument to print" test ! -e "$RUN_DIR/WLSDFKJN.DRY"
    cups_collect Receipt "$WORK/$platform-unknown.pdf"
    pdftotext "$WORK/$platform-unknown.pdf" - | grep -qF "UNKNOWN ARGUMENT $i" \
      || fail "$platform $argument: the printout is not in the PDF"
    send_keys x
    [ "$(wait_exit)" = 0 ] || fail "$platform $argument: exit code not 0"
  done
done
echo "arguments: all checks passed"
