#!/usr/bin/env bash
# Installs the Debian packages the project needs to build, run and test it; with
# --bench also the peers that only the benchmarks use (scripts/bench.sh asks for them).
# Safe to run again: it only installs what is missing and says what that is. It
# installs packages and does nothing else to the machine: no service is started,
# stopped, enabled or disabled by it.
# Usage: scripts/setup.sh [--bench]
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
  # test peers and tools: HTTP client, audio fixtures, network namespaces, update
  # bundles, the translation filler; a virtual display and CJK fonts for scripts/run.sh
  curl ffmpeg sox iproute2 tar python3 xvfb xauth fonts-noto-cjk
  # a throw-away certificate for the TLS test of the Qt HTTP server
  openssl
  # Debian packages (scripts/package.sh, tests/package): dpkg-shlibdeps computes their
  # dependencies (CPack needs file for it), lintian checks them
  dpkg-dev file lintian
)
bench_packages=(
  # bench_kohttp, bench_kohttp_qt: wrk drives the servers, a private nginx is their baseline
  wrk nginx-light
)

case "${1:-}" in
  --bench) packages+=("${bench_packages[@]}") ;;
  "") ;;
  *)
    echo "usage: scripts/setup.sh [--bench]" >&2
    exit 2
    ;;
esac

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

# Some packages (nginx-light) start a system service when installed. Debian's
# maintainer scripts ask /usr/sbin/policy-rc.d first; while this script installs, one
# that refuses every start is in place, unless the machine already has its own.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  trap '$SUDO rm -f "$policy"' EXIT
  printf '#!/bin/sh\n# Written by tesmo scripts/setup.sh while it installs packages.\nexit 101\n' |
    $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
