#!/usr/bin/env bash
# The journal end to end, on both platforms: with journal=30 two printouts
# are kept byte for byte with an index line each; key R with Enter prints the
# last one again and "ferrin --reprint 2", run beside the running ferrin,
# prints the one before it again: each exactly once more, through the
# printer's own queue, written down as "reprinted" and with no new copy.
source "$(dirname "$0")/lib.sh"
need pdftotext python3 cmp
e2e_begin

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
JOBS="$WORK/jobs"
start_cupsd
add_listener_queue Till "$JOBS" 900

job_count() { find "$JOBS" -maxdepth 1 -name 'job-*.bin' | wc -l; }
newest_job() { find "$JOBS" -maxdepth 1 -name 'job-*.bin' | sort | tail -n 1; }
wait_jobs() { wait_until 90 "$1 jobs at the printer" bash -c "[ \$(find '$JOBS' -name 'job-*.bin' | wc -l) -ge $1 ]"; }
# The index lines of today (no header) with the given outcome.
outcome_count() { grep -c "	$1	" "$RUN_DIR/journal/$(date +%F)/index.tsv" || true; }

for platform in $(e2e_platforms); do
  echo "-- $platform"
  rm -rf "$RUN_DIR/journal" "$RUN_DIR/waiting"
  write_ini Till
  printf 'journal=30\r\n' >> "$RUN_DIR/ferrin.ini"
  start_ferrin "$platform"
  wait_started
  wait_output "Starting thread for printer #0"
  before=$(job_count)

  # Two receipts with 8-bit bytes and DOS padding.
  printf 'Receipt one\r\nCaf\x82  3.80\r\n\x1a' > "$WORK/one.prn"
  printf 'Receipt two\r\nTotal  12.50\r\n\x1a\x1a' > "$WORK/two.prn"
  for n in one two; do
    cp "$WORK/$n.prn" "$SPOOL.tmp" && mv "$SPOOL.tmp" "$SPOOL"
    wait_until 30 "$platform: receipt $n to be taken" gone
  done
  wait_jobs $((before + 2))
  day=$(date +%F)
  mapfile -t copies < <(find "$RUN_DIR/journal/$day" -name '*.prn' | sort)
  [ "${#copies[@]}" = 2 ] || fail "$platform: ${#copies[@]} copies in the journal, not 2"
  cmp -s "${copies[0]}" "$WORK/one.prn" || fail "$platform: the first copy differs from its printout"
  cmp -s "${copies[1]}" "$WORK/two.prn" || fail "$platform: the second copy differs from its printout"
  [ "$(outcome_count printed)" = 2 ] || fail "$platform: $(outcome_count printed) lines say printed, not 2"
  grep -q "	0	Till	$(stat -c %s "$WORK/two.prn")	1	1	printed	$day/$(basename "${copies[1]}")" "$RUN_DIR/journal/$day/index.tsv" ||
    fail "$platform: no index line for the second receipt: $(cat "$RUN_DIR/journal/$day/index.tsv")"

  # R, Enter: the last printout again.
  send_keys r
  wait_screen "Which printout is to be printed again?"
  screen_has "  1  " && screen_has "printer #0  Receipt two" || fail "$platform: the list lacks the last receipt"
  send_keys Enter
  wait_output "is printed again."
  wait_jobs $((before + 3))
  [ "$(text_of "$(newest_job)")" = "Receipt two|Total 12.50|" ] ||
    fail "$platform: R printed '$(text_of "$(newest_job)")'"

  # From another terminal: number 2 of today's list, the first receipt.
  (cd "$RUN_DIR" && eval "$(ferrin_command "$platform" --reprint 2)" > "$WORK/reprint.txt") ||
    fail "$platform: ferrin --reprint 2 ended with $?: $(cat "$WORK/reprint.txt")"
  grep -q "Printer #0: the printout of .* is printed again." "$WORK/reprint.txt" ||
    fail "$platform: ferrin --reprint said: $(cat "$WORK/reprint.txt")"
  wait_jobs $((before + 4))
  # Byte 0x82 is drawn in each platform's default code page: only its line's end is the same.
  [[ "$(text_of "$(newest_job)")" == "Receipt one|Caf"*" 3.80|" ]] ||
    fail "$platform: --reprint printed '$(text_of "$(newest_job)")'"
  sleep 3
  [ "$(job_count)" = $((before + 4)) ] || fail "$platform: $(( $(job_count) - before )) jobs, not 4"
  [ "$(outcome_count reprinted)" = 2 ] || fail "$platform: $(outcome_count reprinted) lines say reprinted, not 2"
  [ "$(find "$RUN_DIR/journal/$day" -name '*.prn' | wc -l)" = 2 ] || fail "$platform: a reprint made a new copy"
  send_keys x
  [ "$(wait_exit 30)" = 0 ] || fail "$platform: ferrin did not end with 0"
done

# With no journal there is nothing to print again: said, and not 0.
rm -rf "$RUN_DIR/journal"
(cd "$RUN_DIR" && eval "$(ferrin_command posix --reprint)" > "$WORK/none.txt") && fail "--reprint with no journal ended with 0"
grep -q "There is nothing to print again" "$WORK/none.txt" || fail "--reprint with no journal said: $(cat "$WORK/none.txt")"
kill "$LISTENER_PID" 2>/dev/null || true
echo "PASS: journal"
