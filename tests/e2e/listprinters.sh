#!/usr/bin/env bash
# "-LISTPRINTERS": listed when the switch stands at position 1 or 2 of the
# upper-cased command line (after the program name and its blanks), not
# elsewhere; start-up goes on either way.
source "$(dirname "$0")/lib.sh"
e2e_begin
start_cupsd
add_pdf_queue Receipt
add_pdf_queue Office

# The list a platform shows for the two queues.
expected_list() {
  case $1 in
    posix) printf '%s\r\n' "1:Save as PDF" "2:Office" "3:Receipt" ;;
    win32) printf '%s\r\n' "1:Office" "2:Receipt" ;;
  esac
}

check() {
  local platform=$1 expect=$2
  shift 2
  start_ferrin "$platform" "$@"
  wait_started
  if [ "$expect" = listed ]; then
    diff <(expected_list "$platform") <(listed_printers) >&2 || fail "$platform $*: printer list differs"
  else
    [ -z "$(listed_printers)" ] || fail "$platform $*: listed printers, expected none"
  fi
  send_keys x
  rc=$(wait_exit)
  [ "$rc" = 0 ] || fail "$platform $*: exit code $rc"
}

for platform in $(e2e_platforms); do
  echo "== $platform"
  check "$platform" listed -LISTPRINTERS
  check "$platform" listed -listprinters
  check "$platform" listed /-LISTPRINTERS
  check "$platform" none abc -LISTPRINTERS
  check "$platform" none ab-LISTPRINTERS
  check "$platform" none
  if [ "$platform" = posix ]; then
    check "$platform" listed "   -ListPrinters"
  fi
done
echo "listprinters: all checks passed"
