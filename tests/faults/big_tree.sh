#!/usr/bin/env bash
# Large runs complete: a tree of 100,000 files is listed and verified, and a
# list of 300,000 entries verifies, its first 262,144 entries passing on a
# record whose bitmap is full and the rest (which have no bit) hashed.
# Making and removing 100,000 files is mostly disk time: use memory when
# there is room.
if [ -z "${TMPDIR:-}" ] && [ "$(df -Pk /dev/shm 2>/dev/null | awk 'NR == 2 { print $4 }')" -gt 2000000 ] 2>/dev/null; then
  export TMPDIR=/dev/shm
fi
. "$(dirname "$0")/../lib.sh"

DIRS=10
PER_DIR=10000
if [ -n "$SANITIZED" ]; then PER_DIR=2000; fi  # sanitizers: 20,000 files
FILES=$((DIRS * PER_DIR))
ENTRIES=300000
BITS=262144

conf=$HOME/.config/zorvik
mkdir -p "$conf"
echo 'signature=faults-signature' > "$conf/zorvik.conf"

mkdir tree
for d in $(seq 1 $DIRS); do
  mkdir "tree/d$d"
  head -c $((PER_DIR * 16)) /dev/urandom | split -b 16 -a 5 - "tree/d$d/f"
done

note "tree made after ${SECONDS}s"
RUN_LIMIT=300 run -q -r -c tree.sfv tree
note "create done after ${SECONDS}s"
expect_sound "create $FILES files"
same_text "create $FILES files: status" 0 "$status"
same_text "create $FILES files: output" '' "$(cat "$OUT")"
same_text "create $FILES files: entries" $FILES "$(entries tree.sfv | wc -l)"

RUN_LIMIT=300 run -q tree.sfv
note "verify done after ${SECONDS}s"
expect_sound "verify $FILES files"
same_text "verify $FILES files: status" 0 "$status"
same_text "verify $FILES files: output" \
  "$(printf '%d files checked\nAll files Ok' $FILES)" "$(cat "$OUT")"

# The tree's entries repeated up to 300,000, then a record in the user's
# signature, written in the year 2100, with every one of its bits set.
entries tree.sfv > one
for c in $(seq 1 $((ENTRIES / FILES))); do cat one; done > long.sfv
digest=$(md5sum < long.sfv | cut -c1-32)
ticks=$(( (4102444800 + 11644473600) * 10000000 ))
time_bytes=
for i in 0 1 2 3 4 5 6 7; do time_bytes+=$(printf '\\x%02x' $(( (ticks >> (8 * i)) & 255 ))); done
{
  echo ';R2-faults-signature'
  printf ';R2-%s\n' "$(printf "$time_bytes" | base64)"
  head -c $((BITS / 8)) /dev/zero | tr '\0' '\377' | base64 -w 64 | sed 's/^/;R2-/'
  # Bound to these entry lines and to this directory, as zorvik binds it.
  printf ';R3-%s-%s-%s\n' "$digest" "$(stat -c %d .)" "$(stat -c %i .)"
} >> long.sfv
cp long.sfv long.before

RUN_LIMIT=300 run long.sfv
note "long verify done after ${SECONDS}s"
expect_sound "verify $ENTRIES entries"
same_text "verify $ENTRIES entries: status" 0 "$status"
same_text "verify $ENTRIES entries: summary" \
  "$(printf '%d files checked\nAll files Ok' $ENTRIES)" "$(tail -n 2 "$OUT")"
same_text "verify $ENTRIES entries: previously verified" $BITS \
  "$(grep -ac ': Previously verified Ok$' "$OUT")"
same_text "verify $ENTRIES entries: hashed" $((ENTRIES - BITS)) "$(grep -ac ': Ok   ' "$OUT")"
# A record without fingerprints is trusted as it stands and gets them, one
# for each entry with a bit, 12 a line; the lines before stay as they were.
same_text "verify $ENTRIES entries: fingerprint lines" $(( (BITS + 11) / 12 )) "$(grep -c '^;R4-' long.sfv)"
same_files "verify $ENTRIES entries: entries unchanged" <(grep -v '^;R' long.before) <(grep -v '^;R' long.sfv)
# Entries past the bitmap never change it, so nothing is rewritten.
cp long.sfv long.fingerprinted
RUN_LIMIT=300 run long.sfv
note "second long verify done after ${SECONDS}s"
same_text "verify $ENTRIES entries again: previously verified" $BITS \
  "$(grep -ac ': Previously verified Ok$' "$OUT")"
same_files "verify $ENTRIES entries again: list unchanged" long.fingerprinted long.sfv

finish
