#!/bin/sh
# Shows a layout in a real SDL window on a private Xvfb display, grabs the
# screen as a person would see it, then clicks the window's close button and
# checks that the viewer ends. For checking the SDL host on a machine
# without a display.
#
#   tools/skin-viewer/xvfb_screenshot.sh BUILD_DIR LAYOUT.xml OUT.png [viewer options]
set -eu
build=$1 layout=$2 out=$3
shift 3
exec xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  build=$1 layout=$2 out=$3; shift 3
  "$build/bin/skin-viewer" "$@" "$layout" > "$out.log" 2>&1 &
  pid=$!
  for i in $(seq 1 50); do
    wid=$(xdotool search --onlyvisible --name "skin-viewer" 2>/dev/null | tail -n 1) && [ -n "$wid" ] && break
    sleep 0.1
  done
  [ -n "${wid:-}" ] || { echo "no window"; kill $pid; exit 1; }
  sleep 0.5
  import -window root "$out"
  # The close button sits at the top right corner of every skinned window.
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  xdotool mousemove $((X + WIDTH - 28)) $((Y + 24)) click 1
  for i in $(seq 1 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if kill -0 $pid 2>/dev/null; then echo "viewer did not close"; kill $pid; exit 1; fi
  cat "$out.log"
  echo "wrote $out"
' sh "$build" "$layout" "$out" "$@"
