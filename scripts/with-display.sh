#!/usr/bin/env bash
# Runs a program with a display: the current one, or a virtual X server (Xvfb)
# when there is none. Usage: scripts/with-display.sh program [arguments...]
set -euo pipefail
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]; then
  exec "$@"
fi
if ! command -v Xvfb >/dev/null; then
  echo "run: no display and no Xvfb; set DISPLAY, or QT_QPA_PLATFORM=offscreen" >&2
  exit 1
fi
# The first free display number from :90 up.
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
export DISPLAY=":$n"
echo "run: no display here; the manager runs on the virtual X server $DISPLAY (Xvfb)."
echo "run: to see it, run from a desktop session, forward X (ssh -X), or attach a VNC"
echo "run: server to $DISPLAY; scripts/screenshot.sh renders the window to a PNG."
"$@"
