#!/usr/bin/env bash
# Builds Vorna and runs every test, in three stages:
#   normal    the release build (gcc) and the whole test suite
#   sanitize  a clang build with AddressSanitizer + UndefinedBehaviorSanitizer
#             (and libFuzzer's coverage) and the whole test suite again
#   fuzz      every fuzz target of that build for a fixed time on its corpus
# Any failure, sanitizer report or fuzz finding fails the run. Tests that
# need a real X server run under an Xvfb that this script starts (and stops)
# itself. ctest arguments given to this script apply to both suites.
#   VORNA_STAGES          stages to run (default "normal sanitize fuzz")
#   VORNA_FUZZ_SECONDS    time per fuzz target (default 25)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${VORNA_BUILD_DIR:-$here/build}"
sanbuild="${VORNA_SANITIZE_BUILD_DIR:-$here/build-sanitize}"
stages="${VORNA_STAGES:-normal sanitize fuzz}"

bash "$here/scripts/install-deps.sh"

timings=()
xvfb_pid=""
dfile="$(mktemp)"
finish() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -f "$dfile"
  if [ ${#timings[@]} -gt 0 ]; then
    echo "Stage times:"
    printf '  %s\n' "${timings[@]}"
  fi
}
trap finish EXIT
timed() {
  local label="$1" t0
  shift
  t0=$(date +%s)
  "$@"
  timings+=("$label: $(( $(date +%s) - t0 )) s")
}
# The offscreen tests run in parallel; then the X server tests run one at a
# time on a quiet machine, since they wait for repaints and key events of a
# real server.
run_suite() {
  local dir="$1"
  shift
  (cd "$dir" && ctest --output-on-failure -j "$(nproc)" -LE x11 "$@" && ctest --output-on-failure -L x11 "$@")
}
wants() { [[ " $stages " == *" $1 "* ]]; }

# A private X server for the X11 tests.
# -displayfd lets the server pick a free display number itself.
Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$dfile" >/tmp/vorna-test-xvfb.$$.log 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$dfile" ] && break
  sleep 0.1
done
if [ ! -s "$dfile" ]; then echo "Xvfb did not start; see /tmp/vorna-test-xvfb.$$.log" >&2; exit 1; fi
export DISPLAY=":$(head -n1 "$dfile")"
# Nothing under test reaches outside this machine.
export VORNA_UPDATE_FEED_URL="http://127.0.0.1:9/appcast.json"
unset WAYLAND_DISPLAY

if wants normal; then
  timed "normal build" bash -c 'cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
    cmake --build "$2" -j "$(nproc)"' _ "$here" "$build"
  timed "normal tests" run_suite "$build" "$@"
fi

if wants sanitize || wants fuzz; then
  # One tree serves both the sanitized suite and the fuzz targets.
  timed "sanitizer build" bash -c 'CC=clang CXX=clang++ cmake -S "$1" -B "$2" -G Ninja \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNA_FUZZ=ON -DVORNA_BUILD_BENCH=OFF >/dev/null &&
    cmake --build "$2" -j "$(nproc)"' _ "$here" "$sanbuild"
fi

if wants sanitize; then
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0"
  export LSAN_OPTIONS="suppressions=$here/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  timed "sanitizer tests" run_suite "$sanbuild" "$@"
fi

if wants fuzz; then
  timed "fuzzing" bash "$here/scripts/fuzz.sh" "$sanbuild"
fi
