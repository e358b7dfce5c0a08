#!/usr/bin/env bash
# ferrin.ini rewritten a thousand times by another process while twenty
# spool files are printed one after another on the POSIX build: most
# rewrites replace the file at once with a rename, every third one rewrites
# it in place. The content always names the same printer. No crash, and
# every spool file printed exactly once, in order.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext
e2e_begin

SPOOL="$RUN_DIR/WLSDFKJN.DRY"
INI="$RUN_DIR/ferrin.ini"
REWRITES=1000
JOBS=20

# Valid settings that always name "Save as PDF"; the counter in a comment
# line and the order of the keys change from one rewrite to the next.
ini_content() {
  if [ $(($1 % 2)) = 0 ]; then
    printf '; rewrite %d\r\n[printer 0]\r\nprintername=Save as PDF\r\nfilename=WLSDFKJN.DRY\r\nfontname=Courier New\r\nfontsize=10\r\n' "$1"
  else
    printf '[printer 0]\r\nfontsize=10\r\nfontname=Courier New\r\n; rewrite %d\r\nfilename=WLSDFKJN.DRY\r\nprintername=Save as PDF\r\n' "$1"
  fi
}

ini_content 0 > "$INI"
start_ferrin posix
wait_started
wait_output "Starting thread for printer #0"

# The rewriter: at least $REWRITES rewrites, and on until the jobs are done.
(
  i=0
  while [ $i -lt $REWRITES ] || [ ! -e "$WORK/stop" ]; do
    i=$((i + 1))
    if [ $((i % 3)) = 0 ]; then
      ini_content $i > "$INI"
    else
      ini_content $i > "$INI.new"
      mv -f "$INI.new" "$INI"
    fi
    sleep 0.01
  done
  echo $i > "$WORK/rewrites"
) &
REWRITER=$!

started=$SECONDS
for n in $(seq 1 $JOBS); do
  # As a DOS program: the next printout once the last one is gone.
  wait_until 30 "ticket $((n - 1)) to be printed" gone
  printf 'Ticket %02d\r\nTotal %d.00\r\n' "$n" "$n" > "$SPOOL"
done
wait_until 30 "the last ticket to be printed" gone
touch "$WORK/stop"
wait "$REWRITER"
rewrites=$(cat "$WORK/rewrites")
echo "$JOBS tickets printed in $((SECONDS - started)) s while ferrin.ini was rewritten $rewrites times"
[ "$rewrites" -ge $REWRITES ] || fail "only $rewrites rewrites were made"
sleep 1
ferrin_running || fail "ferrin ended while its settings were rewritten"

[ "$(pdfs | wc -l)" = $JOBS ] || fail "$JOBS tickets gave $(pdfs | wc -l) printouts"
n=0
for pdf in $(pdfs); do
  n=$((n + 1))
  [ "$(text_of "$pdf")" = "$(printf 'Ticket %02d|Total %d.00|' $n $n)" ] || fail "printout $n is '$(text_of "$pdf")'"
done
echo "messages while rewriting: $(grep -c 'Could not' "$RUN_DIR/out.txt" || true)"

send_keys x
[ "$(wait_exit)" = 0 ] || fail "ferrin did not end with 0"
echo "faults_ini: all checks passed"
