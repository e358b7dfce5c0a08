#!/usr/bin/env bash
# ferrin --autostart on|off on both platforms, each for two folders at once.
# Windows (under Wine): "on" puts a shortcut into the prefix's Startup folder
# that starts ferrin.exe minimized in the folder, named after the folder;
# "on" again keeps one; "off" removes only that folder's shortcut. POSIX: no
# user service manager can run here (the machine is not booted with systemd),
# so systemctl works on the unit files alone (SYSTEMD_OFFLINE), in a config
# folder and a home folder of the test's own: "on" enables the packaged
# template unit's instance for a folder below the home folder, and writes and
# enables a unit of its own (checked with systemd-analyze verify) for a folder
# elsewhere; "off" disables each and removes the unit it wrote. Every call
# ends with 0 and says what it did in one line; a wrong value ends with 2 and
# changes nothing.
source "$(dirname "$0")/lib.sh"
e2e_begin
# Wine's shortcut hook would copy each shortcut into the host's menus.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"

# Runs ferrin --autostart in a folder: autostart PLATFORM FOLDER VALUE. Sets
# RC and OUT (standard output, one line expected; on POSIX standard error too,
# in ERR).
autostart() {
  local platform=$1 folder=$2 value=$3
  if [ "$platform" = posix ]; then
    RC=0
    (cd "$folder" && "$POSIX_PROGRAM" --autostart "$value" > "$WORK/out" 2> "$WORK/err") || RC=$?
    OUT=$(cat "$WORK/out")
    ERR=$(cat "$WORK/err")
  else
    local saved=$RUN_DIR
    RUN_DIR=$folder
    start_ferrin win32 --autostart "$value"
    RC=$(wait_exit 60)
    OUT=$(tr -d '\r' < "$folder/out.txt")
    RUN_DIR=$saved
  fi
  [ "$(printf '%s\n' "$OUT" | wc -l)" = 1 ] || fail "$platform --autostart $value in $folder: not one line: $OUT"
}

expect() {
  local rc=$1 text=$2 what=$3
  [ "$RC" = "$rc" ] || fail "$what: exit code $RC, expected $rc (${OUT}${ERR:+ / $ERR})"
  case $OUT in *"$text"*) ;; *) fail "$what: \"$text\" not in: $OUT" ;; esac
}

check_win32() {
  need strings
  local till2="$WORK/till 2" startup
  mkdir -p "$till2"
  autostart win32 "$RUN_DIR" on
  expect 0 "Autostart is on: the shortcut" "win32 on"
  startup=$(find "$WINEPREFIX/drive_c/users" -type d -iname Startup | head -n 1)
  [ -d "$startup" ] || fail "win32 on: the prefix has no Startup folder"
  shortcuts() { find "$startup" -name '*.lnk' | sort; }
  [ "$(shortcuts | wc -l)" = 1 ] || fail "win32 on: $(shortcuts | wc -l) shortcuts in the Startup folder"
  local link
  link=$(shortcuts)
  case $link in *"-run).lnk") ;; *) fail "win32 on: the shortcut's name does not tell its folder: $link" ;; esac
  case $OUT in *"$(basename "$link")"*) ;; *) fail "win32 on: the message does not name $link: $OUT" ;; esac
  # The shortcut starts ferrin.exe in this folder (Unicode strings of the
  # file), minimized without the focus (the header's show command, 7).
  local windows_dir="Z:${RUN_DIR//\//\\}" windows_program="Z:${FERRIN_WIN32//\//\\}" text
  text=$(strings -a "$link"; strings -a -el "$link")
  grep -qxF "$windows_program" <<< "$text" || fail "win32 on: the shortcut does not start $windows_program"
  grep -qxF "$windows_dir" <<< "$text" || fail "win32 on: the shortcut does not start in $windows_dir"
  [ "$(od -An -tu4 -j60 -N4 "$link" | tr -d ' ')" = 7 ] || fail "win32 on: the shortcut does not start ferrin minimized"

  autostart win32 "$till2" on
  expect 0 "Autostart is on" "win32 on in a second folder"
  [ "$(shortcuts | wc -l)" = 2 ] || fail "win32: a second folder does not have a shortcut of its own"
  autostart win32 "$RUN_DIR" on
  expect 0 "Autostart is on" "win32 on again"
  [ "$(shortcuts | wc -l)" = 2 ] || fail "win32 on again: $(shortcuts | wc -l) shortcuts, expected the two"

  autostart win32 "$RUN_DIR" off
  expect 0 "Autostart is off" "win32 off"
  [ "$(shortcuts | wc -l)" = 1 ] || fail "win32 off: $(shortcuts | wc -l) shortcuts left, expected the second folder's"
  case $(shortcuts) in *"till 2).lnk") ;; *) fail "win32 off removed the other folder's shortcut: $(shortcuts)" ;; esac
  autostart win32 "$RUN_DIR" off
  expect 0 "Autostart was not on" "win32 off again"
  [ "$(shortcuts | wc -l)" = 1 ] || fail "win32 off again touched the other folder's shortcut"
  autostart win32 "$till2" off
  expect 0 "Autostart is off" "win32 off in the second folder"
  [ "$(shortcuts | wc -l)" = 0 ] || fail "win32: shortcuts left after both folders' off: $(shortcuts)"
}

