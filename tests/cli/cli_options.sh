# Command line: usage text, version banner, types, exit statuses.
. "$(dirname "$0")/../lib.sh"

banner() {
  printf '%s  version 3.00\nCopyright (C) 2026 The zorvik developers.\nThis is free software; see the source for copying conditions.\nhttps://zorvik.org/\n\n%s comes with ABSOLUTELY NO WARRANTY.\n' "$1" "$1"
}
USAGE="$(banner zorvik)
"$'
zorvik is a fast file checksum creation and validation tool.

Usage: zorvik [OPTIONS] checksum_file
  or   zorvik [OPTIONS] -c checksum_file file1 file2 ...

Options
-a, --all              always verify all files
-c, --create=FILE      create the checksum file and write to FILE
-p, --parent=DIR       assume DIR is the root directory for all files in the database
-q, --quiet            suppress non-error messages
-r, --recursive        recursively add sub-directories
-t, --type=TYPE        force checksum file of type TYPE (default based on file extension)
-V, --version          show version
-x, --one-file-system  don\'t cross filesystem boundaries
-j, --jobs=N           hash N files at a time (default: one per CPU available)
-u, --update=FILE      add the files FILE does not list yet (creating FILE if missing)
    --ignore-missing   verifying: pass over entries whose file does not exist
    --status           verifying: print nothing, the exit status tells
    --files-from=FILE  also list the files named in FILE, one a line (- for stdin)
-0, --null             names in --files-from end with NUL, not a line feed
    --exclude=PATTERN  leave out files and directories whose name matches PATTERN
    --sort             take each directory\'s entries in byte order of their names
    --no-progress      show no status line on a terminal

TYPE: sfv, md5, sha1, sha256, sha512, blake2b, xxh64 or xxh128. Without -t, the
extension (.sfv .md5 .sha1 .sha256 .sha512 .b2 .xxh64 .xxh128), the name
(MD5SUMS SHA1SUMS SHA256SUMS SHA512SUMS B2SUMS) or else the lines tell it.

Verifying, every operand is a checksum file, or a directory that stands for the
checksum files in it (with -r, in its whole tree); their entries are looked up
beside them.
'

# -j takes 1 to 256; anything else is refused as an unknown type is.
for bad in 0 257 -1 x 2x ''; do
  run -j "$bad" jf
  expect "-j '$bad'" 248 "$USAGE" ""
done
mkfile jf 'x\n'
for good in 1 2 256; do
  run -q -j "$good" -c "j$good.sfv" jf
  expect "-j $good" 0 "" ""
done
cmp -s j1.sfv j256.sfv || cmp <(grep -v '^; Gen' j1.sfv) <(grep -v '^; Gen' j256.sfv) || fail "-j 1 and -j 256 differ"

# Usage whenever no checksum file is named, and on request.
for args in "" "--help" "-h" "-c" "-q -r" "--he" "-x --help -V"; do
  run $args
  expect "usage for '$args'" 0 "$USAGE" ""
done

# The banner names the program as started; the usage text by its base name.
run -V
expect "banner -V" 0 "$(banner "$ZORVIK")
" ""
run --version
expect "banner --version" 0 "$(banner "$ZORVIK")
" ""
(exec -a /usr/bin/zorvik "$ZORVIK" -V >"$SCRATCH/out" 2>"$SCRATCH/err"); status=$?
expect "banner as /usr/bin/zorvik" 0 "$(banner /usr/bin/zorvik)
" ""
(exec -a /usr/bin/zorvik "$ZORVIK" --help >"$SCRATCH/out" 2>"$SCRATCH/err"); status=$?
expect "usage as /usr/bin/zorvik" 0 "$USAGE" ""
# -V and --help end the parsing: a bad type after them is never seen.
run -V -t crc x.sfv
expect "-V before a bad type" 0 "$(banner "$ZORVIK")
" ""

# An unknown type: usage text, Invalid arguments (-8).
for args in "-t crc x.sfv" "--type=sha3 x.sfv" "-t crc" "-t md5 -t x -c a.md5"; do
  run $args
  expect "bad type '$args'" 248 "$USAGE" ""
done
[ ! -e a.md5 ] || fail "a bad type still created a.md5"

