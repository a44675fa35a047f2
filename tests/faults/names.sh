#!/usr/bin/env bash
# Names that a list line cannot carry as they are (a newline, and for SFV
# leading ";", trailing blanks or carriage returns, surrounding quotes).
# Whatever the create run does with them must be sound: either it fails
# (non-zero status, with a message), or the list it wrote verifies every
# file it was given. A run that says it wrote the list while the list
# cannot check that file is a failure reported as success.
. "$(dirname "$0")/../lib.sh"

printf 'plain\n' > plain
names=(
  $'new\nline'
  $'two\n\nnewlines'
  $'ends in cr\r'
  'ends in blank '
  $'ends in tab\t'
  ' begins with blank'
  ';begins with semicolon'
  '"quoted"'
  '"begins with quote'
  $'caf\xe9'
  'back\slash'
  'x 12345678'
)

for type in sfv md5; do
  for name in "${names[@]}"; do
    label="$type, name $(printf '%q' "$name")"
    printf 'content of %s\n' "$name" > "$name"
    rm -f "list.$type"
    RUN_LIMIT=30 run -q -c "list.$type" plain "$name"
    expect_sound "$label: create"
    if [ "$status" -ne 0 ]; then
      [ -s "$OUT" ] || [ -s "$ERR" ] || fail "$label: create failed without a message"
      note "$label: create refused with status $status: $(cat "$OUT" "$ERR" | tr '\n\r' '||')"
    else
      RUN_LIMIT=30 run -q -a "list.$type"
      expect_sound "$label: verify"
      if [ "$status" -ne 0 ] || [ "$(cat "$OUT")" != "$(printf '2 files checked\nAll files Ok')" ]; then
        fail "$label: create succeeded, but its list does not verify: $(tr '\n\r' '||' < "$OUT")"
      fi
    fi
    rm -f "$name"
  done
done

finish
