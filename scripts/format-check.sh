#!/usr/bin/env bash
# Fails when a tracked C or C++ source differs from what clang-format makes of it.
# Usage: scripts/format-check.sh [--fix]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
if [ ${#files[@]} -eq 0 ]; then
  echo "format: no sources"
  exit 0
fi
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  echo "format: fixed ${#files[@]} files"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/format-check.$$; then
  grep -E '^[^ ].*(warning|error):' /tmp/format-check.$$ | cut -d: -f1 | sort -u | sed 's/^/format: needs clang-format: /'
  rm -f /tmp/format-check.$$
  echo "format: run scripts/format-check.sh --fix"
  exit 1
fi
rm -f /tmp/format-check.$$
echo "format: ${#files[@]} files clean"
