# Shared helpers for the end-to-end tests: a private work folder, a private
# CUPS scheduler with PDF queues, a Wine prefix, and ferrin running in
# tmux with standard output redirected to a file.
# Source it from a test script; every helper fails the test with a message.
set -euo pipefail

FERRIN_SOURCE=${FERRIN_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
FERRIN_POSIX=${FERRIN_POSIX:-$FERRIN_SOURCE/build/posix/ferrin}

# Which Windows build the tests run, decided once and handed on to every test
# in FERRIN_WINE_BITS: the shipped 32-bit program under 32-bit Wine where this
# machine runs 32-bit programs, else the 64-bit build of the same sources
# (preset win64) under 64-bit Wine. FERRIN_WIN32 names the program; empty, it
# is that build's ferrin.exe.
if [ -z "${FERRIN_WINE_BITS:-}" ]; then
  bits_rc=0
  bash "$FERRIN_SOURCE/scripts/runs-32bit.sh" || bits_rc=$?
  case $bits_rc in
    0) FERRIN_WINE_BITS=32 ;;
    1) FERRIN_WINE_BITS=64 ;;
    *) echo "FAIL: cannot tell whether this machine runs 32-bit programs" >&2; exit 1 ;;
  esac
  unset bits_rc
fi
export FERRIN_WINE_BITS
if [ -z "${FERRIN_WIN32:-}" ]; then
  if [ "$FERRIN_WINE_BITS" = 32 ]; then
    FERRIN_WIN32=$FERRIN_SOURCE/build/win32/ferrin.exe
  else
    FERRIN_WIN32=$FERRIN_SOURCE/build/win64/ferrin.exe
  fi
fi

fail() {
  echo "FAIL: $*" >&2
  if [ -n "${TMUX_SOCKET:-}" ] && tmux -L "$TMUX_SOCKET" has-session 2>/dev/null; then
    echo "--- screen ---" >&2
    tmux -L "$TMUX_SOCKET" capture-pane -p >&2 || true
  fi
  if [ -n "${RUN_DIR:-}" ] && [ -f "$RUN_DIR/out.txt" ]; then
    echo "--- standard output ---" >&2
    cat "$RUN_DIR/out.txt" >&2 || true
  fi
  exit 1
}

need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing: run scripts/install-deps.sh"
  done
}

# A private work folder, removed with everything started in it at exit.
e2e_begin() {
  need tmux
  WORK=$(mktemp -d /tmp/ferrin-e2e.XXXXXX)
  TMUX_SOCKET="ferrin-$$-$RANDOM"
  RUN_DIR="$WORK/run"
  # Where the POSIX build's "Save as PDF" printer writes its printouts.
  PRINTED="$RUN_DIR/printed"
  mkdir -p "$RUN_DIR"
  trap e2e_end EXIT
}

e2e_end() {
  local rc=$? background pid
  # Whatever the test left running (listeners, writers) would keep the test
  # runner waiting on its output after a failure.
  background=$(jobs -p)
  [ -z "$background" ] || kill $background 2>/dev/null || true
  tmux -L "$TMUX_SOCKET" kill-server 2>/dev/null || true
  if [ -n "${CUPSD_PID:-}" ]; then kill "$CUPSD_PID" 2>/dev/null || true; wait "$CUPSD_PID" 2>/dev/null || true; fi
  for pid in ${SMTPD_PIDS:-}; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  if [ -n "${WINEPREFIX:-}" ]; then WINEPREFIX=$WINEPREFIX timeout 20 wineserver -k 2>/dev/null || true; fi
  if [ -n "${UNLOCK_INI:-}" ]; then chattr -i "$UNLOCK_INI" 2>/dev/null || true; fi
  if [ "$rc" = 0 ] || [ -z "${KEEP_E2E:-}" ]; then rm -rf "$WORK"; else echo "kept $WORK" >&2; fi
  exit "$rc"
}

# True when the count function ($1, e.g. pdf_count) gives $2; for wait_until,
# which must run the count anew each time: count_is pdf_count 3.
count_is() { [ "$("$1")" = "$2" ]; }

# Waits until the command succeeds; fails the test after the timeout (seconds).
wait_until() {
  local timeout=$1 what=$2
  shift 2
  local end=$((SECONDS + timeout))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || fail "timed out after ${timeout}s waiting for $what"
    sleep 0.1
  done
}

# --- CUPS -----------------------------------------------------------------

# Starts a private scheduler listening on a socket in the work folder and
# points every client (lpstat, libcups, Wine) at it through CUPS_SERVER.
start_cupsd() {
  launch_cupsd "$WORK/cups/cups.sock"
  wait_until 20 "the CUPS scheduler" cups_running
  cups_let_filters_in
}

