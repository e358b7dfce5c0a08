#!/usr/bin/env bash
# The packages that scripts/package.sh leaves in build/packages, used as a
# shop would: the Debian package installs with dpkg and apt-get, its program
# answers from /usr/bin, its service unit passes systemd's own checks with an
# exposure of 3.0 or lower, its user prints headless in a spool folder set up
# as the README says, and a purge leaves none of its files behind. The
# Windows zip holds exactly its three files, its program is the 32-bit one
# and runs under Wine.
# Installs and purges the package "ferrin" on this machine (as root).
source "$(dirname "$0")/lib.sh"
e2e_begin
need dpkg apt-get systemd-analyze systemd-escape unzip setpriv setsid i686-w64-mingw32-objdump pdftotext
[ "$(id -u)" = 0 ] || fail "installing the package needs root"

version=$(sed -n 's/^project(ferrin VERSION \([0-9.]*\) .*/\1/p' "$FERRIN_SOURCE/CMakeLists.txt")
[ -n "$version" ] || fail "no version in CMakeLists.txt"
packages=$FERRIN_SOURCE/build/packages
deb=$packages/ferrin_${version}_$(dpkg --print-architecture).deb
zip=$packages/ferrin-${version}-win32.zip
[ -f "$deb" ] && [ -f "$zip" ] || fail "build/packages has no packages of version $version: run scripts/package.sh"

# Whatever happens, neither the package nor its program stays.
service_pid=
package_end() {
  local rc=$?
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; fi
  dpkg -P ferrin >/dev/null 2>&1 || true
  (exit $rc)
  e2e_end
}
trap package_end EXIT

echo "== Debian package"
dpkg -i "$deb" > "$WORK/dpkg.log" 2>&1 || true
DEBIAN_FRONTEND=noninteractive apt-get -f install -y -q >> "$WORK/dpkg.log" 2>&1 || { cat "$WORK/dpkg.log" >&2; fail "apt-get -f install failed"; }
dpkg-query -W -f='${Status} ${Version}' ferrin 2>/dev/null | grep -qx "install ok installed $version" \
  || { cat "$WORK/dpkg.log" >&2; fail "ferrin $version is not installed"; }
dpkg -L ferrin > "$WORK/files.txt"

[ "$(/usr/bin/ferrin --version)" = "ferrin $version" ] || fail "/usr/bin/ferrin --version: $(/usr/bin/ferrin --version)"
id -nG ferrin 2>/dev/null | grep -qw lp || fail "the package made no user ferrin in group lp"
for f in /usr/share/man/man1/ferrin.1.gz /usr/share/doc/ferrin/copyright /usr/share/doc/ferrin/changelog.gz \
         /usr/share/doc/ferrin/README.md /usr/share/doc/ferrin/dos-emulators.md \
         /usr/share/doc/ferrin/examples/ferrin.ini /lib/systemd/system/ferrin@.service \
         /usr/lib/systemd/user/ferrin@.service; do
  [ -s "$f" ] || fail "$f is missing from the package"
done
zcat /usr/share/man/man1/ferrin.1.gz | grep -q "^\.TH FERRIN 1 .*ferrin $version" || fail "the manual page does not name version $version"

echo "== service units"
# The README's example instance: /var/spool/till escaped as systemd does it.
instance=$(systemd-escape --path /var/spool/till)
[ "$instance" = var-spool-till ] || fail "systemd-escape gives $instance for /var/spool/till"
# Each template checked as an instance, the way systemd loads it. The user
# manager needs a runtime folder even for a check.
mkdir -p "$WORK/units/system" "$WORK/units/user" "$WORK/xdg"
chmod 0700 "$WORK/xdg"
unit=$WORK/units/system/ferrin@$instance.service
cp /lib/systemd/system/ferrin@.service "$unit"
cp /usr/lib/systemd/user/ferrin@.service "$WORK/units/user/ferrin@dos-spool.service"
# Unknown keys and bad values are only warnings to verify: any word about
# ferrin's units fails the test as well.
systemd-analyze verify "$unit" > "$WORK/verify.txt" 2>&1 && ! grep -q ferrin "$WORK/verify.txt" \
  || { cat "$WORK/verify.txt" >&2; fail "systemd-analyze verify finds fault with the system unit"; }
XDG_RUNTIME_DIR=$WORK/xdg systemd-analyze --user verify "$WORK/units/user/ferrin@dos-spool.service" \
  > "$WORK/verify-user.txt" 2>&1 && ! grep -q ferrin "$WORK/verify-user.txt" \
  || { cat "$WORK/verify-user.txt" >&2; fail "systemd-analyze verify finds fault with the user unit"; }
systemd-analyze security --offline=yes "$unit" > "$WORK/security.txt" 2>&1 || true
exposure=$(sed -n 's/.*Overall exposure level for ferrin@[^:]*: \([0-9.]*\) .*/\1/p' "$WORK/security.txt")
[ -n "$exposure" ] || { cat "$WORK/security.txt" >&2; fail "systemd-analyze security gave no exposure level"; }
echo "exposure of ferrin@$instance.service: $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e <= 3.0) }' || { grep "✗" "$WORK/security.txt" >&2; fail "exposure $exposure is above 3.0"; }

