#!/usr/bin/env bash
# The README's option table and the program's --help name the same options
# (both come from the option table in src/frontend/main.cpp).
#   check-options.sh PROGRAM README
set -euo pipefail
program=$1 readme=$2
from_help=$("$program" --help | grep -oE '^  --[a-z-]+' | tr -d ' ' | sort -u)
from_readme=$(awk -F'|' '/^\| `--/ {print $2}' "$readme" | grep -oE '`--[a-z-]+' | tr -d '`' | sort -u)
if [ "$from_help" != "$from_readme" ]; then
  echo "options in --help but not in the README's table (<) or the other way round (>):"
  diff <(echo "$from_help") <(echo "$from_readme") | grep '^[<>]'
  exit 1
fi
echo "$(echo "$from_help" | wc -l) options, README and --help agree"