# Writes the private scheduler's configuration in $WORK/cups, listening on
# the given socket file or loopback address:port, and starts it in the
# background without waiting for it (CUPSD_PID, CUPS_DIR and CUPS_SERVER set).
launch_cupsd() {
  need cupsd lpadmin lpstat
  local dir="$WORK/cups" listen=$1
  mkdir -p "$dir"/{spool,cache,state,log,temp,out,ppd}
  chown root:lp "$dir/spool" 2>/dev/null || true
  chmod 0710 "$dir/spool"
  chmod 0777 "$dir/out"
  cat > "$dir/cupsd.conf" <<CONF
Listen $listen
LogLevel warn
Printcap $dir/printcap
Browsing Off
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
    Allow all
  </Limit>
</Policy>
CONF
  cat > "$dir/cups-files.conf" <<CONF
ServerRoot $dir
RequestRoot $dir/spool
TempDir $dir/temp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
FileDevice Yes
Sandboxing Relaxed
CONF
  cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" &
  CUPSD_PID=$!
  export CUPS_SERVER="$listen"
  CUPS_DIR="$dir"
}

# lpstat -r exits 0 whether or not the scheduler runs (and says which in
# English); asking it for its jobs fails when it does not run.
cups_running() { lpstat -W all -o >/dev/null 2>&1; }

stop_cupsd() {
  if [ -n "${CUPSD_PID:-}" ]; then
    kill "$CUPSD_PID" 2>/dev/null || true
    wait "$CUPSD_PID" 2>/dev/null || true
    CUPSD_PID=
  fi
}

# A queue that turns every job into a PDF file $CUPS_DIR/out/<queue>.pdf
# (each job overwrites it: collect it with cups_collect after each job).
add_pdf_queue() {
  local queue=$1
  lpadmin -p "$queue" -E -v "file://$CUPS_DIR/out/$queue.pdf" \
    -P /usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd -o PageSize=A4 2>/dev/null \
    || fail "could not add the CUPS queue $queue"
}

# add_listener_queue <queue> <folder> <seconds> [raw]: a queue whose device is
# a loopback listener (tools/listener.py) that keeps every job, for <seconds>,
# in a file of its own in <folder>, numbered in the order the jobs arrive.
# Without "raw" the queue turns each job into PDF first. LISTENER_PID is the
# listener's process.
add_listener_queue() {
  local queue=$1 folder=$2 seconds=$3 model=(-P /usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd -o PageSize=A4)
  [ "${4:-}" = raw ] && model=(-m raw)
  python3 "$FERRIN_SOURCE/tests/e2e/tools/listener.py" "$folder" "$seconds" &
  LISTENER_PID=$!
  wait_until 10 "the job listener" test -s "$folder/port"
  lpadmin -p "$queue" -E -v "socket://127.0.0.1:$(cat "$folder/port")" "${model[@]}" 2>/dev/null \
    || fail "could not add the CUPS queue $queue"
}

# A PDF queue that survives the scheduler being killed: the scheduler writes
# its configuration lazily, and a killed one that had not yet done so comes
# back without the queue; a restart saves it.
add_lasting_pdf_queue() {
  add_pdf_queue "$1"
  restart_cupsd
}

# Waits until the queue has finished every job, then moves its PDF to $2.
cups_collect() {
  local queue=$1 target=$2
  cups_settle "$queue"
  wait_until 10 "$CUPS_DIR/out/$queue.pdf" test -s "$CUPS_DIR/out/$queue.pdf"
  mv "$CUPS_DIR/out/$queue.pdf" "$target"
}

# Number of completed jobs of a queue.
cups_completed_count() {
  lpstat -W completed -o "$1" 2>/dev/null | wc -l
}

# Number of jobs the scheduler has, in any state, of one queue or of all.
cups_job_count() { lpstat -W all -o ${1:+"$1"} 2>/dev/null | wc -l; }

# True while the queue has a job that is not completed (held, pending,
# printing).
cups_busy() { [ -n "$(lpstat -W not-completed -o "$1" 2>/dev/null)" ]; }

# Waits until the queue has no job left that is not completed.
cups_settle() { wait_until "${2:-60}" "queue $1 to finish" cups_idle "$1"; }
cups_idle() { ! cups_busy "$1"; }

# A queue's address for ipptool: the private socket as the URI's host.
cups_queue_uri() { echo "ipp://${CUPS_SERVER//\//%2F}/printers/$1"; }

# Every job the scheduler has for a queue, one "id state" line each, as the
# scheduler reports them over IPP.
cups_jobs() {
  need ipptool
  cat > "$WORK/get-jobs.test" <<'TEST'
{
  OPERATION Get-Jobs
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword which-jobs all
  ATTR keyword requested-attributes job-id,job-state
  DISPLAY job-id
  DISPLAY job-state
}
TEST
  ipptool -c "$(cups_queue_uri "$1")" "$WORK/get-jobs.test" | sed '1d; s/,/ /'
}

