#!/usr/bin/env bash
# Runs on one list at the same time take turns: two updates adding
# different files, round after round, keep every entry, on a list that
# exists and on one that does not yet; a verify run beside an update never
# loses the update's entries with its record.
. "$(dirname "$0")/../lib.sh"

ROUNDS=30
[ -n "$SANITIZED" ] && ROUNDS=10
for i in $(seq 100 $((150 + ROUNDS))); do printf '%s\n' "$i" > "f$i"; done

# names LIST: the names a list holds, sorted.
names() { entries "$1" | sed -E 's/ [0-9A-F]{8}$//; s/^[0-9a-f]{32} \*//' | sort; }
# expected FIRST...: the names f100 and fFIRST+1 to fFIRST+ROUNDS for each FIRST.
expected() {
  { [ "$1" = with100 ] && echo f100; shift
    for first in "$@"; do for r in $(seq 1 $ROUNDS); do echo "f$((first + r))"; done; done; } | sort
}

run_pair() {
  "$ZORVIK" -q -u "$1" "$2" >"$SCRATCH/one.out" 2>&1 &
  local one=$!
  "$ZORVIK" -q -u "$1" "$3" >"$SCRATCH/two.out" 2>&1 &
  local two=$!
  wait $one || fail "$1, $2: status $?: $(cat "$SCRATCH/one.out")"
  wait $two || fail "$1, $3: status $?: $(cat "$SCRATCH/two.out")"
}

# A list that exists: each update reads what the other wrote.
"$ZORVIK" -q -c list.sfv f100
for r in $(seq 1 $ROUNDS); do run_pair list.sfv "f$((100 + r))" "f$((150 + r))"; done
same_text "two updates of an SFV file" "$(expected with100 100 150)" "$(names list.sfv)"
RUN_LIMIT=60 run -q -a list.sfv
same_text "two updates of an SFV file: verify" \
  "$(printf '%d files checked\nAll files Ok' $((2 * ROUNDS + 1)))" "$(cat "$OUT")"

# A list that does not exist yet: its directory stands for it.
for r in $(seq 1 $ROUNDS); do
  rm -f new.md5
  run_pair new.md5 "f$((100 + r))" "f$((150 + r))"
  same_text "round $r, two updates of a new MD5 list" \
    "$(printf 'f%d\nf%d' $((100 + r)) $((150 + r)))" "$(names new.md5)"
done

# A verify run beside an update: the record it writes never costs the
# update's entries, and whatever record is left still vouches correctly.
"$ZORVIK" -q -c both.sfv f100
for r in $(seq 1 $ROUNDS); do
  touch f100
  "$ZORVIK" -q both.sfv >"$SCRATCH/verify.out" 2>&1 &
  verify=$!
  "$ZORVIK" -q -u both.sfv "f$((100 + r))" || fail "round $r: update failed"
  wait $verify || fail "round $r: verify status $?: $(cat "$SCRATCH/verify.out")"
done
same_text "verify beside update" "$(expected with100 100)" "$(names both.sfv)"
RUN_LIMIT=60 run -q both.sfv
same_text "verify beside update: verify" \
  "$(printf '%d files checked\nAll files Ok' $((ROUNDS + 1)))" "$(cat "$OUT")"

finish
