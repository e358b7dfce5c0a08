#!/usr/bin/env bash
# A spool file written slowly, in pieces with pauses longer than a watcher's
# cycle, by a writer that keeps it open throughout (the POSIX writer on
# POSIX, a Windows writer under Wine), on both platforms: every change of it
# is announced and wakes its watcher, yet it is never taken while its writer
# has it open (no hand-over record, no printout, still under its name), and
# once closed it is printed once and whole.
source "$(dirname "$0")/lib.sh"
need pdftotext
e2e_begin
start_cupsd
add_pdf_queue Receipt

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
lines=(Alpha Bravo Charlie Delta Echo Foxtrot)
last=${lines[${#lines[@]} - 1]}

# True when ferrin has begun to hand a printout over: a record of it.
handover_noted() { [ -n "$(find "$RUN_DIR/.handover" -type f ! -name '*.new' 2>/dev/null)" ]; }

for platform in $(e2e_platforms); do
  echo "== $platform"
  rm -rf "$RUN_DIR/.handover"
  write_ini Receipt
  start_ferrin "$platform"
  wait_started
  wait_output "Starting thread for printer #0"
  if [ "$platform" = win32 ]; then
    writer=$(dirname "$FERRIN_WIN32")/spoolwriter.exe
    wine_can_run "$writer"
    run_writer() { (cd "$RUN_DIR" && wine_run "$writer" "$@"); }
  else
    writer=$(dirname "$FERRIN_POSIX")/spoolwriter
    [ -x "$writer" ] || fail "$writer is missing: build the posix preset"
    run_writer() { (cd "$RUN_DIR" && "$writer" "$@"); }
  fi
  before=$(cups_job_count Receipt)
  run_writer WLSDFKJN.DRY 400 "${lines[@]}" > "$WORK/writer-$platform.txt" 2>&1 &
  writer_pid=$!

  # Until the last piece is in the file its writer still has it open (the
  # close comes after the last write): each look checks, in this order, that
  # nothing of it was handed over and that it is still there under its name.
  # A file gone from its name ends the looks; what was printed then tells.
  looks=0
  while kill -0 "$writer_pid" 2>/dev/null; do
    noted=no
    handover_noted && noted=yes
    jobs_now=$(cups_job_count Receipt)
    content=$(cat "$SPOOL" 2>/dev/null || true)
    if [ -z "$content" ]; then
      [ "$looks" = 0 ] || break
    else
      grep -q "$last" <<< "$content" && break
      looks=$((looks + 1))
      [ "$noted" = no ] ||
        fail "$platform: the file was taken while its writer still wrote it (it held: $(tr -d '\r' <<< "$content" | tr '\n' ' '))"
      [ "$jobs_now" = "$before" ] || fail "$platform: a job was made while the writer still wrote the file"
    fi
    sleep 0.05
  done
  wait "$writer_pid" || fail "$platform: the writer failed: $(cat "$WORK/writer-$platform.txt")"
  # The writer's pauses add up to 2 s, all of which must have been looked at.
  [ "$looks" -ge 10 ] ||
    fail "$platform: the file was looked at only $looks times while it was written (taken from under its writer, or the machine too busy)"

  wait_until 20 "the slowly written file to be printed" gone
  cups_collect Receipt "$WORK/slow-$platform.pdf"
  [ "$(cups_job_count Receipt)" = $((before + 1)) ] ||
    fail "$platform: the slowly written file gave $(( $(cups_job_count Receipt) - before )) jobs"
  expected=$(printf '%s|' "${lines[@]}")
  [ "$(text_of "$WORK/slow-$platform.pdf")" = "$expected" ] ||
    fail "$platform: the slowly written file printed '$(text_of "$WORK/slow-$platform.pdf")', not '$expected'"

  send_keys x
  [ "$(wait_exit)" = 0 ] || fail "$platform: ferrin did not end with 0"
done
echo "pickup: all checks passed"
