#!/usr/bin/env bash
# More than two printers, on both platforms: sections "printer 2" to
# "printer 7" of ferrin.ini are served from the start when they name a
# printer, each with its own spool file and keys; a section without a printer
# starts no watcher. Slot 0 prints on a CUPS queue, slot 1 is not set up,
# slot 3 has no printer, slot 5 prints plain text on a queue of its
# own and slot 7 prints with controls=strip.
source "$(dirname "$0")/lib.sh"
need pdftotext
e2e_begin
start_cupsd
add_pdf_queue Receipt
add_pdf_queue Kitchen
add_pdf_queue Labels

for platform in $(e2e_platforms); do
  echo "== $platform"
  rm -f "$RUN_DIR"/*.TXT "$RUN_DIR/ferrin.ini"
  {
    printf '[printer 0]\r\nprintername=Receipt\r\nfilename=WLSDFKJN.DRY\r\nfontname=Courier New\r\nfontsize=10\r\n'
    printf '[printer 3]\r\nfilename=NOBODY.TXT\r\n'
    printf '[printer 5]\r\nprintername=Kitchen\r\nfilename=KITCHEN.TXT\r\nfontsize=12\r\n'
    printf '[printer 7]\r\nprintername=Labels\r\nfilename=LABELS.TXT\r\nfontsize=10\r\ncontrols=strip\r\n'
  } > "$RUN_DIR/ferrin.ini"
  start_ferrin "$platform"
  wait_started
  wait_output "Starting thread for printer #7" 30
  for slot in 0 5 7; do
    [ "$(count_output "Starting thread for printer #$slot")" = 1 ] || fail "$platform: no watcher for printer #$slot"
  done
  for slot in 1 2 3 4 6; do
    [ "$(count_output "Starting thread for printer #$slot")" = 0 ] || fail "$platform: a watcher for printer #$slot, which has no printer"
  done

  printf 'Table 4\r\n2 x Soup\r\n' > "$RUN_DIR/KITCHEN.TXT"
  printf 'NOT PRINTED\r\n' > "$RUN_DIR/NOBODY.TXT"
  wait_until 30 "the kitchen ticket to print" gone "$RUN_DIR/KITCHEN.TXT"
  cups_collect Kitchen "$WORK/kitchen-$platform.pdf"
  [ "$(text_of "$WORK/kitchen-$platform.pdf")" = "Table 4|2 x Soup|" ] ||
    fail "$platform: the kitchen ticket printed '$(text_of "$WORK/kitchen-$platform.pdf")'"

  printf '\033@\033E\001Parcel 17\033F\r\n' > "$RUN_DIR/LABELS.TXT"
  wait_until 30 "the label to print" gone "$RUN_DIR/LABELS.TXT"
  cups_collect Labels "$WORK/labels-$platform.pdf"
  [ "$(text_of "$WORK/labels-$platform.pdf")" = "Parcel 17|" ] ||
    fail "$platform: the label printed '$(text_of "$WORK/labels-$platform.pdf")' (controls=strip of slot 7)"

  [ -f "$RUN_DIR/NOBODY.TXT" ] || fail "$platform: the spool file of a slot without a printer was taken"
  [ "$(cups_completed_count Receipt)" = 0 ] || fail "$platform: something printed on the receipt printer"
  send_keys x
  [ "$(wait_exit)" = 0 ] || fail "$platform: ferrin did not end with 0"
done
echo "slots: all checks passed"