# The copies the scheduler was asked to print of the queue's newest job
# (its job attribute "copies"; 1 when the job has none).
cups_newest_copies() {
  need ipptool
  cat > "$WORK/get-copies.test" <<'TEST'
{
  OPERATION Get-Jobs
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword which-jobs all
  ATTR keyword requested-attributes job-id,copies
  DISPLAY job-id
  DISPLAY copies
}
TEST
  ipptool -c "$(cups_queue_uri "$1")" "$WORK/get-copies.test" | sed '1d' |
    awk -F, '$1 > id { id = $1; copies = ($2 == "" ? 1 : $2) } END { print copies }'
}

# Waits until a job of the queue that is not completed holds its document,
# for a test that must act the moment the scheduler has a job's document: one
# ipptool asks again every millisecond or so (a new lpstat each time would
# take ten), for about a minute. (DELAY's pair of first and repeated delays
# must be quoted, or ipptool reads the comma as a token of its own.)
cups_wait_for_document() {
  need ipptool
  cat > "$WORK/wait-for-document.test" <<'TEST'
{
  OPERATION Get-Jobs
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword which-jobs not-completed
  ATTR keyword requested-attributes job-id,number-of-documents
  DELAY "0,0.001"
  EXPECT number-of-documents OF-TYPE integer WITH-VALUE >0 REPEAT-NO-MATCH
  REPEAT-LIMIT 25000
}
TEST
  ipptool -q "$(cups_queue_uri "$1")" "$WORK/wait-for-document.test" ||
    fail "no document reached queue $1 within a minute"
}

# --- Wine -----------------------------------------------------------------

# The test's own Wine prefix (see wine_private_prefix), made on first use.
wine_prefix() {
  if [ -n "${WORK:-}" ] && [ "${WINEPREFIX:-}" = "$WORK/wine" ] && [ -d "$WINEPREFIX" ]; then
    return 0
  fi
  wine_private_prefix
}

# --- running ferrin -------------------------------------------------------

# Starts ferrin in tmux in $RUN_DIR: start_ferrin posix|win32 [arguments...].
# Standard output goes to $RUN_DIR/out.txt, the exit code to $RUN_DIR/rc.txt.
start_ferrin() {
  local platform=$1
  shift
  ferrin_ready "$platform"
  rm -f "$RUN_DIR/out.txt" "$RUN_DIR/rc.txt"
  tmux_session "$(ferrin_command "$platform" "$@") > out.txt; echo \$? > rc.txt; sleep 600"
}

# Checks that the platform's program is built (and, for win32, makes the Wine
# prefix); sets FERRIN_PLATFORM.
ferrin_ready() {
  case $1 in
    posix) [ -x "$FERRIN_POSIX" ] || fail "$FERRIN_POSIX is missing: build the posix preset" ;;
    win32) wine_can_run "$FERRIN_WIN32"
           wine_prefix ;;
    *) fail "unknown platform $1" ;;
  esac
  FERRIN_PLATFORM=$1
}

# The shell command that runs ferrin of a platform (made ready by
# ferrin_ready) with the given arguments, its environment set.
ferrin_command() {
  local platform=$1
  shift
  local program=$FERRIN_POSIX runner="" a args=""
  local envs="CUPS_SERVER=${CUPS_SERVER:-/nonexistent/cups.sock}"
  if [ "$platform" = win32 ]; then
    program=$FERRIN_WIN32
    runner="$FERRIN_WINE "
    envs+=" WINEARCH=$WINEARCH ${WINELOADER:+WINELOADER=$WINELOADER }WINEDEBUG=-all WINEPREFIX=$WINEPREFIX"
  fi
  for a in "$@"; do args+=" $(printf '%q' "$a")"; done
  echo "env -u DISPLAY $envs $runner$(printf '%q' "$program")$args"
}

# Runs a shell command in a new tmux session (the only one of the test's
# server) in $RUN_DIR.
tmux_session() {
  tmux -L "$TMUX_SOCKET" kill-server 2>/dev/null || true
  # A server that is still going away can refuse the new session: try again.
  local try
  for try in 1 2 3 4 5 6 7 8 9 10; do
    if tmux -L "$TMUX_SOCKET" new-session -d -x 120 -y 40 -c "$RUN_DIR" "$1" 2>/dev/null; then
      return 0
    fi
    [ "$try" -lt 10 ] || fail "tmux could not start a session"
    sleep 0.3
  done
}

# Sends keys to ferrin (tmux key names: x, Enter, Up, C-c, ...).
send_keys() { tmux -L "$TMUX_SOCKET" send-keys "$@"; }

# Sends literal text.
type_text() { tmux -L "$TMUX_SOCKET" send-keys -l "$1"; }

