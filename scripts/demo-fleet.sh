#!/usr/bin/env bash
# Runs inside a private network namespace (scripts/run.sh starts it with
# unshare --net): builds a small network that exists only here, starts simulated
# terminals on it and runs the manager, whose scans reach only those terminals.
# Usage: demo-fleet.sh <build dir> [tesmo-man arguments...]
set -euo pipefail
bin=$1
shift
here=$(cd "$(dirname "$0")" && pwd)

bash "$here/demo-network.sh"

sim="$bin/tools/terminal-sim/terminal-sim"
if [ -x "$sim" ]; then
  # What the terminals hear (speech requests, Pelzo audio) stays readable after the run.
  mkdir -p "$bin/demo"
  out="$bin/demo/terminal-sim.log"
  "$sim" $(cat "$here/demo-fleet.args") >"$out" 2>&1 &
  simpid=$!
  trap 'kill "$simpid" 2>/dev/null || true' EXIT
  for _ in $(seq 100); do grep -q '^terminal-sim ready' "$out" && break; sleep 0.05; done
  echo "run: $(grep '^terminal-sim ready' "$out" || echo 'terminal-sim did not start') on 10.77.0.0/24 (private namespace)"
  echo "run: press \"Search\" (搜索) to see them; every other one speaks (\"tts play\")"
  echo "run: the terminals log what they hear to $out"
else
  echo "run: terminal-sim is not built; the manager runs in an empty private network"
fi

bash "$here/with-display.sh" "$bin/app/tesmo-man" "$@"
