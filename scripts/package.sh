#!/usr/bin/env bash
# Builds the release tree and makes its Debian packages in build/packages:
# tesmo-man, libvopelzosdk1 and libvopelzosdk-dev.
# Install them with: apt install ./build/packages/*.deb
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/build/packages"

bash "$top/scripts/build.sh" release
rm -rf "$out"
mkdir -p "$out"
(cd "$top/build/release" && cpack --config CPackConfig.cmake -B "$out" >"$out/cpack.log") || {
  cat "$out/cpack.log" >&2
  exit 1
}
rm -rf "$out/_CPack_Packages"
for deb in "$out"/*.deb; do
  echo "package: $deb"
  dpkg-deb -f "$deb" Package Version Depends | sed 's/^/  /'
done