echo "== headless as the service's user"
# The folder as the README sets it up: owned by ferrin:lp, group-writable,
# new files in group lp, only owners delete; the example ferrin.ini ("Save as
# PDF") put in by the administrator.
spool=$WORK/till
mkdir -p "$spool"
chmod 0711 "$WORK"
chown ferrin:lp "$spool"
chmod 3770 "$spool"
install -o root -g root -m 0644 /usr/share/doc/ferrin/examples/ferrin.ini "$spool/"
# No terminal, input from /dev/null and the unit's ambient capabilities, as
# systemd starts it; setsid and setpriv exec in place, so the job's process is
# ferrin itself.
caps=$(sed -n 's/^AmbientCapabilities=//p' /lib/systemd/system/ferrin@.service | tr 'A-Z' 'a-z' | sed 's/cap_/+/g; s/ /,/g')
[ -n "$caps" ] || fail "the system unit grants no capability (ferrin needs CAP_LEASE for other users' files)"
(cd "$spool" && exec setsid setpriv --reuid=ferrin --regid=ferrin --init-groups --inh-caps="$caps" --ambient-caps="$caps" \
  /usr/bin/ferrin < /dev/null > "$WORK/stdout.txt" 2> "$WORK/stderr.txt") &
service_pid=$!
wait_until 20 "ferrin to start" grep -q "Press X to exit" "$WORK/stdout.txt"
# A writer of another user that keeps the file open for a while in the middle
# of the printout: ferrin, which sees such files through a read lease, must
# wait for the close and print the whole file.
(
  exec 3> "$spool/WLSDFKJN.DRY"
  printf 'HEADLESS RECEIPT\r\n' >&3
  sleep 2.5
  printf 'Total  12.50\r\n' >&3
)
wait_until 30 "the printout's PDF" bash -c "ls '$spool'/printed/*.pdf"
wait_until 10 "the spool file to be deleted" test ! -e "$spool/WLSDFKJN.DRY"
sleep 0.5
pdf=$(ls "$spool"/printed/*.pdf)
[ "$(echo "$pdf" | wc -l)" = 1 ] || fail "expected one PDF, got: $pdf"
text=$(pdftotext "$pdf" -)
grep -q "HEADLESS RECEIPT" <<< "$text" && grep -q "Total" <<< "$text" || fail "the PDF lacks part of the printout: $text"
# Standard output and, headless, the screen's echo of each line: both are
# what the journal shows.
grep -q "^Running in directory: $spool" "$WORK/stdout.txt" || fail "no start-up lines on standard output"
grep -q "HEADLESS RECEIPT" "$WORK/stderr.txt" || fail "the printed line was not echoed on standard error"
[ "$(stat -c %U "$pdf")" = ferrin ] || fail "the PDF does not belong to ferrin"
# systemd stops the service with SIGTERM and restarts it only on a failure.
kill -TERM "$service_pid"
rc=0
wait "$service_pid" || rc=$?
service_pid=
[ "$rc" = 0 ] || fail "ferrin ended with $rc on SIGTERM, expected 0"

echo "== removal"
dpkg -P ferrin > "$WORK/purge.log" 2>&1 || { cat "$WORK/purge.log" >&2; fail "dpkg -P ferrin failed"; }
case $(dpkg-query -W -f='${Status}' ferrin 2>/dev/null) in
  ""|*not-installed) ;;
  *) fail "ferrin is still installed after the purge" ;;
esac
while read -r f; do
  [ -d "$f" ] && continue
  [ ! -e "$f" ] || fail "$f is left after the purge"
done < "$WORK/files.txt"

echo "== Windows zip"
unzip -Z1 "$zip" | sort > "$WORK/zip.txt"
printf '%s\n' README.txt ferrin-example.ini ferrin.exe | sort | diff - "$WORK/zip.txt" >&2 \
  || fail "the zip does not hold exactly ferrin.exe, README.txt and ferrin-example.ini"
mkdir -p "$WORK/zip"
unzip -q "$zip" -d "$WORK/zip"
for f in README.txt ferrin-example.ini; do
  lf=$(tr -cd '\n' < "$WORK/zip/$f" | wc -c)
  crlf=$(grep -c $'\r$' "$WORK/zip/$f" || true)
  [ "$lf" -gt 0 ] && [ "$lf" = "$crlf" ] || fail "$f: $crlf of $lf lines end in CR LF"
done
grep -q "ferrin $version" "$WORK/zip/README.txt" || fail "README.txt does not name version $version"
# Only Windows' own libraries: ferrin.exe needs no DLL of its own (mail's
# sockets, certificates and the random numbers of TLS are Windows' own too).
dlls=$(i686-w64-mingw32-objdump -p "$WORK/zip/ferrin.exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
for dll in $dlls; do
  case $dll in kernel32.dll|msvcrt.dll|gdi32.dll|winspool.drv|user32.dll|advapi32.dll) ;;
      ws2_32.dll|crypt32.dll|bcrypt.dll) ;; *) fail "ferrin.exe needs $dll" ;; esac
done
# The zip ships the 32-bit program (PE32, Intel 80386), never the 64-bit test
# build.
[ "$(pe_bits "$WORK/zip/ferrin.exe")" = 32 ] || fail "the zip's ferrin.exe is not a 32-bit Windows program"
# It runs under Wine where this machine runs 32-bit programs; elsewhere the
# 64-bit build of the same sources answers in its place.
wine_private_prefix
windows_program=$WORK/zip/ferrin.exe
[ "$FERRIN_WINE_BITS" = 32 ] || windows_program=$FERRIN_WIN32
wine_can_run "$windows_program"
version_line=$(cd "$WORK/zip" && timeout 60 "$FERRIN_WINE" "$windows_program" --version)
[ "$version_line" = "ferrin $version"$'\r' ] || fail "$windows_program --version under Wine: $(printf '%q' "$version_line")"
echo "package: all checks passed"