check_posix() {
  need systemctl systemd-analyze systemd-escape
  [ -x "$FERRIN_POSIX" ] || fail "$FERRIN_POSIX is missing: build the posix preset"
  # Wherever the test runs, systemctl reaches no service manager and works in
  # the test's own folders only.
  export SYSTEMD_OFFLINE=1 XDG_CONFIG_HOME="$WORK/config" XDG_RUNTIME_DIR="$WORK/runtime" HOME="$WORK/home"
  unset DBUS_SESSION_BUS_ADDRESS
  local units="$XDG_CONFIG_HOME/systemd/user" spool="$HOME/dos/spool" other="$WORK/till 2%"
  mkdir -p "$units" "$spool" "$other" "$XDG_RUNTIME_DIR"
  chmod 0700 "$XDG_RUNTIME_DIR"
  cp "$FERRIN_SOURCE/packaging/ferrin-user@.service" "$units/ferrin@.service"
  # A program path with a blank, which the unit must quote.
  mkdir -p "$WORK/bin dir"
  cp "$FERRIN_POSIX" "$WORK/bin dir/ferrin"
  POSIX_PROGRAM="$WORK/bin dir/ferrin"
  local wants="$units/default.target.wants" instance own
  instance="ferrin@$(systemd-escape --path dos/spool 2>/dev/null).service"
  own="ferrin-$(systemd-escape --path "$other").service"

  autostart posix "$spool" maybe
  [ "$RC" = 2 ] || fail "posix --autostart maybe: exit code $RC, expected 2"
  [ -z "$(ls -A "$wants" 2>/dev/null)" ] || fail "posix --autostart maybe enabled a unit"

  # Below the home folder: the template's instance, nothing written.
  autostart posix "$spool" on
  expect 0 "Autostart is on: the user unit $instance" "posix on below the home folder"
  [ -L "$wants/$instance" ] || fail "posix on: $instance is not enabled: $(ls "$wants" 2>&1)"
  [ "$(find "$units" -maxdepth 1 -type f | wc -l)" = 1 ] || fail "posix on: a unit was written beside the template"

  # Elsewhere: a unit of its own, valid, for this folder and this program.
  autostart posix "$other" on
  expect 0 "Autostart is on: the user unit $own" "posix on outside the home folder"
  [ -f "$units/$own" ] && [ -L "$wants/$own" ] || fail "posix on: $own is not written and enabled"
  systemd-analyze --user --man=no verify "$units/$own" > "$WORK/verify" 2>&1 || fail "posix on: $own: $(cat "$WORK/verify")"
  grep -qxF "WorkingDirectory=$WORK/till 2%%" "$units/$own" || fail "posix on: $own does not start in $other"
  grep -qxF "ExecStart=\"$POSIX_PROGRAM\"" "$units/$own" || fail "posix on: $own does not start $POSIX_PROGRAM"
  autostart posix "$other" on
  expect 0 "Autostart is on" "posix on again"
  [ "$(find "$units" -maxdepth 1 -type f | wc -l)" = 2 ] || fail "posix on again: another unit was written"

  # Each folder's off leaves the other folder's unit alone.
  autostart posix "$other" off
  expect 0 "Autostart is off: $own" "posix off outside the home folder"
  [ ! -e "$units/$own" ] && [ ! -L "$wants/$own" ] || fail "posix off: $own is still there"
  [ -L "$wants/$instance" ] || fail "posix off in another folder disabled $instance"
  autostart posix "$spool" off
  expect 0 "Autostart is off: $instance" "posix off below the home folder"
  [ ! -L "$wants/$instance" ] || fail "posix off: $instance is still enabled"
  [ -f "$units/ferrin@.service" ] || fail "posix off removed the template"
  autostart posix "$spool" off
  expect 0 "Autostart was not on" "posix off again"
}

for platform in $(e2e_platforms); do
  echo "== $platform"
  # In a subshell: the POSIX check's home and config folders stay its own.
  ( "check_$platform" )
done
echo "autostart: all checks passed"
