# The status line on a terminal (a real pseudo-terminal, through script):
# shown on standard error once a run lasts a second, taking the progress
# lines of the file awaited when standard output is the same terminal, and
# never changing standard output when that is a file.
. "$(dirname "$0")/../lib.sh"

if [ -z "$SLOW_OPEN" ] || ! command -v script >/dev/null; then
  echo "SKIP: needs the slow-open library and script(1)"
  exit 77
fi

mkfile a 'one\n'
mkfile slow 'two\n'
mkfile c 'three\n'

# in_terminal FILE COMMAND: runs COMMAND in a pseudo-terminal, in the
# environment HOLD (see hold in tests/lib.sh: a run held at one file);
# FILE gets what the terminal showed.
in_terminal() {
  local shown=$1
  shift
  env "${HOLD[@]}" script -qfec "$*" /dev/null >"$shown" </dev/null
  status=$?
}

# The opening of "slow" is held until the status line has taken its
# progress, however long that takes on a busy machine.
hold slow
release_on "$SCRATCH/shown" "| slow: 0% complete"
in_terminal "$SCRATCH/shown" "$ZORVIK" -c list.sfv a slow c
released
[ "$status" = 0 ] || fail "create in a terminal: status $status"
# Bytes count as hashed: c may be done while slow is still awaited.
grep -aqE '1 of 3 files, (4|10) B of 14 B, .* \| slow: 0% complete' "$SCRATCH/shown" || fail "no status line with the file's progress"
# The last of it is taken away, and the lines ending in line feeds are all
# there, as the terminal shows them: what follows the last erasure.
tr -d '\r' <"$SCRATCH/shown" | sed 's/.*\x1b\[K//' | grep -av '^$' >"$SCRATCH/lines"
same "lines in a terminal" $'a: 100% complete\nslow: 100% complete\nc: 100% complete\n' "$SCRATCH/lines"
grep -aq $'\e\\[Kslow: 100% complete' "$SCRATCH/shown" || fail "the status line was not taken away first"

# Standard output to a file: byte for byte what it is without a terminal.
hold slow
release_on "$SCRATCH/out" "slow: 0% complete"
in_terminal "$SCRATCH/shown" "$ZORVIK" -a list.sfv ">$SCRATCH/out"
released
[ "$status" = 0 ] || fail "verify in a terminal: status $status"
same "standard output kept" $'a: 100% complete\ra: Ok                   \nslow: 0% complete\rslow: 100% complete\rslow: Ok                   \nc: 100% complete\rc: Ok                   \n3 files checked\nAll files Ok\n' "$SCRATCH/out"
grep -aq '1 of 3 files' "$SCRATCH/shown" || fail "no status line while standard output is a file"

# A big file: its bytes count as they are hashed, the rate is above zero
# and the time left finite while it is; a verify run learns the total from
# the sizes of the files it opens. Sparse, so that it takes no room, and big
# enough to be hashed for some six seconds by this build (a few GiB; less
# under a sanitizer), where a second would do for the status line to show
# a rate. Judged from this build's fastest of three creates of 16 MiB, the
# fastest of three of an empty file (the program's start and end) taken
# off: a moment of load while it is timed makes the file bigger, never
# smaller.
# fastest FILE: sets FASTEST to the seconds of the fastest of three.
fastest() {
  local start took _
  FASTEST=""
  for _ in 1 2 3; do
    start=$EPOCHREALTIME
    "$ZORVIK" -q -c "$SCRATCH/timed.md5" "$1" || fail "timed create of $1"
    took=$(awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.6f", e - s }')
    FASTEST=$(awk -v a="${FASTEST:-$took}" -v b="$took" 'BEGIN { print (b < a ? b : a) }')
  done
}
HOLD=()
: >empty
truncate -s 16M big
fastest empty
idle=$FASTEST
fastest big
size=$(awk -v idle="$idle" -v busy="$FASTEST" 'BEGIN { t = busy - idle
  n = t > 0 ? 6 * 16 / t : 4096; n = n < 64 ? 64 : n > 4096 ? 4096 : n; printf "%d", n }')
rm empty
truncate -s "${size}M" big
# The size as the status line shows it, in decimal units.
total=$(awk -v b=$((size * 1048576 + 4)) 'BEGIN { split("B kB MB GB TB", u, " "); i = 1
  while (b >= 1000 && i < 5) { b /= 1000; i++ }
  printf(i == 1 || b >= 100 ? "%.0f %s" : "%.1f %s", b, u[i]) }' | sed 's/\./\\./')
in_terminal "$SCRATCH/shown" "$ZORVIK" -c big.md5 a big
[ "$status" = 0 ] || fail "big create in a terminal: status $status"
tr '\r' '\n' <"$SCRATCH/shown" | sed 's/\x1b\[K//g' >"$SCRATCH/lines"
grep -aE "^1 of 2 files, [0-9.]+ [kMG]?B of $total, [1-9][0-9.]* [kMG]?B/s, [0-9]+:[0-5][0-9](:[0-5][0-9])? left" \
  "$SCRATCH/lines" >"$SCRATCH/while" || fail "no rate and time left while the big file is hashed"
# Bytes counted as hashed, not when the file is done: some line shows a
# part of the big file done.
grep -aqE "^1 of 2 files, [0-9.]+ [kMG]B of $total" "$SCRATCH/lines" || fail "no bytes of the big file counted before its end"
# Verifying: the total is known once the list has been read; with more
# entries after the big file than are read ahead of it, it is a lower
# bound until then.
in_terminal "$SCRATCH/shown" "$ZORVIK" big.md5
[ "$status" = 0 ] || fail "big verify in a terminal: status $status"
tr '\r' '\n' <"$SCRATCH/shown" | sed 's/\x1b\[K//g' >"$SCRATCH/lines"
grep -aqE "^1 of 2 files, [0-9.]+ [kMG]B of $total, [1-9][0-9.]* [kMG]?B/s, [0-9:]+ left" \
  "$SCRATCH/lines" || fail "no total in a verify run"
small=$(grep -a ' \*a$' big.md5)
{ grep -a ' \*big$' big.md5; for i in $(seq 1100); do echo "$small"; done; } >long.md5
in_terminal "$SCRATCH/shown" "$ZORVIK" long.md5
[ "$status" = 0 ] || fail "long verify in a terminal: status $status"
tr '\r' '\n' <"$SCRATCH/shown" | sed 's/\x1b\[K//g' >"$SCRATCH/lines"
grep -aqE "^0 files, [0-9.]+ [kMG]B of at least $total, [1-9][0-9.]* [kMG]?B/s, at least [0-9:]+ left" \
  "$SCRATCH/lines" || fail "no lower bound while the list is read"
rm big

# --no-progress, -q: no status line.
for option in --no-progress -q; do
  hold slow
  release_after 6
  in_terminal "$SCRATCH/shown" "$ZORVIK" $option -a list.sfv
  released
  grep -aq 'files,' "$SCRATCH/shown" && fail "$option still shows the status line"
done

finish
