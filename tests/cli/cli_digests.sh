# SHA-1, SHA-256, SHA-512, BLAKE2b, XXH64 and XXH128 lists: those zorvik
# writes pass the peer tools' checks, theirs (plain and tagged, odd names)
# verify in zorvik with the same verdicts; comments, CR LF and clear-signed
# lists; the type read from a list's lines, and a wrong guess stopped.
. "$(dirname "$0")/../lib.sh"

for tool in sha1sum sha256sum sha512sum b2sum xxhsum; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

# type  extension  the peer's command
TYPES="sha1 .sha1 sha1sum
sha256 .sha256 sha256sum
sha512 .sha512 sha512sum
blake2b .b2 b2sum
xxh64 .xxh64 xxhsum -H1
xxh128 .xxh128 xxhsum -H2"

names=("plain" "with blank" 'back\slash' $'line\nfeed' "café ü")
for n in "${names[@]}"; do mkfile "$n" "$n\n"; done
# xxhsum writes a line feed in a name as it is, breaking its line: its lists
# hold no such name.
xxnames=("plain" "with blank" 'back\slash' "café ü")

# shown NAME: NAME as zorvik's lines show it.
shown() {
  case $1 in
    *[$'\n\r']*) local n=${1//\\/\\\\}; n=${n//$'\n'/\\n}; printf '\\%s' "${n//$'\r'/\\r}" ;;
    *) printf '%s' "$1" ;;
  esac
}
# ok NAME...: the lines of files that verified.
ok() { for n; do local s; s=$(shown "$n"); printf '%s: 100%% complete\r%s: Ok                   \n' "$s" "$s"; done; }

# verdicts FILE: the verdict of each entry, in list order, one a line (OK,
# FAILED or MISSING), from zorvik's lines or a peer's.
verdicts() {
  sed -nE -e 's/.*(: Ok +|: OK)$/OK/p' -e 's/.*(: hash mismatch: .*|: FAILED)$/FAILED/p' \
    -e 's/.*(: File error: File not found|: FAILED open or read|Could not open or read.*)$/MISSING/p' "$1" |
    tr -d '\r'
}

# Written by zorvik, checked by the peers.
while read -r type ext peer; do
  set -- "${names[@]}"
  [ "$type" = "${type#xxh}" ] || set -- "${xxnames[@]}"
  run -q -c "ours$ext" "$@"
  expect "create $type" 0 "" ""
  checks=$((checks + 1))
  $peer -c --quiet "ours$ext" >"$SCRATCH/peer" 2>&1 || { fail "$peer -c of ours$ext"; cat "$SCRATCH/peer"; }
done <<<"$TYPES"
run -q -u ours.sha256 ours.sha1
expect "update a SHA-256 list" 0 "" ""
checks=$((checks + 1))
sha256sum -c --quiet ours.sha256 >/dev/null 2>&1 || fail "sha256sum -c of an updated list"

# Written by the peers, plain and tagged, read by zorvik; then a mismatch and
# a missing file, with the peers' verdicts.
while read -r type ext peer; do
  set -- "${names[@]}"
  [ "$type" = "${type#xxh}" ] || set -- "${xxnames[@]}"
  $peer "$@" >"plain$ext" 2>/dev/null
  $peer --tag "$@" >"tag$ext" 2>/dev/null
  for list in "plain$ext" "tag$ext"; do
    run "$list"
    expect "$list" 0 "$(ok "$@")"$'\n'"$# files checked"$'\nAll files Ok\n' ""
  done
done <<<"$TYPES"
cp plain "$SCRATCH/plain"
cp "with blank" "$SCRATCH/with blank"
printf 'changed\n' >plain
rm "with blank"
while read -r type ext peer; do
  for list in "plain$ext" "tag$ext"; do
    run "$list"
    checks=$((checks + 1))
    [ "$status" = 1 ] || fail "$list with a mismatch: status $status"
    verdicts "$SCRATCH/out" >"$SCRATCH/ours"
    $peer -c "$list" >"$SCRATCH/peer-out" 2>&1
    verdicts "$SCRATCH/peer-out" >"$SCRATCH/theirs"
    checks=$((checks + 1))
    if ! cmp -s "$SCRATCH/ours" "$SCRATCH/theirs" || ! grep -q FAILED "$SCRATCH/ours" ||
        ! grep -q MISSING "$SCRATCH/ours"; then
      fail "$list: verdicts differ from $peer -c"
      paste "$SCRATCH/ours" "$SCRATCH/theirs"
    fi
  done