screen_text() { tmux -L "$TMUX_SOCKET" capture-pane -p; }

screen_has() { screen_text | grep -qF -- "$1"; }

output_has() { [ -f "$RUN_DIR/out.txt" ] && grep -qF -- "$1" "$RUN_DIR/out.txt"; }

wait_screen() { wait_until "${2:-20}" "screen text: $1" screen_has "$1"; }

wait_output() { wait_until "${2:-20}" "output line: $1" output_has "$1"; }

# The printer list ferrin wrote at start-up: the lines between the directory
# line and "Starting ferrin...".
listed_printers() {
  sed -n '/^Running in directory: /,/^Starting ferrin\.\.\./p' "$RUN_DIR/out.txt" | sed '1d;$d'
}

# Waits until ferrin shows its prompt (start-up done).
wait_started() { wait_output "Press X to exit the application or S to change settings." "${1:-30}"; }

# Waits for ferrin to end; prints its exit code.
wait_exit() {
  wait_until "${1:-20}" "ferrin to end" test -s "$RUN_DIR/rc.txt"
  cat "$RUN_DIR/rc.txt"
}

ferrin_running() { [ ! -s "$RUN_DIR/rc.txt" ]; }

# How many lines of ferrin's standard output hold the text.
count_output() { grep -cF -- "$1" "$RUN_DIR/out.txt" || true; }

# --- spool files and printouts ----------------------------------------------

# Where the POSIX build keeps a spool file it has taken for printing (the
# Windows build holds the file open under its own name instead).
taken_copy() { echo "$(dirname "$1")/.$(basename "$1").printing"; }

# The printouts of a spool file ($SPOOL unless named) waiting in the queue
# folder "waiting" beside it, oldest first, and how many there are.
waiting_of() {
  local file=${1:-$SPOOL}
  { find "$(dirname "$file")/waiting" -maxdepth 1 -name "$(basename "$file").*" 2>/dev/null || true; } | sort
}
waiting_count() { waiting_of "$@" | wc -l; }

# True when a spool file ($SPOOL unless named) is printed and deleted: neither
# it, its taken copy nor a waiting printout of it is there.
gone() {
  local file=${1:-$SPOOL}
  [ ! -e "$file" ] && [ ! -e "$(taken_copy "$file")" ] && [ "$(waiting_count "$file")" = 0 ]
}

# The printouts of "Save as PDF" in $PRINTED, oldest first.
pdfs() { { find "$PRINTED" -maxdepth 1 -name 'print-*.pdf' 2>/dev/null || true; } | sort; }
pdf_count() { pdfs | wc -l; }
newest_pdf() { pdfs | tail -n 1; }
more_pdfs_than() { [ "$(pdf_count)" -gt "$1" ]; }

pages_of() { pdfinfo "$1" | awk '/^Pages:/ { print $2 }'; }

# The text of one page (pdf, page), blanks at the line ends and empty lines
# removed.
page_text() { pdftotext -layout -f "$2" -l "$2" "$1" - | sed 's/[ \f]*$//' | sed '/^$/d'; }

# The lines of a whole PDF without empty lines, each ended by "|".
text_of() { pdftotext "$1" - | tr -d '\f' | sed '/^$/d' | tr '\n' '|'; }

# How many lines of a PDF match a basic regular expression.
lines_in() { pdftotext "$1" - | tr -d '\f' | grep -c "$2" || true; }

# The platforms to test: both by default, or FERRIN_E2E_PLATFORMS.
e2e_platforms() { echo "${FERRIN_E2E_PLATFORMS:-posix win32}"; }

# The value of a key in an INI file (section and key names without regard to
# case, outer blanks removed), as ferrin reads it.
ini_get() {
  local file=$1 section=$2 key=$3
  tr -d '\r' < "$file" | awk -v s="$section" -v k="$key" '
    function trim(x) { sub(/^[ \t]+/, "", x); sub(/[ \t]+$/, "", x); return x }
    /^[ \t]*\[/ { line = trim($0); name = substr(line, 2); sub(/\].*$/, "", name); insec = (tolower(trim(name)) == tolower(s)); next }
    insec && index($0, "=") { key = trim(substr($0, 1, index($0, "=") - 1));
      if (tolower(key) == tolower(k)) { print trim(substr($0, index($0, "=") + 1)); exit } }'
}

# Writes ferrin.ini as the setup dialogue would: slot 0 prints WLSDFKJN.DRY
# on printer $1 and, when $2 names a printer, slot 1 prints WLSDFKJN.DR2 on it.
write_ini() {
  printf '[printer 0]\r\nprintername=%s\r\nfilename=WLSDFKJN.DRY\r\nfontname=Courier New\r\nfontsize=10\r\n' "$1" > "$RUN_DIR/ferrin.ini"
  if [ -n "${2:-}" ]; then
    printf '[printer 1]\r\nprintername=%s\r\nfilename=WLSDFKJN.DR2\r\nfontname=Courier New\r\nfontsize=10\r\n' "$2" >> "$RUN_DIR/ferrin.ini"
  fi
}

