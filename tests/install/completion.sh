#!/usr/bin/env bash
# The bash completion offers the options, the types after -t/--type,
# paths after -c/--create and directories only after -p/--parent, with the
# forms "--type=x" takes depending on COMP_WORDBREAKS.
# completion.sh COMPLETION_FILE
set -uo pipefail

# shellcheck source=/dev/null
source "$1" || exit 1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir -p "photos 2026" pics
touch list.sfv "photos 2026/a.jpg" pictures.txt

failures=0
# check EXPECTED WORD... : completes the last WORD of the command line
# "zorvik WORD...", prints the sorted candidates, one a line.
check() {
  local expected=$1
  shift
  COMP_WORDS=(zorvik "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _zorvik
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort)
  [ ${#COMPREPLY[@]} -eq 0 ] && got=
  if [ "$got" != "$expected" ]; then
    printf 'FAIL: zorvik %s\n--- expected\n%s\n--- got\n%s\n' "$*" "$expected" "$got" >&2
    failures=$((failures + 1))
  fi
}

check $'blake2b\nmd5\nsfv\nsha1\nsha256\nsha512\nxxh128\nxxh64' -t ''
check 'md5' -q --type m
check $'blake2b\nmd5\nsfv\nsha1\nsha256\nsha512\nxxh128\nxxh64' --ty ''
check $'sfv\nsha1\nsha256\nsha512' --type = s  # "=" among the word breaks
check $'blake2b\nmd5\nsfv\nsha1\nsha256\nsha512\nxxh128\nxxh64' --type =
check '--type=md5' --type=m       # "=" not among them
check $'photos 2026\npics' -p ''
check $'photos 2026\npics' --parent = p
check '--parent=pics' --parent=pic
check $'list.sfv\nphotos 2026\npics\npictures.txt' -c ''
check $'photos 2026\npics\npictures.txt' --create p
check $'photos 2026\npics\npictures.txt' -c list.sfv p
check 'list.sfv' l
check $'--all\n--create\n--exclude\n--files-from\n--help\n--ignore-missing\n--jobs\n--no-progress\n--null\n--one-file-system\n--parent\n--quiet\n--recursive\n--sort\n--status\n--type\n--update\n--version' -r --
check 'list.sfv' -u l
check '--files-from=list.sfv' --files-from=l
nproc() { echo 3; }  # counts up to the CPUs, whatever this machine has
check $'1\n2\n3' -j ''
check '2' --jobs 2
check $'--one-file-system' --o
check '--parent' -c x.sfv --pa
check '-V' -V
check '' -t sfv x
check $'--recursive' --r

[ "$failures" -eq 0 ] || { echo "$failures completion check(s) failed" >&2; exit 1; }
echo "completion checks passed"
