# Checksum files written by zorvik verify with peer tools, and theirs with
# zorvik; names with blanks and UTF-8 included.
. "$(dirname "$0")/../lib.sh"

for tool in cksfv rhash md5sum; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

names=("plain" "with blank" "café ü" "日本語.bin")
mkdir -p "sub dir"
for n in "${names[@]}"; do mkfile "$n" "$n\n"; done
mkfile "sub dir/inner" 'inner\n'
files=("${names[@]}" "sub dir/inner")

# peer NAME COMMAND...: the peer accepts the file (status 0).
peer() {
  local name=$1
  shift
  checks=$((checks + 1))
  if ! "$@" >"$SCRATCH/peer" 2>&1; then
    fail "$name"
    cat "$SCRATCH/peer"
  fi
}

# Written by zorvik, read by the peers.
run -q -c ours.sfv "${files[@]}"
run -q -c ours.md5 "${files[@]}"
peer "cksfv -f reads our SFV file" cksfv -q -f ours.sfv
peer "rhash -c reads our SFV file" rhash -c ours.sfv
peer "md5sum -c reads our MD5 list" md5sum -c --quiet ours.md5
peer "rhash -c reads our MD5 list" rhash -c ours.md5
# With a verification record (its fingerprint lines too), and updated.
run -q -c record.sfv "${files[@]:0:2}"
run -q record.sfv
run -q -u record.sfv "${files[@]}"
run -q record.sfv
checks=$((checks + 1))
grep -q '^;R4-' record.sfv || fail "record.sfv holds no fingerprint lines"
peer "cksfv -f reads our SFV file with its record" cksfv -q -f record.sfv
peer "rhash -c reads our SFV file with its record" rhash -c record.sfv
checks=$((checks + 1))
[ "$(rhash -c record.sfv 2>/dev/null | grep -v '^Everything OK$' | grep -c ' OK *$')" = ${#files[@]} ] ||
  fail "rhash -c did not verify every entry of record.sfv"
# The peers notice a change, so they did read our entries.
cp "plain" "$SCRATCH/plain"
printf 'other\n' >plain
! cksfv -q -f ours.sfv >/dev/null 2>&1 || fail "cksfv missed a changed file"
! md5sum -c --quiet ours.md5 >/dev/null 2>&1 || fail "md5sum missed a changed file"
cp -p "$SCRATCH/plain" plain

# Written by the peers, read by zorvik.
cksfv "${files[@]}" >cksfv.sfv 2>/dev/null
rhash --sfv "${files[@]}" >rhash.sfv
md5sum "${files[@]}" >text.md5
md5sum -b "${files[@]}" >binary.md5
rhash --md5 "${files[@]}" >rhash.md5
rhash --bsd --md5 "${files[@]}" >rhash-bsd.md5
for list in cksfv.sfv rhash.sfv text.md5 binary.md5 rhash.md5 rhash-bsd.md5; do
  run -q "$list"
  expect "zorvik reads $list" 0 $'5 files checked\nAll files Ok\n' ""
done
printf 'other\n' >"café ü"
for list in cksfv.sfv text.md5; do
  run -q -a "$list"
  [ "$status" = 1 ] || fail "zorvik missed a changed file in $list"
done

# Names that md5sum escapes. zorvik escapes those with line feeds or
# carriage returns as md5sum does and writes backslashes alone plainly,
# which md5sum reads literally.
mkdir odd
cd odd || exit 2
odd=("with blank" 'back\slash' $'new\nline' $'cr\r' $'all\\\n\r' '\n')
for i in "${!odd[@]}"; do mkfile "${odd[$i]}" "odd $i\n"; done
run -q -c ours.md5 "${odd[@]}"
expect "zorvik lists names md5sum escapes" 0 "" ""
checks=$((checks + 1))
[ "$(md5sum -c ours.md5 2>/dev/null | grep -c ': OK$')" = ${#odd[@]} ] ||
  fail "md5sum -c did not verify every escaped entry"
md5sum "${odd[@]}" >text.md5
md5sum --tag "${odd[@]}" >tag.md5
sed 's/$/\r/' ours.md5 >crlf.md5
for list in text.md5 tag.md5 crlf.md5; do
  run -q "$list"
  expect "zorvik reads $list of names md5sum escapes" 0 $'6 files checked\nAll files Ok\n' ""
done

finish