# Types a line of text and Enter.
answer() {
  type_text "$1"
  send_keys Enter
}

# --- CUPS jobs and Wine printing (added for the Windows print test) ---------

# The scheduler runs its filters as the lp user: let them through the private
# work folder to the spooled job, and give them a temporary folder they may
# write to. Without this every job stops with "Can't create temporary file".
cups_let_filters_in() {
  chmod 0711 "$WORK" "$CUPS_DIR" || fail "could not open $WORK to the CUPS filters"
  chmod 1777 "$CUPS_DIR/temp" || fail "could not open $CUPS_DIR/temp to the CUPS filters"
}

# Wine copies the CUPS queues into the prefix's registry, which one wineserver
# serves to every program of the prefix: in the shared prefix, tests running
# at the same time with schedulers of their own would see each other's
# printers, and e2e_end's wineserver -k would end the other test's programs.
# This gives the test a prefix of its own in $WORK, copied from a template
# made once under a lock (a copy takes about 2 s, a new prefix about 12 s).
# The template is made with no scheduler in reach, so that it keeps no
# scheduler's printers (a 64-bit prefix that has met one scheduler lists only
# that one's printers later). It maps "Courier New", which every Windows
# machine has and Wine lacks, to the metric-compatible Liberation Mono, so
# that text metrics and line pitches are those of a Windows machine and not of
# a fallback font.
wine_private_prefix() {
  need flock fc-list timeout
  [ -n "$(fc-list 'Liberation Mono')" ] || fail "the font Liberation Mono is missing: run scripts/install-deps.sh"
  wine_choose
  unset DISPLAY
  local template=${FERRIN_WINE_TEMPLATE:-/tmp/ferrin-wine$FERRIN_WINE_BITS-template}
  (
    flock 9
    if [ ! -f "$template/ferrin-ready" ]; then
      rm -rf "$template"
      # Bounded: a Wine that cannot start must fail the test, not hang it.
      WINEPREFIX=$template CUPS_SERVER=/nonexistent/cups.sock WINEDLLOVERRIDES="mscoree,mshtml=" \
        timeout 120 "$FERRIN_WINE" wineboot.exe -i > "$template.log" 2>&1 || true
      WINEPREFIX=$template CUPS_SERVER=/nonexistent/cups.sock timeout 60 "$FERRIN_WINE" reg.exe add \
        'HKCU\Software\Wine\Fonts\Replacements' /v "Courier New" /d "Liberation Mono" /f >> "$template.log" 2>&1 || true
      WINEPREFIX=$template timeout 60 wineserver -w || true
      if grep -q '"Courier New"="Liberation Mono"' "$template/user.reg" 2>/dev/null; then
        touch "$template/ferrin-ready"
      fi
    fi
  ) 9>"$template.lock" || true
  [ -f "$template/ferrin-ready" ] ||
    fail "could not create the $FERRIN_WINE_BITS-bit Wine prefix $template with $FERRIN_WINE (a 32-bit Wine starts only where scripts/runs-32bit.sh exits 0): $(tail -n 3 "$template.log" 2>/dev/null | tr '\n' ' ')"
  export FERRIN_WINE_PREFIX="$WORK/wine"
  export WINEPREFIX="$FERRIN_WINE_PREFIX"
  cp -a "$template" "$WINEPREFIX" || fail "could not copy the Wine prefix template to $WINEPREFIX"
}

# Sets the Wine of FERRIN_WINE_BITS: FERRIN_WINE (the loader to run programs
# with), WINEARCH and WINELOADER, exported for every Wine program the test
# starts. Debian's "wine" command always takes the 32-bit loader when it is
# installed, so the 64-bit one is named by its path.
wine_choose() {
  need wineserver
  if [ "$FERRIN_WINE_BITS" = 32 ]; then
    FERRIN_WINE=/usr/lib/wine/wine
    export WINEARCH=win32
  else
    # The 64-bit loader starts the prefix's other programs with itself.
    FERRIN_WINE=/usr/lib/wine/wine64
    export WINEARCH=win64 WINELOADER=$FERRIN_WINE
  fi
  [ -x "$FERRIN_WINE" ] || fail "$FERRIN_WINE is missing: run scripts/install-deps.sh"
  export FERRIN_WINE WINEDEBUG=-all
}

# Runs a Windows program under the test's Wine (wine_private_prefix first).
wine_run() { "$FERRIN_WINE" "$@"; }

# The architecture of a Windows program: 32 (PE32, i386), 64 (PE32+, x86-64)
# or nothing when the file is not one.
pe_bits() {
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 0
  [ -n "$pe" ] || return 0
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case $machine in 014c) echo 32 ;; 8664) echo 64 ;; esac
}

