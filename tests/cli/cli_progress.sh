# Progress of a job that outlasts the first wait of five seconds: the
# percentage once per change, then the closing line. The job is held at
# the opening of one file (slow_open.c) until its first progress line has
# shown, however long that takes on a busy machine.
. "$(dirname "$0")/../lib.sh"

if [ -z "$SLOW_OPEN" ]; then
  echo "SKIP: no slow-open library given"
  exit 77
fi

# run_slow FILE ARGS...: a run held at the opening of FILE until FILE's
# first progress line shows.
run_slow() {
  local file=$1
  shift
  hold "$file"
  release_on "$OUT" "$file: 0% complete"
  run_cmd env "${HOLD[@]}" "$ZORVIK" "$@"
  released
}
# run_slow_quiet FILE ARGS...: the same for a run that shows no progress,
# held for six seconds, beyond the first wait.
run_slow_quiet() {
  local file=$1
  shift
  hold "$file"
  release_after 6
  run_cmd env "${HOLD[@]}" "$ZORVIK" "$@"
  released
}

mkfile fast 'x\n'
mkfile slow 'hello\n'
run_slow slow -c list.sfv fast slow
expect "create" 0 $'fast: 100% complete\nslow: 0% complete\rslow: 100% complete\n' ""
same_list "create (file)" "$HEADER$(printf '; %12s  12:30.05 2010-05-31 fast\n; %12s  12:30.05 2010-05-31 slow' 2 6)"$'\nfast 46EA081F\nslow 363A3020\n' list.sfv
run_slow slow -a list.sfv
expect "verify" 0 $'fast: 100% complete\rfast: Ok                   \nslow: 0% complete\rslow: 100% complete\rslow: Ok                   \n2 files checked\nAll files Ok\n' ""
run_slow_quiet slow -q -a list.sfv
expect "verify, quiet" 0 $'2 files checked\nAll files Ok\n' ""

# Many workers: later files finish first, output stays in list order, and
# the files are the same as one at a time.
for i in 1 2 3 4 5 6; do mkfile "n$i" "$i\n"; done
run_slow slow -j 4 -c four.md5 slow n1 n2 n3 n4 n5 n6
expect "create, four workers" 0 $'slow: 0% complete\rslow: 100% complete\n'"$(for i in 1 2 3 4 5 6; do printf 'n%s: 100%% complete\n' $i; done)"$'\n' ""
"$ZORVIK" -q -j 1 -c one.md5 slow n1 n2 n3 n4 n5 n6
cmp -s <(tail -n +2 four.md5) <(tail -n +2 one.md5) || fail "four workers and one write different lists"
run_slow_quiet slow -j 4 -q four.md5
expect "verify, four workers" 0 $'7 files checked\nAll files Ok\n' ""
run_slow slow -j 4 four.md5
expect "verify, four workers, output order" 0 $'slow: 0% complete\rslow: 100% complete\rslow: Ok                   \n'"$(for i in 1 2 3 4 5 6; do printf 'n%s: 100%% complete\rn%s: Ok                   \n' $i $i; done)"$'\n7 files checked\nAll files Ok\n' ""

# A create run ended by a signal leaves the list it was replacing as it was.
cp list.sfv "$SCRATCH/before"
for signal in TERM INT HUP; do
  # A background job would start with SIGINT ignored, and keep it so.
  hold slow
  env --default-signal=INT "${HOLD[@]}" "$ZORVIK" -q -c list.sfv fast slow >"$SCRATCH/out" 2>&1 &
  pid=$!
  held || fail "SIG$signal: the run never came to the held file"
  kill -$signal $pid
  wait $pid; status=$?
  [ $status -gt 128 ] || fail "SIG$signal: status $status"
  cmp -s list.sfv "$SCRATCH/before" || fail "SIG$signal: the list changed"
  absent "SIG$signal: no partial file" nothing
done

finish
