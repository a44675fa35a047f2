#!/usr/bin/env bash
# The fish completion offers the options, the types after -t/--type, paths
# after -c/--create and directories only after -p/--parent, asked of fish's
# own "complete -C".
# completion_fish.sh COMPLETION_FILE
set -uo pipefail

command -v fish >/dev/null || { echo "SKIP: fish is not installed"; exit 77; }
completion=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir -p "photos 2026" pics
touch list.sfv "photos 2026/a.jpg" pictures.txt

failures=0
# check EXPECTED LINE: completes the end of LINE; the candidates without
# their descriptions, sorted one a line.
check() {
  local got
  got=$(fish -N -c 'function nproc; echo 3; end; source $argv[1]; complete -C $argv[2]' \
    "$completion" "$2" | cut -f1 | LC_ALL=C sort)
  if [ "$got" != "$1" ]; then
    printf 'FAIL: %s\n--- expected\n%s\n--- got\n%s\n' "$2" "$1" "$got" >&2
    failures=$((failures + 1))
  fi
}

check $'blake2b\nmd5\nsfv\nsha1\nsha256\nsha512\nxxh128\nxxh64' 'zorvik -t '
check $'--type=sfv\n--type=sha1\n--type=sha256\n--type=sha512' 'zorvik -q --type=s'
check $'photos 2026/\npics/' 'zorvik -p '
check $'list.sfv\nphotos 2026/\npics/\npictures.txt' 'zorvik -c '
check $'photos 2026/\npics/\npictures.txt' 'zorvik -r -c list.sfv p'
check 'list.sfv' 'zorvik l'
check $'1\n2\n3' 'zorvik --jobs '
check '--no-progress' 'zorvik --no'
check '--files-from' 'zorvik --fi'

[ "$failures" -eq 0 ] || { echo "$failures fish completion check(s) failed" >&2; exit 1; }
echo "fish completion checks passed"