# Fails at once, with the reason, when this machine's Wine cannot run the
# Windows program: missing, or built for the architecture the machine lacks.
wine_can_run() {
  local program=$1 bits
  [ -f "$program" ] || fail "$program is missing: build the win$FERRIN_WINE_BITS preset"
  bits=$(pe_bits "$program")
  [ -n "$bits" ] || fail "$program is not a Windows program"
  [ "$bits" = "$FERRIN_WINE_BITS" ] && return 0
  if [ "$FERRIN_WINE_BITS" = 64 ]; then
    fail "$program is a 32-bit program and this machine runs no 32-bit programs: test the win64 preset's build (unset FERRIN_WIN32, or run scripts/test.sh)"
  fi
  fail "$program is a $bits-bit program; the Windows tests here run the 32-bit build under 32-bit Wine"
}

# --- reading PDFs -------------------------------------------------------------

# pdftotext -bbox as "page yMin xMin word" lines, one per word, in page order.
words() {
  pdftotext -bbox "$1" - | awk '
    /<page / { page++ }
    /<word / { match($0, /xMin="[^"]*"/); x = substr($0, RSTART + 6, RLENGTH - 7)
               match($0, /yMin="[^"]*"/); y = substr($0, RSTART + 6, RLENGTH - 7)
               w = $0; sub(/^.*">/, "", w); sub(/<\/word>.*$/, "", w)
               print page, y, x, w }'
}

# The word's field (2 = top, 3 = left) on the given page, in points.
word_at() { words "$1" | awk -v p="$2" -v w="$3" -v f="$4" '$1 == p && $4 == w { print $f; exit }'; }

# Fails unless |a - b| <= tolerance.
near() {
  awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }' ||
    fail "$4: $1, expected $2 (within $3)"
}

# --- faults: the scheduler stopped and started again, ferrin's own process ---

# Kills the private scheduler with the given signal (TERM by default) and
# waits until it is gone; CUPS_DIR stays, so restart_cupsd can bring it back.
kill_cupsd() {
  local signal=${1:-TERM}
  [ -n "${CUPSD_PID:-}" ] || fail "no CUPS scheduler to stop"
  kill -"$signal" "$CUPSD_PID" 2>/dev/null || true
  wait "$CUPSD_PID" 2>/dev/null || true
  CUPSD_PID=
}

# Starts the scheduler again on the socket and configuration of $CUPS_DIR
# (its queues and the jobs it kept come back with it).
restart_cupsd() {
  [ -n "${CUPS_DIR:-}" ] && [ -f "$CUPS_DIR/cupsd.conf" ] || fail "restart_cupsd needs a scheduler made by start_cupsd"
  [ -z "${CUPSD_PID:-}" ] || kill_cupsd TERM
  cupsd -f -c "$CUPS_DIR/cupsd.conf" -s "$CUPS_DIR/cups-files.conf" &
  CUPSD_PID=$!
  export CUPS_SERVER="$CUPS_DIR/cups.sock"
  wait_until 20 "the CUPS scheduler to run again" cups_running
}

# True when the scheduler has printed at least $2 jobs of queue $1.
cups_printed_at_least() { [ "$(cups_printed_count "$1")" -ge "$2" ]; }

# Jobs of a queue the scheduler printed: distinct job ids whose page-log line
# gives a total above 0 (a job stopped half-way logs a total of 0 and, when
# resumed, a second line; cancelled and aborted jobs log none).
cups_printed_count() {
  awk -v q="$1" '$1 == q && $6 == "total" && $7 > 0 { seen[$3] = 1 } END { n = 0; for (j in seen) n++; print n }' \
    "$CUPS_DIR/log/page_log" 2>/dev/null || echo 0
}

# The process id of the ferrin that start_ferrin runs in tmux.
ferrin_pid() {
  local pane pid
  pane=$(tmux -L "$TMUX_SOCKET" list-panes -F '#{pane_pid}' 2>/dev/null) || fail "no tmux pane for ferrin"
  pid=$(pgrep -P "$pane" | head -n 1)
  [ -n "$pid" ] || fail "cannot find ferrin's process"
  echo "$pid"
}

# --- killed at an aimed moment ----------------------------------------------

