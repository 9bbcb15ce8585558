# Sourced first by the editor of an EDIT= row of tst_tool, before the row's
# script: sets $tool to the tool's pid (the tool runs its editor directly or
# through sh), notes in the file $seen what the editor sees (the modes of the
# copy and of its directory, DROVIK_ variables, the tool's core limit) and
# leaves what editors leave: a swap file, a backup.
tool=$PPID; [ "$(cat /proc/$tool/comm)" = drovik ] || tool=$(cut -d' ' -f4 /proc/$tool/stat)
stat -c %a "$1" "${1%/*}" > "$seen"
{ env | grep ^DROVIK_; grep -i '^max core' /proc/$tool/limits; } >> "$seen"
dir=${1%/*}; echo secret > "$dir/.swp"; mkdir -p "$dir/bak"; cp "$1" "$dir/bak/"
