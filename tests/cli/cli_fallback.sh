# A list whose directory refuses a new file beside it, as an ordinary user
# sees it (run through setpriv, so this needs root: root may write into a
# read-only directory). The list is written in place, and only once every
# file is hashed; all or nothing, with a copy of its old content kept under
# the user's state directory meanwhile. A list the user may not write is
# refused. Which way a run took shows in the list's inode.
. "$(dirname "$0")/../lib.sh"

if ! is_root || ! command -v setpriv >/dev/null; then
  echo "SKIP: needs root and setpriv to act as an ordinary user"
  exit 77
fi
make_nobody_home
STATE="$NOBODY_HOME/.local/state/zorvik"

# as_nobody VAR=VALUE... -- ARGS...: the program as the ordinary user, with
# the environment VAR=VALUE (the faults of faulty_io.c, when preloaded).
as_nobody() {
  local chosen=()
  while [ "$1" != -- ]; do chosen+=("$1"); shift; done
  shift
  run_cmd setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$NOBODY_HOME" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "${chosen[@]}" \
    "$ZORVIK" "$@"
}
preload() { echo "LD_PRELOAD=$FAULTY_IO"; }

keep() { cp "$1" "$SCRATCH/kept"; stat -c %i "$1" >"$SCRATCH/inode"; }
unchanged() {
  checks=$((checks + 1))
  cmp -s "$SCRATCH/kept" "$2" || fail "$1: the list changed"
  [ "$(stat -c %i "$2")" = "$(cat "$SCRATCH/inode")" ] || fail "$1: the list was replaced"
}
same_inode() {
  checks=$((checks + 1))
  [ "$(stat -c %i "$2")" = "$(cat "$SCRATCH/inode")" ] || fail "$1: the list was not written in place"
}
no_copy() {
  checks=$((checks + 1))
  [ -z "$(ls -A "$STATE" 2>/dev/null)" ] || fail "$1: a copy is left: $(ls -A "$STATE")"
  if ls -a | grep -q '\.zorvik-partial-'; then fail "$1: a partial file is left"; fi
}

# The directory: root's, so the ordinary user may not add a file to it.
chmod 755 "$WORK"
mkdir ro
cd ro || exit 2
mkfile a '123456789'
mkfile b 'hello\n'
for i in $(seq 10 25); do mkfile "file-with-a-longish-name-$i" "$i\n"; done
MD5_A='25f9e794323b453885f5181f1b624d0b *a'
MD5_B='b1946ac92492d2347c6235b4d2611184 *b'
fresh_list() {
  "$ZORVIK" -q -c "$1" "${@:2}"
  chown 65534:65534 "$1"
  keep "$1"
}

# Root is not refused the new file: the list is replaced as usual.
fresh_list l.md5 a
"$ZORVIK" -q -u l.md5 b
checks=$((checks + 1))
[ "$(stat -c %i l.md5)" != "$(cat "$SCRATCH/inode")" ] || fail "root: written in place"

# The ordinary user: written in place, the copy gone afterwards.
fresh_list l.md5 a
as_nobody -- -q -u l.md5 b
expect "update in place" 0 "" ""
same_list "update in place (file)" "$HEADER$MD5_A"$'\n'"$MD5_B"$'\n' l.md5
same_inode "update in place" l.md5
no_copy "update in place"
fresh_list l.sfv a file-with-a-longish-name-1*
as_nobody -- -q -c l.sfv b
expect "create in place, shorter" 0 "" ""
same_list "create in place, shorter (file)" "$HEADER; "$'           6  12:30.05 2010-05-31 b\nb 363A3020\n' l.sfv
same_inode "create in place, shorter" l.sfv

# Interrupted while hashing: nothing has touched the list.
if [ -n "$SLOW_OPEN" ]; then
  fresh_list l.md5 a
  hold b "$NOBODY_HOME/held"
  setpriv --reuid=65534 --regid=65534 --clear-groups env --default-signal=INT \
    HOME="$NOBODY_HOME" "${HOLD[@]}" "$ZORVIK" -q -u l.md5 b >"$SCRATCH/out" 2>"$SCRATCH/err" &
  pid=$!
  held || fail "SIGINT while hashing: the run never came to b"
  kill -INT $pid
  wait $pid
  status=$?
  expect "SIGINT while hashing" 130 "" ""
  unchanged "SIGINT while hashing" l.md5
  no_copy "SIGINT while hashing"
fi

# A file-size limit: the longer list fails before any old byte is
# overwritten; the run ends with the reason, the list as it was. The list
# (and its copy) fit the limit of 1024 bytes; one entry more does not.
fresh_list long.md5 file-with-a-longish-name-1*
printf ';%*s\n' $((1020 - 2 - $(stat -c %s long.md5))) '' >>long.md5
keep long.md5
(
  ulimit -f 1
  as_nobody -- -q -u long.md5 a
  exit $status
)
status=$?
expect "size limit in place" 255 $'Error writing checksum file: File too large\n' ""
unchanged "size limit in place" long.md5
no_copy "size limit in place"

# No copy can be kept (a home the user may not write): nothing is written.
fresh_list l.md5 a
setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/ XDG_STATE_HOME= \
  "$ZORVIK" -q -u l.md5 b >"$SCRATCH/out" 2>"$SCRATCH/err"
status=$?
expect "no copy, no writing" 251 $'Error writing checksum file: Access denied\n' ""
unchanged "no copy, no writing" l.md5

# A list the user may not write is refused, as are lists of no-one.
fresh_list l.sfv a
chmod 444 l.sfv
keep l.sfv
for mode in -c -u; do
  as_nobody -- -q $mode l.sfv b
  expect "read-only list ($mode)" 251 $'Error creating sfv file: Access denied\n' ""
  unchanged "read-only list ($mode)" l.sfv
done

if [ -z "$FAULTY_IO" ]; then
  echo "SKIP: no fault library given; write failures left out"
  finish
fi

# A write that fails after the list was extended: the old bytes go back.
# (The first write is the copy, the second the extension.)
fresh_list l.md5 a
as_nobody "$(preload)" ZORVIK_FAIL_PWRITE=3 -- -q -u l.md5 b
expect "failed write put back" 255 $'Error writing checksum file: No space left on device\n' ""
unchanged "failed write put back" l.md5
no_copy "failed write put back"

# Not even that works: the message names the copy, which holds the list.
mkdir -p "$NOBODY_HOME/xdg"
chown 65534 "$NOBODY_HOME/xdg"
as_nobody "$(preload)" ZORVIK_FAIL_PWRITE=3+ XDG_STATE_HOME="$NOBODY_HOME/xdg" -- -q -u l.md5 b
copy=$(ls -d "$NOBODY_HOME"/xdg/zorvik/l.md5.* 2>/dev/null)
expect "failed write not put back" 255 $'Error writing checksum file: No space left on device\n' \
  "l.md5 may be damaged: its old content is kept in $copy"$'\n'
checks=$((checks + 1))
cmp -s "$SCRATCH/kept" "$copy" || fail "failed write not put back: the copy differs from the list"

finish
