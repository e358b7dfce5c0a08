#!/usr/bin/env bash
# Installs what is needed, builds both targets and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake --preset posix -DFERRIN_TESTS=ON
cmake --build --preset posix
# The Windows builds make ferrin.exe and the unit tests for Windows, which
# e2e_unit_win32 runs under Wine.
cmake --preset win32
cmake --build --preset win32
# The Windows end-to-end tests run the shipped 32-bit program under 32-bit
# Wine; a machine that runs no 32-bit programs tests a 64-bit build of the
# same sources under 64-bit Wine instead (that build is never shipped).
bits_rc=0
bash scripts/runs-32bit.sh || bits_rc=$?
case $bits_rc in
  0) export FERRIN_WINE_BITS=32
     windows_tests="Windows tests: the 32-bit build under 32-bit Wine" ;;
  1) export FERRIN_WINE_BITS=64
     windows_tests="Windows tests: the 64-bit build under 64-bit Wine, since this machine runs no 32-bit programs"
     cmake --preset win64
     cmake --build --preset win64 ;;
  *) echo "cannot tell whether this machine runs 32-bit programs" >&2; exit 1 ;;
esac
# The Debian package and the Windows zip, which tests/e2e/package.sh installs
# and runs.
bash scripts/package.sh

# Sanitizers, fuzzing and static analysis first, so that the run closes with
# the test runner's summary.
bash scripts/hardening.sh
echo "$windows_tests"
ctest --preset posix
