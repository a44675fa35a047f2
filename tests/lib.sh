# The one shell library of the program's tests (tests/cli/*.sh and
# tests/faults/*.sh): a scratch directory with its own HOME, a runner that
# keeps stdout, stderr and the status apart under a safety time-out, and
# checks that count failures instead of stopping at the first one.
# Sourced with the program's path as $1 and, for tests/cli, the preload
# libraries as $2 (a slow open) and $3 (failing system calls).
set -u

if [ $# -lt 1 ] || [ ! -x "$1" ]; then
  echo "usage: $0 path/to/zorvik" >&2
  exit 2
fi
ZORVIK=$(realpath "$1")
# The preload library that holds a run at one file's opening (slow_open.c).
SLOW_OPEN=${2:+$(realpath "$2")}
# The preload library that makes chosen system calls fail (faulty_io.c).
FAULTY_IO=${3:+$(realpath "$3")}
# Sanitizer builds run a smaller load (set by CMake for the fault tests).
SANITIZED=${FAULTS_SANITIZE:-}

SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/zorvik-test.XXXXXX")
cleanup() {
  # Background helpers of a failed case must not outlive the script.
  local p
  for p in $(jobs -p); do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  chmod -R u+rwx "$SCRATCH" 2>/dev/null
  rm -rf "$SCRATCH"
}
trap cleanup EXIT
chmod 755 "$SCRATCH"
export HOME="$SCRATCH/home"
mkdir -p "$HOME"
export TZ=UTC
# The shell tools see bytes; the program itself selects no locale.
unset LANG LANGUAGE LC_CTYPE POSIXLY_CORRECT
export LC_ALL=C
WORK="$SCRATCH/work"
mkdir -p "$WORK"
cd "$WORK" || exit 2

OUT=$SCRATCH/out
ERR=$SCRATCH/err
status=0
failures=0
checks=0

# run ARGS...: runs the program with ARGS in the current directory, its
# standard output in $OUT, standard error in $ERR, the status in $status.
# run_cmd CMD...: the same for a command line that runs the program (env,
# setpriv, a shell). Both stop it after RUN_LIMIT seconds (300 unless set,
# as in RUN_LIMIT=30 run ...), a safety net only: status 124 or 137 then.
run() { run_cmd "$ZORVIK" "$@"; }
run_cmd() {
  timeout -k 5 "${RUN_LIMIT:-300}" "$@" >"$OUT" 2>"$ERR"
  status=$?
}

# run_as_nobody ARGS...: run as an ordinary user without groups.
run_as_nobody() {
  run_cmd setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$NOBODY_HOME" "$ZORVIK" "$@"
}

# A HOME an ordinary user may write; call before run_as_nobody.
make_nobody_home() {
  NOBODY_HOME="$SCRATCH/nobody"
  mkdir -p "$NOBODY_HOME"
  chown 65534:65534 "$NOBODY_HOME"
}

is_root() { [ "$(id -u)" = 0 ]; }

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
note() { printf '  %s\n' "$*"; }

# same NAME EXPECTED FILE: FILE holds exactly the bytes EXPECTED.
same() {
  checks=$((checks + 1))
  printf '%s' "$2" >"$SCRATCH/expected"
  if ! cmp -s "$SCRATCH/expected" "$3"; then
    fail "$1"
    echo "--- expected"
    cat -A "$SCRATCH/expected"
    echo "--- got"
    cat -A "$3"
  fi
}

# same_text NAME EXPECTED ACTUAL: two texts, as command substitutions give
# them (final line feeds dropped).
same_text() {
  checks=$((checks + 1))
  if [ "$2" != "$3" ]; then
    fail "$1: expected [$(printf '%q' "$2")], got [$(printf '%q' "$3")]"
  fi
}

# same_files NAME EXPECTED_FILE ACTUAL_FILE: two files, byte for byte.
same_files() {
  checks=$((checks + 1))
  if ! cmp -s "$2" "$3"; then
    fail "$1: $3 differs from $2"
    diff <(head -c 4000 "$2" | cat -A) <(head -c 4000 "$3" | cat -A) | head -20
  fi
}

# expect NAME STATUS STDOUT STDERR: the last run, byte for byte.
expect() {
  checks=$((checks + 1))
  if [ "$status" != "$2" ]; then
    fail "$1: status $status, expected $2"
    echo "--- stdout"; cat -A "$OUT"
    echo "--- stderr"; cat -A "$ERR"
  fi
  same "$1 (stdout)" "$3" "$OUT"
  same "$1 (stderr)" "$4" "$ERR"
}

# expect_sound NAME: the last run neither hung nor died of a signal, and no
# sanitizer reported. Statuses 247-255 are the program's own codes (-9 to
# -1); 124 and 137 come from the time-out, other values above 128 from a
# signal. Sanitizers report on standard error (ASan exits with 1, which a
# verify run uses too).
expect_sound() {
  checks=$((checks + 1))
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    fail "$1: hung (stopped by the safety time-out)"
  elif [ "$status" -gt 128 ] && [ "$status" -lt 247 ]; then
    fail "$1: killed by signal $((status - 128))"
  fi
  if grep -qaE 'Sanitizer|runtime error:' "$ERR"; then
    fail "$1: sanitizer report"
    head -30 "$ERR"
  fi
}

# masked FILE: FILE with the creation time of its generator line masked.
masked() {
  sed -E '1s/ on [0-9]{4}-[0-9]{2}-[0-9]{2} at [0-9]{2}:[0-9]{2}:[0-9]{2}$/ on DATE at TIME/' "$1"
}

# same_list NAME EXPECTED FILE: a checksum file, generator time masked.
same_list() {
  masked "$3" >"$SCRATCH/masked"
  same "$1" "$2" "$SCRATCH/masked"
}

# Entry lines of a checksum file: everything that is not a comment; none
# for a list never written.
entries() { [ ! -e "$1" ] || grep -av '^;' "$1"; }

# absent NAME FILE: a failed create left neither FILE nor a partial file
# beside it.
absent() {
  checks=$((checks + 1))
  [ ! -e "$2" ] || fail "$1: $2 exists"
  if ls -a "$(dirname "$2")" | grep -q '\.zorvik-partial-'; then fail "$1: a partial file is left"; fi
}

# The CRC-32 of a file as SFV writes it, taken from a gzip trailer, and its
# MD5, so that expected values do not come from the program under test.
crc_of() {
  gzip -c -n "$1" | tail -c 8 | head -c 4 | od -An -tx4 | tr -d ' \n' | tr a-f A-F
}
md5_of() { md5sum < "$1" | cut -c1-32; }

# Lets the clock that stamps file times pass every change made so far, so
# that the next run finds those files unchanged since it began.
settle() { sleep 0.02; }

# wait_limited PID SECONDS: the status of the background run PID; one still
# running after SECONDS is shown thread by thread (where each waits, for
# the log) and killed: status 124, as from a time-out.
wait_limited() {
  local i
  for ((i = 0; i < $2 * 20; i++)); do kill -0 "$1" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$1" 2>/dev/null; then
    local t
    for t in /proc/"$1"/task/*; do
      printf 'thread %s: %s, system call %s\n' "${t##*/}" "$(cat "$t/wchan" 2>/dev/null)" \
        "$(cut -d' ' -f1 "$t/syscall" 2>/dev/null)"
      cat "$t/stack" 2>/dev/null
    done >&2
    kill -9 "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    status=124
    return
  fi
  wait "$1"
  status=$?
}

