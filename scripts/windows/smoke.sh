#!/usr/bin/env bash
# Proves that the Windows sysroots work: builds smoke/smoke.cpp against each
# one with the static link flags their .pc files give, checks the i686 binary
# is a 32-bit console PE (this machine cannot run it), and runs the x86_64
# one under wine64 in a private, headless Wine prefix under /tmp.
#
#   scripts/windows/smoke.sh [i686|x86_64|both]
#
# Output goes to /tmp/websetup-win-smoke/<arch>/ (smoke.exe, smoke.png).
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
OUT_ROOT="${WEBSETUP_WIN_SMOKE_OUT:-/tmp/websetup-win-smoke}"
export WINEPREFIX="${WEBSETUP_WINEPREFIX:-/tmp/websetup-wine-smoke}"
WINE64="$(command -v wine64 || echo /usr/lib/wine/wine64)"

case "${1:-both}" in
  i686|x86_64) arches=("$1") ;;
  both) arches=(i686 x86_64) ;;
  *) echo "usage: $0 [i686|x86_64|both]" >&2; exit 2 ;;
esac

modules=(libcurl tinyxml2 jsoncpp libzip cairo pangocairo pangowin32 harfbuzz fribidi glib-2.0 pixman-1 libpng zlib)

for arch in "${arches[@]}"; do
  host="$arch-w64-mingw32"
  sysroot="$("$ROOT/scripts/build-windows.sh" --print-sysroot "$arch")"
  [ -d "$sysroot" ] || { echo "smoke: no $arch sysroot at $sysroot; run scripts/build-windows.sh --sysroot-only" >&2; exit 1; }
  out="$OUT_ROOT/$arch"
  rm -rf "$out" && mkdir -p "$out"

  flags="$(PKG_CONFIG_LIBDIR="$sysroot/lib/pkgconfig" PKG_CONFIG_PATH="" \
           pkg-config --static --cflags --libs "${modules[@]}")"
  echo "smoke: $arch flags: $flags" >"$out/flags.txt"
  # shellcheck disable=SC2086 # the flags are a word list by design
  "$host-g++-posix" -std=c++17 -O2 -Wall "$HERE/smoke/smoke.cpp" -o "$out/smoke.exe" \
    $flags -static -static-libgcc -static-libstdc++
  "$host-strip" "$out/smoke.exe"
  kind="$(file -b "$out/smoke.exe")"
  echo "smoke: $arch: $kind, $(du -h "$out/smoke.exe" | cut -f1)"

  case "$arch" in
    i686)
      case "$kind" in
        "PE32 executable (console) Intel 80386"*) ;;
        *) echo "smoke: i686 binary is not a 32-bit console PE" >&2; exit 1 ;;
      esac
      ;;
    x86_64)
      case "$kind" in
        "PE32+ executable (console) x86-64"*) ;;
        *) echo "smoke: x86_64 binary is not a 64-bit console PE" >&2; exit 1 ;;
      esac
      # No display: GDI's fonts and cairo's image surfaces need none.
      (cd "$out" && env -u DISPLAY -u WAYLAND_DISPLAY WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
         "$WINE64" ./smoke.exe smoke) | tr -d '\r' | tee "$out/smoke.txt"
      grep -q '^smoke: all libraries work' "$out/smoke.txt"
      file "$out/smoke.png"
      ;;
  esac
done
