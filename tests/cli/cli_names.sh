# Names print and round-trip as their bytes, whatever LANG and LC_ALL say:
# blanks, UTF-8, and bytes that are not UTF-8 at all.
. "$(dirname "$0")/../lib.sh"

names=("with blank.txt" "café ü.txt" "日本語" $'latin\xe9\xff' "  lead" "quo\"te")
mkdir -p "dé jà"
for n in "${names[@]}"; do mkfile "dé jà/$n" "$n"; done

for locale in "" C C.UTF-8; do
  for type in sfv md5; do
    list="list-$type.$type"
    if [ -n "$locale" ]; then export LC_ALL=$locale LANG=$locale; else unset LC_ALL LANG; fi
    run -q -r -c "$list" "dé jà" "missing ü"
    expect "[$locale] create $type" 1 "" $'Could not stat file: missing \xc3\xbc\n'
    LC_ALL=C grep -av '^;' "$list" | LC_ALL=C sort >"$SCRATCH/got"
    for n in "${names[@]}"; do
      if [ "$type" = sfv ]; then
        printf 'dé jà/%s %s\n' "$n" "$(printf '%s' "$n" | rhash --simple --crc32 - 2>/dev/null | cut -c1-8 | tr a-f A-F)"
      else
        printf '%s *dé jà/%s\n' "$(printf '%s' "$n" | md5sum | cut -c1-32)" "$n"
      fi
    done | LC_ALL=C sort >"$SCRATCH/want"
    if [ "$type" = md5 ] || command -v rhash >/dev/null; then
      same "[$locale] $type entries" "$(cat "$SCRATCH/want")
" "$SCRATCH/got"
    fi
    run -a "$list"
    [ "$status" = 0 ] || fail "[$locale] verify $type: status $status"
    for n in "${names[@]}"; do
      printf 'dé jà/%s: 100%% complete\rdé jà/%s: Ok                   \n' "$n" "$n"
    done | LC_ALL=C sort >"$SCRATCH/want"
    LC_ALL=C grep -av 'files' "$SCRATCH/out" | LC_ALL=C sort >"$SCRATCH/got"
    same "[$locale] verify $type output" "$(cat "$SCRATCH/want")
" "$SCRATCH/got"
    # The same names below a parent directory given with -p.
    mkdir -p "pré"
    (cd "dé jà" && "$ZORVIK" -q -c "../pré/rel.$type" *)
    run -a -q -p "dé jà" "pré/rel.$type"
    expect "[$locale] -p with UTF-8, $type" 0 $'6 files checked\nAll files Ok\n' ""
  done
done
unset LC_ALL LANG

# A mismatch and a missing file show their names as bytes too.
printf 'changed' >"dé jà/日本語"
rm "dé jà/$(printf 'latin\xe9\xff')"
run -q list-md5.md5
expect "error lines" 1 "dé jà/日本語: hash mismatch: $(printf '日本語' | md5sum | cut -c1-32) != $(printf 'changed' | md5sum | cut -c1-32)
"$'dé jà/latin\xe9\xff: File error: File not found\n6 files checked\n2 errors detected\n' ""

finish
