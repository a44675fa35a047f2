#!/usr/bin/env bash
# A checksum file that cannot be written completely is never reported as
# created: /dev/full, a file-size limit, and (as root) a full tmpfs.
. "$(dirname "$0")/../lib.sh"

printf 'alpha\n' > a
printf 'beta\n' > b

# --- /dev/full: every write fails with ENOSPC (its text, status 255).
for type in sfv md5; do
  for quiet in "" -q; do
    what="-c /dev/full -t $type $quiet a b"
    RUN_LIMIT=30 run -c /dev/full -t $type $quiet a b
    expect_sound "$what"
    same_text "$what: status" 255 "$status"
    expected='Error writing checksum file: No space left on device'
    if [ -n "$quiet" ]; then
      same_text "$what: output" "$expected" "$(cat "$OUT")"
    else
      same_text "$what: output" \
        "$(printf 'a: 100%% complete\nb: 100%% complete\n%s' "$expected")" "$(cat "$OUT")"
    fi
  done
  # No files at all: only the header lines, which fail at the final flush.
  RUN_LIMIT=30 run -q -t $type -c /dev/full
  expect_sound "-c /dev/full -t $type (no files)"
  same_text "-c /dev/full -t $type (no files): status" 255 "$status"
  same_text "-c /dev/full -t $type (no files): output" \
    'Error writing checksum file: No space left on device' "$(cat "$OUT")"
done

# --- A file-size limit (EFBIG) cuts the list short part-way; SIGXFSZ, with
# its own action or ignored by the caller, ends nothing but the write.
mkdir -p many
for i in $(seq 1 300); do printf '%s\n' "$i" > "many/file-with-a-longish-name-$i.txt"; done
for xfsz in ignored default; do
  for list in cut.sfv cut.md5; do
    what="ulimit -f 4, SIGXFSZ $xfsz, -c $list"
    (if [ $xfsz = ignored ]; then trap '' XFSZ; fi; ulimit -f 4
     exec "$ZORVIK" -q -r -c "$list" many) >"$OUT" 2>"$ERR" </dev/null &
    wait_limited $! 30
    expect_sound "$what"
    same_text "$what: status" 255 "$status"
    same_text "$what: output" 'Error writing checksum file: File too large' "$(cat "$OUT")"
    # Nothing of the cut list remains: neither a list nor its partial file.
    same_text "$what: files left" '' "$(ls -d "$list" "$list".zorvik-partial-* 2>/dev/null)"
  done
done

# --- A full file system (root only: a private mount namespace with a
# one-page tmpfs). The list outgrows the page.
if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
  mkdir -p full
  for list in full/list.sfv full/list.md5; do
    unshare -m bash -c '
      mount -t tmpfs -o size=4k tmpfs full || exit 99
      exec timeout 30 "$1" -q -r -c "$2" many' _ "$ZORVIK" "$list" >"$OUT" 2>"$ERR"
    status=$?
    if [ "$status" -eq 99 ]; then
      note "tmpfs not mountable here; full file system case skipped"
      break
    fi
    expect_sound "full tmpfs, -c $list"
    same_text "full tmpfs, -c $list: status" 255 "$status"
    same_text "full tmpfs, -c $list: output" \
      'Error writing checksum file: No space left on device' "$(cat "$OUT")"
  done

  # The verification record cannot be appended on a full disk: the list
  # stays byte for byte as it was (a comment fills its page, so that the
  # record needs another), the verdicts stand with a warning, and once
  # there is room the list still verifies.
  unshare -m bash -c '
    mount -t tmpfs -o size=64k tmpfs full || exit 99
    cd full && cp ../a ../b . &&
    "$1" -q -c list.sfv a b || exit 98
    printf ";%*s\n" $((4096 - 2 - $(stat -c %s list.sfv))) "" >> list.sfv
    cp list.sfv ../before.sfv
    dd if=/dev/zero of=filler bs=4k 2>/dev/null
    timeout 30 "$1" list.sfv > ../.verify.out 2> ../.verify.err
    echo $? > ../.verify.rc
    rm -f filler
    cp list.sfv ../after.sfv
    exec timeout 30 "$1" -a list.sfv' _ "$ZORVIK" >"$OUT" 2>"$ERR"
  status=$?
  if [ "$status" -ne 99 ]; then
    same_text "verify on a full disk: status" 0 "$(cat .verify.rc)"
    same_text "verify on a full disk: output" \
      "$(printf 'a: 100%% complete\ra: Ok                   \nb: 100%% complete\rb: Ok                   \n2 files checked\nAll files Ok')" \
      "$(cat .verify.out)"
    same_text "verify on a full disk: warning" \
      'Warning: could not save the verification record of list.sfv: No space left on device' "$(cat .verify.err)"
    same_files "verify on a full disk: the list" before.sfv after.sfv
    expect_sound "verify -a after freeing space"
    same_text "verify -a after freeing space: status" 0 "$status"
    same_text "verify -a after freeing space: output" \
      "$(printf 'a: 100%% complete\ra: Ok                   \nb: 100%% complete\rb: Ok                   \n2 files checked\nAll files Ok')" \
      "$(cat "$OUT")"
  fi

  # No room for the temporary file's inode: the run ends before hashing,
  # the list it would replace untouched (never written in its place).
  unshare -m bash -c '
    mount -t tmpfs -o size=64k,nr_inodes=3 tmpfs full || exit 99
    cd full && cp ../a . && "$1" -q -c list.md5 a || exit 98
    cp list.md5 ../before.md5
    stat -c %i list.md5 > ../.inode.before
    touch filler 2>/dev/null
    timeout 30 "$1" -u list.md5 a ../b
    echo $? > ../.update.rc
    stat -c %i list.md5 > ../.inode.after
    cp list.md5 ../after.md5' _ "$ZORVIK" >"$OUT" 2>"$ERR"
  status=$?
  if [ "$status" -ne 99 ]; then
    same_text "no inode for the new list: status" 255 "$(cat .update.rc)"
    same_text "no inode for the new list: output" 'Error creating md5 file: No space left on device' "$(cat "$OUT")"
    same_files "no inode for the new list: the list" before.md5 after.md5
    same_text "no inode for the new list: same file" "$(cat .inode.before)" "$(cat .inode.after)"
  fi
else
  note "not root: full file system cases skipped (they mount a small tmpfs)"
fi

finish
