#!/usr/bin/env bash
# Sets up the machine, builds everything with warnings as errors, checks the
# formatting and runs every test.
# Usage: scripts/test.sh [extra ctest arguments...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/setup.sh
bash scripts/format-check.sh
bash scripts/build.sh release
cd build/release
ctest --output-on-failure -j "$(nproc)" "$@"
