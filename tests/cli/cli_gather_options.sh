# Gathering options of a create run: names read from a file, excludes, and
# directories taken in byte order.
. "$(dirname "$0")/../lib.sh"

# names_in FILE: the names of a checksum file's entry lines, one a line (an
# escaped MD5 line's \r shown as a carriage return).
names_in() { grep -av '^;' "$1" | sed -E 's/ [0-9A-F]{8}$//; s/^\\?[0-9a-f]{32} \*//; s/\\r$/\r/'; }

# --files-from: after the operands, one name a line taken as given (a dash,
# a carriage return, the list itself); an empty line is reported like an
# empty operand; the last line needs no line feed.
for f in one two ./-dash $'cr\r' d/f; do mkfile "$f" 'x\n'; done
printf 'one\n-dash\n\ncr\r\nlist.md5\nd' >names
run -r -q -c list.md5 two --files-from=names
expect "files-from" 1 "" $'Could not stat file: \n'
names_in list.md5 >"$SCRATCH/got"
same "files-from (names_in)" $'two\none\n-dash\ncr\r\nd/f\n' "$SCRATCH/got"

# NUL-terminated names from standard input.
printf 'one\0-dash' >names0
run -0 --files-from=- -q -c nul.sfv <names0
expect "files-from -0 stdin" 0 "" ""
names_in nul.sfv >"$SCRATCH/got"
same "files-from -0 stdin (names_in)" $'one\n-dash\n' "$SCRATCH/got"

# Lists that cannot be read end the run; a NUL in a line means -0 was meant.
# A directory opens, but cannot be read: a read error.
for c in "nowhere|252|File not found" "d|253|File read error" "names0|250|Invalid line"; do
  IFS='|' read -r file code text <<<"$c"
  run -q -c bad.sfv one --files-from="$file"
  expect "files-from $file" "$code" "" "Error reading $file: $text
"
  absent "files-from $file leaves no list" bad.sfv
done

# --exclude: operands and walked names_in, files and directories, by their
# last component ("cache/" is "cache"), or by the whole path when the
# pattern has a "/" (a "*" then stays within one component). An excluded
# entry is not even stat'ed or measured.
long=$(printf 'L%.0s' $(seq 200))
for f in ex/keep.txt ex/a.txt ex/b.tmp ex/cache/c.txt ex/sub/a2.txt cache/z.txt top.tmp \
         "ex/$long/$(printf 'n%.0s' $(seq 61)).tmp"; do
  mkfile "$f" 'x\n'
done
ln -s nowhere ex/dangling.tmp
run -r -q -c ex.sfv --exclude='*.tmp' --exclude=cache --exclude='*/a*' ex cache/ top.tmp gone.tmp
expect "exclude" 0 "" ""
names_in ex.sfv >"$SCRATCH/got"
same "exclude (names_in)" $'ex/keep.txt\nex/sub/a2.txt\n' "$SCRATCH/got"

# --sort: each directory in byte order, whatever order it was made in.
for f in s/m/y s/b s/$'\xc3\xa9' s/a2 s/Z s/m/x s/a10 s/D/k s/-x; do mkfile "$f" 'x\n'; done
run -r -q --sort -c sorted.sfv s
expect "sort" 0 "" ""
names_in sorted.sfv >"$SCRATCH/got"
same "sort (names_in)" $'s/-x\ns/Z\ns/a10\ns/a2\ns/b\ns/\xc3\xa9\ns/D/k\ns/m/x\ns/m/y\n' \
  "$SCRATCH/got"

finish
