#!/usr/bin/env bash
# Makes the Wine prefix <prefix> when it is not there yet:
#
#   scripts/windows/wine-prefix.sh <prefix> [<from>]
#
# A booted prefix is about 700 MB, nearly all of it Wine's own programs and
# libraries, which nothing run in a prefix writes to. So the folder above
# <prefix> holds one pristine prefix, wine-prefix-clean, booted once
# (wineboot takes half a minute) and never run in, and every prefix made
# there is a copy of it that shares those files with it (hard links, about
# 20 MB of its own) and owns the rest: the registry files, the INI files,
# the users' folders. With <from>, an existing prefix, the copy is made of
# that one instead (the roads copy their template so). Callers that run at
# the same time take turns on a lock; a prefix appears whole or not at all.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 <prefix> [<from>]" >&2
  exit 2
fi
prefix="$1"
from="${2:-}"
[ -f "$prefix/system.reg" ] && exit 0

WINE64="${WEBSETUP_WINE64:-$(command -v wine64 || echo /usr/lib/wine/wine64)}"
WINESERVER="${WEBSETUP_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}"
parent="$(dirname "$prefix")"
clean="$parent/wine-prefix-clean"
mkdir -p "$parent"

# wineboot writes system.reg last; a prefix without it is unfinished (an
# earlier boot was killed) and is made again.
[ -n "$from" ] || (
  flock 9
  if [ ! -f "$clean/system.reg" ]; then
    rm -rf "$clean"
    # No Mono and no Gecko: neither is needed, and their installers would
    # ask. No display: booting draws nothing.
    in_clean() {
      env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$clean" WINEDEBUG=-all \
        WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE64" "$@" >/dev/null 2>&1 || true
    }
    in_clean wineboot -i
    # A program that crashes under test says so on its standard error and
    # ends. Wine's crash dialog would instead wait for a click that never
    # comes, on top of whatever window a test looks at.
    in_clean reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    # Wine draws the buttons of the title bars it draws itself (Xvfb has no
    # window manager) with Marlett's symbols, which Debian's Wine ships in
    # fonts-wine but does not look for: without it they read "0 1 r".
    if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
      cp /usr/share/wine/fonts/marlett.ttf "$clean/drive_c/windows/Fonts/"
    fi
    # The boot's wineserver writes the registry out before anyone copies it.
    WINEPREFIX="$clean" "$WINESERVER" -w || true
    if [ ! -f "$clean/system.reg" ]; then
      echo "wine-prefix: could not boot the Wine prefix $clean" >&2
      exit 1
    fi
  fi
) 9>"$clean.lock"

(
  flock 9
  [ -f "$prefix/system.reg" ] && exit 0
  partial="$prefix.partial"
  rm -rf "$prefix" "$partial"
  # Hard links need one file system; elsewhere the copy is whole.
  src="${from:-$clean}"
  if [ ! -f "$src/system.reg" ]; then
    echo "wine-prefix: $src is no Wine prefix" >&2
    exit 1
  fi
  if ! cp -al "$src" "$partial" 2>/dev/null; then
    rm -rf "$partial"
    cp -a "$src" "$partial"
  fi
  # Everything but Wine's binaries gets a file of its own. wineserver, for
  # one, rewrites a registry file in place when it has a second name, which
  # would reach the pristine prefix and every other copy.
  find "$partial" -type f -links +1 \
    ! \( -path "$partial/drive_c/windows/*" \
         -iregex '.*\.\(dll\|exe\|drv\|sys\|ocx\|cpl\|acm\|ax\|tlb\|ds\)' \) \
    -exec sh -c 'for f; do cp -p "$f" "$f.own" && mv -f "$f.own" "$f"; done' _ {} +
  mv "$partial" "$prefix"
) 9>"$prefix.lock"