# Attaches a debugger to the running ferrin (started by start_ferrin); it
# stops the program where the gdb commands given lead it ("break f" then
# "continue", say) and kills it there with SIGKILL. Waits until it is
# attached and its first breakpoint is set; killed waits for the kill. The
# Windows program is debugged in the Wine process that runs it: Wine's own
# signals pass unseen, and the symbols are those of the program's file, which
# Wine maps at the addresses it was linked for.
kill_at() {
  need gdb
  local pid command
  pid=$(ferrin_pid)
  local args=(-q -batch -p "$pid" -ex "set pagination off" -ex "set confirm off")
  if [ "${FERRIN_PLATFORM:-}" = win32 ]; then
    args+=(-ex "handle all nostop noprint pass" -ex "add-symbol-file $FERRIN_WIN32")
  fi
  for command in "$@"; do args+=(-ex "$command"); done
  args+=(-ex "kill")
  rm -f "$WORK/gdb.log"
  gdb "${args[@]}" > "$WORK/gdb.log" 2>&1 &
  GDB_PID=$!
  wait_until 30 "the debugger to attach" grep -q "^Breakpoint 1 at" "$WORK/gdb.log"
}

# Waits for the kill that kill_at aimed at the moment named, and checks that
# ferrin was killed, not ended.
killed() {
  wait_until 60 "ferrin to be killed at $1" test -s "$RUN_DIR/rc.txt"
  wait "$GDB_PID" || true
  [ "$(cat "$RUN_DIR/rc.txt")" = 137 ] || { cat "$WORK/gdb.log" >&2; fail "ferrin was not killed at $1"; }
}

