#!/usr/bin/env bash
# End to end on a virtual display: the built program against a sandbox hosts file, its toggle
# clicked with xdotool twice, the file's bytes checked after each click, screenshots kept.
# Usage: e2e_main.sh <vantrel executable> <directory for the screenshots>
set -euo pipefail
exe=$(realpath "$1")
out=$(realpath "${2:-.}")
src=${VANTREL_TEST_SOURCE_DIR:-$(cd "$(dirname "$0")/../../.." && pwd)}
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
xvfb_pid="" app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -s "$work/app.log" ] && sed 's/^/  vantrel: /' "$work/app.log"
  exit 1
}
trap 'fail "command at line $LINENO failed"' ERR

# Wait up to ten seconds for a condition.
wait_for() {
  for _ in $(seq 100); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for '[ -s "$work/display" ]' || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY

mkdir "$work/wd"
# A runtime folder of its own: no other Vantrel in this session is reached.
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run"
cp "$src/res/vantrel_settings.txt" "$work/wd/"
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost\n' >"$work/hosts"
cp "$work/hosts" "$work/hosts.before"
{
  cat "$work/hosts.before"
  printf '# Begin Vantrel\n'
  cat "$work/wd/vantrel_settings.txt"
  printf '\n# End Vantrel'
} >"$work/hosts.added"

(cd "$work/wd" && VANTREL_HOSTS_FILE="$work/hosts" QT_QPA_PLATFORM=xcb exec "$exe" 2>"$work/app.log") &
app_pid=$!

timeout 20 xdotool search --sync --onlyvisible --name '^Vantrel splash screen$' >/dev/null ||
  fail "the splash screen did not appear"
import -window root "$out/e2e-splash.png"
# The splash hides by itself; wait for it so the screenshots show the dialog alone.
wait_for '! xdotool search --onlyvisible --name "^Vantrel splash screen$" >/dev/null 2>&1' ||
  fail "the splash screen did not hide"
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Vantrel$' | head -n1) ||
  fail "the main window did not appear"

eval "$(xdotool getwindowgeometry --shell "$wid")"
# The toggle's centre, from its place in the dialog's 355 x 252 template units.
tx=$((X + WIDTH * 36 / 355))
ty=$((Y + HEIGHT * 469 / 504))
click_toggle() { xdotool mousemove "$tx" "$ty" click 1; }

click_toggle
wait_for '! cmp -s "$work/hosts" "$work/hosts.before"' || fail "the toggle did not add the block"
sleep 0.3
cmp "$work/hosts" "$work/hosts.added" || {
  od -c "$work/hosts" | tail -n 5
  fail "the added block is not as expected"
}
import -window root "$out/e2e-main-hidden.png"

click_toggle
wait_for 'cmp -s "$work/hosts" "$work/hosts.before"' || fail "the toggle did not remove the block"
sleep 0.3
import -window root "$out/e2e-main-shown.png"

kill -0 "$app_pid" 2>/dev/null || fail "the program ended before Exit was clicked"
xdotool mousemove $((X + WIDTH * 639 / 710)) $((Y + HEIGHT * 470 / 504)) click 1
wait_for '! kill -0 "$app_pid" 2>/dev/null' || fail "Exit did not end the program"
wait "$app_pid" || fail "the program ended with status $?"
app_pid=""

# Only the exact "-uninstall" removes the block without a window: another letter case is a
# normal start, which shows the main dialog and leaves the hosts file alone.
cp "$work/hosts.added" "$work/hosts"
(cd "$work/wd" && VANTREL_HOSTS_FILE="$work/hosts" QT_QPA_PLATFORM=xcb exec "$exe" -Uninstall 2>"$work/app.log") &
app_pid=$!
timeout 20 xdotool search --sync --onlyvisible --name '^Vantrel$' >/dev/null ||
  fail "-Uninstall did not show the main dialog"
sleep 0.5
import -window root "$out/e2e-main-Uninstall.png"
kill -0 "$app_pid" 2>/dev/null || fail "-Uninstall ended the program"
cmp "$work/hosts" "$work/hosts.added" || fail "-Uninstall changed the hosts file"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=""
cmp "$work/hosts" "$work/hosts.added" || fail "-Uninstall changed the hosts file"
echo "PASS: block added and removed, -Uninstall showed the dialog; screenshots in $out/e2e-*.png"
