#!/usr/bin/env bash
# Builds Vorna and runs every test. Tests that need a real X server run
# under an Xvfb that this script starts (and stops) itself.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${VORNA_BUILD_DIR:-$here/build}"

bash "$here/scripts/install-deps.sh"

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"

# A private X server for the X11 tests.
# -displayfd lets the server pick a free display number itself.
dfile="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$dfile" >/tmp/vorna-test-xvfb.$$.log 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true; rm -f "$dfile"' EXIT
for _ in $(seq 1 100); do
  [ -s "$dfile" ] && break
  sleep 0.1
done
if [ ! -s "$dfile" ]; then echo "Xvfb did not start; see /tmp/vorna-test-xvfb.$$.log" >&2; exit 1; fi
display=":$(head -n1 "$dfile")"
export DISPLAY="$display"
# Nothing under test reaches outside this machine.
export VORNA_UPDATE_FEED_URL="http://127.0.0.1:9/appcast.json"
unset WAYLAND_DISPLAY

cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
