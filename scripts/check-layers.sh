#!/usr/bin/env bash
# Fails when a file includes a header from a folder above its own in the
# layer order that cmake/TonvaleTargets.cmake lists (TONVALE_FOLDERS, lowest
# first). Checks src/ and tests/ (which mirrors src/); includes outside those
# folders (system, Qt, tests/support) are not layered.
#
# usage: check-layers.sh [project root]   (default: this script's project)
set -euo pipefail

root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
targets="$root/cmake/TonvaleTargets.cmake"
[[ -f "$targets" ]] || { echo "check-layers: no $targets" >&2; exit 2; }

# The folder list: the words between "set(TONVALE_FOLDERS" and its ")".
folders=$(awk '/set\(TONVALE_FOLDERS/ {on=1; sub(/.*set\(TONVALE_FOLDERS/, "")}
               on { line=$0; done=sub(/\).*/, "", line); printf "%s ", line; if (done) exit }' "$targets")
read -r -a layers <<<"$folders"
[[ ${#layers[@]} -gt 0 ]] || { echo "check-layers: TONVALE_FOLDERS not found in $targets" >&2; exit 2; }

# The rank of a path inside src/ (or tests/): the longest listed folder that
# prefixes it, -1 for none. Set in `rank` (no subshell: the script runs once
# per include line, and a fork each made it take minutes on a loaded machine).
rank_of() {
    local path="$1" bestLength=0 i
    rank=-1
    for i in "${!layers[@]}"; do
        local folder="${layers[$i]}"
        if [[ "$path" == "$folder/"* && ${#folder} -gt $bestLength ]]; then
            rank=$i
            bestLength=${#folder}
        fi
    done
}

violations=0
checked=0
for tree in src tests; do
    [[ -d "$root/$tree" ]] || continue
    while IFS= read -r -d '' file; do
        relative="${file#"$root/$tree/"}"
        rank_of "$relative"
        own=$rank
        [[ $own -ge 0 ]] || continue
        checked=$((checked + 1))
        while IFS= read -r line; do
            number="${line%%:*}"
            [[ "${line#*:}" =~ \"([^\"]+)\" ]] || continue
            header="${BASH_REMATCH[1]}"
            rank_of "$header"
            theirs=$rank
            if [[ $theirs -gt $own ]]; then
                echo "$tree/$relative:$number: includes \"$header\" from ${layers[$theirs]}, above ${layers[$own]}"
                violations=$((violations + 1))
            fi
        done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
    done < <(find "$root/$tree" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' \) -print0)
done

if [[ $violations -gt 0 ]]; then
    echo "check-layers: $violations upward include(s) in $checked files (layer order: ${layers[*]})"
    exit 1
fi
echo "check-layers: $checked files, no upward include (layer order: ${layers[*]})"
