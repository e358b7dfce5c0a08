#!/usr/bin/env bash
# The window in which a Windows printout cut off by a crash can still print
# twice: from the moment the end of its document returns (EndDoc handed it to
# the spooler) to the moment its record says so (the note written, flushed
# and renamed into place). The Windows build runs under Wine on a private
# CUPS queue; BENCH_FILES (50) receipts of 30 lines are dropped one after
# another. A debugger attached to the Wine process notes the time at three
# places of the program's own code, without stopping it for longer than its
# notes take:
#  - just after the call of deviceEndDoc returns (in endDocument);
#  - the next instruction: the time from the first is what the debugger
#    itself adds to each interval, and is taken off;
#  - just after the call of noteHandOverEnded returns (in handOverOpenFile).
#
# Usage: scripts/bench-window-win32.sh
set -euo pipefail
source "$(dirname "$0")/../tests/e2e/lib.sh"
need gdb python3
wine_can_run "$FERRIN_WIN32"
e2e_begin
start_cupsd
add_pdf_queue Receipt
wine_private_prefix
write_ini Receipt
files=${BENCH_FILES:-50}
SPOOL="$RUN_DIR/WLSDFKJN.DRY"

{
  printf 'RECEIPT %s\r\n' '0001'
  for i in $(seq 1 27); do printf 'Item %02d                      %3d.%02d\r\n' "$i" $((i * 3)) $((i % 100)); done
  printf 'TOTAL                        999.99\r\n'
} > "$WORK/receipt"

cat > "$WORK/window.py" <<'PYTHON'
import re
import time

import gdb


def after_calls(function, callee):
    """For each call of callee in function: the address of the instruction
    after it, and of the one after that. (The program keeps no line tables,
    only its symbols: the function's code is read from its symbol on, as far
    as the symbol goes.)"""
    found = re.search(r"^(0x[0-9a-f]+)\s", gdb.execute("info functions %s" % function, to_string=True), re.M)
    if not found:
        raise gdb.GdbError("no function %s" % function)
    code = []
    for line in gdb.execute("disassemble %s,+8192" % found.group(1), to_string=True).splitlines():
        m = re.match(r"\s*(?:=>\s*)?(0x[0-9a-f]+) <([^+>]+)", line)
        if m:
            code.append((int(m.group(1), 16), m.group(2), line))
    code = [c for c in code if c[1] == code[0][1]]
    calls = [(code[i + 1][0], code[i + 2][0]) for i, c in enumerate(code[:-2]) if "call" in c[2] and callee in c[2]]
    if not calls:
        raise gdb.GdbError("no call of %s in %s" % (callee, function))
    return calls


class Mark(gdb.Breakpoint):
    def __init__(self, address, tag):
        super().__init__("*0x%x" % address, internal=True)
        self.tag = tag

    def stop(self):
        print("MARK %s %.7f" % (self.tag, time.monotonic()), flush=True)
        return False


for ended, following in after_calls("endDocument", "deviceEndDoc"):
    Mark(ended, "ended")
    Mark(following, "next")
for noted, _ in after_calls("handOverOpenFile", "noteHandOverEnded"):
    Mark(noted, "noted")
print("MARKS SET", flush=True)
PYTHON

start_ferrin win32
wait_output "Starting thread for printer #0"
gdb -q -batch -p "$(ferrin_pid)" -ex "set pagination off" -ex "set confirm off" \
  -ex "handle all nostop noprint pass" -ex "add-symbol-file $FERRIN_WIN32" \
  -ex "source $WORK/window.py" -ex continue > "$WORK/gdb.log" 2>&1 &
gdb_pid=$!
wait_until 60 "the debugger to set its marks" grep -q "^MARKS SET" "$WORK/gdb.log"

for i in $(seq 1 "$files"); do
  cp "$WORK/receipt" "$SPOOL"
  wait_until 20 "receipt $i to be printed" gone
  sleep 0.3
done
wait_until 20 "the last marks" test "$(grep -c '^MARK noted' "$WORK/gdb.log")" -ge "$files"
send_keys x
wait_exit 30 > /dev/null
wait "$gdb_pid" || true

python3 - "$WORK/gdb.log" <<'PYTHON'
import statistics
import sys

marks = [line.split() for line in open(sys.argv[1]) if line.startswith("MARK ")]
windows, costs = [], []
for i in range(len(marks) - 2):
    if [m[1] for m in marks[i:i + 3]] == ["ended", "next", "noted"]:
        ended, following, noted = (float(m[2]) for m in marks[i:i + 3])
        # From one mark to the next costs the debugger a resume and a stop,
        # as from "ended" to "next", one instruction apart, shows.
        costs.append(following - ended)
        windows.append(noted - following - (following - ended))
if not windows:
    sys.exit("FAIL: no window was measured")
windows.sort()
ms = lambda s: "%.2f ms" % (s * 1000)
print("printouts: %d" % len(windows))
print("window, from the end of the document to its synced note: median %s, 95th percentile %s, longest %s"
      % (ms(statistics.median(windows)), ms(windows[int(0.95 * (len(windows) - 1))]), ms(windows[-1])))
print("what the debugger adds to each (taken off): median %s" % ms(statistics.median(costs)))
PYTHON
