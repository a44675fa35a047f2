# Gathering for a create run: order, duplicates, loops, links, limits, -x,
# and the checksum file never being listed in itself.
. "$(dirname "$0")/../lib.sh"

# names_in FILE: the names of a checksum file's entry lines, one a line.
names_in() { grep -v '^;' "$1" | sed -E 's/ [0-9A-F]{8}$//'; }

# bfs DIR...: regular files below DIR breadth-first, in directory order.
bfs() {
  local queue=("$@") i=0 name path
  while [ "$i" -lt "${#queue[@]}" ]; do
    local dir=${queue[$i]}
    i=$((i + 1))
    while IFS= read -r name; do
      path="$dir/$name"
      if [ -d "$path" ]; then queue+=("$path"); elif [ -f "$path" ]; then echo "$path"; fi
    done < <(ls -UA "$dir")
  done
}

# completions PATH...: the closing progress lines of a create run.
completions() { for p in "$@"; do printf '%s: 100%% complete\n' "$p"; done; }

# Order: operands in command-line order, trees breadth-first in readdir order.
for d in tree tree/b tree/a tree/a/deep tree/c tree/c/x tree/c/x/y; do mkdir -p "$d"; done
for f in tree/top1 tree/top2 tree/b/b1 tree/a/a1 tree/a/a2 tree/a/deep/d1 tree/c/x/y/y1 \
         tree/c/c1 tree/top3; do
  mkfile "$f" "$f\n"
done
mkfile one 'one\n'
mkfile two 'two\n'
{ echo one; bfs tree; echo two; } >"$SCRATCH/order"
run -r -c order.sfv one tree two
expect "tree order (output)" 0 "$(completions $(cat "$SCRATCH/order"))
" ""
names_in order.sfv >"$SCRATCH/got"
same "tree order (names_in)" "$(cat "$SCRATCH/order")
" "$SCRATCH/got"
[ "$(wc -l <"$SCRATCH/order")" = 11 ] || fail "the tree has 11 files"

# Without -r a directory contributes nothing but a hint; a file named twice
# is listed twice.
run -c twice.sfv tree one two one
expect "no -r, file twice" 0 "$(completions one two one)
" $'Skipping directory tree: use -r to list its files\n'
names_in twice.sfv >"$SCRATCH/got"
same "no -r, file twice (names_in)" $'one\ntwo\none\n' "$SCRATCH/got"

# A directory already walked, given again below itself.
mkfile a/x 'x\n'
mkfile a/b/y 'y\n'
run -r -c seen.sfv a a/b
expect "a and a/b" 0 $'a/b was previously seen as a/b\n'"$(completions a/x a/b/y)
" ""

# Both streams keep their order when they share one file.
"$ZORVIK" -r -c mixed.sfv a a missing >"$SCRATCH/both" 2>&1
status=$?
checks=$((checks + 1))
[ "$status" = 1 ] || fail "mixed streams: status $status"
same "mixed streams" $'a was previously seen as a\nCould not stat file: missing\n'"$(completions a/x a/b/y)
" "$SCRATCH/both"

# A symbolic link back to an ancestor is reported, not followed.
mkfile loop/f 'f\n'
mkdir -p loop/sub
ln -s .. loop/sub/back
run -r -q -c loop.sfv loop
expect "link loop" 0 $'loop/sub/back was previously seen as loop\n' ""
names_in loop.sfv >"$SCRATCH/got"
same "link loop (names_in)" $'loop/f\n' "$SCRATCH/got"

# A dangling link is reported and skipped; the walk goes on.
mkfile dang/f 'f\n'
ln -s nowhere dang/broken
mkfifo dang/pipe
run -r -q -c dang.sfv dang dang/pipe missing
expect "dangling link, pipe, missing operand" 1 "" \
  $'Could not stat file dang/broken: File not found\nCould not stat file: missing\n'
names_in dang.sfv >"$SCRATCH/got"
same "dangling link (names_in)" $'dang/f\n' "$SCRATCH/got"

