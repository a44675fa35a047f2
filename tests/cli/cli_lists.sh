# Many lists in one run: lists named one after another, directories that
# stand for the lists in them (with -r, in their whole tree), each list's
# entries looked up beside it; per-list summaries, the run's total, and the
# output of a single list as it always was.
. "$(dirname "$0")/../lib.sh"

# ok PATH...: the lines of files that verified; use as "$(ok a b)"$'\n'.
ok() { for p; do printf '%s: 100%% complete\r%s: Ok                   \n' "$p" "$p"; done; }

# A tree of albums, one list a folder, of three types; one file is no list.
mkfile tree/a/f1 'one\n'
mkfile tree/a/f2 'two\n'
mkfile tree/a/notes.txt 'not a list\n'
mkfile tree/b/g1 'three\n'
mkfile tree/b/c/h1 'four\n'
(cd tree/a && "$ZORVIK" -q -c list.sfv f1 f2)
(cd tree/b && "$ZORVIK" -q -c sums.md5 g1)
(cd tree/b/c && "$ZORVIK" -q -c SHA256SUMS h1)
settle

ALL_OK="$(ok tree/a/f1 tree/a/f2)
tree/a/list.sfv: 2 files checked, all Ok
$(ok tree/b/g1)
tree/b/sums.md5: 1 files checked, all Ok
$(ok tree/b/c/h1)
tree/b/c/SHA256SUMS: 1 files checked, all Ok
3 lists, 4 files checked
All files Ok
"
run -r --sort tree
expect "a tree of lists" 0 "$ALL_OK" ""
# Each SFV file keeps its own record, bound to the folder its entries are
# looked up in; named with that folder as -p, the list trusts it too.
run -r --sort tree
expect "a tree of lists, records kept" 0 "${ALL_OK/"$(ok tree/a/f1 tree/a/f2)"/$'tree/a/f1: Previously verified Ok\ntree/a/f2: Previously verified Ok'}" ""
run -p tree/a tree/a/list.sfv
expect "one list of the tree, record kept" 0 \
  $'tree/a/f1: Previously verified Ok\ntree/a/f2: Previously verified Ok\n2 files checked\nAll files Ok\n' ""

# Without -r, only the lists directly in the directory; -t takes only the
# lists of its type; --exclude leaves folders out.
run tree/b
expect "one folder" 0 "$(ok tree/b/g1)"$'\ntree/b/sums.md5: 1 files checked, all Ok\n1 lists, 1 files checked\nAll files Ok\n' ""
run -q -r -t sha256 tree
expect "-t chooses the lists" 0 $'tree/b/c/SHA256SUMS: 1 files checked, all Ok\n1 lists, 1 files checked\nAll files Ok\n' ""
run -q -r --sort --exclude=c --exclude='*.sfv' tree
expect "--exclude" 0 $'tree/b/sums.md5: 1 files checked, all Ok\n1 lists, 1 files checked\nAll files Ok\n' ""

# A mismatch in one folder, a missing file in another.
printf 'changed\n' >tree/a/f2
rm tree/b/c/h1
MISMATCH=$'tree/a/f2: 100% complete\rtree/a/f2: hash mismatch: 74081796 != acee1c6f\n'
MISSING=$'tree/b/c/h1: File error: File not found\n'
run -a -r --sort tree
expect "a mismatch and a missing file" 1 "$(ok tree/a/f1)
$MISMATCH"'tree/a/list.sfv: 2 files checked, 1 errors
'"$(ok tree/b/g1)"'
tree/b/sums.md5: 1 files checked, all Ok
'"$MISSING"'tree/b/c/SHA256SUMS: 1 files checked, 1 errors
3 lists, 4 files checked
2 errors detected
' ""
run -q -a -r --sort tree
expect "quiet: errors and summaries" 1 "${MISMATCH#*$'\r'}"'tree/a/list.sfv: 2 files checked, 1 errors
tree/b/sums.md5: 1 files checked, all Ok
'"$MISSING"'tree/b/c/SHA256SUMS: 1 files checked, 1 errors
3 lists, 4 files checked
2 errors detected
' ""
run --status -a -r tree
expect "--status" 1 "" ""
# The same list named alone, its files found through -p: the output of a
# single list, as it always was.
run -a -p tree/a tree/a/list.sfv
expect "one list named, -p" 1 "$(ok tree/a/f1)
$MISMATCH"$'2 files checked\n1 errors detected\n' ""
run -p tree/b/c/ tree/b/c/SHA256SUMS
expect "one list named, -p, missing file" 1 "$MISSING"$'1 files checked\n1 errors detected\n' ""

