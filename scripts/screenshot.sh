#!/usr/bin/env bash
# Takes docs/quillon.png: starts the real window under Xvfb, activates it
# (xdotool stands in for the window manager), which runs the local-
# information operation, and saves its picture. As root the window runs
# inside the end-to-end test world (scripts/e2e-world.sh), so "Online" and
# both addresses show, and a trace route to the world's destination is
# typed and clicked; otherwise it runs in an empty network namespace of its
# own (unshare -rn) and shows "Offline". Nothing is sent outside this machine.
# With --menu, the text area's context menu is opened (a right click) before
# the picture is taken. The window's settings live in a scratch folder.
#
#   scripts/screenshot.sh [--menu] [BUILD_DIR] [OUT.png]
set -euo pipefail
menu=0
if [ "${1:-}" = "--menu" ]; then
  menu=1
  shift
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$root/docs/quillon.png}

app="$build/app/quillon"
grab="$build/tests/e2e/e2e_x11_grab"
whois_server="$build/tests/e2e/e2e_whois_server"
for f in "$app" "$grab"; do
  [ -x "$f" ] || { echo "screenshot: $f is not built" >&2; exit 1; }
done
command -v Xvfb >/dev/null || { echo "screenshot: Xvfb is missing (Debian package xvfb)" >&2; exit 1; }

world="" xvfb_pid="" app_pid=""
tmp=$(mktemp -d)
cleanup() {
  set +e
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  if [ -n "$world" ]; then bash "$here/e2e-world.sh" down "$world"; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The window is placed at 225, 149 with a 615 x 526 client area; without a
# window manager there is no frame, so that rectangle is the window.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do [ -s "$tmp/display" ] && break; sleep 0.05; done
[ -s "$tmp/display" ] || { echo "screenshot: Xvfb did not start" >&2; cat "$tmp/xvfb.log" >&2; exit 1; }
display=":$(cat "$tmp/display")"

run_in_world=()
if [ "$(id -u)" = 0 ] && [ -x "$whois_server" ]; then
  world="qe2s$$"
  bash "$here/e2e-world.sh" up "$world" --whois-server "$whois_server" --owner $$ >/dev/null
  run_in_world=(ip netns exec "$world")
else
  run_in_world=(unshare -rn)
fi

DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$tmp/config" "${run_in_world[@]}" "$app" \
  >"$tmp/app.log" 2>&1 &
app_pid=$!

# Bare Xvfb has no window manager to activate the new window, and the
# first activation is what starts the local-information run; xdotool plays
# the window manager's part (and the user's, below).
if command -v xdotool >/dev/null; then
  export DISPLAY=$display
  wid=$(timeout 10 xdotool search --sync --onlyvisible --name '^Quillon 1\.1$' | head -1)
  [ -n "$wid" ] || { echo "screenshot: the window did not appear" >&2; cat "$tmp/app.log" >&2; exit 1; }
  timeout 5 xdotool windowfocus --sync "$wid"
  sleep 1.5
  if [ -n "$world" ]; then
    # As a user would: a name in the edit box, then "Trace Route".
    xdotool mousemove --window "$wid" 100 18 click --repeat 3 1
    xdotool type --delay 5 "dest.quillon.test"
    xdotool mousemove --window "$wid" 104 112 click 1
    sleep 2
  fi
  if [ $menu = 1 ]; then
    # A right click near the top of the text area: the menu opens there,
    # inside the window's rectangle.
    xdotool mousemove --window "$wid" 330 40 click 3
    sleep 0.7
    xdotool mousemove --window "$wid" 400 90  # over "Copy Report"
    sleep 0.3
  fi
  [ $menu = 1 ] || xdotool mousemove 1000 740  # the pointer out of the picture
  unset DISPLAY
else
  echo "screenshot: xdotool is missing (Debian package xdotool): the window stays idle" >&2
  sleep 2
fi
mkdir -p "$(dirname "$out")"
DISPLAY=$display "$grab" "$out" 225 149 615 526
echo "screenshot: saved $out"