# A directory that cannot be opened for another reason than access ends the
# run (the message has no line feed of its own). Five descriptors: the
# standard three, the lock on the list's directory and the checksum file.
# (UBSan's type checks need descriptors of their own: skipped under it.)
if ! grep -qa __ubsan_handle "$ZORVIK"; then
  mkfile emfile/f 'f\n'
  (
    # Descriptors inherited from the caller would take the room.
    for fd in /proc/$BASHPID/fd/*; do
      fd=${fd##*/}
      [ "$fd" -gt 2 ] && eval "exec $fd>&-"
    done
    ulimit -n 5
    run -r -c emfile.sfv emfile
    exit $status
  )
  status=$?
  expect "directory not opened" 253 "" $'Error reading directory emfile: Too many open files\n'
  absent "directory not opened leaves no list" emfile.sfv
fi

# A trailing slash doubles it in every path found.
mkfile slash/f 'f\n'
run -r -c slash.sfv slash/
expect "trailing slash" 0 $'slash//f: 100% complete\n' ""

# Paths from a walk: 263 bytes are accepted, 264 are not.
long=$(printf 'L%.0s' $(seq 200))
mkfile "p/$long/$(printf 'n%.0s' $(seq 60))" 'ok\n'
mkfile "q/$long/$(printf 'n%.0s' $(seq 61))" 'no\n'
run -r -q -c p.sfv p
expect "263 bytes" 0 "" ""
names_in p.sfv >"$SCRATCH/got"
same "263 bytes (entry)" "p/$long/$(printf 'n%.0s' $(seq 60))
" "$SCRATCH/got"
run -r -c q.sfv one q
expect "264 bytes" 247 "" $'Path is too long\n'
absent "264 bytes leaves no list" q.sfv
run -r -c q2.sfv "p/$long$(printf '/.%.0s' $(seq 31))"
expect "directory operand of 264 bytes" 247 "" $'Path is too long\n'

# -x: what lies on another file system than the first operand is skipped.
SHM=$(mktemp -d -p /dev/shm)
trap 'rm -rf "$SHM"; cleanup' EXIT
if [ "$(stat -c %d /dev/shm)" != "$(stat -c %d .)" ]; then
  mkfile "$SHM/far" 'far\n'
  mkfile near/f 'f\n'
  ln -s "$SHM" near/link
  run -r -q -x -c x1.sfv one "$SHM" near "$SHM/far"
  expect "-x" 0 "" ""
  names_in x1.sfv >"$SCRATCH/got"
  same "-x (names_in)" $'one\nnear/f\n' "$SCRATCH/got"
  run -r -q -c x2.sfv one near
  names_in x2.sfv >"$SCRATCH/got"
  same "without -x" "one
near/f
near/link/far
" "$SCRATCH/got"
  run -r -q -x -c x3.sfv missing dang/pipe "$SHM" one near
  expect "-x reference from the first file or directory" 1 "" $'Could not stat file: missing\n'
  names_in x3.sfv >"$SCRATCH/got"
  same "-x reference (names_in)" "$SHM/far
" "$SCRATCH/got"
else
  echo "SKIP: /dev/shm is not a file system of its own"
fi

# The checksum file being created is never listed in itself, under any
# name, met as an operand or in a walk.
mkfile self/f 'f\n'
run -q -c self/list.sfv self/f
ln self/list.sfv hard.sfv
ln self/list.sfv self/alias.sfv
run -r -c self/list.sfv self/list.sfv ./self/list.sfv "$WORK/self/list.sfv" hard.sfv self
expect "never listed in itself" 0 $'self/f: 100% complete\n' ""
names_in self/list.sfv >"$SCRATCH/got"
same "never listed in itself (names_in)" $'self/f\n' "$SCRATCH/got"

# A file that vanishes between the walk and its hashing is reported and
# left out, the status unchanged: the run is held at the first of more files
# than the engine holds at once, and one not yet hashed goes meanwhile.
if [ -n "$SLOW_OPEN" ]; then
  mkdir gone
  for i in $(seq -w 0 1099); do : >"gone/$i"; done
  hold gone/0000
  env "${HOLD[@]}" "$ZORVIK" -q --sort -r -c gone.sfv gone >"$OUT" 2>"$ERR" &
  pid=$!
  held || fail "vanished file: the run never came to gone/0000"
  rm gone/1050
  : >"$RELEASE"
  wait $pid
  status=$?
  expect "vanished file" 0 "" $'Could not stat file gone/1050: File not found\n'
  names_in gone.sfv >"$SCRATCH/got"
  same "vanished file (names_in)" "$(seq -w 0 1099 | grep -vx 1050 | sed 's|^|gone/|')
" "$SCRATCH/got"
fi

finish
