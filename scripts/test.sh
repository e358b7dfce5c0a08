#!/usr/bin/env bash
# Installs what is needed, builds both targets and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake --preset posix -DFERRIN_TESTS=ON
cmake --build --preset posix
cmake --preset win32
cmake --build --preset win32
# The Debian package and the Windows zip, which tests/e2e/package.sh installs
# and runs.
bash scripts/package.sh

# Sanitizers, fuzzing and static analysis first, so that the run closes with
# the test runner's summary.
bash scripts/hardening.sh
ctest --preset posix
