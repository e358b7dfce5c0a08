#!/usr/bin/env bash
# Installs what is needed, builds ferrin and runs it in a demo folder.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset posix
cmake --build --preset posix --target ferrin

demo=${FERRIN_DEMO_DIR:-$PWD/demo}
mkdir -p "$demo"
if [ ! -f "$demo/ferrin.ini" ]; then
  # Slot 0 prints on the built-in PDF printer, into $demo/printed.
  printf '[printer 0]\r\nprintername=Save as PDF\r\nfilename=WLSDFKJN.DRY\r\nfontsize=10\r\nfontname=Courier New\r\n' \
    > "$demo/ferrin.ini"
fi
echo "Demo folder: $demo  (drop a text file named WLSDFKJN.DRY there to print it)"
cd "$demo"
exec "$OLDPWD/build/posix/ferrin"
