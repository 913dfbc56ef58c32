#!/usr/bin/env bash
# Fails when a C++ file of the project is not formatted by .clang-format.
# With --fix it formats them in place.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format)
mapfile -t files < <(find src tests tools bench -name '*.h' -o -name '*.cpp' | sort)
if [ "${1:-}" = "--fix" ]; then
    "$format" -i "${files[@]}"
    exit 0
fi
report=$(mktemp)
trap 'rm -f "$report"' EXIT
if ! "$format" --dry-run --Werror "${files[@]}" 2>"$report"; then
    grep -oE '^[^ :]+\.(h|cpp):[0-9]+:[0-9]+: (error|warning)' "$report" | cut -d: -f1 | sort -u | sed 's|$|: not formatted (scripts/check-format.sh --fix)|'
    exit 1
fi
echo "format: every file is formatted"
