#!/usr/bin/env bash
# Starts Vantrel the way the installed launcher does: in the per-user Vantrel directory,
# seeded with the default settings and help files. Without a display it runs the program
# on a virtual one, saves screenshots, says where, and ends it again.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$here/build/src/vantrel}")
shift || true
[ -x "$exe" ] || { echo "run.sh: no program at $exe (build it first: make build)" >&2; exit 1; }
dir="${XDG_DATA_HOME:-$HOME/.local/share}/Vantrel"
mkdir -p "$dir"
for f in vantrel_settings.txt help.txt; do
  [ -e "$dir/$f" ] || cp "$here/res/$f" "$dir/$f"
done
cd "$dir"

# A display that cannot be reached counts as none.
if [ -n "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && command -v xdpyinfo >/dev/null &&
  ! xdpyinfo >/dev/null 2>&1; then
  echo "run.sh: cannot reach the display $DISPLAY; using a virtual one" >&2
  unset DISPLAY
fi
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$exe" "$@"
fi

# No display: show that the program works on a virtual one.
shots="${VANTREL_SCREENSHOT_DIR:-$(dirname "$(dirname "$exe")")}"
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || {
    echo "run.sh: no display, and $tool (for a virtual one) is missing: run scripts/install-deps.sh" >&2
    exit 1
  }
done
tmp=$(mktemp -d)
xvfb_pid="" wm_pid="" app_pid=""
cleanup() {
  for pid in "$app_pid" "$wm_pid" "$xvfb_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
wait_for() {  # a condition, up to ten seconds (or $2 tenths of a second)
  for _ in $(seq "${2:-100}"); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
xvfb_pid=$!
wait_for '[ -s "$tmp/display" ]' || { echo "run.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$tmp/display")"
# A Vantrel already running in this session would be handed the start instead.
mkdir -m 700 "$tmp/run"
export XDG_RUNTIME_DIR="$tmp/run"
if command -v openbox >/dev/null; then
  openbox >/dev/null 2>&1 &
  wm_pid=$!
  # As on a desktop, the window manager runs before the program maps its windows: a splash
  # screen mapped before it takes the display may never be shown.
  wait_for 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"' ||
    echo "run.sh: openbox did not take the display; going on without it" >&2
fi
echo "No display: running Vantrel on the virtual display $DISPLAY (working directory $dir)."

QT_QPA_PLATFORM=xcb "$exe" "$@" &
app_pid=$!
# Ends the program if it still runs (Escape first, as a user would), and records its status.
end_app() {
  if kill -0 "$app_pid" 2>/dev/null; then
    xdotool key Escape 2>/dev/null || true
    wait_for '! kill -0 "$app_pid" 2>/dev/null' || kill "$app_pid" 2>/dev/null || true
  fi
  wait "$app_pid" && status=0 || status=$?
  app_pid=""
}
# The splash screen covers the main dialog for its first three seconds only: look for it from the
# start, take the screenshot as soon as it is seen, and check it was still up afterwards.
splash_up=0
splash_visible() { xdotool search --onlyvisible --name "^Vantrel splash screen$" >/dev/null 2>&1; }
if wait_for 'splash_visible || ! kill -0 "$app_pid" 2>/dev/null' 300 && splash_visible; then
  import -window root "$shots/vantrel-splash.png"
  splash_visible && splash_up=1
fi
if ! wait_for 'xdotool search --onlyvisible --name "^Vantrel$" >/dev/null 2>&1 ||
               ! kill -0 "$app_pid" 2>/dev/null' 300 ||
   ! kill -0 "$app_pid" 2>/dev/null; then
  import -window root "$shots/vantrel-main.png" 2>/dev/null || true
  end_app
  echo "run.sh: no window of Vantrel appeared (status $status); screen saved in $shots/vantrel-main.png" >&2
  exit 1
fi
wait_for '! xdotool search --onlyvisible --name "^Vantrel splash screen$" >/dev/null 2>&1' || true
sleep 0.5
import -window root "$shots/vantrel-main.png"
# The pixels, not the files: a PNG carries the time it was written.
pixels() { convert "$1" rgba:- | sha256sum; }
if [ "$splash_up" != 1 ] || [ "$(pixels "$shots/vantrel-splash.png")" = "$(pixels "$shots/vantrel-main.png")" ]; then
  end_app
  echo "run.sh: the splash screen was not seen over the main dialog (status $status); screens in $shots" >&2
  exit 1
fi
end_app
echo "Screenshots: $shots/vantrel-splash.png (splash) and $shots/vantrel-main.png (main dialog)."
echo "Vantrel ended with status $status."
