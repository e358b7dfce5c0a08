#!/usr/bin/env bash
# Printouts mailed as PDFs, end to end on both programs (the Windows one under
# Wine), through a real SMTP server on the loopback address (aiosmtpd) that
# asks for STARTTLS with a certificate the test makes, and for a login.
# The report printer mails every printout to two addresses:
#  - the mail arrives with the subject, the addresses and a PDF whose text is
#    the printout's, after the printout printed;
#  - a wrong password is said once with the server's answer, tried once, and
#    both mails held back go in order once ferrin.ini is mended;
#  - the server down, ferrin killed, the server up again: the mail arrives
#    once, after the next start;
#  - a server that drops the line after taking the message: sent again, said
#    that it may arrive twice, with the same Message-ID;
#  - a 100-page report arrives whole;
#  - (Linux) a password in a ferrin.ini others may read is not used, and said;
#  - a mail the server refuses as too big is kept in mail-refused, said once.
source "$(dirname "$0")/lib.sh"
need pdfinfo pdftotext openssl
e2e_begin
make_test_cert "$WORK/cert"
if [[ " $(e2e_platforms) " == *" win32 "* ]]; then
  start_cupsd
  add_pdf_queue Report
fi

SPOOL="$RUN_DIR/WLSDFKJN.DR2"
PASSWORD='s3cret pw'

# ferrin.ini: printer 1 prints on $1 and mails to two addresses through the
# server on port $2, logging in with password $3.
write_mail_ini() {
  printf '[printer 0]\r\nprintername=%s\r\nfilename=WLSDFKJN.DRY\r\n' "$1" > "$RUN_DIR/ferrin.ini"
  printf '[printer 1]\r\nprintername=%s\r\nfilename=WLSDFKJN.DR2\r\nfontname=Courier New\r\nfontsize=10\r\n' "$1" >> "$RUN_DIR/ferrin.ini"
  printf 'mailto=owner@example.com, office@example.com\r\nmailfrom=till@example.com\r\nsmtp=localhost:%s\r\n' "$2" >> "$RUN_DIR/ferrin.ini"
  printf 'smtpuser=shop\r\nsmtppassword=%s\r\nsmtpca=cert.pem\r\n' "$3" >> "$RUN_DIR/ferrin.ini"
  chmod 600 "$RUN_DIR/ferrin.ini"
}

report_printed() { [ "$(cups_completed_count Report)" -ge 1 ]; }

mails_waiting() { { find "$RUN_DIR/mail-waiting" -maxdepth 1 -name '*.prn' 2>/dev/null || true; } | wc -l; }

# The header of message NNN of the server in $SMTP_DIR, unfolded.
header_of() {
  python3 - "$SMTP_DIR/mail-$1.eml" "$2" <<'PY'
import email, email.policy, sys
with open(sys.argv[1], 'rb') as f:
    message = email.message_from_binary_file(f, policy=email.policy.default)
print(str(message[sys.argv[2]] or '').replace('\n', ' '))
PY
}

# Waits for message NNN; checks that its PDF holds the text $2 (lines joined
# by |) and that its subject ends with the first line $3.
expect_mail() {
  local nnn=$1 text=$2 first=$3 subject
  wait_until "${4:-60}" "mail $nnn" test -f "$SMTP_DIR/mail-$nnn.eml"
  mail_pdf "$SMTP_DIR" "$nnn" "$WORK/mail-$nnn.pdf"
  [ -z "$text" ] || [ "$(text_of "$WORK/mail-$nnn.pdf")" = "$text" ] ||
    fail "$PLATFORM: mail $nnn holds '$(text_of "$WORK/mail-$nnn.pdf")', expected '$text'"
  subject=$(header_of "$nnn" Subject)
  [[ "$subject" =~ ^"Printout from printer #1, "[0-9]{4}-[0-9]{2}-[0-9]{2}" "[0-9]{2}:[0-9]{2}:[0-9]{2}": $first"$ ]] ||
    fail "$PLATFORM: mail $nnn has the subject '$subject'"
}

kill_ferrin() {
  if [ "$PLATFORM" = posix ]; then
    pkill -KILL -f "^$FERRIN_POSIX" || fail "no ferrin to kill"
  else
    WINEPREFIX=$WINEPREFIX timeout 20 wineserver -k || true
  fi
  tmux -L "$TMUX_SOCKET" kill-server 2>/dev/null || true
}

