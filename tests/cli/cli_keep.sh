# Lists are never lost or replaced by mistake: what a create or update run
# refuses to replace, which files it leaves out and with what status, the
# partial files a killed run leaves, and failures of the system that are
# rare enough to be made by a preloaded library (faulty_io.c).
. "$(dirname "$0")/../lib.sh"

mkfile a '123456789'
mkfile b 'hello\n'
MD5_A='25f9e794323b453885f5181f1b624d0b *a'
MD5_B='b1946ac92492d2347c6235b4d2611184 *b'

# faulty VAR=VALUE... -- ARGS...: a run with the faults VAR=VALUE chosen.
faulty() {
  local chosen=()
  while [ "$1" != -- ]; do chosen+=("$1"); shift; done
  shift
  run_cmd env LD_PRELOAD="$FAULTY_IO" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
    "${chosen[@]}" "$ZORVIK" "$@"
}

# unchanged NAME FILE: FILE holds what $SCRATCH/kept held, on the same inode.
keep() { cp "$1" "$SCRATCH/kept"; stat -c %i "$1" >"$SCRATCH/inode"; }
unchanged() {
  checks=$((checks + 1))
  cmp -s "$SCRATCH/kept" "$2" || fail "$1: the list changed"
  [ "$(stat -c %i "$2")" = "$(cat "$SCRATCH/inode")" ] || fail "$1: the list was replaced"
}

# A file that is plainly no list of the run's type, named without a list
# extension, is not replaced by one; a list extension, a line that reads as
# an entry, or nothing in it at all lets the run go on.
dd if=/dev/zero of=image.iso bs=1k count=40 2>/dev/null
printf 'a 12345678\n' >>image.iso
cp image.iso other.iso
while IFS='|' read -r what content options verdict; do
  printf "$content" >target
  [ "$what" = "image" ] && cp image.iso target
  keep target
  run -q $options -c target a
  if [ "$verdict" = kept ]; then
    kind=sfv
    case $options in *md5*) kind=md5 ;; esac
    expect "$what: refused" 249 "Error creating $kind file: File already exists"$'\n' ""
    unchanged "$what: refused" target
  else
    expect "$what: replaced" 0 "" ""
    grep -Fxq -e 'a CBF43926' -e "$MD5_A" target || fail "$what: not replaced by the new list"
  fi
done <<'CASES'
image|||kept
text without entries|hello\nworld\n||kept
an SFV list, for an MD5 run|c 00000000\n|-t md5|kept
an SFV entry after comments|; Generated\n;\nc 00000000\n||replaced
an MD5 entry|d41d8cd98f00b204e9800998ecf8427e *c\n|-t md5|replaced
nothing at all|||replaced
CASES
run -c *.iso
expect "zorvik -c *.iso" 249 $'Error creating sfv file: File already exists\n' ""
cmp -s image.iso other.iso || fail "zorvik -c *.iso changed the first image"
printf 'hello\n' >junk.sfv
run -q -c junk.sfv a
expect "a list extension: replaced whatever it held" 0 "" ""

# A list that does not exist yet is not listed in itself, however spelled.
mkfile e/f 'f\n'
run -r -c e/list.md5 e ./e/list.md5 "$WORK/e/list.md5"
expect "the new list named in other spellings" 0 $'e/f: 100% complete\n' ""
same_list "the new list named in other spellings (file)" \
  "$HEADER"$'9a8ad92c50cae39aa2c5604fd0ab6d8c *e/f\n' e/list.md5
# Another name in its directory is an operand like any other.
run -q -c e/fresh.md5 e/fresh.md5x ./e/fresh.md5
expect "a similar name" 1 "" $'Could not stat file: e/fresh.md5x\n'
rm e/fresh.md5

