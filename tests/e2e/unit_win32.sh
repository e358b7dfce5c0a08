#!/usr/bin/env bash
# The unit tests built for Windows (ferrin_unit_tests.exe, every unit test
# file but those that need POSIX itself) run under Wine, in a prefix of their
# own and without a display: the logic above the seams once more on the
# Windows side of them, and the Windows file layer's failure paths through
# its table of system calls. The program is the one of the Windows build
# this machine's Wine runs (lib.sh): the 32-bit build under 32-bit Wine, or
# the 64-bit build under 64-bit Wine where no 32-bit programs run.
# FERRIN_WIN32_UNIT_TESTS names another program; GTEST_FILTER, if set, is
# passed on (Wine hands the environment to the program).
source "$(dirname "$0")/lib.sh"
e2e_begin
program=${FERRIN_WIN32_UNIT_TESTS:-$(dirname "$FERRIN_WIN32")/ferrin_unit_tests.exe}
wine_can_run "$program"
wine_prefix

cd "$RUN_DIR"
started=$SECONDS
rc=0
env -u DISPLAY CUPS_SERVER=/nonexistent/cups.sock timeout 300 "$FERRIN_WINE" "$program" > unit.txt 2>&1 || rc=$?
tr -d '\r' < unit.txt > unit-lf.txt
echo "the $FERRIN_WINE_BITS-bit unit tests took $((SECONDS - started)) s under Wine"
ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' unit-lf.txt | tail -n 1)
if [ "$rc" != 0 ] || [ -z "$ran" ] || ! grep -q '^\[  PASSED  \]' unit-lf.txt || grep -q '^\[  FAILED  \]' unit-lf.txt; then
  cat unit-lf.txt >&2
  [ "$rc" != 124 ] || fail "$program did not end within 300 s under Wine"
  fail "the Windows unit tests failed under Wine (exit code $rc)"
fi
[ "$ran" -gt 0 ] || fail "$program ran no tests"
grep -E '^\[(==========|  PASSED  )\]' unit-lf.txt
echo "PASS: $ran Windows unit tests under $FERRIN_WINE_BITS-bit Wine"
