# The status line on a terminal (a real pseudo-terminal, through script):
# shown on standard error once a run lasts a second, taking the progress
# lines of the file awaited when standard output is the same terminal, and
# never changing standard output when that is a file.
. "$(dirname "$0")/lib.sh"

if [ -z "$SLOW_OPEN" ] || ! command -v script >/dev/null; then
  echo "SKIP: needs the slow-open library and script(1)"
  exit 77
fi

mkfile a 'one\n'
mkfile slow 'two\n'
mkfile c 'three\n'

# in_terminal FILE COMMAND: runs COMMAND in a pseudo-terminal, with opening
# "slow" taking six seconds; FILE gets what the terminal showed.
in_terminal() {
  local shown=$1
  shift
  env LD_PRELOAD="$SLOW_OPEN" ZORVIK_SLOW_OPEN=slow ASAN_OPTIONS=verify_asan_link_order=0 \
    script -qfec "$*" /dev/null >"$shown" </dev/null
  status=$?
}

in_terminal "$SCRATCH/shown" "$ZORVIK" -c list.sfv a slow c
[ "$status" = 0 ] || fail "create in a terminal: status $status"
grep -aq '1 of 3 files, 4 B of 14 B, .* | slow: 0% complete' "$SCRATCH/shown" || fail "no status line with the file's progress"
# The last of it is taken away, and the lines ending in line feeds are all
# there, as the terminal shows them: what follows the last erasure.
tr -d '\r' <"$SCRATCH/shown" | sed 's/.*\x1b\[K//' | grep -av '^$' >"$SCRATCH/lines"
same "lines in a terminal" $'a: 100% complete\nslow: 100% complete\nc: 100% complete\n' "$SCRATCH/lines"
grep -aq $'\e\\[Kslow: 100% complete' "$SCRATCH/shown" || fail "the status line was not taken away first"

# Standard output to a file: byte for byte what it is without a terminal.
in_terminal "$SCRATCH/shown" "$ZORVIK" -a list.sfv ">$SCRATCH/out"
[ "$status" = 0 ] || fail "verify in a terminal: status $status"
same "standard output kept" $'a: 100% complete\ra: Ok                   \nslow: 0% complete\rslow: 100% complete\rslow: Ok                   \nc: 100% complete\rc: Ok                   \n3 files checked\nAll files Ok\n' "$SCRATCH/out"
grep -aq '1 of 3 files' "$SCRATCH/shown" || fail "no status line while standard output is a file"

# --no-progress, -q: no status line.
for option in --no-progress -q; do
  in_terminal "$SCRATCH/shown" "$ZORVIK" $option -a list.sfv
  grep -aq 'files,' "$SCRATCH/shown" && fail "$option still shows the status line"
done

finish
