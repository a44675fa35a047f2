#!/usr/bin/env bash
# Peak memory of large runs, run by hand (not a test):
#   bash tests/faults/measure_memory.sh build/cli/zorvik
# Prints the peak resident set of create and verify runs over 30,000 and
# 300,000 files, the growth per listed file, and of verify runs over lists
# of 30,000 and 300,000 entries. Needs GNU time (apt-get install time).
. "$(dirname "$0")/../lib.sh"

[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install -y time)"; exit 2; }

# peak CMD...: runs CMD, prints its peak resident set in KiB; its times go
# to standard error.
peak() {
  /usr/bin/time -v "$@" 2>"$SCRATCH/.time" >/dev/null || { echo "failed: $*" >&2; cat "$SCRATCH/.time" >&2; }
  awk -F': ' '/Elapsed|User time|System time/ { printf "    %s: %s\n", $1, $2 }' "$SCRATCH/.time" | tr -d '\t' >&2
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$SCRATCH/.time"
}

# 300,000 files of 16 bytes in 30 directories; the first 3 hold 30,000.
mkdir t
for d in $(seq -w 1 30); do
  mkdir "t/d$d"
  head -c 160000 /dev/urandom | split -b 16 -a 5 - "t/d$d/f"
done
small=(t/d01 t/d02 t/d03)
path_length=$(printf 't/d01/f%05d' 0 | wc -c)
echo "paths are $path_length bytes long"

for type in sfv md5; do
  c30=$(peak "$ZORVIK" -q -r -c small.$type "${small[@]}")
  c300=$(peak "$ZORVIK" -q -r -c big.$type t)
  echo "$type create, 30,000 files:  peak ${c30} KiB"
  echo "$type create, 300,000 files: peak ${c300} KiB"
  echo "$type create: growth per listed file $(( (c300 - c30) * 1024 / 270000 )) bytes (path $path_length bytes)"
  v30=$(peak "$ZORVIK" -q small.$type)
  v300=$(peak "$ZORVIK" -q big.$type)
  echo "$type verify, 30,000 entries:  peak ${v30} KiB"
  echo "$type verify, 300,000 entries: peak ${v300} KiB"
done
# The same 30,000 files listed ten times: length of the list alone.
entries small.sfv > one
for c in $(seq 1 10); do cat one; done > ten.sfv
v=$(peak "$ZORVIK" -q ten.sfv)
echo "sfv verify, 300,000 entries of 30,000 files: peak ${v} KiB"
