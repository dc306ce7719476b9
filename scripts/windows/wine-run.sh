#!/usr/bin/env bash
# Runs one Windows program of the build under wine64 and returns its exit
# code: ctest's emulator for the x86_64 test binaries (and for
# gtest_discover_tests), usable by hand the same way:
#
#   scripts/windows/wine-run.sh <program.exe> [args...]
#
# The Wine prefix is private to the build: $WEBSETUP_WINEPREFIX, else
# <build>/wine-prefix, where <build> is the folder above the program's bin/
# or tests/ folder. It is made on first use (wine-prefix.sh: a copy of a
# prefix booted once per build); tests that ctest starts in parallel take
# turns on a lock for that, and then share the one wineserver of the prefix.
#
# No display: the programs under test draw into memory only. A test that
# wants one sets WEBSETUP_WINE_DISPLAY to it (scripts/windows/with-xvfb.sh
# does), and then runs in <build>/wine-prefix-x11: Wine's desktop takes its
# display driver from the first program that opens it, so a run with a
# display in the prefix where display-less tests run at the same time
# would get the null driver (no window on the X server, a 1024 x 768
# screen).
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 <program.exe> [args...]" >&2
  exit 2
fi

WINE64="${WEBSETUP_WINE64:-$(command -v wine64 || echo /usr/lib/wine/wine64)}"
WINESERVER="${WEBSETUP_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}"
display_run=0
program="$1"
shift

if [ -z "${WEBSETUP_WINEPREFIX:-}" ]; then
  dir="$(cd "$(dirname "$program")" && pwd)"
  case "$(basename "$dir")" in
    bin | tests) dir="$(dirname "$dir")" ;;
  esac
  WEBSETUP_WINEPREFIX="$dir/wine-prefix"
  if [ -n "${WEBSETUP_WINE_DISPLAY:-}" ]; then
    WEBSETUP_WINEPREFIX="$dir/wine-prefix-x11"
    display_run=1
  fi
fi
export WINEPREFIX="$WEBSETUP_WINEPREFIX"
export WINEDEBUG="${WEBSETUP_WINEDEBUG:--all}"
# No Mono and no Gecko: neither is needed, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
# A test run must not reach a desktop session of whoever started it.
unset DISPLAY WAYLAND_DISPLAY
if [ -n "${WEBSETUP_WINE_DISPLAY:-}" ]; then
  export DISPLAY="$WEBSETUP_WINE_DISPLAY"
fi

"$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$WINEPREFIX"

# wine64 returns the program's own exit code; `exec` keeps the ctest
# timeout's kill aimed at Wine's loader rather than at this shell.
[ "$display_run" = 1 ] || exec "$WINE64" "$program" "$@"

# The windowed tests take turns on the display prefix, each with an X
# server of its own (with-xvfb.sh, which holds the turn). A wineserver that
# outlives a run keeps that run's desktop, bound to a display that is about
# to go, and the next run's windows would land on it: each run starts and
# ends with the prefix's Wine processes gone.
end_wine() { "$WINESERVER" -k 2>/dev/null || true; "$WINESERVER" -w 2>/dev/null || true; }
end_wine
"$WINE64" "$program" "$@" &
wine_pid=$!
trap 'kill "$wine_pid" 2>/dev/null || true' TERM INT
rc=0
wait "$wine_pid" || rc=$?
# A signal ends the wait early: wait for the program itself.
while kill -0 "$wine_pid" 2>/dev/null; do wait "$wine_pid" || rc=$?; done
end_wine
exit "$rc"
