# A record vouches only for the very file it saw, an update binds it only to
# the lines it was bound to, and malformed SFV lines never verify.
. "$(dirname "$0")/../lib.sh"

# Another file at a listed path: parent directories swapped, a file
# replaced by a link to a device. No time of those files changed.
mkdir swap && cd swap || exit 2
mkdir d1 d2
echo alpha >d1/x
echo beta >d2/x
echo one >a
"$ZORVIK" -q -c l.sfv d1/x d2/x a
settle
"$ZORVIK" -q l.sfv >/dev/null
mv d1 t && mv d2 d1 && mv t d2
ln -sf /dev/null a
run l.sfv
expect "swapped directories, a link to a device" 1 $'d1/x: 100% complete\rd1/x: hash mismatch: ec6e609f != 75a7e3e6\nd2/x: 100% complete\rd2/x: hash mismatch: 75a7e3e6 != ec6e609f\na: File error: File read error\n3 files checked\n3 errors detected\n' ""
cd .. || exit 2

# A link on the path repointed, and a file replaced by a link to a file
# older than the record.
mkdir links && cd links || exit 2
mkdir v1 v2
echo alpha >v1/f
echo beta >v2/f
ln -s v1 current
echo one >a
echo older >older
"$ZORVIK" -q -c l.sfv current/f a
settle
"$ZORVIK" -q l.sfv >/dev/null
ln -sfn v2 current
ln -sf older a
run l.sfv
expect "repointed link, a link to an older file" 1 $'current/f: 100% complete\rcurrent/f: hash mismatch: ec6e609f != 75a7e3e6\na: 100% complete\ra: hash mismatch: 9fa817f8 != 951d2613\n2 files checked\n2 errors detected\n' ""
# Put back (a new file for a), hashed once, then trusted as those files.
ln -sfn v1 current
rm a && echo one >a
settle
run -q l.sfv
expect "put back" 0 $'2 files checked\nAll files Ok\n' ""
settle
run l.sfv
expect "put back, verified again" 0 $'current/f: Previously verified Ok\na: Previously verified Ok\n2 files checked\nAll files Ok\n' ""
cd .. || exit 2

# An update after an entry line was removed by hand: the bit of the removed
# line must not fall on the next entry.
mkdir edited && cd edited || exit 2
echo old >gone
echo good >bad
"$ZORVIK" -q -c l.sfv gone bad
echo rotten >bad
settle
"$ZORVIK" -q l.sfv >/dev/null
rm gone
sed -i '/^gone /d' l.sfv
echo new >new
"$ZORVIK" -q -u l.sfv new
run l.sfv
expect "update after a hand edit" 1 $'bad: 100% complete\rbad: hash mismatch: b570ba2c != cb7481a2\nnew: 100% complete\rnew: Ok                   \n2 files checked\n1 errors detected\n' ""
cd .. || exit 2

# An update that adds nothing after a checksum was changed by hand.
mkdir changed && cd changed || exit 2
echo A >a
"$ZORVIK" -q -c m.sfv a
settle
"$ZORVIK" -q m.sfv >/dev/null
sed -i 's/^a .*/a 12345678/' m.sfv
run -u m.sfv a
expect "update after a hand-changed checksum" 0 $'0 files added\n' ""
run m.sfv
expect "hand-changed checksum, then verified" 1 $'a: 100% complete\ra: hash mismatch: 78563412 != a5856e48\n1 files checked\n1 errors detected\n' ""
cd .. || exit 2

# Malformed checksums are invalid lines; the rest is still checked.
mkdir malformed && cd malformed || exit 2
: >x
for line in 'x zzzzzzzz' 'x 0x98DD4ACC' 'x 1234567890' 'x 1234567' 'Hello world!' $'x\t00000000'; do
  printf '%s\nx 00000000\n' "$line" >z.sfv
  run z.sfv
  expect "malformed: $(printf %q "$line")" 1 $'z.sfv: line 1: Invalid line\nx: 100% complete\rx: Ok                   \n1 files checked\n1 errors detected\n' ""
done
printf 'x 00000000 \t\r\nx 00000000\r\n' >crlf.sfv
run -q crlf.sfv
expect "blanks, tabs and CR at the end" 0 $'2 files checked\nAll files Ok\n' ""

# A record written by 3.00 counted "Hello world!" as an entry ("Hello",
# CRC 0): its first bit is Hello's, not x's. The record is voided, every
# entry hashed, and the new record counts as this release does.
mkdir -p "$HOME/.config/zorvik"
echo 'signature=cli-trust' >"$HOME/.config/zorvik/zorvik.conf"
echo 'not this' >x
printf 'Hello world!\nx 12345678\n' >old.sfv
settle
ticks=$(( $(date +%s%N) / 100 + 116444736000000000 ))
time_bytes=
for i in 0 1 2 3 4 5 6 7; do time_bytes+=$(printf '\\x%02x' $(( (ticks >> (8 * i)) & 255 ))); done
{
  echo ';R2-cli-trust'
  printf ';R2-%s\n' "$(printf "$time_bytes" | base64)"
  echo ';R2-gA=='
  printf ';R3-%s-%s-%s\n' "$(md5sum <old.sfv | cut -c1-32)" "$(stat -c %d .)" "$(stat -c %i .)"
} >>old.sfv
run old.sfv
expect "3.00 record counted otherwise" 1 $'old.sfv: line 1: Invalid line\nx: 100% complete\rx: hash mismatch: 78563412 != e6a7e935\n1 files checked\n2 errors detected\n' ""
grep -q '^;R4-' old.sfv || fail "the voided record was not rewritten with fingerprints"
cd .. || exit 2

finish
