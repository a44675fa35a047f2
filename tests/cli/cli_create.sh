# Create runs: the file written, progress lines, quiet mode, path limits.
. "$(dirname "$0")/../lib.sh"

mkfile a '123456789'
mkfile b 'hello\n'
mkfile c ''
comment() { printf '; %12s  12:30.05 2010-05-31 %s\n' "$1" "$2"; }
SFV="$HEADER$(comment 9 a; comment 6 b; comment 0 c)"$'\na CBF43926\nb 363A3020\nc 00000000\n'
MD5="$HEADER"$'25f9e794323b453885f5181f1b624d0b *a\nb1946ac92492d2347c6235b4d2611184 *b\nd41d8cd98f00b204e9800998ecf8427e *c\n'

run -c list.sfv a b c
expect "create SFV" 0 $'a: 100% complete\nb: 100% complete\nc: 100% complete\n' ""
same_list "SFV file" "$SFV" list.sfv
run -q -c list.sfv a b c
expect "create SFV quietly over an existing file" 0 "" ""
same_list "SFV file, quiet" "$SFV" list.sfv
run -c list.md5 a b c
expect "create MD5" 0 $'a: 100% complete\nb: 100% complete\nc: 100% complete\n' ""
same_list "MD5 list" "$MD5" list.md5

# Nothing to list: the header alone.
run -c none.sfv
expect "no operands" 0 "" ""
same_list "no operands (file)" "$HEADER" none.sfv
mkdir dir
mkfifo fifo
run -c none.md5 missing dir fifo
expect "only skipped operands" 1 "" $'Could not stat file: missing\nSkipping directory dir: use -r to list its files\n'
same_list "only skipped operands (file)" "$HEADER" none.md5

# Operands are hashed under their whole name or not at all.
mkfile abc 'hello\n'
mkfile ab 'hello\n'
name511="$(printf './%.0s' $(seq 254))abc"
name512="$(printf './%.0s' $(seq 255))ab"
run -c long.md5 "$name511"
expect "operand of 511 bytes" 0 "$name511: 100% complete"$'\n' ""
same_list "operand of 511 bytes (file)" "$HEADER"$'b1946ac92492d2347c6235b4d2611184 *'"$name511"$'\n' long.md5
run -c long.sfv a "$name512"
expect "operand of 512 bytes" 247 "" $'Path is too long\n'
absent "operand of 512 bytes leaves no list" long.sfv
run -c "$(printf './%.0s' $(seq 252))long2.sfv" a
expect "checksum file name of 512 bytes" 247 "" $'Path is too long\n'
[ ! -e long2.sfv ] || fail "a checksum file was created under a name too long"

# A name that an entry line cannot carry as it is ends the run: a list that
# names another file than the one hashed would be worse than none.
# A message names it escaped when it holds a line break.
for c in $'new\nline|\\Cannot list new\\nline' ';semicolon|' '"quoted"|' '"quote|' 'blank |' \
  $'tab\t|' $'cr\r|\\Cannot list cr\\r'; do
  name=${c%%|*} shown=${c#*|}
  [ -n "$shown" ] || shown="Cannot list $name"
  mkfile "$name" 'x\n'
  run -c odd.sfv a "$name"
  expect "SFV refuses $(printf '%q' "$name")" 247 "" "$shown in the checksum file"$'\n'
  absent "SFV refuses $(printf '%q' "$name") (file)" odd.sfv
  # MD5 lists escape line feeds and carriage returns as md5sum does.
  run -q -c odd.md5 a "$name"
  expect "MD5 lists $(printf '%q' "$name")" 0 "" ""
  run -q odd.md5
  expect "MD5 list with $(printf '%q' "$name") verifies" 0 $'2 files checked\nAll files Ok\n' ""
done
for name in ' lead' 'x 12345678' 'trail"' 'back\slash'; do
  mkfile "$name" 'x\n'
  run -q -c fine.sfv a "$name"
  expect "SFV lists $(printf '%q' "$name")" 0 "" ""
  run -q -a fine.sfv
  expect "SFV list with $(printf '%q' "$name") verifies" 0 $'2 files checked\nAll files Ok\n' ""
done

# A failure ends the run before anything is written but the header.
run -c dir a b
expect "create over a directory" 255 $'Error creating sfv file: Is a directory\n' ""

# Files are hashed to their end, whatever size they report.
run -q -c proc.md5 /proc/self/mounts /proc/version
grep -q "^$(md5sum </proc/version | cut -c1-32) \*/proc/version\$" proc.md5 || fail "/proc/version hashed short"

# Neither the list being replaced nor the new one is listed in it.
mkdir own
mkfile own/f 'f\n'
"$ZORVIK" -q -c own/list.md5 own/f
run -q -r -c own/list.md5 own
expect "list inside the tree" 0 "" ""
same_list "list inside the tree (file)" "$HEADER"$'9a8ad92c50cae39aa2c5604fd0ab6d8c *own/f\n' own/list.md5

# One worker or several give the same lists, pieces of big files included.
mkdir mixed
for size in 0 1 63 64 65 4194303 4194305; do head -c $size /dev/urandom >mixed/s$size; done
truncate -s 100M mixed/sparse
printf 'tail' >>mixed/sparse
for type in sfv md5; do
  "$ZORVIK" -q -j 1 -r -c one.$type mixed
  "$ZORVIK" -q -j 3 -r -c three.$type mixed
  cmp -s <(tail -n +2 one.$type) <(tail -n +2 three.$type) || fail "-j 1 and -j 3 differ ($type)"
done
[ "$(grep -c sparse one.md5)" = 1 ] && grep -q "^$(md5sum <mixed/sparse | cut -c1-32) \*mixed/sparse$" one.md5 || fail "sparse file hashed wrong"

finish
