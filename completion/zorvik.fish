# fish completion for zorvik: installed as zorvik.fish in a directory of
# $fish_complete_path.

complete -c zorvik -s a -l all -d 'always verify all files'
complete -c zorvik -s c -l create -r -F -d 'create the checksum file FILE'
complete -c zorvik -s u -l update -r -F -d 'add the files FILE does not list yet'
complete -c zorvik -s p -l parent -x -a '(__fish_complete_directories (commandline -ct))' -d 'root directory of the files a named list holds'
complete -c zorvik -s q -l quiet -d 'suppress non-error messages'
complete -c zorvik -s r -l recursive -d 'walk sub-directories'
complete -c zorvik -s t -l type -x -a 'sfv md5 sha1 sha256 sha512 blake2b xxh64 xxh128' -d 'force checksum file of type TYPE'
complete -c zorvik -s x -l one-file-system -d "don't cross filesystem boundaries"
complete -c zorvik -s j -l jobs -x -a '(seq 1 (nproc 2>/dev/null; or echo 4))' -d 'hash N files at a time'
complete -c zorvik -l ignore-missing -d 'verifying: pass over entries whose file does not exist'
complete -c zorvik -l status -d 'verifying: print nothing, the exit status tells'
complete -c zorvik -l files-from -r -F -d 'also list the files named in FILE'
complete -c zorvik -s 0 -l null -d 'names in --files-from end with NUL'
complete -c zorvik -l exclude -x -d 'leave out files and directories whose name matches PATTERN'
complete -c zorvik -l sort -d 'take entries in byte order of their names'
complete -c zorvik -l no-progress -d 'show no status line on a terminal'
complete -c zorvik -s V -l version -d 'show version'
complete -c zorvik -l help -d 'show the usage text'
