#!/usr/bin/env bash
# mode=raw end to end on both platforms: a receipt printer on the network is
# a loopback listener behind a private CUPS raw queue (socket://, port 9100
# style). The bytes that arrive are exactly the spool file's bytes, NUL, FF
# and Ctrl-Z inside them included, without the Ctrl-Z padding at the end; the
# text is echoed without control codes. With the scheduler down the receipt
# waits, and arrives once and unchanged when it is back (POSIX).
source "$(dirname "$0")/lib.sh"
need python3 cmp
e2e_begin
SPOOL="$RUN_DIR/WLSDFKJN.DRY"
JOBS="$WORK/jobs"
start_cupsd
add_listener_queue Drawer "$JOBS" 600 raw

# A receipt as a point-of-sale program sends it: a logo whose data holds NUL,
# FF, Ctrl-Z and CR LF, the text, the cut and the drawer kick.
{
  printf '\033@\033a\001SHOP\n\035v0\000\002\000\004\000'
  printf '\000\014\032\015\012\377\032\000'
  printf '\033a\000Bread  2.50\n\033E\001TOTAL  2.50\033E\000\n\035VA\003\033p\000\031\372'
} > "$WORK/receipt"
printf '\032\032\032\032' > "$WORK/padding"
jobs_done() { find "$JOBS" -maxdepth 1 -name 'job-*.bin' | sort; }

for platform in $(e2e_platforms); do
  write_ini Drawer
  printf 'mode=raw\r\n' >> "$RUN_DIR/ferrin.ini"
  start_ferrin "$platform"
  wait_started
  wait_output "Starting thread for printer #0"
  before=$(jobs_done | wc -l)
  cat "$WORK/receipt" "$WORK/padding" > "$WORK/next" && mv "$WORK/next" "$SPOOL"
  wait_until 30 "$platform: the receipt to reach the printer" bash -c "[ \$(find '$JOBS' -name 'job-*.bin' | wc -l) -gt $before ]"
  wait_until 10 "$platform: the spool file to be deleted" gone
  cmp "$(jobs_done | tail -n 1)" "$WORK/receipt" || fail "$platform: the printer got other bytes than the receipt's"
  wait_screen "TOTAL  2.50"
  screen_has "SHOP" || fail "$platform: the receipt's text was not echoed"

  if [ "$platform" = posix ]; then
    kill_cupsd TERM
    printf 'Second receipt\n\035VA\003' > "$WORK/second"
    cp "$WORK/second" "$WORK/next" && mv "$WORK/next" "$SPOOL"
    wait_until 20 "the receipt to wait for the scheduler" count_is waiting_count 1
    wait_output 'Printer #0: the printer "Drawer" cannot be reached'
    restart_cupsd
    wait_until 60 "the waiting receipt to reach the printer" bash -c "[ \$(find '$JOBS' -name 'job-*.bin' | wc -l) -gt $((before + 1)) ]"
    wait_until 20 "the queue to be printed" gone
    sleep 2
    [ "$(jobs_done | wc -l)" = $((before + 2)) ] || fail "the waiting receipt reached the printer $(( $(jobs_done | wc -l) - before - 1 )) times"
    cmp "$(jobs_done | tail -n 1)" "$WORK/second" || fail "the waiting receipt arrived changed"
  fi
  send_keys x
  [ "$(wait_exit 30)" = 0 ] || fail "$platform: ferrin did not end with 0"
done
kill "$LISTENER_PID" 2>/dev/null || true
echo "raw: all checks passed"