# Partial files left by a run killed outright are never listed.
mkfile e/list.md5.zorvik-partial-Ab12Z9 'partial\n'
mkfile e/list.md5.zorvik-partial-short 'not one of them\n'
run -q -r -c e/list.md5 e e/list.md5.zorvik-partial-Ab12Z9
expect "leftovers" 0 "" \
  $'Skipping leftover e/list.md5.zorvik-partial-Ab12Z9\nSkipping leftover e/list.md5.zorvik-partial-Ab12Z9\n'
grep -av '^;' e/list.md5 | sed 's/^[0-9a-f]* \*//' | sort >"$SCRATCH/got"
same "leftovers (entries)" $'e/f\ne/list.md5.zorvik-partial-short\n' "$SCRATCH/got"

# An empty list is not written over one that has entries; over one without
# entries it is.
mkdir d
run -q -c keep.md5 a
keep keep.md5
run -q -c keep.md5 d
expect "no files over a list with entries" 1 "" \
  $'Skipping directory d: use -r to list its files\nNo files to list: keep.md5 left as it was\n'
unchanged "no files over a list with entries" keep.md5
run -q -c keep.md5 missing
expect "no files (missing) over a list with entries" 1 "" \
  $'Could not stat file: missing\nNo files to list: keep.md5 left as it was\n'
unchanged "no files (missing) over a list with entries" keep.md5
printf '; comments only\n' >hollow.md5
run -q -c hollow.md5
expect "no files over a list without entries" 0 "" ""
same_list "no files over a list without entries (file)" "$HEADER" hollow.md5

if [ -z "$FAULTY_IO" ]; then
  echo "SKIP: no fault library given; its cases are left out"
  finish
fi

# No temporary file beside the list for another reason than permission (a
# full disk, here): the run ends before hashing, the list untouched.
run -q -c l.md5 a
keep l.md5
for mode in -c -u; do
  faulty ZORVIK_FAIL_MKOSTEMP=1 -- $mode l.md5 a b
  expect "no temporary file ($mode)" 255 $'Error creating md5 file: No space left on device\n' ""
  unchanged "no temporary file ($mode)" l.md5
done

# A file system without locks: the run goes on, with a warning.
faulty ZORVIK_FAIL_FLOCK=1 -- -q -u l.md5 b
expect "no locks: update" 0 "" $'Warning: could not lock l.md5: No locks available\n'
same_list "no locks: update (file)" "$HEADER$MD5_A"$'\n'"$MD5_B"$'\n' l.md5
faulty ZORVIK_FAIL_FLOCK=1 -- -q -c new.md5 a
expect "no locks: a new list" 0 "" $'Warning: could not lock new.md5: No locks available\n'
"$ZORVIK" -q -c r.sfv a b
faulty ZORVIK_FAIL_FLOCK=1 -- -q r.sfv
expect "no locks: the record" 0 $'2 files checked\nAll files Ok\n' $'Warning: could not lock r.sfv: No locks available\n'
grep -q '^;R2-' r.sfv || fail "no locks: the record was not written"

# The record that cannot be written whole is not written at all: the
# verdicts stand, a warning says why, and the list is as it was.
settle
"$ZORVIK" -q -c v.sfv a b
keep v.sfv
faulty ZORVIK_FAIL_PWRITE=1 -- v.sfv
expect "record not saved" 0 \
  $'a: 100% complete\ra: Ok                   \nb: 100% complete\rb: Ok                   \n2 files checked\nAll files Ok\n' \
  $'Warning: could not save the verification record of v.sfv: No space left on device\n'
unchanged "record not saved" v.sfv
mkfile b 'changed\n'
faulty ZORVIK_FAIL_PWRITE=1 -- -q v.sfv
expect "record not saved, a mismatch" 1 \
  $'b: hash mismatch: 20303a36 != acee1c6f\n2 files checked\n1 errors detected\n' \
  $'Warning: could not save the verification record of v.sfv: No space left on device\n'
unchanged "record not saved, a mismatch" v.sfv

finish