restart_smtpd() {
  stop_smtpd "$SMTP_DIR"
  start_smtpd "$SMTP_DIR" --port "$SMTP_PORT" "${SERVER_ARGS[@]}" "$@"
}

run_platform() {
  PLATFORM=$1
  local printer=$2 i
  SMTP_DIR="$WORK/smtp-$PLATFORM"
  SERVER_ARGS=(--starttls "$WORK/cert/cert.pem" "$WORK/cert/key.pem" --user shop --password "$PASSWORD")
  start_smtpd "$SMTP_DIR" "${SERVER_ARGS[@]}"
  rm -rf "$RUN_DIR"/* "$RUN_DIR"/.[!.]*
  cp "$WORK/cert/cert.pem" "$RUN_DIR/cert.pem"
  write_mail_ini "$printer" "$SMTP_PORT" "$PASSWORD"
  start_ferrin "$PLATFORM"
  wait_started

  echo "-- $PLATFORM: the end-of-day report, printed and mailed"
  printf 'End of day 2026-12-10\r\nCash 1234.50\f\r\nCards 99.00\r\n' > "$SPOOL"
  expect_mail 001 "End of day 2026-12-10|Cash 1234.50|Cards 99.00|" "End of day 2026-12-10"
  [ "$(header_of 001 To)" = "owner@example.com, office@example.com" ] || fail "$PLATFORM: To: $(header_of 001 To)"
  [ "$(header_of 001 From)" = "till@example.com" ] || fail "$PLATFORM: From: $(header_of 001 From)"
  [ "$(pages_of "$WORK/mail-001.pdf")" = 2 ] || fail "$PLATFORM: the mailed PDF has $(pages_of "$WORK/mail-001.pdf") pages, expected 2"
  [ "$(cut -f3,4 "$SMTP_DIR/received.log" | head -n 1)" = "till@example.com	owner@example.com,office@example.com" ] ||
    fail "$PLATFORM: the envelope was $(cut -f3,4 "$SMTP_DIR/received.log" | head -n 1)"
  wait_output "Printer #1: the printout of " 10
  output_has "was mailed to owner@example.com, office@example.com." || fail "$PLATFORM: the mail was not said"
  if [ "$PLATFORM" = posix ]; then
    [ "$(pdf_count)" = 1 ] || fail "posix: the report was not printed (Save as PDF has $(pdf_count) PDFs)"
  else
    wait_until 60 "the report on paper" report_printed
  fi

  echo "-- $PLATFORM: a wrong password, said once, mended"
  sed -i "s/^smtppassword=.*/smtppassword=wrong\r/" "$RUN_DIR/ferrin.ini"
  sleep 3
  printf 'Wrong password one\r\n' > "$SPOOL"
  wait_output "refused the login of shop (535 5.7.8 Authentication credentials invalid)" 30
  wait_until 20 "the first held mail to be taken" gone "$SPOOL"
  printf 'Wrong password two\r\n' > "$SPOOL"
  wait_until 20 "the second held mail to be queued" count_is mails_waiting 2
  sleep 4
  [ "$(count_output "refused the login of shop")" = 1 ] || fail "$PLATFORM: the refused login was said $(count_output "refused the login of shop") times"
  [ "$(grep -c refused "$SMTP_DIR/auth-attempts")" = 1 ] || fail "$PLATFORM: the wrong password was tried $(grep -c refused "$SMTP_DIR/auth-attempts") times"
  [ "$(mail_count "$SMTP_DIR")" = 1 ] || fail "$PLATFORM: a mail went with a refused login"
  sed -i "s/^smtppassword=.*/smtppassword=$PASSWORD\r/" "$RUN_DIR/ferrin.ini"
  expect_mail 002 "Wrong password one|" "Wrong password one" 30
  expect_mail 003 "Wrong password two|" "Wrong password two" 30

  echo "-- $PLATFORM: the server down, ferrin killed, both back"
  stop_smtpd "$SMTP_DIR"
  printf 'While the server is down\r\n' > "$SPOOL"
  wait_output "could not take the mail of the printout of" 30
  [ "$(mails_waiting)" = 1 ] || fail "$PLATFORM: $(mails_waiting) mails wait, expected 1"
  kill_ferrin
  start_smtpd "$SMTP_DIR" --port "$SMTP_PORT" "${SERVER_ARGS[@]}"
  start_ferrin "$PLATFORM"
  wait_started
  expect_mail 004 "While the server is down|" "While the server is down"
  sleep 3
  [ "$(mail_count "$SMTP_DIR")" = 4 ] && [ "$(mails_waiting)" = 0 ] || fail "$PLATFORM: the waiting mail was not sent exactly once"
  ! output_has "may arrive twice" || fail "$PLATFORM: a mail never handed over was said to maybe arrive twice"

  echo "-- $PLATFORM: the line dropped after the message: sent again, maybe twice"
  restart_smtpd --fail-data-once
  printf 'Answer lost\r\n' > "$SPOOL"
  wait_output "may arrive twice" 60
  expect_mail 005 "Answer lost|" "Answer lost"
  [ "$(cut -f2 "$SMTP_DIR/dropped.log")" = "$(sed -n 5p "$SMTP_DIR/received.log" | cut -f2)" ] ||
    fail "$PLATFORM: the mail sent again has another Message-ID than the one dropped"

  echo "-- $PLATFORM: a report of 100 pages"
  for page in $(seq 1 100); do
    for line in $(seq 1 40); do printf 'Page %03d line %02d of the monthly report\r\n' "$page" "$line"; done
    [ "$page" = 100 ] || printf '\f'
  done > "$WORK/report"
  mv "$WORK/report" "$SPOOL"
  expect_mail 006 "" "Page 001 line 01 of the monthly report" 180
  [ "$(pages_of "$WORK/mail-006.pdf")" = 100 ] || fail "$PLATFORM: the mailed report has $(pages_of "$WORK/mail-006.pdf") pages"
  [ "$(lines_in "$WORK/mail-006.pdf" 'of the monthly report')" = 4000 ] || fail "$PLATFORM: the mailed report lost lines"
  [ "$(page_text "$WORK/mail-006.pdf" 100 | tail -n 1 | sed 's/^ *//')" = "Page 100 line 40 of the monthly report" ] ||
    fail "$PLATFORM: the report's last page is not whole"

  if [ "$PLATFORM" = posix ]; then
    echo "-- posix: a password in a ferrin.ini others may read"
    chmod 644 "$RUN_DIR/ferrin.ini"
    printf 'Readable settings\r\n' > "$SPOOL"
    wait_output "ferrin.ini may be read by other users, so ferrin does not use the smtppassword in it" 30
    sleep 3
    [ "$(mail_count "$SMTP_DIR")" = 6 ] || fail "posix: a mail went with the password of a readable ferrin.ini"
    chmod 600 "$RUN_DIR/ferrin.ini"
    expect_mail 007 "Readable settings|" "Readable settings" 30
  fi

  echo "-- $PLATFORM: too big for the server"
  restart_smtpd --max-size 2000
  local before
  before=$(mail_count "$SMTP_DIR")
  printf 'Too big to mail\r\n' > "$SPOOL"
  wait_output "as too big (552 5.3.4 Message too big for system)" 60
  refused=$(find "$RUN_DIR/mail-refused" -name '*.pdf' | head -n 1)
  [ -n "$refused" ] && [ "$(text_of "$refused")" = "Too big to mail|" ] || fail "$PLATFORM: the refused mail's PDF was not kept"
  sleep 2
  [ "$(mails_waiting)" = 0 ] && [ "$(mail_count "$SMTP_DIR")" = "$before" ] || fail "$PLATFORM: the mail refused as too big still waits"
  [ "$(count_output "as too big")" = 1 ] || fail "$PLATFORM: the refusal was said $(count_output "as too big") times"

  send_keys X
  [ "$(wait_exit 30)" = 0 ] || fail "$PLATFORM: ferrin did not end with 0"
  [ -z "$(find "$RUN_DIR/mail-waiting" -name '.*' 2>/dev/null)" ] || fail "$PLATFORM: scratch files were left in mail-waiting"
  stop_smtpd "$SMTP_DIR"
}

for platform in $(e2e_platforms); do
  case $platform in
    posix) run_platform posix "Save as PDF" ;;
    win32) run_platform win32 Report ;;
  esac
done
echo "PASS"
