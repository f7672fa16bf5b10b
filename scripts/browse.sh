#!/usr/bin/env bash
# Builds the browser and starts it on the bundled sample library.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh" --target quibrel-browser sample-typelib
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "There is no display to show the browser on (DISPLAY is not set)." >&2
  echo "Run it under a virtual X server instead:  xvfb-run -a $0" >&2
  exit 1
fi
exec "$build/src/quibrel-browser" "$build/sample/QuibrelSample.tlb" "$@"
