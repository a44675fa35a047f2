#!/usr/bin/env bash
# Hostile checksum lists, SFV and MD5: the verify run never crashes or
# hangs, malformed lines are reported as "<list>: line <n>: Invalid line"
# and counted as errors, a later good entry is still verified, and the
# summary follows. Files a list names are opened read-only.
. "$(dirname "$0")/../lib.sh"

mkdir work outside
cd work || exit 2
printf 'the good file\n' > good
CRC=$(crc_of good)
MD5=$(md5_of good)
sfv_good() { printf 'good %s\n' "$CRC"; }
md5_good() { printf '%s *good\n' "$MD5"; }
a100k() { head -c 100000 /dev/zero | tr '\0' "$1"; }

# verify LABEL LIST STATUS INVALID CHECKED ERRORS OKS [zorvik options...]
# OKS counts the Ok verdicts; "-" skips a count. Always: no crash, no hang,
# no sanitizer report, the good entry verified exactly once, the summary
# last. LIMIT is the safety time-out.
LIMIT=30
verify() {
  local label=$1 list=$2 status=$3 invalid=$4 checked=$5 errors=$6 oks=$7
  shift 7
  RUN_LIMIT=$LIMIT run_cmd env LC_ALL="${ZLOCALE:-C}" "$ZORVIK" "$@" "$list"
  expect_sound "$label"
  [ "$status" = - ] || same_text "$label: status" "$status" "$status"
  [ "$invalid" = - ] || same_text "$label: Invalid line reports" "$invalid" \
    "$(grep -ac "^$list: line [0-9]*: Invalid line$" "$OUT")"
  same_text "$label: good entry verified" 1 "$(grep -ac '^good: 100% complete.good: Ok  ' "$OUT")"
  [ "$oks" = - ] || same_text "$label: Ok verdicts" "$oks" "$(grep -ac ': Ok  ' "$OUT")"
  local summary
  summary=$(tail -n 2 "$OUT")
  case $summary in
    *' files checked'$'\n''All files Ok')
      [ "$status" -eq 0 ] || fail "$label: 'All files Ok' with status $status" ;;
    *' files checked'$'\n'*' errors detected')
      [ "$status" -eq 1 ] || fail "$label: errors reported with status $status" ;;
    *) fail "$label: no summary at the end: $(printf '%q' "$summary")" ;;
  esac
  [ "$checked" = - ] || same_text "$label: files checked" "$checked files checked" \
    "$(tail -n 2 "$OUT" | head -n 1)"
  if [ "$errors" != - ] && [ "$errors" -gt 0 ]; then
    same_text "$label: errors" "$errors errors detected" "$(tail -n 1 "$OUT")"
  fi
}

# --- Long lines. A long comment is skipped whole; a long entry line is
# one Invalid line, never read on in pieces as further lines.
{ a100k a; echo; sfv_good; } > long-noblank.sfv
verify "SFV 100,000-byte line without a blank" long-noblank.sfv 1 1 1 1 1
{ a100k a; echo " $CRC"; sfv_good; } > long-name.sfv
verify "SFV 100,000-byte name" long-name.sfv 1 1 1 1 1
{ printf ';'; a100k x | sed "s/^\(.\{600\}\)/\1 good $CRC /"; echo; sfv_good; } > long-comment.sfv
verify "SFV 100,000-byte comment" long-comment.sfv 0 0 1 0 1
{ printf 'good '; a100k A | head -c 2000; echo; sfv_good; } > long-crc.sfv
verify "SFV 2,000-digit checksum" long-crc.sfv 1 1 1 1 1
{ printf '%s *' "$MD5"; a100k a; echo; md5_good; } > long-name.md5
verify "MD5 100,000-byte name" long-name.md5 1 1 1 1 1
{ printf ';'; a100k x | sed "s/^\(.\{600\}\)/\1$MD5 *good/"; echo; md5_good; } > long-comment.md5
verify "MD5 100,000-byte comment" long-comment.md5 0 0 1 0 1
{ a100k 0; echo; md5_good; } > long-hex.md5
verify "MD5 100,000 hexadecimal digits" long-hex.md5 1 1 1 1 1

