# Verify runs: verdict lines, summary, previously verified entries, -a, -p,
# quiet mode, malformed lines and read errors.
. "$(dirname "$0")/../lib.sh"

# ok NAME...: the lines of files that verified; use as "$(ok a b)"$'\n'.
ok() { for p; do printf '%s: 100%% complete\r%s: Ok                   \n' "$p" "$p"; done; }
SUMMARY2=$'2 files checked\nAll files Ok\n'

mkfile a '123456789'
mkfile b 'hello\n'
mkfile c ''
run -q -c list.sfv a b
settle
run list.sfv
expect "first verify" 0 "$(ok a b)"$'\n'"$SUMMARY2" ""
cp list.sfv "$SCRATCH/after-first"
run list.sfv
expect "previously verified" 0 $'a: Previously verified Ok\nb: Previously verified Ok\n'"$SUMMARY2" ""
cmp -s list.sfv "$SCRATCH/after-first" || fail "an unchanged second run rewrote the file"
run -a list.sfv
expect "-a hashes everything" 0 "$(ok a b)"$'\n'"$SUMMARY2" ""
run -q list.sfv
expect "quiet, all fine" 0 "$SUMMARY2" ""
run -q -a list.sfv
expect "quiet -a, all fine" 0 "$SUMMARY2" ""

# A changed file is hashed again; the stored hash is shown first.
printf 'world\n' >b
run list.sfv
expect "changed file" 1 $'a: Previously verified Ok\nb: 100% complete\rb: hash mismatch: 20303a36 != a86138dd\n2 files checked\n1 errors detected\n' ""
run -q list.sfv
expect "changed file, quiet" 1 $'b: hash mismatch: 20303a36 != a86138dd\n2 files checked\n1 errors detected\n' ""
mkfile b 'hello\n'

# Stored CRCs as SFV writes them, shown in memory order on a mismatch.
mkfile crafted.sfv '; a comment\na 00000001\nc 00000000\nmissing 12345678\n'
run crafted.sfv
expect "mismatch and missing file" 1 \
  $'a: 100% complete\ra: hash mismatch: 01000000 != 2639f4cb\n'"$(ok c)"$'\nmissing: File error: File not found\n3 files checked\n2 errors detected\n' ""
run -q crafted.sfv
expect "mismatch and missing file, quiet" 1 \
  $'a: hash mismatch: 01000000 != 2639f4cb\nmissing: File error: File not found\n3 files checked\n2 errors detected\n' ""

# Empty lists, and lists of comments only.
: >empty.sfv
mkfile comments.sfv '; one\n;\n\n'
: >empty.md5
for f in empty.sfv comments.sfv empty.md5; do
  run "$f"
  expect "$f" 0 $'0 files checked\nAll files Ok\n' ""
done

# A malformed line spoils only itself; it is an error, never an entry checked,
# reported with its line number (empty lines and comments count).
mkfile broken.sfv 'a CBF43926\nnoblank\nb 363A3020\n'
run broken.sfv
expect "malformed line" 1 "$(ok a)"$'\nbroken.sfv: line 2: Invalid line\n'"$(ok b)"$'\n2 files checked\n1 errors detected\n' ""
run -q broken.sfv
expect "malformed line, quiet" 1 $'broken.sfv: line 2: Invalid line\n2 files checked\n1 errors detected\n' ""
mkfile broken.md5 '25f9e794323b453885f5181f1b624d0b *a\n\n;comment\n#comment\n25f9e794323b453885f5181f1b624d0b\r\nb1946ac92492d2347c6235b4d2611184  b\n'
run -q broken.md5
expect "malformed MD5 lines" 1 $'broken.md5: line 5: Invalid line\n2 files checked\n1 errors detected\n' ""
# A failure to read leaves the loop (the first page of a process's memory is
# never mapped: reading it fails).
ln -s /proc/self/mem mem.md5
run mem.md5
expect "read error" 1 $'Error reading mem.md5: File read error\n0 files checked\n1 errors detected\n' ""

# MD5 lists have no record: every run hashes every file, -a changes nothing,
# and the list is never modified.
run -q -c list.md5 a b c
cp list.md5 "$SCRATCH/md5-before"
for args in "" "-a"; do
  run $args list.md5
  expect "MD5 verify '$args'" 0 "$(ok a b c)"$'\n3 files checked\nAll files Ok\n' ""
done
cmp -s list.md5 "$SCRATCH/md5-before" || fail "verifying changed the MD5 list"
mkfile wrong.md5 '25f9e794323b453885f5181f1b624d0c *a\n'
run wrong.md5
expect "MD5 mismatch" 1 $'a: 100% complete\ra: hash mismatch: 25f9e794323b453885f5181f1b624d0c != 25f9e794323b453885f5181f1b624d0b\n1 files checked\n1 errors detected\n' ""

