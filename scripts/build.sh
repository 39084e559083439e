#!/usr/bin/env bash
# Configures and builds the tree into build/<name> (default: build/release).
# Usage: scripts/build.sh [name] [extra cmake -D options...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
name=${1:-release}
shift || true
builddir="$top/build/$name"

# Let ccache share objects between clones of the tree in other folders.
export CCACHE_BASEDIR="$top"
export CCACHE_NOHASHDIR=true

cmake -S "$top" -B "$builddir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESMO_WERROR=ON "$@" >/dev/null
cmake --build "$builddir" -j "$(nproc)"
echo "build: $builddir"
