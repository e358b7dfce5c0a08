#!/usr/bin/env bash
# Hardening run, after the ordinary tests: the unit tests and the POSIX
# end-to-end tests under AddressSanitizer + UndefinedBehaviorSanitizer and
# under ThreadSanitizer, every libFuzzer target in tests/fuzz for a bounded
# time from its seed corpus, then clang-tidy and cppcheck over src/.
# Any sanitizer report, fuzzer crash, leak or failed property, or analyser
# finding fails the run. Figures for each step are printed at the end.
#
# FUZZ_SECONDS     seconds per fuzz target (default 20; the seed corpora hold
#                  what longer runs found)
# FERRIN_COMPILE_DB  build folder whose compile_commands.json clang-tidy uses
#                  (default build/posix, made by the posix preset)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

FUZZ_SECONDS=${FUZZ_SECONDS:-20}
COMPILE_DB=${FERRIN_COMPILE_DB:-$ROOT/build/posix}
JOBS=2

for tool in clang++ clang-tidy cppcheck cmake ctest tmux; do
  command -v "$tool" >/dev/null 2>&1 || { echo "hardening: $tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done

LOGS=$(mktemp -d /tmp/ferrin-hardening.XXXXXX)
START=$SECONDS
failures=()
summary=()

note() { printf '\n== %s\n' "$*"; }
failed() { failures+=("$*"); echo "FAILED: $*" >&2; }

# Sanitizer reports go to files: ferrin runs in tmux, where its standard
# error is the terminal. A report ends the program with a non-zero code, and
# any report file afterwards fails the step even if a test missed the code.
#
# Leaks that are not leaks: fontconfig keeps its configuration for the life
# of the process.
cat > "$LOGS/lsan.supp" <<'SUPP'
leak:libfontconfig.so
SUPP
sanitizer_env() {
  local dir=$1
  mkdir -p "$dir"
  export ASAN_OPTIONS="log_path=$dir/report:halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
  export UBSAN_OPTIONS="log_path=$dir/report:halt_on_error=1:print_stacktrace=1"
  export LSAN_OPTIONS="suppressions=$LOGS/lsan.supp:print_suppressions=0"
  export TSAN_OPTIONS="log_path=$dir/report:halt_on_error=1:exitcode=66:second_deadlock_stack=1"
}

# Fails the step when any report file exists; shows the reports.
check_reports() {
  local dir=$1 what=$2 f
  local reports=("$dir"/report.*)
  for f in "${reports[@]}"; do
    [ -e "$f" ] || continue
    echo "--- sanitizer report $f" >&2
    cat "$f" >&2
    failed "$what: sanitizer report $(basename "$f")"
    return 1
  done
  return 0
}

# --- sanitizer builds and runs ------------------------------------------------

for variant in asan tsan; do
  preset=posix-$variant
  note "$preset: build"
  t0=$SECONDS
  if ! { cmake --preset "$preset" >"$LOGS/$preset-configure.log" 2>&1 &&
         cmake --build --preset "$preset" >"$LOGS/$preset-build.log" 2>&1; }; then
    tail -40 "$LOGS/$preset-configure.log" "$LOGS/$preset-build.log" >&2 || true
    failed "$preset: build"
    continue
  fi
  echo "built in $((SECONDS - t0)) s"

  bin=$ROOT/build/$preset
  passed=0 total=0

  note "$preset: unit tests"
  total=$((total + 1))
  sanitizer_env "$LOGS/$preset-unit"
  if ctest --preset "$preset" >"$LOGS/$preset-unit.log" 2>&1; then
    check_reports "$LOGS/$preset-unit" "$preset unit tests" && passed=$((passed + 1))
  else
    tail -60 "$LOGS/$preset-unit.log" >&2
    check_reports "$LOGS/$preset-unit" "$preset unit tests" && failed "$preset: unit tests"
  fi

  # End-to-end tests on the POSIX program; *_win32.sh scripts test the
  # Windows build only. The faults_* tests hold ferrin to memory and time
  # bounds under heavy load, which the sanitizers' shadow memory, quarantine
  # and slowdown make meaningless; they run in the ordinary build. The
  # package test runs the installed program, and the DOS emulator test the
  # emulator rather than ferrin: neither is this build's.
  # ThreadSanitizer runs the tests where threads meet most (several slots,
  # the waiting queue, setup and keys while printing, start and stop); the
  # rest repeat the same thread code with other printouts and would add
  # minutes to the run for nothing.
  for script in tests/e2e/*.sh; do
    name=$(basename "$script" .sh)
    case $name in lib|*_win32|faults_*|package|dosbox) continue ;; esac
    if [ "$variant" = tsan ]; then
      case $name in queue|setup|slots|spool_posix|startup|terminal_posix) ;; *) continue ;; esac
    fi
    total=$((total + 1))
    note "$preset: e2e $name"
    t0=$SECONDS
    sanitizer_env "$LOGS/$preset-$name"
    if FERRIN_POSIX=$bin/ferrin FERRIN_E2E_PLATFORMS=posix FERRIN_BUILD=$bin FERRIN_SOURCE=$ROOT \
        timeout 600 bash "$script" >"$LOGS/$preset-$name.log" 2>&1; then
      check_reports "$LOGS/$preset-$name" "$preset e2e $name" && passed=$((passed + 1))
    else
      tail -40 "$LOGS/$preset-$name.log" >&2
      check_reports "$LOGS/$preset-$name" "$preset e2e $name" && failed "$preset: e2e $name"
    fi
    echo "took $((SECONDS - t0)) s"
  done
  unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS
  summary+=("$(printf '%-11s %d of %d runs passed (unit tests and POSIX end-to-end tests)' "$preset" "$passed" "$total")")
done

# --- fuzzing ----------------------------------------------------------------

# Every tests/fuzz/fuzz_<name>.cpp is built by the posix-asan preset; it runs
# from tests/fuzz/corpus/<name> (new finds go to a scratch copy, so the seed
# corpus in the repository stays as it is). A crash, leak, sanitizer report
# or failed property fails the run; the input that did it is copied into the
# seed corpus as a regression case, to be committed with the fix.
# Two targets run at a time (each fuzzer uses one core); each writes its
# summary line, and a failure mark, into the log folder.
fuzz_one() {
  local name=$1 program=$2 seeds=$3
  local work=$LOGS/fuzz-$name log=$LOGS/fuzz-$name.log execs a
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$seeds"/* "$work/corpus/"
  if (cd "$work" && ASAN_OPTIONS=detect_leaks=1 "$program" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
        -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/artifacts/" "$work/corpus" >"$log" 2>&1); then
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    printf 'fuzz %-8s %12s executions in %s s, no failures\n' "$name" "${execs:-?}" "$FUZZ_SECONDS" > "$LOGS/fuzz-$name.summary"
  else
    {
      grep -E -A30 'ERROR|property failed|SUMMARY' "$log" | head -60 || tail -40 "$log"
      for a in "$work"/artifacts/*; do
        [ -e "$a" ] || continue
        cp "$a" "$seeds/regression-$(basename "$a")"
        echo "kept the failing input as $seeds/regression-$(basename "$a")"
      done
    } > "$LOGS/fuzz-$name.failure" 2>&1
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    printf 'fuzz %-8s %12s executions, FAILED\n' "$name" "${execs:-?}" > "$LOGS/fuzz-$name.summary"
  fi
}

note "fuzzing, $FUZZ_SECONDS s per target, $JOBS at a time"
t0=$SECONDS
fuzz_names=()
for source in tests/fuzz/fuzz_*.cpp; do
  target=$(basename "$source" .cpp)
  name=${target#fuzz_}
  program=$ROOT/build/posix-asan/$target
  seeds=$ROOT/tests/fuzz/corpus/$name
  if [ ! -x "$program" ]; then failed "fuzz $name: $program was not built"; continue; fi
  if [ ! -d "$seeds" ] || [ -z "$(ls -A "$seeds")" ]; then failed "fuzz $name: no seed corpus in $seeds"; continue; fi
  while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do wait -n || true; done
  fuzz_one "$name" "$program" "$seeds" &
  fuzz_names+=("$name")
done
wait
for name in "${fuzz_names[@]}"; do
  if [ -s "$LOGS/fuzz-$name.summary" ]; then summary+=("$(cat "$LOGS/fuzz-$name.summary")")
  else summary+=("fuzz $name: no result"); failed "fuzz $name: no result"; continue; fi
  if [ -e "$LOGS/fuzz-$name.failure" ]; then
    cat "$LOGS/fuzz-$name.failure" >&2
    failed "fuzz $name"
  fi
done
echo "took $((SECONDS - t0)) s"

# --- static analysis ----------------------------------------------------------

note "clang-tidy over src/ ($COMPILE_DB/compile_commands.json)"
if [ ! -f "$COMPILE_DB/compile_commands.json" ]; then
  failed "clang-tidy: $COMPILE_DB/compile_commands.json is missing: configure the posix preset first"
else
  mapfile -t tidy_files < <(python3 - "$COMPILE_DB/compile_commands.json" "$ROOT/src/" <<'PY'
import json, sys
files = sorted({e["file"] for e in json.load(open(sys.argv[1])) if e["file"].startswith(sys.argv[2])})
print("\n".join(files))
PY
)
  printf '%s\n' "${tidy_files[@]}" | xargs -P "$JOBS" -n 4 clang-tidy -p "$COMPILE_DB" --quiet \
    >"$LOGS/clang-tidy.log" 2>&1 || true
  # Findings that were looked at and accepted, each matched by file, check and
  # the text of the flagged line, so that any change to that line brings the
  # finding back for another look.
  accepted=(
    # Ignoring SIGIO cannot fail for a valid signal number.
    "src/files/fs_posix.cpp|cert-err33-c|signal(SIGIO, SIG_IGN)"
    # Messages of the recording device: cutting one at 511 bytes is harmless.
    "tests/fake/device_fake.cpp|cert-err33-c|std::vsnprintf(buffer, sizeof buffer, pattern, args)"
    # A 15-character date stamp in 32 bytes.
    "src/device/savepdf_posix.cpp|cert-err33-c|strftime(stamp, sizeof stamp"
    # The PDF file name from a fixed folder name, the stamp and a counter.
    "src/device/savepdf_posix.cpp|cert-err33-c|std::snprintf(name, sizeof name"
    # umask cannot throw; the lambda only lacks a noexcept.
    "src/device/savepdf_posix.cpp|cert-err58-cpp|const mode_t processUmask"
  )
  printf '%s\n' "${accepted[@]}" > "$LOGS/clang-tidy-accepted.txt"
  python3 - "$ROOT" "$LOGS/clang-tidy.log" "$LOGS/clang-tidy-accepted.txt" >"$LOGS/clang-tidy-findings.txt" <<'PY'
import re, sys
root, log, accepted_file = sys.argv[1], sys.argv[2], sys.argv[3]
accepted = [line.rstrip("\n").split("|", 2) for line in open(accepted_file) if line.strip()]
seen = set()
for line in open(log, errors="replace"):
    m = re.match(r"(/[^:]+):(\d+):(\d+): (warning|error): (.*) \[([^\],]+)", line)
    if not m or m.group(0) in seen:
        continue
    seen.add(m.group(0))
    path, number, check = m.group(1), int(m.group(2)), m.group(6)
    rel = path[len(root) + 1:] if path.startswith(root + "/") else path
    try:
        text = open(path, errors="replace").read().split("\n")[number - 1]
    except (OSError, IndexError):
        text = ""
    if any(rel == f and check == c and t in text for f, c, t in accepted):
        print("accepted " + line.strip(), file=sys.stderr)
        continue
    print(line.rstrip())
PY
  findings=$(grep -c . "$LOGS/clang-tidy-findings.txt" || true)
  if [ "$findings" != 0 ]; then
    cat "$LOGS/clang-tidy-findings.txt" >&2
    failed "clang-tidy: $findings findings"
  elif grep -qE '^Error|error: (unknown|unable|no such)' "$LOGS/clang-tidy.log"; then
    grep -E '^Error|error: ' "$LOGS/clang-tidy.log" >&2
    failed "clang-tidy could not analyse every file"
  fi
  summary+=("$(printf 'clang-tidy  %d files, %s findings (%d looked at and accepted)' "${#tidy_files[@]}" "$findings" "${#accepted[@]}")")
fi

note "cppcheck over src/"
cppcheck --quiet --std=c++17 --language=c++ --enable=warning,performance,portability \
  --inline-suppr --error-exitcode=1 -j "$JOBS" -I src \
  --suppress=missingIncludeSystem \
  --template='{file}:{line}: {severity}: {message} [{id}]' src >"$LOGS/cppcheck.log" 2>&1 || true
findings=$(grep -c ': \(error\|warning\|performance\|portability\|style\): ' "$LOGS/cppcheck.log" || true)
if [ "$findings" != 0 ]; then
  cat "$LOGS/cppcheck.log" >&2
  failed "cppcheck: $findings findings"
fi
summary+=("$(printf 'cppcheck    %s findings' "$findings")")

# --- figures ------------------------------------------------------------------

note "hardening summary ($((SECONDS - START)) s, logs in $LOGS)"
printf '  %s\n' "${summary[@]}"
if [ ${#failures[@]} -gt 0 ]; then
  printf 'hardening FAILED:\n' >&2
  printf '  %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "hardening: all checks passed"
