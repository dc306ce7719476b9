#!/usr/bin/env bash
# Runs a command with an X server of its own: a private Xvfb on a free
# display (Xvfb picks it, -displayfd), which ends with the command. For the
# Windows tests that open windows under Wine, as ctest's emulator in front
# of wine-run.sh:
#
#   scripts/windows/with-xvfb.sh scripts/windows/wine-run.sh <program.exe> [args...]
#
# DISPLAY and WEBSETUP_WINE_DISPLAY (which wine-run.sh passes on) name the
# server. WEBSETUP_XVFB_SCREEN sets its screen (1280x1024x24 by default).
#
# --lock FILE runs the command only while holding FILE (flock), one at a
# time: Wine keeps the pointer, the keyboard state and the foreground
# window per Wine desktop, not per X server, so two tests that send input
# in the same Wine prefix would steer each other's windows.
#
# Returns the command's exit code; 125 when no X server could be started.
set -euo pipefail

lock=""
if [ "${1:-}" = "--lock" ] && [ $# -ge 2 ]; then
  lock="$2"
  shift 2
fi
if [ $# -lt 1 ]; then
  echo "usage: $0 [--lock FILE] <command> [args...]" >&2
  exit 2
fi
if [ -n "$lock" ]; then
  exec {lockfd}>>"$lock"
  flock "$lockfd"
fi
if ! command -v Xvfb >/dev/null; then
  echo "with-xvfb: Xvfb is not installed (scripts/install-deps.sh installs it)" >&2
  exit 125
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/with-xvfb.XXXXXX")"
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
# ctest's timeout and a Ctrl+C end the command, then the server.
trap 'exit 143' TERM
trap 'exit 130' INT

# Xvfb writes the display number it took to the descriptor, once it
# accepts clients.
exec {numfd}>"$work/display"
Xvfb -displayfd "$numfd" -screen 0 "${WEBSETUP_XVFB_SCREEN:-1280x1024x24}" -nolisten tcp \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec {numfd}>&-

for _ in $(seq 1 200); do
  if grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null; then break; fi
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then break; fi
  sleep 0.05
done
number="$(cat "$work/display" 2>/dev/null || true)"
if ! [[ "$number" =~ ^[0-9]+$ ]]; then
  echo "with-xvfb: Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 125
fi

export DISPLAY=":$number"
export WEBSETUP_WINE_DISPLAY="$DISPLAY"
set +e
"$@"
rc=$?
set -e
exit "$rc"