done <<<"$TYPES"
# The exact lines, for one of them.
stored=$(sha256sum <"$SCRATCH/plain" | cut -c1-64)
computed=$(sha256sum <plain | cut -c1-64)
run plain.sha256
expect "mismatch and missing file" 1 "plain: 100% complete"$'\r'"plain: hash mismatch: $stored != $computed
with blank: File error: File not found
$(ok 'back\slash' $'line\nfeed' "café ü")
5 files checked
2 errors detected
" ""
cp "$SCRATCH/out" "$SCRATCH/default-jobs"
run -j 1 plain.sha256
checks=$((checks + 1))
cmp -s "$SCRATCH/out" "$SCRATCH/default-jobs" || fail "-j 1 says otherwise"
run --status plain.sha256
expect "--status" 1 "" ""
run -q --ignore-missing plain.sha256
expect "--ignore-missing" 1 "plain: hash mismatch: $stored != $computed"$'\n4 files checked\n1 errors detected\n' ""
cp -p "$SCRATCH/plain" "$SCRATCH/with blank" .

# Comments, CR LF lines and a clear-signed copy (the signature is not
# checked; a dash-escaped line is read as it was before escaping).
{
  echo '# release 1.0'
  sha256sum plain "with blank"
  echo '# end'
} >SHA256SUMS
sed 's/$/\r/' SHA256SUMS >crlf.sha256
{
  printf -- '-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\n'
  sed '2s/^/- /' SHA256SUMS
  printf -- '-----BEGIN PGP SIGNATURE-----\n\niQEzBAEBCAAdFiEEfakefakefake\n=abcd\n-----END PGP SIGNATURE-----\n'
} >signed.sha256
for list in SHA256SUMS crlf.sha256 signed.sha256; do
  run "$list"
  expect "$list" 0 "$(ok plain "with blank")"$'\n2 files checked\nAll files Ok\n' ""
done

# A name that says nothing: the type from the lines, announced when only the
# digest's length tells it; a tag names it; -t chooses another.
sha512sum plain >sums.txt
b2sum plain >b2.txt
sha512sum --tag plain >tagged.txt
run sums.txt
expect "SHA-512 by length" 0 "$(ok plain)"$'\n1 files checked\nAll files Ok\n' $'sums.txt: read as sha512 lines; -t chooses another\n'
run tagged.txt
expect "SHA-512 by its tag" 0 "$(ok plain)"$'\n1 files checked\nAll files Ok\n' ""
run -t blake2b b2.txt
expect "BLAKE2b by -t" 0 "$(ok plain)"$'\n1 files checked\nAll files Ok\n' ""
# An update takes the type of the list it adds to.
run -q -u sums.txt "with blank"
expect "update a list by its lines" 0 "" $'sums.txt: read as sha512 lines; -t chooses another\n'
checks=$((checks + 1))
sha512sum -c --quiet sums.txt >/dev/null 2>&1 || fail "sha512sum -c of a list updated by its lines"

# XXH128 digests have MD5's length: three mismatches in a row stop the run.
printf '%s\n' 1 2 3 4 >four
xxhsum -H2 plain "with blank" four 'back\slash' >checksums.txt 2>/dev/null
md5() { md5sum <"$1" | cut -c1-32; }
xxh() { xxhsum -H2 <"$1" 2>/dev/null | cut -c1-32; }
mismatch() { printf '%s: 100%% complete\r%s: hash mismatch: %s != %s\n' "$1" "$1" "$(xxh "$1")" "$(md5 "$1")"; }
run checksums.txt
expect "XXH128 read as MD5" 1 "$(mismatch plain; mismatch "with blank"; mismatch four)"$'\n' \
  $'checksums.txt: read as md5 lines; -t chooses another\nchecksums.txt: its lines do not match their files as md5; -t chooses another type\n'
run -q -t xxh128 checksums.txt
expect "XXH128 by -t" 0 $'4 files checked\nAll files Ok\n' ""
# A guess that one file bears out stands: later mismatches are the files'.
md5sum plain four >guessed.txt
before=$(md5 four)
printf 'changed\n' >four
run -q guessed.txt
expect "a guess borne out" 1 "four: hash mismatch: $before != $(md5 four)"$'\n2 files checked\n1 errors detected\n' \
  $'guessed.txt: read as md5 lines; -t chooses another\n'

# A list that cannot be created names its type.
run -c no/such/dir/x.xxh64 plain
expect "create in a missing directory" 252 $'Error creating xxh64 file: File not found\n' ""

finish
