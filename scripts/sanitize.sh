#!/usr/bin/env bash
# Builds the AddressSanitizer/UBSan tree (build/asan) and the ThreadSanitizer
# tree (build/tsan) and runs every test in them. Fails when a test fails or when
# any sanitizer report shows up in a test's output, including reports from
# helper processes the tests start, whose exit codes the tests may not look at.
# Usage: scripts/sanitize.sh [asan|tsan|all] [extra ctest arguments...]
# The compilers come from CC and CXX as usual: CC=clang CXX=clang++ builds the trees with
# clang into build/asan-clang and build/tsan-clang, beside the GCC ones.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
shift || true

# A tree keeps the compiler it was first configured with, so each compiler gets its own.
suffix=
case "$(basename "${CXX:-c++}")" in
clang++*) suffix=-clang ;;
esac

case "$which" in
asan) trees=(asan) ;;
tsan) trees=(tsan) ;;
all) trees=(asan tsan) ;;
*)
  echo "usage: $0 [asan|tsan|all] [extra ctest arguments...]" >&2
  exit 2
  ;;
esac

# What the runtimes print at the head of each report.
reports='ERROR: AddressSanitizer|ERROR: LeakSanitizer|WARNING: ThreadSanitizer|ThreadSanitizer: reported|ThreadSanitizer:DEADLYSIGNAL|AddressSanitizer:DEADLYSIGNAL|runtime error:'

failed=()
built=()
for kind in "${trees[@]}"; do
  option=TESMO_$(echo "$kind" | tr '[:lower:]' '[:upper:]')
  tree=$kind$suffix
  built+=("$tree")
  bash "$top/scripts/build.sh" "$tree" "-D$option=ON" -DTESMO_BUILD_BENCH=OFF
  log="$top/build/$tree/sanitize.log"
  echo "sanitize: running the $tree tests (full output in $log)"
  status=0
  (cd "$top/build/$tree" && ctest -V -j "$(nproc)" "$@") >"$log" 2>&1 || status=$?
  # ctest -V prefixes each line of a test's output with the test's number.
  grep -E '^ *[0-9]+/[0-9]+ Test +#|tests passed|tests failed|^ +[0-9]+ - ' "$log" || true
  if grep -qE "$reports" "$log"; then
    echo "sanitize: $tree: sanitizer reports:"
    grep -nE -A12 "$reports" "$log" | head -200
    status=1
  fi
  if [ "$status" -ne 0 ]; then
    failed+=("$tree")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "sanitize: FAILED: ${failed[*]} (see build/<tree>/sanitize.log)"
  exit 1
fi
echo "sanitize: ${built[*]} clean"
