#!/usr/bin/env bash
# Builds Vorna and starts it. Uses the desktop's display; on a machine
# without one it starts a virtual X server (Xvfb) for Vorna and says so.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${VORNA_BUILD_DIR:-$here/build}"

bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target vorna vorna_icons

# Register this build for vorna:// links and opened images: the desktop
# file, with Exec pointing at the binary just built.
app_id="org.vorna.Vorna"
apps="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
mkdir -p "$apps"
# Exec quoting of the desktop entry format: a quoted argument, with \ " ` $
# escaped twice over and % doubled.
exec_path="$build/vorna"
exec_quoted="$(printf '%s' "$exec_path" | sed -e 's/\\/\\\\\\\\/g' -e 's/["`$]/\\\\&/g' -e 's/%/%%/g')"
while IFS= read -r line; do
  case "$line" in
    Exec=*) printf 'Exec="%s" %%U\n' "$exec_quoted" ;;
    *) printf '%s\n' "$line" ;;
  esac
done <"$build/generated/$app_id.desktop" >"$apps/$app_id.desktop.tmp"
mv -f "$apps/$app_id.desktop.tmp" "$apps/$app_id.desktop"
if command -v update-desktop-database >/dev/null 2>&1; then
  update-desktop-database -q "$apps" || true
fi
if command -v xdg-mime >/dev/null 2>&1; then
  xdg-mime default "$app_id.desktop" x-scheme-handler/vorna || true
fi

# Vorna's icon, in the user's hicolor theme, where the desktop entry's
# Icon= finds it. Each file is put in place whole.
icons="${XDG_DATA_HOME:-$HOME/.local/share}/icons/hicolor"
(cd "$build/generated/hicolor" && find . -type f) | while IFS= read -r icon; do
  mkdir -p "$icons/$(dirname "$icon")"
  cp -f "$build/generated/hicolor/$icon" "$icons/$icon.tmp"
  mv -f "$icons/$icon.tmp" "$icons/$icon"
done
touch "$icons"
if command -v gtk-update-icon-cache >/dev/null 2>&1; then
  gtk-update-icon-cache -q -f -t "$icons" || true
fi

if [ -n "${DISPLAY:-}" ]; then
  exec "$build/vorna" "$@"
fi

# No display: Vorna gets a virtual X server of its own, which goes when Vorna
# ends, whether it quits, crashes or this script is interrupted.
display=""
for n in $(seq 42 99); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/tmp/vorna-xvfb.log 2>&1 &
xvfb_pid=$!
vorna_pid=""
stop() {
  if [ -n "$vorna_pid" ]; then
    kill "$vorna_pid" 2>/dev/null || true
    wait "$vorna_pid" 2>/dev/null || true
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
}
trap stop EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY="$display"
echo "No display found: started a virtual X server (Xvfb) on DISPLAY=$display for Vorna."
echo "Drive it from another shell with: DISPLAY=$display $build/vorna 'vorna://capture?mode=fullscreen'"

# Not exec: this shell stays to stop the server when Vorna ends.
"$build/vorna" "$@" &
vorna_pid=$!
status=0
wait "$vorna_pid" || status=$?
vorna_pid=""
exit "$status"
