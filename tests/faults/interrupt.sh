#!/usr/bin/env bash
# Verify runs killed with SIGKILL at random moments, while hashing and while
# rewriting the verification record, never damage the entry lines, and the
# list still verifies afterwards.
. "$(dirname "$0")/../lib.sh"

FILES=300
KILLS=100

mkdir tree
for i in $(seq 1 $FILES); do
  head -c $((i * 997)) /dev/urandom > "tree/f$i"
done
RUN_LIMIT=60 run -q -r -c list.sfv tree
same_text "create: status" 0 "$status"
entries list.sfv > original.entries
same_text "create: entry count" $FILES "$(wc -l < original.entries)"

# The first verify appends the record; the user's signature is made now.
RUN_LIMIT=60 run -q list.sfv
same_text "first verify: status" 0 "$status"
grep -aq '^;R2-' list.sfv || fail "first verify wrote no record"

# The kill moments adapt: the bound shrinks after a run that finished and
# grows after one that was killed, so the kills settle around the end of
# the run, where the record is rewritten, while still sampling all of it.
exec {never}<> <(:)   # read -t on it sleeps without starting a process
touch tree/f1 tree/f2
start=$(date +%s%N)
"$ZORVIK" -q list.sfv >/dev/null 2>&1
bound_us=$(( ($(date +%s%N) - start) / 1000 ))
note "one verify run with a rewrite took ${bound_us} us"

killed=0
finished=0
for k in $(seq 1 $KILLS); do
  # Touched files lose their bits, so the run rewrites the record.
  touch tree/f$((RANDOM % FILES + 1)) tree/f$((RANDOM % FILES + 1)) tree/f$((RANDOM % FILES + 1))
  delay_us=$(( (RANDOM * 32768 + RANDOM) % (bound_us + 1) ))
  "$ZORVIK" -q list.sfv >/dev/null 2>&1 &
  pid=$!
  read -t "$(printf '%d.%06d' $((delay_us / 1000000)) $((delay_us % 1000000)))" -u $never
  kill -9 $pid 2>/dev/null
  wait $pid 2>/dev/null
  status=$?
  if [ $status -eq 137 ]; then
    killed=$((killed + 1))
    bound_us=$((bound_us * 21 / 20 + 100))
  elif [ $status -eq 0 ]; then
    finished=$((finished + 1))
    bound_us=$((bound_us * 4 / 5))
  else
    fail "kill $k after ${delay_us} us: status $status"
  fi
  if ! entries list.sfv | cmp -s - original.entries; then
    fail "kill $k after ${delay_us} us: entry lines changed"
    diff original.entries <(entries list.sfv) | head -5
    break
  fi
done
note "$killed runs killed, $finished finished before the kill (final bound ${bound_us} us)"
[ $killed -ge $((KILLS / 4)) ] || fail "only $killed of $KILLS runs were killed"
[ $finished -ge 1 ] || fail "no run finished: the kills never reached the record rewrite"

RUN_LIMIT=120 run -a list.sfv
expect_sound "verify -a after the kills"
same_text "verify -a after the kills: status" 0 "$status"
same_text "verify -a after the kills: summary" \
  "$(printf '%d files checked\nAll files Ok' $FILES)" "$(tail -n 2 "$OUT")"
same_text "verify -a after the kills: Ok lines" $FILES "$(grep -ac ': Ok   ' "$OUT")"

# The record left behind is still usable: a plain run trusts or rebuilds it.
RUN_LIMIT=120 run -q list.sfv
same_text "verify after the kills: status" 0 "$status"
same_text "verify after the kills: output" \
  "$(printf '%d files checked\nAll files Ok' $FILES)" "$(cat "$OUT")"
entries list.sfv | cmp -s - original.entries || fail "final runs changed the entry lines"

finish
