#!/usr/bin/env bash
# POSIX terminal handling: the terminal's modes come back after every way out,
# and without a controlling terminal ferrin runs headless until SIGTERM or
# SIGINT, which end it with exit code 0.
source "$(dirname "$0")/lib.sh"
e2e_begin
need setsid stty

# Terminal modes before and after ferrin, in the same tmux pane.
ferrin_ready posix
for ending in x TERM; do
  tmux_session "stty -g > before.txt; $(ferrin_command posix) > out.txt; echo \$? > rc.txt; stty -g > after.txt; sleep 600"
  wait_started
  if [ "$ending" = x ]; then
    send_keys x
  else
    kill -TERM "$(ferrin_pid)" || fail "no ferrin process to signal"
  fi
  rc=$(wait_exit)
  [ "$rc" = 0 ] || fail "exit code $rc after $ending"
  wait_until 10 "the modes after exit" test -s "$RUN_DIR/after.txt"
  cmp -s "$RUN_DIR/before.txt" "$RUN_DIR/after.txt" || fail "terminal modes not restored after $ending"
  rm -f "$RUN_DIR"/{before,after,rc,out}.txt
done

# Headless: no controlling terminal, standard input from /dev/null.
cd "$RUN_DIR"
for sig in TERM INT; do
  rm -f out.txt screen.txt
  setsid "$FERRIN_POSIX" < /dev/null > out.txt 2> screen.txt &
  pid=$!
  wait_started
  sleep 1.5
  kill -0 "$pid" 2>/dev/null || fail "headless ferrin ended by itself"
  grep -q "Starting thread for printer #0" out.txt || fail "headless ferrin started no watcher"
  kill "-$sig" "$pid"
  rc=0
  wait "$pid" || rc=$?
  [ "$rc" = 0 ] || fail "headless exit code $rc after SIG$sig"
done
echo "terminal_posix: all checks passed"
