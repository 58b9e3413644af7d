#!/usr/bin/env bash
# Fails when a colour is spelled out in src/ anywhere but the theme: a hex
# colour ("#2a2a2a", "#888", "#aarrggbb") or an rgb()/rgba() style-sheet
# colour. Every colour the window shows is named once in ui/common/Theme.h
# and Theme.cpp, so a new look changes one place. Lists each offender.
#
# usage: check-colours.sh [project root]   (default: this script's project)
set -euo pipefail

root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
[[ -d "$root/src" ]] || { echo "check-colours: no $root/src" >&2; exit 2; }

allowed=(
    src/ui/common/Theme.h
    src/ui/common/Theme.cpp
)

# A '#' and 3, 4, 6 or 8 hex digits standing alone ("&#160;" is a character,
# "#include" and "#define" are not hex), or the start of rgb( / rgba(.
pattern='(^|[^&[:alnum:]_])#([[:xdigit:]]{3}|[[:xdigit:]]{4}|[[:xdigit:]]{6}|[[:xdigit:]]{8})([^[:alnum:]_]|$)|rgba?[[:space:]]*\('

offenders=0
checked=0
while IFS= read -r -d '' file; do
    relative="${file#"$root/"}"
    skip=0
    for allow in "${allowed[@]}"; do
        [[ "$relative" == "$allow" ]] && skip=1 && break
    done
    [[ $skip -eq 0 ]] || continue
    checked=$((checked + 1))
    while IFS= read -r line; do
        echo "$relative:$line"
        offenders=$((offenders + 1))
    done < <(grep -nE "$pattern" "$file" || true)
done < <(find "$root/src" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' \) -print0 | sort -z)

if [[ $offenders -gt 0 ]]; then
    echo "check-colours: $offenders line(s) spell a colour outside ui/common/Theme in $checked files; name it in Theme"
    exit 1
fi
echo "check-colours: $checked files, every colour comes from ui/common/Theme"
