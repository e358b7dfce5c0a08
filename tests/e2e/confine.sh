#!/usr/bin/env bash
# Spool files stay in ferrin's folder, on both platforms: a filename in
# ferrin.ini that leads out of the folder (a parent element, an absolute path,
# a drive), a spool file that is a symbolic link to a file elsewhere and a
# folder under the spool file's name are refused, said once, and leave every
# file as it was with nothing printed;
# once the setting is mended, printing goes on. Both slots have the same
# setting each time: on POSIX slot 0 prints on "Save as PDF" and slot 1 on a
# private CUPS queue; on Windows (under Wine) both on CUPS queues.
source "$(dirname "$0")/lib.sh"
need pdftotext
e2e_begin
start_cupsd
add_pdf_queue Receipt
add_pdf_queue Reports

PRINTED="$RUN_DIR/printed"
ELSEWHERE="$WORK/elsewhere"

# Files outside the run folder that a spool file name could reach: one in the
# folder above it, the others in a folder beside it.
make_targets() {
  mkdir -p "$ELSEWHERE"
  printf 'VICTIM above\r\n' > "$WORK/victim.txt"
  local name
  for name in absolute drive linked folder; do printf 'VICTIM %s\r\n' "$name" > "$ELSEWHERE/$name.txt"; done
  TARGETS=("$WORK/victim.txt" "$ELSEWHERE"/*.txt)
  rm -rf "$WORK/originals"
  mkdir -p "$WORK/originals"
  local target
  for target in "${TARGETS[@]}"; do cp -p "$target" "$WORK/originals/$(basename "$target")"; done
}

# Every file outside is still there, a plain file with its content.
targets_untouched() {
  local target
  for target in "${TARGETS[@]}"; do
    [ -f "$target" ] && [ ! -L "$target" ] || fail "$1: $target is gone"
    cmp -s "$target" "$WORK/originals/$(basename "$target")" || fail "$1: $target was changed"
  done
}

# ferrin.ini with the platform's printers and the given spool file name for
# both slots; written aside and moved into place.
write_ini() {
  {
    printf '[printer 0]\r\nprintername=%s\r\nfilename=%s\r\nfontname=Courier New\r\nfontsize=10\r\n' "$PRINTER0" "$1"
    printf '[printer 1]\r\nprintername=Reports\r\nfilename=%s\r\nfontname=Courier New\r\nfontsize=10\r\n' "$2"
  } > "$RUN_DIR/ferrin.ini.new"
  mv "$RUN_DIR/ferrin.ini.new" "$RUN_DIR/ferrin.ini"
}

saved_count() { { find "$PRINTED" -maxdepth 1 -name 'print-*.pdf' 2>/dev/null || true; } | wc -l; }
all_jobs() { lpstat -W all -o 2>/dev/null | wc -l; }
printouts() { echo $(( $(saved_count) + $(all_jobs) )); }
count_output() { grep -cF -- "$1" "$RUN_DIR/out.txt" || true; }
gone() { [ ! -e "$1" ] && [ ! -e "$(dirname "$1")/.$(basename "$1").printing" ]; }

# Sets both slots to a name that leads out of the folder: each slot says so
# once, however many cycles pass, and nothing is printed or touched.
refuse_name() {
  local name=$1 before slot said
  before=$(printouts)
  write_ini "$name" "$name"
  for slot in 0 1; do
    wait_output "Printer #$slot: the filename \"$name\" is refused, since spool files must be in ferrin's folder."
  done
  sleep 1.5
  for slot in 0 1; do
    said="Printer #$slot: the filename \"$name\" is refused"
    [ "$(count_output "$said")" = 1 ] || fail "the refusal of $name for printer #$slot was said $(count_output "$said") times"
  done
  targets_untouched "filename=$name"
  [ "$(printouts)" = "$before" ] || fail "filename=$name printed something"
}

# With the spool file names mended, a printout in each slot prints once.
MENDED=0
print_mended() {
  local before0 before1 text
  MENDED=$((MENDED + 1))
  write_ini WLSDFKJN.DRY WLSDFKJN.DR2
  sleep 0.5
  before0=$(saved_count)
  before1=$(all_jobs)
  printf 'Mended %s %d slot 0\r\n' "$FERRIN_PLATFORM" $MENDED > "$RUN_DIR/WLSDFKJN.DRY"
  printf 'Mended %s %d slot 1\r\n' "$FERRIN_PLATFORM" $MENDED > "$RUN_DIR/WLSDFKJN.DR2"
  wait_until 30 "the mended slot 0 to print" gone "$RUN_DIR/WLSDFKJN.DRY"
  wait_until 30 "the mended slot 1 to print" gone "$RUN_DIR/WLSDFKJN.DR2"
  if [ "$PRINTER0" = "Save as PDF" ]; then
    [ "$(saved_count)" = $((before0 + 1)) ] || fail "the mended slot 0 gave $(( $(saved_count) - before0 )) printouts"
    text=$(pdftotext "$(find "$PRINTED" -maxdepth 1 -name 'print-*.pdf' | sort | tail -n 1)" - | tr -d '\f' | sed '/^$/d')
    rm -f "$PRINTED"/print-*.pdf
  else
    cups_collect Receipt "$WORK/mended0.pdf"
    text=$(pdftotext "$WORK/mended0.pdf" - | tr -d '\f' | sed '/^$/d')
  fi
  [ "$text" = "Mended $FERRIN_PLATFORM $MENDED slot 0" ] || fail "the mended slot 0 printed '$text'"
  cups_collect Reports "$WORK/mended1.pdf"
  text=$(pdftotext "$WORK/mended1.pdf" - | tr -d '\f' | sed '/^$/d')
  [ "$text" = "Mended $FERRIN_PLATFORM $MENDED slot 1" ] || fail "the mended slot 1 printed '$text'"
  [ "$(all_jobs)" = $((before1 + $([ "$PRINTER0" = "Save as PDF" ] && echo 1 || echo 2))) ] ||
    fail "the mended printouts gave $(( $(all_jobs) - before1 )) CUPS jobs"
}

# The spool file of each slot is a symbolic link to a file outside: left
# alone (link and target), said once, nothing printed. Waits for both
# refusals, or for a sign that a link was followed, to say which went wrong.
refuse_links() {
  local before said spool
  before=$(printouts)
  ln -s "$ELSEWHERE/linked.txt" "$RUN_DIR/WLSDFKJN.DRY"
  ln -s "$ELSEWHERE/linked.txt" "$RUN_DIR/WLSDFKJN.DR2"
  said=" is refused, since it is a symbolic link, which ferrin does not follow."
  wait_until 20 "both links to be refused or followed" bash -c "
    { grep -qF 'Printer #0: WLSDFKJN.DRY$said' '$RUN_DIR/out.txt' &&
      grep -qF 'Printer #1: WLSDFKJN.DR2$said' '$RUN_DIR/out.txt'; } ||
    ! cmp -s '$ELSEWHERE/linked.txt' '$WORK/originals/linked.txt' ||
    [ \$(( \$(find '$PRINTED' -maxdepth 1 -name 'print-*.pdf' 2>/dev/null | wc -l) + \$(lpstat -W all -o | wc -l) )) != $before ]"
  sleep 1.5
  [ -f "$ELSEWHERE/linked.txt" ] || fail "a spool file that is a link was followed: its target outside the folder was deleted"
  [ "$(printouts)" = "$before" ] || fail "a spool file that is a link was followed: its target was printed"
  targets_untouched "a spool file that is a link"
  for spool in WLSDFKJN.DRY WLSDFKJN.DR2; do
    [ -L "$RUN_DIR/$spool" ] || fail "the link $spool is gone"
    [ "$(readlink "$RUN_DIR/$spool")" = "$ELSEWHERE/linked.txt" ] || fail "the link $spool was changed"
  done
  output_has "Printer #0: WLSDFKJN.DRY$said" || fail "the link WLSDFKJN.DRY was not said"
  output_has "Printer #1: WLSDFKJN.DR2$said" || fail "the link WLSDFKJN.DR2 was not said"
  for spool in WLSDFKJN.DRY WLSDFKJN.DR2; do
    [ "$(count_output ": $spool is refused")" = 1 ] ||
      fail "the link $spool was said $(count_output ": $spool is refused") times"
  done
  rm -f "$RUN_DIR/WLSDFKJN.DRY" "$RUN_DIR/WLSDFKJN.DR2"
}

run_platform() {
  local platform=$1 name
  echo "== $platform"
  rm -rf "${RUN_DIR:?}"/* "${RUN_DIR:?}"/.[!.]* 2>/dev/null || true
  make_targets
  if [ "$platform" = posix ]; then PRINTER0="Save as PDF"; else PRINTER0=Receipt; fi
  write_ini WLSDFKJN.DRY WLSDFKJN.DR2
  start_ferrin "$platform"
  wait_started 60
  wait_output "Starting thread for printer #1" 30

  echo "-- names that lead out of the folder"
  mkdir -p "$RUN_DIR/sub"
  refuse_name "../victim.txt"
  refuse_name "sub/../../victim.txt"
  if [ "$platform" = posix ]; then
    refuse_name "$ELSEWHERE/absolute.txt"
    # A drive means nothing here, but a name written for one is refused too.
    refuse_name 'C:..\victim.txt'
    # A folder inside that is a link to one outside.
    ln -s "$ELSEWHERE" "$RUN_DIR/outside"
    refuse_name "outside/folder.txt"
  else
    # Wine's drive Z: is the Linux root and the current drive; C: is the
    # prefix's drive_c.
    refuse_name '..\victim.txt'
    refuse_name "$(echo "$ELSEWHERE" | tr / '\\')\\absolute.txt"
    refuse_name "$ELSEWHERE/absolute.txt"
    refuse_name "Z:$(echo "$ELSEWHERE" | tr / '\\')\\drive.txt"
    refuse_name 'Z:..\victim.txt'
    refuse_name 'C:..\victim.txt'
  fi
  print_mended

  echo "-- spool files that are symbolic links"
  refuse_links
  print_mended

  echo "-- a folder under the spool file's name"
  mkdir "$RUN_DIR/WLSDFKJN.DRY"
  wait_output "Printer #0: WLSDFKJN.DRY is refused, since it is not a plain file" 20
  sleep 1.5
  [ "$(count_output "WLSDFKJN.DRY is refused, since it is not a plain file")" = 1 ] ||
    fail "the folder under the spool name was said $(count_output "WLSDFKJN.DRY is refused, since it is not a plain file") times"
  [ -d "$RUN_DIR/WLSDFKJN.DRY" ] || fail "the folder under the spool name is gone"
  rmdir "$RUN_DIR/WLSDFKJN.DRY"
  print_mended
  targets_untouched "the end"

  send_keys x
  [ "$(wait_exit 30)" = 0 ] || fail "ferrin on $platform did not end with 0"
}

for platform in $(e2e_platforms); do
  run_platform "$platform"
done
echo "confine: all checks passed"
