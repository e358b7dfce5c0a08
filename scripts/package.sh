#!/usr/bin/env bash
# Builds what a shop installs, into build/packages:
#   ferrin_<version>_amd64.deb   from the POSIX build (Debian 12; the machine's architecture)
#   ferrin-<version>-win32.zip   from the Windows build
# and checks the Debian package with lintian (errors and warnings fail; the
# package's own overrides are in packaging/lintian-overrides).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

out=build/packages
# Both builds as the presets make them; only the program is needed here, and
# an up-to-date build is left as it is.
cmake --preset posix >/dev/null
cmake --build --preset posix --target ferrin
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target ferrin

rm -rf "$out"
mkdir -p "$out"
cpack --config build/posix/CPackConfig.cmake -B "$out"
cpack --config build/win32/CPackConfig.cmake -B "$out"
rm -rf "$out/_CPack_Packages"

version=$(sed -n 's/^project(ferrin VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
deb="$out/ferrin_${version}_$(dpkg --print-architecture).deb"
zip="$out/ferrin-${version}-win32.zip"
[ -f "$deb" ] || { echo "package.sh: $deb was not made" >&2; exit 1; }
[ -f "$zip" ] || { echo "package.sh: $zip was not made" >&2; exit 1; }

lintian --fail-on error,warning "$deb"
echo "Packages: $deb $zip"
