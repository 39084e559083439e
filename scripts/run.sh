#!/usr/bin/env bash
# The main job: sets up the machine, builds the tree and starts the manager.
#
# Usage: scripts/run.sh [--demo | --no-demo] [tesmo-man arguments...]
#   --demo     start a simulated fleet of terminals in a private network namespace
#              and run the manager inside it: press "Search" to see the terminals.
#              This is the default when run as root where a namespace can be made.
#   --no-demo  run the manager on this machine's real network.
# Without a display the manager runs on a virtual X server (Xvfb); see the message.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

mode=auto
if [ "${1:-}" = "--demo" ]; then mode=demo; shift; fi
if [ "${1:-}" = "--no-demo" ]; then mode=plain; shift; fi

bash scripts/setup.sh
bash scripts/build.sh release

bin="$top/build/release"
if [ ! -x "$bin/app/tesmo-man" ]; then
  echo "run: build/release/app/tesmo-man was not built" >&2
  exit 1
fi

can_namespace() {
  [ "$(id -u)" -eq 0 ] && unshare --net true 2>/dev/null
}

if [ "$mode" = auto ]; then
  if can_namespace; then mode=demo; else mode=plain; fi
fi

if [ "$mode" = demo ]; then
  if ! can_namespace; then
    echo "run: --demo needs root and network namespaces (unshare --net)" >&2
    exit 1
  fi
  exec unshare --net --fork bash "$top/scripts/demo-fleet.sh" "$bin" "$@"
fi

bash "$top/scripts/with-display.sh" "$bin/app/tesmo-man" "$@"
