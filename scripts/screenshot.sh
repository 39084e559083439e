#!/usr/bin/env bash
# Renders the main window with a few demonstration terminals to a PNG under the
# offscreen platform (no display, no network traffic).
# Usage: scripts/screenshot.sh [out.png] [zh|en|kr]   (default docs/mainwindow.png, zh)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/docs/mainwindow.png}
lang=${2:-zh}
cd "$top"
bash scripts/build.sh release >/dev/null
QT_QPA_PLATFORM=offscreen "$top/build/release/app/tesmo-screenshot" "$out" "$lang"
echo "screenshot: $out"
