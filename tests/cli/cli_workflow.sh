# The verify workflow: lists brought up to date with -u, missing files
# passed over, the exit status alone.
. "$(dirname "$0")/../lib.sh"

SUMMARY=$'files checked\nAll files Ok\n'
mkdir photos
mkfile photos/a 'one\n'
mkfile photos/b 'two\n'

# -u on a list that does not exist is -c, then says how many it added.
run -r -u archive.sfv photos
expect "update creates" 0 "$(printf 'photos/%s: 100%% complete\n' $(ls -U photos))"$'\n2 files added\n' ""
"$ZORVIK" -q -r -c created.sfv photos
cmp -s <(tail -n +2 archive.sfv) <(tail -n +2 created.sfv) || fail "update and create list differently"
settle
run -q archive.sfv
chmod 640 archive.sfv
cp archive.sfv "$SCRATCH/before"

# New files come after the listed ones (their comments after the comments),
# the record stays last and keeps vouching for the files it knew.
mkfile photos/c 'three\n'
mkfile extra 'four\n'
run -r -u archive.sfv photos extra
expect "update adds" 0 $'photos/c: 100% complete\nextra: 100% complete\n2 files added\n' ""
{
  sed -n '1,5p' "$SCRATCH/before"
  printf '; %12s  12:30.05 2010-05-31 %s\n' 6 photos/c 5 extra
  sed -n '6,7p' "$SCRATCH/before"
  printf 'photos/c FF46C5D8\nextra 1CF3CA74\n'
  sed -n '8,10p;12p' "$SCRATCH/before"
} >"$SCRATCH/expected-list"
# The binding line (line 11) alone changes: bound to the new entry lines.
grep -v '^;R3-' archive.sfv | cmp -s - "$SCRATCH/expected-list" || { fail "updated list"; diff "$SCRATCH/expected-list" archive.sfv; }
[ "$(stat -c %a archive.sfv)" = 640 ] || fail "update changed the mode"
settle
run archive.sfv
expect "verify after update" 0 "$(printf 'photos/%s: Previously verified Ok\n' $(ls -U photos | grep -v c))"$'\nphotos/c: 100% complete\rphotos/c: Ok                   \nextra: 100% complete\rextra: Ok                   \n4 '"$SUMMARY" ""

# Nothing new: nothing added, the list stays as it is; a listed file that
# is gone stays listed.
rm extra
cp archive.sfv "$SCRATCH/before"
run -q -r -u archive.sfv photos
expect "update, nothing new, quiet" 0 "" ""
cmp -s archive.sfv "$SCRATCH/before" || fail "an update that added nothing changed the list"
run -u list.md5 photos/a
run -u list.md5 photos/a photos/b
expect "MD5 update" 0 $'photos/b: 100% complete\n1 files added\n' ""
grep -v '^;' list.md5 >"$SCRATCH/got"
same "MD5 update (entries)" "$(md5sum photos/a photos/b | sed 's/  / */')"$'\n' "$SCRATCH/got"

# --ignore-missing: a missing file is neither shown nor counted; a list of
# which nothing could be checked is an error, as md5sum has it, and is not
# called all Ok.
run --ignore-missing archive.sfv
expect "ignore missing" 0 "$(printf 'photos/%s: Previously verified Ok\n' $(ls -U photos | grep -v c) c)"$'\n3 '"$SUMMARY" ""
printf 'gone 00000000\nalso-gone 00000000\n' >gone.sfv
run --ignore-missing gone.sfv
expect "nothing verified" 1 $'0 files checked\n' $'gone.sfv: no file was verified\n'
run gone.sfv
expect "missing files without the option" 1 $'gone: File error: File not found\nalso-gone: File error: File not found\n2 files checked\n2 errors detected\n' ""

# --status: the exit status is the answer; standard error still speaks.
run --status --ignore-missing archive.sfv
expect "status, all fine" 0 "" ""
run --status gone.sfv
expect "status, errors" 1 "" ""
run --status --ignore-missing gone.sfv
expect "status, nothing verified" 1 "" $'gone.sfv: no file was verified\n'
run --status missing.sfv
expect "status, no list" 252 "" $'missing.sfv: File not found\n'

finish