# --- NUL bytes. A name holding a NUL cannot be opened as listed: the
# entry must not pass as the file named by the bytes before the NUL.
{ printf 'good\0tail %s\n' "$CRC"; sfv_good; } > nul-name.sfv
verify "SFV NUL in a name" nul-name.sfv 1 - - 1 1
{ printf 'good %s\0%s\n' "${CRC:0:4}" "${CRC:4}"; sfv_good; } > nul-crc.sfv
verify "SFV NUL in a checksum" nul-crc.sfv 1 - - 1 1
{ printf '\0good %s\n' "$CRC"; sfv_good; } > nul-start.sfv
verify "SFV line starting with NUL" nul-start.sfv 1 - - 1 1
{ printf '\0\n'; sfv_good; } > nul-line.sfv
verify "SFV line of a lone NUL" nul-line.sfv - - - - 1
{ printf '%s *good\0tail\n' "$MD5"; md5_good; } > nul-name.md5
verify "MD5 NUL in a name" nul-name.md5 1 - - 1 1
{ printf '%s\0%s *good\n' "${MD5:0:16}" "${MD5:17}"; md5_good; } > nul-digest.md5
verify "MD5 NUL in a digest" nul-digest.md5 1 1 1 1 1
{ printf '\0%s *good\n' "$MD5"; md5_good; } > nul-start.md5
verify "MD5 line starting with NUL" nul-start.md5 1 - - 1 1
{ printf '\0\n'; md5_good; } > nul-line.md5
verify "MD5 line of a lone NUL" nul-line.md5 - - - - 1

# --- Invalid UTF-8, in names (which must verify, whatever the locale) and
# in checksums.
printf 'latin-1\n' > $'caf\xe9'
printf 'junk bytes\n' > $'\xff\xfe\x80\xc3'
{
  printf 'caf\xe9 %s\n' "$(crc_of $'caf\xe9')"
  printf '\xff\xfe\x80\xc3 %s\n' "$(crc_of $'\xff\xfe\x80\xc3')"
  sfv_good
} > utf8.sfv
{
  printf '%s *caf\xe9\n' "$(md5_of $'caf\xe9')"
  printf '%s *\xff\xfe\x80\xc3\n' "$(md5_of $'\xff\xfe\x80\xc3')"
  md5_good
} > utf8.md5
for locale in C C.UTF-8; do
  for list in utf8.sfv utf8.md5; do
    ZLOCALE=$locale verify "$list, invalid UTF-8 names, LC_ALL=$locale" $list 0 0 3 0 3 -a
    grep -aq $'^caf\xe9: 100% complete\rcaf\xe9: Ok  ' "$OUT" ||
      fail "$list, LC_ALL=$locale: no Ok verdict for the Latin-1 name"
    grep -aq $'^\xff\xfe\x80\xc3: 100% complete\r\xff\xfe\x80\xc3: Ok  ' "$OUT" ||
      fail "$list, LC_ALL=$locale: no Ok verdict for the junk-byte name"
  done
done
{ printf 'good \xff\xfe\n'; sfv_good; } > utf8-crc.sfv
ZLOCALE=C.UTF-8 verify "SFV invalid UTF-8 checksum" utf8-crc.sfv 1 1 1 1 1
{ printf '\xff%s *good\n' "${MD5:1}"; md5_good; } > utf8-digest.md5
ZLOCALE=C.UTF-8 verify "MD5 invalid UTF-8 digest" utf8-digest.md5 1 1 1 1 1

# --- A byte-order mark, and carriage returns as the only line ends. How
# they are read is left open; they must not crash, hang or hide the rest.
printf 'another file\n' > other
{ printf '\xef\xbb\xbfother %s\n' "$(crc_of other)"; sfv_good; } > bom.sfv
verify "SFV with a BOM" bom.sfv - - - - -
note "SFV with a BOM: $(head -n 1 "$OUT" | tr '\r' '|')"
{ printf '\xef\xbb\xbf%s *other\n' "$(md5_of other)"; md5_good; } > bom.md5
verify "MD5 with a BOM" bom.md5 - - - - -
note "MD5 with a BOM: $(head -n 1 "$OUT" | tr '\r' '|')"
{ printf '; comment\rother %s\rother %s\r\n' "$(crc_of other)" "$(crc_of other)"; sfv_good; } > cr.sfv
verify "SFV with carriage returns only" cr.sfv - - - - -
note "SFV with carriage returns only: $(tail -n 2 "$OUT" | tr '\n' '|')"
{ printf '%s *other\r%s *other\r\n' "$(md5_of other)" "$(md5_of other)"; md5_good; } > cr.md5
verify "MD5 with carriage returns only" cr.md5 - - - - -
note "MD5 with carriage returns only: $(tail -n 2 "$OUT" | tr '\n' '|')"
{ for i in $(seq 1 2000); do printf '\r\n'; done; sfv_good; } > cr-lines.sfv
verify "SFV lines of a lone carriage return" cr-lines.sfv - - - - 1