# A record vouches only for the tree it was written for: a copy with a
# corrupt file and the original's times is hashed, not passed.
mkdir orig
mkfile orig/g 'hello\n'
(cd orig && "$ZORVIK" -q -c ../tree.sfv g)
cp -a orig backup
printf 'CORRUPT' >backup/g
touch -r orig/g backup/g
settle
run -q -p orig tree.sfv
expect "verify the original" 0 $'1 files checked\nAll files Ok\n' ""
run -q -p backup tree.sfv
expect "the copy is hashed" 1 $'backup/g: hash mismatch: 20303a36 != 43779c89\n1 files checked\n1 errors detected\n' ""

# A list read from a pipe is read once and never written: every entry is
# hashed, nothing is trusted.
cat list.sfv | timeout 20 "$ZORVIK" /dev/stdin >"$SCRATCH/out" 2>"$SCRATCH/err"; status=$?
expect "list from a pipe" 0 "$(ok a b)"$'\n'"$SUMMARY2" ""
printf 'b 00000000\n' | timeout 20 "$ZORVIK" -q /dev/stdin >"$SCRATCH/out" 2>"$SCRATCH/err"; status=$?
expect "list from a pipe, a mismatch" 1 $'b: hash mismatch: 00000000 != 20303a36\n1 files checked\n1 errors detected\n' ""

# Only regular files are hashed: a FIFO would block the worker for ever.
mkfifo fifo
mkdir adir
printf 'fifo 00000000\nadir 00000000\n/dev/null 00000000\nb 363A3020\n' >special.sfv
run special.sfv
expect "entries that are no regular files" 1 $'fifo: File error: File read error\nadir: File error: File read error\n/dev/null: File error: File read error\n'"$(ok b)"$'\n4 files checked\n3 errors detected\n' ""
# The same, each looked at while the file before it is hashed.
printf 'b 363A3020\nfifo 00000000\nb 363A3020\nadir 00000000\nb 363A3020\n/dev/null 00000000\nb 363A3020\n' >special.sfv
run -a special.sfv
expect "no regular files after hashed ones" 1 "$(ok b)"$'\nfifo: File error: File read error\n'"$(ok b)"$'\nadir: File error: File read error\n'"$(ok b)"$'\n/dev/null: File error: File read error\n'"$(ok b)"$'\n7 files checked\n3 errors detected\n' ""

# Names are taken relative to the current directory, or to -p.
mkdir data elsewhere
mkfile data/d 'hello\n'
(cd data && "$ZORVIK" -q -c ../rel.sfv d)
run -q rel.sfv
expect "relative to the current directory" 1 $'d: File error: File not found\n1 files checked\n1 errors detected\n' ""
for parent in "$WORK/data" "$WORK/data/" data data/; do
  run -a -p "$parent" rel.sfv
  shown="${parent%/}/d"
  expect "-p $parent" 0 "$shown: 100% complete"$'\r'"$shown: Ok                   "$'\n1 files checked\nAll files Ok\n' ""
done
mkfile data/e '123456789'
printf 'd 363A3020\ne CBF43926\nd 363A3020\nx 00000000\ne CBF43926\n' >rel3.sfv
run -a -p data rel3.sfv
expect "-p on every entry in turn" 1 "$(ok data/d data/e data/d)"$'\ndata/x: File error: File not found\n'"$(ok data/e)"$'\n5 files checked\n1 errors detected\n' ""
(cd data && "$ZORVIK" -a -p "" ../rel.sfv >"$SCRATCH/out" 2>"$SCRATCH/err"); status=$?
expect "-p '' is no prefix" 0 "$(ok d)"$'\n1 files checked\nAll files Ok\n' ""

# Names and prefixes that do not fit are refused whole.
long=$(printf './%.0s' $(seq 254))
run -a -p "$long" rel.sfv
expect "-p of 508 bytes" 1 "${long}d: File error: File not found"$'\n1 files checked\n1 errors detected\n' ""
run -p "${long}ab" rel.sfv
expect "-p of 510 bytes leaves room for no name" 1 $'rel.sfv: line 5: Invalid line\n0 files checked\n1 errors detected\n' ""
run -p "${long}abc" rel.sfv
expect "-p of 511 bytes and a slash" 247 "" $'Path is too long\n'
run "${long}xx/../rel.sfv"
expect "checksum file name of 518 bytes" 247 "" $'Path is too long\n'
run "${long}.sfv"
expect "checksum file name of 512 bytes" 247 "" $'Path is too long\n'
run -q "$(printf './%.0s' $(seq 251))/list.sfv"
expect "checksum file name of 511 bytes" 0 "$SUMMARY2" ""

finish
