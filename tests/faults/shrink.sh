#!/usr/bin/env bash
# Files that change while they are hashed. The size changes at a known
# moment, set by a preloaded helper (shrink_at.c): right after the program
# mapped the file, or right after it read the file's first bytes. A file cut
# short ends its job with "File read error" (never a signal death, never a
# hash of what was left, never an endless read); a file that grows is hashed
# to its new end. The helper's log shows which way the bytes were taken, so
# a case meant for a mapped file fails when the file was read instead.
. "$(dirname "$0")/../lib.sh"

SHIFT=${2:?usage: $0 path/to/zorvik path/to/shrink_at.so}
case $SHIFT in /*) ;; *) SHIFT=$OLDPWD/$SHIFT ;; esac

printf 'small file\n' > small
small_md5=$(md5_of small)
small_crc=$(crc_of small)

# change_at WHEN SIZE FILE CMD...: runs CMD, the size of FILE set to SIZE
# right after the program first maps it (WHEN map) or reads from it (WHEN
# read). Leaves $OUT, $ERR and $status as run does, and in $CHANGED what the
# helper did (empty when it never met the file that way).
change_at() {
  local when=$1 size=$2 file=$3
  shift 3
  rm -f .changed
  RUN_LIMIT=120 run_cmd env LD_PRELOAD="$SHIFT" ZORVIK_SHRINK_FILE="$PWD/$file" ZORVIK_SHRINK_TO="$size" \
    ZORVIK_SHRINK_WHEN="$when" ZORVIK_SHRINK_LOG="$PWD/.changed" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "$@" < /dev/null
  CHANGED=$(cat .changed 2>/dev/null)
}

# fresh NAME BYTES: a file of random bytes, just written, so the page cache
# holds it all.
fresh() {
  head -c "$2" /dev/urandom > "$1"
  cat "$1" > /dev/null
}

# Cut short: create runs end with the code of the first failing file (-3),
# verify runs count it and go on. Files of a MiB and more that the page
# cache holds are mapped, smaller ones read, whether hashed alone or MD5
# files side by side. Each line: a name, how the file is taken, its size
# before and after, the format, and the options.
while IFS='|' read -r what when before after type options; do
  fresh big "$before"
  big_md5=$(md5_of big)
  big_crc=$(crc_of big)
  if [ "$type" = create ]; then
    # shellcheck disable=SC2086
    change_at "$when" "$after" big "$ZORVIK" -q $options big
    expect_sound "$what"
    same_text "$what: status" 253 "$status"
    same_text "$what: output" 'big: File error: File read error' "$(cat "$OUT")"
    same_text "$what: entries written" '' "$(entries "${options##* }")"
  else
    printf 'big %s\nsmall %s\n' "$big_crc" "$small_crc" > v.sfv
    printf '%s *big\n%s *small\n' "$big_md5" "$small_md5" > v.md5
    # shellcheck disable=SC2086
    change_at "$when" "$after" big "$ZORVIK" -q $options
    expect_sound "$what"
    same_text "$what: status" 1 "$status"
    same_text "$what: output" "$(printf 'big: File error: File read error\n2 files checked\n1 errors detected')" \
      "$(cat "$OUT")"
  fi
  case $CHANGED in
    "${when/map/mapped} "*) note "$what: $CHANGED" ;;
    *) fail "$what: the file was never ${when/map/mapped}: [$CHANGED]" ;;
  esac
  rm -f out.sfv out.md5
done <<'CASES'
create SFV, mapped file cut short|map|8388608|2097152|create|-c out.sfv
create MD5 on the caller's thread, mapped file cut short|map|8388608|0|create|-j 1 -c out.md5
create SFV, read file cut short|read|900000|100000|create|-c out.sfv
verify SFV, mapped file cut short|map|8388608|4194305|verify|v.sfv
verify MD5 side by side, read file cut short|read|900000|100000|verify|-j 1 v.md5
verify MD5 side by side, mapped file cut short|map|8388608|1048576|verify|-j 1 v.md5
CASES

# Side by side, a file cut short under its mapping faults in the midst of
# a round over every lane, after the lane beside it came to its end (2 MiB
# and 16 KiB in, 16 KiB before the fault): that file, and the one read,
# still get their own digests.
fresh big 8388608
fresh beside 2113536
printf '%s *big\n%s *beside\n%s *small\n' "$(md5_of big)" "$(md5_of beside)" "$small_md5" > three.md5
change_at map 2129920 big "$ZORVIK" -j 1 three.md5
what="verify MD5 side by side, mapped file cut short beside others"
expect_sound "$what"
same_text "$what: status" 1 "$status"
# Each verdict after its file's progress line.
same_text "$what: output" "$(printf 'big: File error: File read error\nbeside: Ok\nsmall: Ok\n3 files checked\n1 errors detected')" \
  "$(sed 's/.*\r//; s/ *$//' "$OUT")"
case $CHANGED in
  "mapped "*) ;;
  *) fail "$what: the file was never mapped: [$CHANGED]" ;;
esac
rm -f beside three.md5

# Grown: hashed to the new end, whichever way the first bytes came.
while IFS='|' read -r what when before after; do
  fresh big "$before"
  change_at "$when" "$after" big "$ZORVIK" -q -c grow.md5 big
  expect_sound "$what"
  same_text "$what: status" 0 "$status"
  same_text "$what: digest" "$(md5_of big) *big" "$(entries grow.md5)"
  same_text "$what: size" "$after" "$(stat -c %s big)"
  case $CHANGED in
    "${when/map/mapped} "*) ;;
    *) fail "$what: the file was never ${when/map/mapped}: [$CHANGED]" ;;
  esac
  rm -f grow.md5
done <<'CASES'
create MD5, mapped file grown|map|8388608|11534336
create MD5, read file grown|read|900000|2000000
CASES

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

# A big file that grows while hashed is hashed to its end. Sanitizer builds
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