# --- Absolute paths and "..": checked as listed, and left untouched.
printf 'victim one\n' > ../outside/v1
printf 'victim two\n' > ../outside/v2
chmod 0644 ../outside/v1 ../outside/v2
V1=$WORK/outside/v1
snapshot() { stat -c '%i %s %a %Y %Z' "$V1" ../outside/v2; md5sum "$V1" ../outside/v2; }
snapshot > before.snap
sleep 1  # a change would show in the seconds of the times
{
  printf '%s %s\n' "$V1" "$(crc_of "$V1")"
  printf '../outside/v2 %s\n' "$(crc_of ../outside/v2)"
  printf '%s 00000000\n' "$V1"
  sfv_good
} > escape.sfv
verify "SFV absolute and .. paths" escape.sfv 1 0 4 1 3
{
  printf '%s *%s\n' "$(md5_of "$V1")" "$V1"
  printf '%s *../outside/v2\n' "$(md5_of ../outside/v2)"
  printf '00000000000000000000000000000000 *%s\n' "$V1"
  md5_good
} > escape.md5
verify "MD5 absolute and .. paths" escape.md5 1 0 4 1 3
grep -aq "^$V1: 100% complete.$V1: Ok  " "$OUT" || fail "MD5 absolute path: not verified"
grep -aq "^../outside/v2: 100% complete.../outside/v2: Ok  " "$OUT" || fail "MD5 .. path: not verified"
snapshot | cmp -s - before.snap || fail "listed files outside were changed: $(snapshot | diff before.snap - | tr '\n' '|')"

# --- Entries that are not regular files: a FIFO (opening it for reading
# blocks until a writer comes), a directory, a character device.
mkfifo fifo
mkdir adir
LIMIT=10
{ printf 'fifo 12345678\n'; sfv_good; } > fifo.sfv
verify "SFV entry naming a FIFO" fifo.sfv 1 0 2 1 1
{ printf '%s *fifo\n' "$MD5"; md5_good; } > fifo.md5
verify "MD5 entry naming a FIFO" fifo.md5 1 0 2 1 1
{ printf 'adir 12345678\n'; sfv_good; } > dir.sfv
verify "SFV entry naming a directory" dir.sfv 1 0 2 1 1
{ printf '/dev/zero 12345678\n'; sfv_good; } > zero.sfv
verify "SFV entry naming /dev/zero" zero.sfv 1 0 2 1 1
note "/dev/zero listed: $(head -n 1 "$OUT" | tr '\r' '|')"
LIMIT=30

# --- Empty lists, comment-only lists, seas of blank lines.
for type in sfv md5; do
  : > empty.$type
  RUN_LIMIT=30 run empty.$type
  expect_sound "empty $type list"
  same_text "empty $type list: status" 0 "$status"
  same_text "empty $type list: output" "$(printf '0 files checked\nAll files Ok')" "$(cat "$OUT")"
  same_text "empty $type list: size after" 0 "$(stat -c %s empty.$type)"

  yes ';' | head -n 100000 > semi.$type
  cp semi.$type semi.copy
  RUN_LIMIT=30 run semi.$type
  expect_sound "$type list of ';' lines"
  same_text "$type list of ';' lines: status" 0 "$status"
  same_text "$type list of ';' lines: output" "$(printf '0 files checked\nAll files Ok')" "$(cat "$OUT")"
  same_files "$type list of ';' lines: unchanged" semi.copy semi.$type

  { yes '' | head -n 1000000; ${type}_good; yes '' | head -n 1000000; } > blank.$type
  verify "$type good entry between 2,000,000 blank lines" blank.$type 0 0 1 0 1
  { yes '   ' | head -n 1000; ${type}_good; } > blanks.$type
  verify "$type lines of blanks" blanks.$type 1 - - - 1
done

# --- A hostile verification record: bitmap lines far past 32,768 bytes,
# an overlong record line, lines that are not Base64.
conf=$HOME/.config/zorvik
mkdir -p "$conf"
echo 'signature=s3cret' > "$conf/zorvik.conf"
{
  sfv_good
  echo ';R2-s3cret'
  echo ';R2-AAAAAAAAAAA='
  a100k A | fold -w 64 | head -n 1000 | sed 's/^/;R2-/'
} > record-big.sfv
sfv_good > good.entries
verify "SFV record with a 48,000-byte bitmap" record-big.sfv 0 0 1 0 1
same_text "SFV record with a 48,000-byte bitmap: entries" "$(cat good.entries)" "$(entries record-big.sfv)"
verify "SFV record with a 48,000-byte bitmap, again" record-big.sfv 0 0 1 0 1 -a
{ sfv_good; echo ';R2-s3cret'; printf ';R2-'; a100k / ; echo; echo ';R2-!!!!****'; } > record-junk.sfv
verify "SFV record with junk lines" record-junk.sfv 0 0 1 0 1
same_text "SFV record with junk lines: entries" "$(cat good.entries)" "$(entries record-junk.sfv)"
verify "SFV record with junk lines, again" record-junk.sfv 0 0 1 0 1 -a

finish
