#!/usr/bin/env bash
# The main job: sets up the machine, builds the tree and starts the manager.
# Until the manager exists it lists what the build produced.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/setup.sh
bash scripts/build.sh release

bin="$top/build/release"
if [ -x "$bin/app/tesmo-man" ]; then
  exec "$bin/app/tesmo-man" "$@"
fi

echo "run: the manager is not built yet; this tree provides:"
find "$bin" -maxdepth 3 -type f \( -name '*.so*' -o -name '*.a' -o -perm -u+x \) \
  ! -path '*/CMakeFiles/*' ! -name '*.sh' | sed "s|$bin/|  |" | sort
