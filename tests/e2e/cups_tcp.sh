#!/usr/bin/env bash
# A CUPS scheduler on another machine, as a shop's print server: a private
# scheduler that listens only on a TCP port of the loopback address (never any
# other address), named to ferrin by CUPS_SERVER=127.0.0.1:PORT. ferrin lists
# its queues and prints a spool file through it; the job's PDF holds the text.
source "$(dirname "$0")/lib.sh"
e2e_begin
need cupsd lpadmin lpstat pdftotext python3

# A free port on 127.0.0.1, as the kernel hands one out.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Another program may take the port between our look and cupsd's bind: the
# scheduler then ends at once, and another port is tried.
for try in 1 2 3; do
  launch_cupsd "127.0.0.1:$(free_port)"
  end=$((SECONDS + 20))
  while ! cups_running && kill -0 "$CUPSD_PID" 2>/dev/null && [ $SECONDS -lt $end ]; do sleep 0.1; done
  cups_running && break
  stop_cupsd
  [ "$try" -lt 3 ] || fail "the CUPS scheduler did not start on a loopback TCP port"
done
echo "scheduler on $CUPS_SERVER"
cups_let_filters_in
add_pdf_queue Receipt
[ ! -e "$CUPS_DIR/cups.sock" ] || fail "the scheduler has a socket file: the test must go through TCP"

printf '[printer 0]\r\nprintername=Receipt\r\nfilename=WLSDFKJN.DRY\r\nfontsize=10\r\nfontname=Courier New\r\n' \
  > "$RUN_DIR/ferrin.ini"
# start_ferrin hands CUPS_SERVER (host:port) to ferrin.
start_ferrin posix -LISTPRINTERS
wait_started
output_has "2:Receipt" || fail "the queue on $CUPS_SERVER was not listed"
printf 'Receipt over TCP\r\nTotal  12.50\r\n' > "$RUN_DIR/WLSDFKJN.DRY"
wait_until 30 "the spool file to be printed" test ! -e "$RUN_DIR/WLSDFKJN.DRY"
cups_collect Receipt "$WORK/receipt.pdf"
text=$(pdftotext -layout "$WORK/receipt.pdf" -)
grep -q "Receipt over TCP" <<< "$text" || fail "the PDF lacks the printout: $text"
grep -qE "Total +12\.50" <<< "$text" || fail "the PDF lacks the total line: $text"
[ "$(cups_completed_count Receipt)" = 1 ] || fail "expected one job on $CUPS_SERVER, got $(cups_completed_count Receipt)"
send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"
echo "cups_tcp: all checks passed"