# start_watchdog SECONDS PID: kills PID after SECONDS unless stopped first.
# Its sleep must not outlive it, nor hold the test's output open.
start_watchdog() {
  (
    trap 'kill $s 2>/dev/null; exit 0' TERM
    sleep "$1" &
    s=$!
    wait $s
    kill -9 "$2" 2>/dev/null
  ) >/dev/null 2>&1 &
  WATCHDOG=$!
}
stop_watchdog() {
  kill "$WATCHDOG" 2>/dev/null
  wait "$WATCHDOG" 2>/dev/null
}

# A run held at one file (slow_open.c, preloaded): `hold FILE [MARK]` sets
# HOLD to the environment (for env) of a run that, opening FILE for
# reading, creates MARK ($SCRATCH/held unless given) and waits there until
# $RELEASE exists. Let it go by release_on, release_after or a signal.
RELEASE=$SCRATCH/release
hold() {
  HELD=${2:-$SCRATCH/held}
  rm -f "$HELD" "$RELEASE"
  HOLD=(LD_PRELOAD="$SLOW_OPEN" ZORVIK_SLOW_OPEN="$1" ZORVIK_SLOW_MARK="$HELD"
        ZORVIK_SLOW_RELEASE="$RELEASE" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
}
# release_on FILE TEXT: lets the held run go, from the background, once
# FILE (emptied first) shows TEXT; release_after SECONDS: once they have
# passed. `released`, after the run, ends that helper.
release_on() {
  : >"$1"
  (
    for _ in $(seq 600); do grep -aqF -- "$2" "$1" && break; sleep 0.05; done
    : >"$RELEASE"
  ) >/dev/null 2>&1 &
  RELEASER=$!
}
release_after() {
  (
    trap 'kill $s 2>/dev/null; exit 0' TERM
    sleep "$1" &
    s=$!
    wait $s
    : >"$RELEASE"
  ) >/dev/null 2>&1 &
  RELEASER=$!
}
released() {
  kill "$RELEASER" 2>/dev/null
  wait "$RELEASER" 2>/dev/null
}
# held: waits until the held run has come to its file (a safety bound of a
# minute, not a timing).
held() {
  local _
  for _ in $(seq 600); do [ -e "$HELD" ] && return 0; sleep 0.1; done
  return 1
}

# The header lines every checksum file begins with.
HEADER=$'; Generated by Zorvik 3.00 on DATE at TIME\n; https://zorvik.org/\n;\n'

# mkfile NAME CONTENT: a file with CONTENT (printf format) and a fixed time.
mkfile() {
  mkdir -p "$(dirname "$1")"
  printf "$2" >"$1"
  touch -d '2010-05-31 12:30:05' "$1"
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures of $checks checks failed"
    exit 1
  fi
  echo "all $checks checks passed"
  exit 0
}
