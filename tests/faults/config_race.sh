#!/usr/bin/env bash
# First verify runs started at once with one fresh HOME all create the
# user's signature: the configuration file must end with exactly one
# Signature line and every setting it held before. First runs killed at
# random moments leave the file either as it was or with the signature
# added, never cut short.
. "$(dirname "$0")/../lib.sh"

ROUNDS=20

printf 'some data\n' > data
crc=$(crc_of data)
for n in 1 2 3 4; do printf 'data %s\n' "$crc" > "list$n.sfv"; done

for round in $(seq 1 $ROUNDS); do
  # Every fourth round runs four at once.
  runs=2
  [ $((round % 4)) -eq 0 ] && runs=4
  export HOME=$SCRATCH/home$round
  conf=$HOME/.config/zorvik
  mkdir -p "$conf"
  printf 'expiretime=30d\nfoo=bar\n; a comment\nUpdateDB = true\n' > "$conf/zorvik.conf"
  pids=()
  for n in $(seq 1 $runs); do
    sed -i '/^;/d' "list$n.sfv"   # no record: a first run
    timeout 60 "$ZORVIK" -q "list$n.sfv" > "out$n" 2>&1 &
    pids+=($!)
  done
  for n in $(seq 1 $runs); do
    wait "${pids[$((n - 1))]}"
    status=$?
    same_text "round $round, run $n: status" 0 "$status"
    same_text "round $round, run $n: output" "$(printf '1 files checked\nAll files Ok')" "$(cat "out$n")"
  done
  file=$conf/zorvik.conf
  same_text "round $round: Signature lines" 1 "$(grep -aic '^signature=' "$file")"
  grep -aqx 'expiretime=30d' "$file" || fail "round $round: expiretime lost: $(tr '\n' '|' < "$file")"
  grep -aqx 'foo=bar' "$file" || fail "round $round: foo lost: $(tr '\n' '|' < "$file")"
  grep -aqix 'updatedb *= *true' "$file" || fail "round $round: UpdateDB lost: $(tr '\n' '|' < "$file")"
  same_text "round $round: lines in the file" 4 "$(grep -ac . "$file")"
  same_text "round $round: files left in $conf" zorvik.conf "$(ls -A "$conf")"
done

KILLS=40
with=0
exec {never}<> <(:)   # read -t on it sleeps without starting a process
old=$(printf 'expiretime=30d\nfoo=bar\nUpdateDB = true\n')
for k in $(seq 1 $KILLS); do
  export HOME=$SCRATCH/killed$k
  conf=$HOME/.config/zorvik
  mkdir -p "$conf"
  printf '%s\n' "$old" > "$conf/zorvik.conf"
  sed -i '/^;/d' list1.sfv
  "$ZORVIK" -q list1.sfv >/dev/null 2>&1 &
  pid=$!
  read -t "$(printf '0.%03d' $((RANDOM % 30)))" -u $never
  kill -9 $pid 2>/dev/null
  wait $pid 2>/dev/null
  now=$(cat "$conf/zorvik.conf")
  if [ "$now" != "$old" ] && [ "$(grep -av '^Signature=[0-9]*$' "$conf/zorvik.conf")" != "$old" ]; then
    fail "kill $k: configuration damaged: $(printf '%q' "$now")"
  fi
  signed=$(grep -ac '^Signature=' "$conf/zorvik.conf")
  [ "$signed" -le 1 ] || fail "kill $k: $signed Signature lines"
  with=$((with + signed))
done
note "$with of $KILLS killed first runs had stored the signature"

finish
