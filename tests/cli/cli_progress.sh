# Progress of a job that outlasts the first wait of five seconds: the
# percentage once per change, then the closing line. The job is made slow
# by a preloaded fopen that takes six seconds for one file.
. "$(dirname "$0")/lib.sh"

if [ -z "$SLOW_OPEN" ]; then
  echo "SKIP: no slow-open library given"
  exit 77
fi

# run_slow FILE ARGS...: a run in which opening FILE for hashing is slow.
run_slow() {
  local file=$1
  shift
  env LD_PRELOAD="$SLOW_OPEN" ZORVIK_SLOW_OPEN="$file" ASAN_OPTIONS=verify_asan_link_order=0 \
    "$ZORVIK" "$@" >"$SCRATCH/out" 2>"$SCRATCH/err"
  status=$?
}

mkfile fast 'x\n'
mkfile slow 'hello\n'
run_slow slow -c list.sfv fast slow
expect "create" 0 $'fast: 100% complete\nslow: 0% complete\rslow: 100% complete\n' ""
same_file "create (file)" "$HEADER$(printf '; %12s  12:30.05 2010-05-31 fast\n; %12s  12:30.05 2010-05-31 slow' 2 6)"$'\nfast 46EA081F\nslow 363A3020\n' list.sfv
run_slow slow -a list.sfv
expect "verify" 0 $'fast: 100% complete\rfast: Ok                   \nslow: 0% complete\rslow: 100% complete\rslow: Ok                   \n2 files checked\nAll files Ok\n' ""
run_slow slow -q -a list.sfv
expect "verify, quiet" 0 $'2 files checked\nAll files Ok\n' ""

# A create run ended by a signal leaves the list it was replacing as it was.
cp list.sfv "$SCRATCH/before"
for signal in TERM INT HUP; do
  # A background job would start with SIGINT ignored, and keep it so.
  env --default-signal=INT LD_PRELOAD="$SLOW_OPEN" ZORVIK_SLOW_OPEN=slow ASAN_OPTIONS=verify_asan_link_order=0 \
    "$ZORVIK" -q -c list.sfv fast slow >"$SCRATCH/out" 2>&1 &
  pid=$!
  sleep 1
  kill -$signal $pid
  wait $pid; status=$?
  [ $status -gt 128 ] || fail "SIG$signal: status $status"
  cmp -s list.sfv "$SCRATCH/before" || fail "SIG$signal: the list changed"
  absent "SIG$signal: no partial file" nothing
done

finish
