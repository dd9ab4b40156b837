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
display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
if [ -z "$display" ]; then echo "no free X display number" >&2; exit 1; fi
Xvfb "$display" -screen 0 1440x900x24 -nolisten tcp +extension XTEST +extension Composite >/tmp/vorna-test-xvfb.log 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done
export DISPLAY="$display"
unset WAYLAND_DISPLAY

cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
