#!/usr/bin/env bash
# Tells whether this machine runs 32-bit x86 programs: exit 0 if it does, 1 if
# its kernel refuses them ("Exec format error": IA-32 emulation is off), 2 if
# the check itself could not be made. It runs a 93-byte 32-bit Linux program
# that only exits, so it needs nothing installed.
set -u
dir=$(mktemp -d) || exit 2
trap 'rm -rf "$dir"' EXIT
# ELF header, one loadable segment at 0x08048000, and the code at 0x08048054:
# xor ebx, ebx; mov eax, 1 (exit); int 0x80.
printf '%b' \
  '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
  '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
  '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
  '\x00\x00\x00\x00' \
  '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
  '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
  '\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' > "$dir/exit32" || exit 2
chmod +x "$dir/exit32" || exit 2
if out=$(LC_ALL=C "$dir/exit32" 2>&1); then exit 0; fi
case $out in
  *"Exec format error"*) exit 1 ;;
  *) echo "runs-32bit: could not run the 32-bit test program: $out" >&2; exit 2 ;;
esac
