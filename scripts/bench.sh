#!/usr/bin/env bash
# Builds and runs every benchmark; each prints its figures and its ratio to the
# baseline measured in the same run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/build.sh" release
shopt -s nullglob
for b in "$top"/build/release/bench/*/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" "$@"
done
