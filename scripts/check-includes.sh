#!/usr/bin/env bash
# Fails when a source file under src/ includes a header from a folder its own
# folder may not depend on. The core folders' rules are the links listed in
# HX_LAYERS of CMakeLists.txt (followed transitively); every folder may include
# src/base and itself. Outside the core: platform may include the core,
# gui the core and platform, frontend everything. Every folder under src/ must
# also be in the README's layout and have a README.md with its dependency line
# ("Depends on:" or "May depend on").
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A deps
while read -r dir rest; do
    deps[$dir]="${rest//hx_/}"
done < <(sed -n '/^set(HX_LAYERS/,/)/p' CMakeLists.txt | grep -o '"[a-z]*:[^"]*"' | tr -d '"' | tr ':' ' ')
core="${!deps[*]}"

# The folders a folder may include, its own and base among them.
allowed() {
    local dir=$1 seen=" $1 base " queue=$1 next d
    case $dir in
        base) echo " base "; return ;;
        platform) echo " platform base $core "; return ;;
        gui) echo " gui platform base $core "; return ;;
        frontend) echo " * "; return ;;
    esac
    while [ -n "$queue" ]; do
        next=""
        for d in $queue; do
            for dep in ${deps[$d]:-}; do
                [[ $seen == *" $dep "* ]] || { seen+="$dep "; next+=" $dep"; }
            done
        done
        queue=$next
    done
    echo "$seen"
}

status=0
for dir_path in src/*/; do
    dir=$(basename "$dir_path")
    if ! grep -qE "^    src/$dir +[^ ]" README.md; then
        echo "README.md: the layout does not list src/$dir"
        status=1
    fi
    if ! grep -qE "^(Depends on|May depend on)" "$dir_path/README.md" 2>/dev/null; then
        echo "${dir_path}README.md: missing, or without its dependency line (Depends on: ...)"
        status=1
    fi
    ok=$(allowed "$dir")
    [[ $ok == " * " ]] && continue
    while IFS=: read -r file line target; do
        if [[ $ok != *" $target "* ]]; then
            echo "$file:$line: src/$dir may not include $target/ (allowed:$ok)"
            status=1
        fi
    done < <(grep -rnoE '^#include "[a-z]+/' --include='*.h' --include='*.cpp' "$dir_path" |
             sed -E 's/#include "([a-z]+)\//\1/')
done
[ $status -eq 0 ] && echo "includes: every folder keeps to its dependency rule"
exit $status
