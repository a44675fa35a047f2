#!/usr/bin/env bash
# Files that change while they are hashed: a file cut short while mapped or
# streamed ends its job with "File read error" (never a signal death, never
# an endless read); a file that grows while hashed is hashed up to the size
# it had when it was opened.
. "$(dirname "$0")/../lib.sh"

MAPPED=999999999        # the largest mapped size
STREAMED=2147483648     # streamed: 1e9 bytes and more
TRIES=5

printf 'small file\n' > small
small_md5=$(md5_of small)
zeros=00000000000000000000000000000000

# wait_open PID FILE: true once process PID holds FILE open.
wait_open() {
  local pid=$1 target=$PWD/$2 fd i
  for i in $(seq 1 1000); do
    for fd in /proc/"$pid"/fd/*; do
      [ "$(readlink "$fd" 2>/dev/null)" = "$target" ] && return 0
    done
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.01
  done
  return 1
}

# start_cut SIZE CMD...: hashes a fresh sparse file "big" of SIZE bytes with
# CMD in the background and cuts it to nothing 0.3 s after it was opened.
# Leaves the status in $status.
start_cut() {
  local size=$1
  shift
  rm -f big
  truncate -s "$size" big
  "$@" >"$OUT" 2>"$ERR" &
  local pid=$!
  start_watchdog 120 $pid
  if wait_open "$pid" big; then
    sleep 0.3
    truncate -s 0 big
  fi
  wait "$pid"
  status=$?
  note "$* on $size bytes: status $status after ${SECONDS}s of the script"
  stop_watchdog
}

for mode in mapped streamed; do
  if [ $mode = mapped ]; then size=$MAPPED; else size=$STREAMED; fi

  # Create run: the first failing file ends the run with its code (-3).
  hits=0
  for try in $(seq 1 $TRIES); do
    start_cut "$size" "$ZORVIK" -q -c out.md5 big
    what="create, $mode file cut short (try $try)"
    [ "$status" -eq 137 ] && status=124
    expect_sound "$what"
    if [ "$status" -eq 253 ]; then
      same_text "$what: output" 'big: File error: File read error' "$(cat "$OUT")"
      same_text "$what: entries written" '' "$(entries out.md5)"
      hits=$((hits + 1))
      break
    elif [ "$status" -ne 0 ]; then
      fail "$what: status $status, output: $(cat "$OUT")"
    fi
  done
  [ $hits -ge 1 ] || fail "create, $mode: the cut never met a running job in $TRIES tries"

  # Verify run: the failing entry is counted and the run goes on.
  printf '%s *big\n%s *small\n' $zeros "$small_md5" > v.md5
  hits=0
  for try in $(seq 1 $TRIES); do
    start_cut "$size" "$ZORVIK" -q v.md5
    what="verify, $mode file cut short (try $try)"
    [ "$status" -eq 137 ] && status=124
    expect_sound "$what"
    same_text "$what: status" 1 "$status"
    first=$(head -n 1 "$OUT")
    same_text "$what: summary" "$(printf '2 files checked\n1 errors detected')" \
      "$(tail -n +2 "$OUT")"
    case $first in
      'big: File error: File read error') hits=$((hits + 1)); break ;;
      "big: hash mismatch: $zeros != "*) ;;  # finished before the cut
      *) fail "$what: unexpected verdict [$first]" ;;
    esac
  done
  [ $hits -ge 1 ] || fail "verify, $mode: the cut never met a running job in $TRIES tries"
done

# A file that grows while hashed is hashed to its end. Sanitizer builds
# hash 1e9 bytes too slowly for this case; the plain build runs it.
if [ -n "$SANITIZED" ]; then
  note "growing file skipped in a sanitizer build"
  rm -f big
  finish
fi
size=1000000000
rm -f big
truncate -s $size big
"$ZORVIK" -q -c grow.md5 big >"$OUT" 2>"$ERR" &
pid=$!
start_watchdog 150 $pid
wait_open $pid big
for step in $(seq 1 10); do
  truncate -s +32M big
  sleep 0.01
done
kill -0 $pid 2>/dev/null && grown_while_hashed=1 || grown_while_hashed=0
wait $pid
status=$?
stop_watchdog
what="create, file of $size bytes growing while hashed"
[ "$status" -eq 137 ] && status=124
expect_sound "$what"
same_text "$what: status" 0 "$status"
if [ $grown_while_hashed = 1 ]; then
  same_text "$what: digest" "$(md5sum < big | cut -c1-32) *big" "$(entries grow.md5)"
else
  note "$what: hashed before it stopped growing; digest not compared"
fi

rm -f big
finish