# --ignore-missing holds per list: a list of which no file was checked is
# an error of its own; the others still pass.
run -q --ignore-missing -r --sort tree/b
expect "--ignore-missing per list" 1 $'tree/b/sums.md5: 1 files checked, all Ok\ntree/b/c/SHA256SUMS: 0 files checked, 1 errors\n2 lists, 1 files checked\n1 errors detected\n' \
  $'tree/b/c/SHA256SUMS: no file was verified\n'
mkfile tree/b/c/h1 'four\n'

# Lists named look their entries up from here (or -p, which only they take),
# in the order named, directories among them; a list that cannot be opened
# is reported by name and counted, and the others are still verified.
run -q -p tree/b tree/b/sums.md5 missing.md5 tree/b/c
expect "named lists and a directory" 1 $'tree/b/sums.md5: 1 files checked, all Ok\ntree/b/c/SHA256SUMS: 1 files checked, all Ok\n3 lists, 2 files checked\n1 errors detected\n' \
  $'missing.md5: File not found\n'
run -q tree/b/sums.md5 tree/b/c/SHA256SUMS
expect "named lists, entries from here" 1 $'g1: File error: File not found\ntree/b/sums.md5: 1 files checked, 1 errors\nh1: File error: File not found\ntree/b/c/SHA256SUMS: 1 files checked, 1 errors\n2 lists, 2 files checked\n2 errors detected\n' ""

# Absolute names beside a list found in a directory stay absolute.
printf '%s  %s\n' "$(md5sum <tree/a/f1 | cut -c1-32)" "$WORK/tree/a/f1" >tree/b/c/abs.md5
run -q --sort tree/b/c
expect "an absolute name" 0 $'tree/b/c/SHA256SUMS: 1 files checked, all Ok\ntree/b/c/abs.md5: 1 files checked, all Ok\n2 lists, 2 files checked\nAll files Ok\n' ""
rm tree/b/c/abs.md5

# A loop met in a search is walked once, and told in its place: after the
# lists found before it (the search goes on while they are verified). A
# directory without lists, or one that cannot be read, verifies nothing,
# which is no success.
ln -s . tree/b/up
run -q -r --sort tree/b
expect "a loop" 0 $'tree/b/sums.md5: 1 files checked, all Ok\ntree/b/up was previously seen as tree/b\ntree/b/c/SHA256SUMS: 1 files checked, all Ok\n2 lists, 2 files checked\nAll files Ok\n' ""
rm tree/b/up
# A search that must end the run ends it in its turn: the lists it found
# before are verified first.
mkfile "deep/$(printf 'L%.0s' $(seq 200))/$(printf 'n%.0s' $(seq 70))/f" 'f\n'
run -q -r --sort tree/b deep
expect "a search that ends the run" 247 \
  $'tree/b/sums.md5: 1 files checked, all Ok\ntree/b/c/SHA256SUMS: 1 files checked, all Ok\n' $'Path is too long\n'
mkdir empty
run empty
expect "no lists" 1 $'0 lists, 0 files checked\n' $'No checksum lists found\n'
if ! is_root; then
  mkdir -p tree/locked
  chmod 000 tree/locked
  run -q -r --sort tree/b tree/locked
  expect "a folder that cannot be read" 1 $'tree/b/sums.md5: 1 files checked, all Ok\ntree/b/c/SHA256SUMS: 1 files checked, all Ok\n2 lists, 2 files checked\n1 errors detected\n' \
    $'tree/locked: Access denied\n'
  chmod 755 tree/locked
fi

finish