# The hand-over records in $RUN_DIR/.handover, each as one line of its
# keys (identity=... printer=... job=... ended=1).
handover_records() {
  local record
  for record in "$RUN_DIR"/.handover/*; do
    [ -f "$record" ] || continue
    case $record in *.new) continue ;; esac
    tr -d '\r' < "$record" | tr '\n' ' '
    echo
  done
}

# Peak resident memory of a process in KiB (VmHWM).
peak_memory_kb() {
  awk '/^VmHWM:/ { print $2 }' "/proc/$1/status" 2>/dev/null || fail "cannot read /proc/$1/status"
}

# --- forms drawn under the pages (overlay) ----------------------------------

# Writes a form as a greyscale PNG (file, width, height in pixels, dots per
# inch in its pHYs chunk): mid-grey all over, with a black 30-pixel square
# 300 pixels from its left edge and 600 from its top, below a report's text.
write_form() {
  python3 - "$@" <<'PY'
import struct, sys, zlib
path, w, h, dpi = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
rows = []
for y in range(h):
    row = bytearray([128]) * w
    if 600 <= y < 630: row[300:330] = bytes(30)
    rows.append(b'\0' + bytes(row))
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
ppm = round(dpi / 0.0254)
with open(path, 'wb') as out:
    out.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 0, 0, 0, 0))
              + chunk(b'pHYs', struct.pack('>IIB', ppm, ppm, 1)) + chunk(b'IDAT', zlib.compress(b''.join(rows)))
              + chunk(b'IEND', b''))
PY
}

# Checks page `page` of a PDF against a form of write_form (pdf, page,
# form width and height in inches, "form" or "none"), rendered at 50 dpi:
# with the form, its black square where a form of 150 dpi has it, grey where it has nothing, white just past its right and
# bottom edges, and the page's first word black over the grey (the text is
# drawn over the form). Without it, the square's place is white.
check_form() {
  local pdf=$1 page=$2 width=$3 height=$4 want=$5 word
  word=$(words "$pdf" | awk -v p="$page" '$1 == p { print $3, $2; exit }')
  pdftoppm -r 50 -gray -f "$page" -l "$page" "$pdf" "$WORK/form-page" || fail "pdftoppm failed on $pdf"
  python3 - "$(ls "$WORK"/form-page*.pgm | head -n 1)" "$width" "$height" "$want" $word <<'PY' ||
import sys
data = open(sys.argv[1], 'rb').read()
fields, at = [], 0
while len(fields) < 4:
    while data[at:at + 1].isspace(): at += 1
    if data[at:at + 1] == b'#':
        at = data.index(b'\n', at); continue
    start = at
    while not data[at:at + 1].isspace(): at += 1
    fields.append(data[start:at])
w, h = int(fields[1]), int(fields[2])
pixels = data[at + 1:]
def at_(x, y): return pixels[int(y) * w + int(x)]
width, height, want = float(sys.argv[2]) * 50, float(sys.argv[3]) * 50, sys.argv[4]
problems = []
square = at_(105, 205)
if want == 'none':
    if square < 240: problems.append('the square place is %d, expected white (no form)' % square)
else:
    if square > 60: problems.append('the square at (2.1, 4.1) inches is %d, expected black' % square)
    for x, y in ((width - 5, height - 5), (45, 15)):
        if not 100 <= at_(x, y) <= 160: problems.append('(%d,%d) is %d, expected the form\'s grey' % (x, y, at_(x, y)))
    for x, y in ((width + 4, height / 2), (width / 2, height + 4)):
        if x < w and y < h and at_(x, y) < 240: problems.append('(%d,%d) past the form is %d' % (x, y, at_(x, y)))
    if len(sys.argv) > 6:
        x0, y0 = float(sys.argv[5]) * 50 / 72, float(sys.argv[6]) * 50 / 72
        box = [at_(x, y) for x in range(int(x0), int(x0) + 20) for y in range(int(y0), int(y0) + 5)]
        if min(box) > 60: problems.append('the first word is not drawn over the form (darkest %d)' % min(box))
if problems:
    print('\n'.join(problems)); sys.exit(1)
PY
    fail "page $page of $pdf: the form is not as expected"
  rm -f "$WORK"/form-page*.pgm
}

# --- mail: a real SMTP server on the loopback address -------------------------

# aiosmtpd is Debian's python3-aiosmtpd, so tools/smtpd.py runs under the
# system's Python, whatever python3 comes first on PATH.
SMTPD_PYTHON=${SMTPD_PYTHON:-/usr/bin/python3}

# make_test_cert <dir>: a self-signed certificate for localhost and 127.0.0.1
# in <dir>/cert.pem, its key in <dir>/key.pem, valid for 2 days. It is its own
# authority, so a client trusts it with cert.pem as its CA file.
make_test_cert() {
  need openssl
  local dir=$1
  mkdir -p "$dir"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
    -keyout "$dir/key.pem" -out "$dir/cert.pem" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,digitalSignature,keyEncipherment,keyCertSign" \
    -addext "extendedKeyUsage=serverAuth" > "$dir/openssl.log" 2>&1 ||
    fail "openssl could not make a test certificate: $(tail -n 3 "$dir/openssl.log" | tr '\n' ' ')"
}

# start_smtpd <dir> [smtpd.py options...]: starts the SMTP server of
# tools/smtpd.py in the background on 127.0.0.1, keeping its mail and logs in
# <dir> (its own messages in <dir>/smtpd.log), and waits until it accepts
# connections; SMTP_PORT is its port. Options: --port P, --starttls CERT KEY
# or --tls CERT KEY, --user U --password P, --max-size N, --fail-data-once.
# e2e_end stops it.
start_smtpd() {
  local dir=$1 pid
  shift
  "$SMTPD_PYTHON" -c 'import aiosmtpd' 2>/dev/null ||
    fail "python3-aiosmtpd is missing for $SMTPD_PYTHON: run scripts/install-deps.sh"
  mkdir -p "$dir"
  rm -f "$dir/port"
  "$SMTPD_PYTHON" "$FERRIN_SOURCE/tests/e2e/tools/smtpd.py" --out "$dir" "$@" >> "$dir/smtpd.log" 2>&1 &
  pid=$!
  SMTPD_PIDS="${SMTPD_PIDS:-} $pid"
  wait_until 20 "the SMTP server in $dir" smtpd_started "$dir" "$pid"
  [ -s "$dir/port" ] || fail "the SMTP server in $dir ended at start: $(tail -n 5 "$dir/smtpd.log" | tr '\n' ' ')"
  SMTP_PORT=$(cat "$dir/port")
}

# True once the server started in <dir> listens, or once its process <pid>
# has ended (start_smtpd then says why).
smtpd_started() { [ -s "$1/port" ] || ! kill -0 "$2" 2>/dev/null; }

# stop_smtpd <dir>: ends the server of <dir> (SIGTERM) and waits until its
# process is gone and its port closed. Its mail and logs stay.
stop_smtpd() {
  local dir=$1 pid
  [ -s "$dir/pid" ] || fail "no SMTP server was started in $dir"
  pid=$(cat "$dir/pid")
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  wait_until 20 "the SMTP server in $dir to end" smtpd_gone "$pid"
  SMTPD_PIDS=$(echo "${SMTPD_PIDS:-}" | tr ' ' '\n' | grep -vx "$pid" | tr '\n' ' ' || true)
}

smtpd_gone() { ! kill -0 "$1" 2>/dev/null; }

# mail_count <dir>: how many messages the server of <dir> accepted.
mail_count() { { find "$1" -maxdepth 1 -name 'mail-*.eml' 2>/dev/null || true; } | wc -l; }

# mail_pdf <dir> <NNN> <out.pdf>: writes the first application/pdf part of
# <dir>/mail-NNN.eml to <out.pdf>.
mail_pdf() {
  [ -f "$1/mail-$2.eml" ] || fail "no message $1/mail-$2.eml"
  python3 - "$1/mail-$2.eml" "$3" <<'PY' || fail "$1/mail-$2.eml has no PDF attachment"
import email, email.policy, sys
with open(sys.argv[1], 'rb') as f:
    message = email.message_from_binary_file(f, policy=email.policy.default)
for part in message.walk():
    if part.get_content_type() == 'application/pdf':
        with open(sys.argv[2], 'wb') as out:
            out.write(part.get_payload(decode=True))
        sys.exit(0)
sys.exit(1)
PY
}
