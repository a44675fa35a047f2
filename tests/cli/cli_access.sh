# Access as an ordinary user (run through setpriv, so this needs root):
# unreadable files and directories, unsearchable directories, files the
# access check lets pass but the system refuses, read-only checksum files.
. "$(dirname "$0")/../lib.sh"

if ! is_root || ! command -v setpriv >/dev/null; then
  echo "SKIP: needs root and setpriv to act as an ordinary user"
  exit 77
fi
make_nobody_home
chmod 755 "$WORK"
mkdir acc
cd acc || exit 2
mkfile ok 'hello\n'
mkfile own044 'x\n'
chmod 044 own044
mkfile tree/f 'f\n'
mkfile tree/closed/hidden 'h\n'
chmod 000 tree/closed
mkfile blind/x 'x\n'
chmod 444 blind
chown -R 65534:65534 .
# Owned by root, group nogroup: the access check reads the others bit, the
# system the group bit of the primary group, which the check does not know.
mkfile grp 'g\n'
chown 0:65534 grp
chmod 604 grp

# Root reads anything.
run -q -c "$SCRATCH/root.sfv" own044
expect "root reads mode 044" 0 "" ""

run_as_nobody -r -c list.sfv own044 ok tree
expect "unreadable file and directory" 1 $'ok: 100% complete\ntree/f: 100% complete\n' \
  $'Access denied to own044\ntree/closed: Access denied\n'
run_as_nobody -r -c list2.sfv ok blind tree
expect "unsearchable directory" 251 "" $'Could not stat file blind/x: Access denied\n'
absent "unsearchable directory leaves no list" list2.sfv
run_as_nobody -c list3.sfv ok grp tree/f
expect "file error" 251 $'ok: 100% complete\ngrp: 100% complete\ngrp: File error: Access denied\n' ""
absent "file error leaves no list" list3.sfv
run_as_nobody -c /list.sfv ok
expect "checksum file in an unwritable directory" 251 $'Error creating sfv file: Access denied\n' ""

# A walk's files are judged by what hashing opens: each "Access denied"
# still comes in its place among the walk's other lines, before any file.
mkfile walk/a 'a\n'
mkfile walk/b.zorvik-partial-abc123 'b\n'
mkfile walk/c 'c\n'
mkfile walk/d 'd\n'
mkfile walk/e 'e\n'
ln -s . walk/loop
mkfile walk/z 'z\n'
chown -R 65534:65534 walk
chmod 000 walk/c
chown 0:0 walk/e
chmod 600 walk/e
setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$NOBODY_HOME" \
  "$ZORVIK" --sort -r -c walk.sfv walk >"$SCRATCH/both" 2>&1
status=$?
checks=$((checks + 1))
[ "$status" = 1 ] || fail "judged walk: status $status"
same "judged walk" 'Skipping leftover walk/b.zorvik-partial-abc123
Access denied to walk/c
Access denied to walk/e
walk/loop was previously seen as walk
walk/a: 100% complete
walk/d: 100% complete
walk/z: 100% complete
' "$SCRATCH/both"
grep -v '^;' walk.sfv | sed 's/ [0-9A-F]*$//' >"$SCRATCH/got"
same "judged walk (names listed)" $'walk/a\nwalk/d\nwalk/z\n' "$SCRATCH/got"

# Verifying: unreadable files are file errors; read-only lists still verify.
"$ZORVIK" -q -c all.sfv ok grp
"$ZORVIK" -q all.sfv
chown 0:0 all.sfv
chmod 644 all.sfv
cp all.sfv "$SCRATCH/before"
run_as_nobody -a all.sfv
expect "read-only SFV file" 1 \
  $'ok: 100% complete\rok: Ok                   \ngrp: 100% complete\rgrp: File error: Access denied\n2 files checked\n1 errors detected\n' ""
cmp -s all.sfv "$SCRATCH/before" || fail "a read-only SFV file was changed"
"$ZORVIK" -q -c all.md5 ok
chown 0:0 all.md5
run_as_nobody all.md5
expect "read-only MD5 list" 0 $'ok: 100% complete\rok: Ok                   \n1 files checked\nAll files Ok\n' ""

# -x: the first file operand sets the device even when it may not be read.
SHM=$(mktemp -d -p /dev/shm)
trap 'rm -rf "$SHM"; cleanup' EXIT
chmod 755 "$SHM"
if [ "$(stat -c %d /dev/shm)" != "$(stat -c %d .)" ]; then
  mkfile "$SHM/far" 'far\n'
  chmod 000 "$SHM/far"
  chown 65534 "$SHM/far"
  run_as_nobody -x -c x.sfv "$SHM/far" ok
  expect "-x reference from an unreadable operand" 1 "" "Access denied to $SHM/far"$'\n'
  same_list "-x reference from an unreadable operand (file)" "$HEADER" x.sfv
fi

finish
