# What the program says: names that could break a line are shown escaped,
# in every line that holds one; failures name the system's reason.
. "$(dirname "$0")/../lib.sh"

# --- Names with a line feed, a carriage return, control bytes and a tab,
# through a create and a verify with a mismatch and missing files. MD5 lists
# keep md5sum's escaping; the lines shown use their own.
lf=$'good.txt: Ok\nbad.txt' cr=$'cr\rname' ctl=$'ctl\x01\\x\x7f' tab=$'tab\tname' gone=$'gone\x1b[2J'
for name in "$lf" "$cr" "$ctl" "$tab" 'back\slash' "$gone"; do mkfile "$name" 'x\n'; done
run -j 1 -c names.md5 "$lf" "$cr" "$ctl" "$tab" 'back\slash' "$gone" $'no\nsuch'
expect "create" 1 '\good.txt: Ok\nbad.txt: 100% complete
\cr\rname: 100% complete
\ctl\x01\\x\x7f: 100% complete
'"$tab"': 100% complete
back\slash: 100% complete
\gone\x1b[2J: 100% complete
' '\Could not stat file: no\nsuch
'
x=401b30e3b8b5d629635a5c613cdb7919
grep -v '^;' names.md5 >"$SCRATCH/entries"
same "the list keeps its own escaping" "\\$x *good.txt: Ok\\nbad.txt
\\$x *cr\\rname
$x *$ctl
$x *$tab
$x *back\\slash
$x *$gone
" "$SCRATCH/entries"
mkfile "$lf" 'changed\n'
rm "$tab" "$gone"
for jobs in 1 4; do
  run -j $jobs names.md5
  expect "verify, -j $jobs" 1 '\good.txt: Ok\nbad.txt: 100% complete'$'\r''\good.txt: Ok\nbad.txt: hash mismatch: 401b30e3b8b5d629635a5c613cdb7919 != ec1bebaea2c042beb68f7679ddd106a4
\cr\rname: 100% complete'$'\r''\cr\rname: Ok                   
\ctl\x01\\x\x7f: 100% complete'$'\r''\ctl\x01\\x\x7f: Ok                   
'"$tab"': File error: File not found
back\slash: 100% complete'$'\r''back\slash: Ok                   
\gone\x1b[2J: File error: File not found
6 files checked
3 errors detected
' ""
done

# SFV lines carry control bytes and tabs (not line breaks) as they are.
mkfile "$tab" 'y\n'
run -q -c names.sfv "$ctl" "$tab"
mkfile "$ctl" 'changed\n'
run names.sfv
expect "SFV verify" 1 '\ctl\x01\\x\x7f: 100% complete'$'\r''\ctl\x01\\x\x7f: hash mismatch: 1f08ea46 != acee1c6f
'"$tab"': 100% complete'$'\r'"$tab"': Ok                   
2 files checked
1 errors detected
' ""

# --- The system's reason where the codes have no text of their own. A
# symbolic link loop and a path through a file, found by every worker count.
mkdir tree
ln -s loop tree/loop
mkfile plain 'p\n'
printf '%s  tree/loop\n%s  plain/x\n' d41d8cd98f00b204e9800998ecf8427e d41d8cd98f00b204e9800998ecf8427e >reasons.md5
for jobs in 1 4; do
  run -j $jobs reasons.md5
  expect "link loop and ENOTDIR, -j $jobs" 1 'tree/loop: 100% complete'$'\r''tree/loop: File error: Too many levels of symbolic links
plain/x: 100% complete'$'\r''plain/x: File error: Not a directory
2 files checked
2 errors detected
' ""
done
# A walked entry that cannot be looked at ends the run with its reason.
run -r -c tree.sfv tree
expect "link loop in a walk" 255 "" $'Could not stat file tree/loop: Too many levels of symbolic links\n'
absent "link loop in a walk leaves no list" tree.sfv
run -c tree plain
expect "SFV file onto a directory" 255 $'Error creating sfv file: Is a directory\n' ""
run -t md5 -c tree plain
expect "MD5 list onto a directory" 255 $'Error creating md5 file: Is a directory\n' ""

# --- A list that cannot be opened is named, with its reason; the status
# stays that of the failure.
run typo.md5
expect "missing MD5 list" 252 "" $'typo.md5: File not found\n'
run $'typo\n.sfv'
expect "missing list, escaped" 252 "" $'\\typo\\n.sfv: File not found\n'
# A directory named to verify stands for the lists in it: what its search
# cannot look at is reported, and the run fails.
run -q tree
expect "a directory searched for lists" 1 $'0 lists, 0 files checked\n' \
  $'Could not stat file tree/loop: Too many levels of symbolic links\nNo checksum lists found\n'
if ! is_root; then
  mkfile locked.md5 ''
  chmod 000 locked.md5
  run locked.md5
  expect "unreadable list" 251 "" $'locked.md5: Access denied\n'
fi

finish
