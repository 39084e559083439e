#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Safe to run again: it only installs what is missing and says what that is.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build ccache pkg-config clang-format git
  # Qt 5 (Widgets, Network, PrintSupport, Svg) with lrelease/lupdate
  qtbase5-dev qttools5-dev qttools5-dev-tools libqt5svg5-dev qt5-image-formats-plugins
  qttranslations5-l10n
  # SDK dependencies
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libopus-dev
  rapidjson-dev libhttp-parser-dev
  # test and benchmark frameworks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # test peers and tools
  curl ffmpeg sox xvfb xauth fonts-noto-cjk iproute2 wrk nginx-light
  python3 tar
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${#missing[@]} package(s): ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# nginx-light starts a system service on install; the benchmarks start their own.
if command -v systemctl >/dev/null 2>&1; then $SUDO systemctl disable --now nginx >/dev/null 2>&1 || true; fi
$SUDO pkill -x nginx 2>/dev/null || true
echo "setup: done"
