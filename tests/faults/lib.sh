# Shared by the fault scripts: the program under test, a scratch directory
# (removed on exit) with its own HOME, and assertion helpers that count
# failures instead of stopping at the first one.
set -u

ZORVIK=${1:?usage: $0 path/to/zorvik}
case $ZORVIK in /*) ;; *) ZORVIK=$PWD/$ZORVIK ;; esac
[ -x "$ZORVIK" ] || { echo "not executable: $ZORVIK"; exit 2; }

SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/zorvik-faults.XXXXXX")
cleanup() {
  # Background helpers of a failed case must not outlive the script.
  local p
  for p in $(jobs -p); do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  chmod -R u+rwX "$SCRATCH" 2>/dev/null
  rm -rf "$SCRATCH"
}
trap cleanup EXIT
export HOME=$SCRATCH/home
mkdir -p "$HOME"
cd "$SCRATCH" || exit 2
# The shell tools see bytes; the program itself selects no locale.
export LC_ALL=C

# Sanitizer builds run a smaller load (set by CMake).
SANITIZED=${FAULTS_SANITIZE:-}

FAILURES=0
fail() {
  printf 'FAIL: %s\n' "$*"
  FAILURES=$((FAILURES + 1))
}
note() { printf '  %s\n' "$*"; }

# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
  if [ "$2" != "$3" ]; then
    fail "$1: expected [$(printf '%q' "$2")], got [$(printf '%q' "$3")]"
  fi
}

# expect_file_eq WHAT EXPECTED_FILE ACTUAL_FILE
expect_file_eq() {
  if ! cmp -s "$2" "$3"; then
    fail "$1: $3 differs from $2"
    diff <(head -c 4000 "$2" | cat -A) <(head -c 4000 "$3" | cat -A) | head -20
  fi
}

# run LIMIT CMD...: runs CMD under a safety time-out, leaving standard
# output in $OUT, standard error in $ERR and the status in $RC.
OUT=$SCRATCH/.out
ERR=$SCRATCH/.err
RC=0
run() {
  local limit=$1
  shift
  timeout -k 5 "$limit" "$@" >"$OUT" 2>"$ERR"
  RC=$?
}

# Statuses 247-255 are the program's own codes (-9 to -1); 124 and 137 come
# from the time-out, other values above 128 from a signal. Sanitizers report
# on standard error (ASan exits with 1, which a verify run uses too).
expect_sound() {
  if [ "$RC" -eq 124 ] || [ "$RC" -eq 137 ]; then
    fail "$1: hung (stopped by the safety time-out)"
  elif [ "$RC" -gt 128 ] && [ "$RC" -lt 247 ]; then
    fail "$1: killed by signal $((RC - 128))"
  fi
  if grep -qaE 'Sanitizer|runtime error:' "$ERR"; then
    fail "$1: sanitizer report"
    head -30 "$ERR"
  fi
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

# Entry lines of a checksum file: everything that is not a comment.
entries() { [ ! -e "$1" ] || grep -av '^;' "$1"; }  # none for a list never written

# The CRC-32 of a file as SFV writes it, taken from a gzip trailer so that
# expected values do not come from the program under test.
crc_of() {
  gzip -c -n "$1" | tail -c 8 | head -c 4 | od -An -tx4 | tr -d ' \n' | tr a-f A-F
}

md5_of() { md5sum < "$1" | cut -c1-32; }

finish() {
  if [ "$FAILURES" -eq 0 ]; then
    echo "all checks passed"
    exit 0
  fi
  echo "$FAILURES check(s) failed"
  exit 1
}
