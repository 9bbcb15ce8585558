#!/usr/bin/env bash
# The time of 1,000 changes made by one `drovik apply` beside 1,000 separate
# `drovik set` calls, on a file of 10,000 keys protected as a whole.
# Usage: bench/apply_vs_set.sh [DROVIK] [KEYS] [CHANGES]   (a Release build gives the real figure)
set -euo pipefail
drovik=${1:-build/tools/drovik/drovik}
keys=${2:-10000}
changes=${3:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export DROVIK_PASSWORD=bench-pw

# 10,000 keys in sections of 20, then protected as a whole.
awk -v keys="$keys" 'BEGIN { for (i = 0; i < keys; i++) {
    if (i % 20 == 0) printf "[s%04d]\n", i / 20
    printf "k%02d=value-%d\n", i % 20, i } }' > "$work/base.ini"
"$drovik" protect "$work/base.ini" --file
cp "$work/base.ini" "$work/apply.ini"
cp "$work/base.ini" "$work/set.ini"

# The same changes both ways: every tenth key gets a new value.
{
    printf '{"sections": ['
    for ((i = 0; i < changes; i++)); do
        key=$((i * keys / changes))
        ((i)) && printf ','
        printf '{"name": "s%04d", "parameters": [{"name": "k%02d", "value": "new-%d"}]}' \
            $((key / 20)) $((key % 20)) "$i"
    done
    printf ']}\n'
} > "$work/changes.json"

seconds() { date +%s.%N; }
start=$(seconds)
"$drovik" apply "$work/apply.ini" "$work/changes.json"
apply=$(echo "$(seconds) - $start" | bc)

start=$(seconds)
for ((i = 0; i < changes; i++)); do
    key=$((i * keys / changes))
    "$drovik" set "$work/set.ini" "s$(printf %04d $((key / 20)))/k$(printf %02d $((key % 20)))" "new-$i"
done
sets=$(echo "$(seconds) - $start" | bc)

# Both ways must end in the same values.
"$drovik" show "$work/apply.ini" > "$work/apply.txt"
"$drovik" show "$work/set.ini" > "$work/set.txt"
cmp -s "$work/apply.txt" "$work/set.txt" || { echo "the two files differ" >&2; exit 1; }
printf '%d keys, file protected, %d changes\n' "$keys" "$changes"
printf '  one apply:        %8.2f s\n' "$apply"
printf '  %d set calls:   %8.2f s  (%.0f times as long)\n' "$changes" "$sets" "$(echo "$sets / $apply" | bc -l)"