# Types: extension of the checksum file, unless -t forced one.
mkfile f 'hello\n'
SFV_F="$(printf '; %12s  12:30.05 2010-05-31 f\nf 363A3020' 6)
"
MD5_F=$'b1946ac92492d2347c6235b4d2611184 *f\n'
run -q -c out.md5 -t sfv f
expect "create -t sfv out.md5" 0 "" ""
same_list "out.md5 is an SFV file" "$HEADER$SFV_F" out.md5
run -q -t SFV -c out2.md5 f
same_list "-t before -c still forces" "$HEADER$SFV_F" out2.md5
run -q -c a.md5 -c b.txt f
expect "second -c" 0 "" ""
same_list "b.txt is an MD5 list" "$HEADER$MD5_F" b.txt
[ ! -e a.md5 ] || fail "the first -c name was created"
run -q --create=list.SFV f
same_list "list.SFV by extension" "$HEADER$SFV_F" list.SFV
run -q --cr LIST.Md5 f
same_list "LIST.Md5 by extension" "$HEADER$MD5_F" LIST.Md5
run -q -c list f
same_list "no extension: SFV" "$HEADER$SFV_F" list
run -q -p /nowhere -c parent.sfv f
expect "-p is ignored when creating" 0 "" ""
same_list "-p is ignored when creating (file)" "$HEADER$SFV_F" parent.sfv

# Verifying: type by extension, or forced.
cp b.txt md5list.sfv
run -q -t MD5 md5list.sfv
expect "-t MD5 list.sfv" 0 $'1 files checked\nAll files Ok\n' ""
run -q md5list.sfv
expect "an MD5 list read as SFV" 1 $'md5list.sfv: line 4: Invalid line\n0 files checked\n1 errors detected\n' ""
cp list archive.sfv.bak
run archive.sfv.bak
expect "archive.sfv.bak is SFV" 0 $'f: 100% complete\rf: Ok                   \n1 files checked\nAll files Ok\n' ""
run -a -q LIST.Md5 list
expect "LIST.Md5 is MD5; a second operand is a list too" 0 \
  $'LIST.Md5: 1 files checked, all Ok\nlist: 1 files checked, all Ok\n2 lists, 2 files checked\nAll files Ok\n' ""
# Unknown options and options after operands.
run LIST.Md5 -q --bogus -z
expect "unknown options are ignored" 0 $'1 files checked\nAll files Ok\n' ""

# Exit statuses of runs ended by a failure.
run missing.sfv
expect "missing checksum file: File not found" 252 "" $'missing.sfv: File not found\n'
run -c no/such/dir/x.sfv f
expect "create in a missing directory" 252 $'Error creating sfv file: File not found\n' ""
run -c no/such/dir/x.md5 f
expect "create MD5 in a missing directory" 252 $'Error creating md5 file: File not found\n' ""
mkfile bad.sfv 'f 00000000\n'
run -q bad.sfv
expect "verify with errors" 1 $'f: hash mismatch: 00000000 != 20303a36\n1 files checked\n1 errors detected\n' ""
if [ -w /dev/full ]; then
  run -c /dev/full f
  expect "a failed write is never success" 255 $'f: 100% complete\nError writing checksum file: No space left on device\n' ""
fi
if [ -w /dev/full ]; then
  # Lost output is never success; a run that failed anyway keeps its status.
  "$ZORVIK" -c out.sfv f >/dev/full 2>"$SCRATCH/err"; status=$?
  same "create into a full standard output" $'Error writing output: No space left on device\n' "$SCRATCH/err"
  [ "$status" = 255 ] || fail "create into a full standard output: status $status"
  "$ZORVIK" -q bad.sfv >/dev/full 2>"$SCRATCH/err"; status=$?
  same "failed verify into a full standard output" $'Error writing output: No space left on device\n' "$SCRATCH/err"
  [ "$status" = 1 ] || fail "failed verify into a full standard output: status $status"
  "$ZORVIK" -q -c out.sfv f >&- 2>"$SCRATCH/err"; status=$?
  [ "$status" = 0 ] || fail "closed standard output, nothing written: status $status"
  "$ZORVIK" -q out.sfv >&- 2>"$SCRATCH/err"; status=$?
  [ "$status" = 255 ] || fail "closed standard output, summary lost: status $status"
fi

# No library is loaded from the current directory, whatever it holds.
mkdir libs && : >libs/libstdc++.so.6 && : >libs/libc.so.6
(cd libs && "$ZORVIK" --version >"$SCRATCH/out" 2>"$SCRATCH/err"); status=$?
[ "$status" = 0 ] && grep -q 'version 3.00' "$SCRATCH/out" || fail "libraries in the current directory were loaded"

finish
