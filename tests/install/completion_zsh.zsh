# The zsh completion offers the options, the types after -t/--type, paths
# after -c/--create and directories only after -p/--parent. Completion runs
# only inside the line editor: an interactive zsh on a pseudo-terminal is
# given each command line and a Tab, and the candidates it offers are read
# back.
# zsh -f completion_zsh.zsh COMPLETION_DIRECTORY
zmodload zsh/zpty || { print "SKIP: no zsh/zpty module"; exit 77 }
completions=${1:A}
scratch=$(mktemp -d)
trap 'zpty -d shell 2>/dev/null; rm -rf $scratch' EXIT
cd $scratch || exit 1
mkdir -p "photos 2026" pics
touch list.sfv "photos 2026/a.jpg" pictures.txt

zpty shell zsh -f -i
# The markers are written split in the commands, so that the echo of a
# command is never taken for them.
zpty -w shell "PS1= ; RPS1= ; fpath=($completions \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w shell 'compadd() {
  if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then builtin compadd "$@"; return; fi
  local -a hits; builtin compadd -A hits "$@"
  local h; for h in $hits; do print -r -- "<HI""T>$h"; done
  builtin compadd "$@"
}'
# Counts up to the CPUs, whatever this machine has.
zpty -w shell 'nproc() { print 3 }'
zpty -w shell "finish() { print -r -- '<EN''D>'; compstate[insert]=''; compstate[list]='' }"

failures=0
# check EXPECTED LINE: completes the end of LINE; the candidates, as they
# would be inserted (quoted), sorted one a line.
check() {
  local expected=$1 line=$2 out= got piece
  # Each completion empties the list of functions it calls at its end.
  zpty -w shell $'\x15''comppostfuncs=(finish)'
  zpty -n -w shell "$line"$'\t'
  while zpty -r shell piece; do
    out+=$piece
    [[ $piece == *'<END>'* ]] && break
  done
  local -a hits=(${(M)${(f)out//$'\r'/}:#*<HIT>*})
  got=$(print -rl -- ${hits##*<HIT>} | LC_ALL=C sort -u)
  if [[ $got != $expected ]]; then
    print -r -- "FAIL: $line"$'\n'"--- expected"$'\n'"$expected"$'\n'"--- got"$'\n'"$got" >&2
    ((failures++))
  fi
}

check $'blake2b\nmd5\nsfv\nsha1\nsha256\nsha512\nxxh128\nxxh64' 'zorvik -t '
check $'sfv\nsha1\nsha256\nsha512' 'zorvik -q --type=s'
check 'xxh64' 'zorvik --type xxh6'
check $'photos\\ 2026\npics' 'zorvik -p '
check $'list.sfv\nphotos\\ 2026\npics\npictures.txt' 'zorvik -c '
check $'photos\\ 2026\npics\npictures.txt' 'zorvik -r -c list.sfv p'
check 'list.sfv' 'zorvik l'
check $'1\n2\n3' 'zorvik --jobs '
check $'--no-progress' 'zorvik --no'
check $'--files-from' 'zorvik --fi'

if ((failures)); then
  print "$failures zsh completion check(s) failed" >&2
  exit 1
fi
print "zsh completion checks passed"
