#!/usr/bin/env bash
# Builds the Debian package into BUILD_DIR/package/ (default build/package/) and checks it
# with lintian.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh" --target quibrel-browser quibrel-tlb sample-typelib dist-files
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/package/quibrel_*.deb | head -n 1)
lintian --fail-on error "$deb"
echo "$deb"
