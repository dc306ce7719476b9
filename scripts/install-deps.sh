#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the
# benchmarks need. Idempotent and quiet; costs one dpkg query when all is in.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libcurl4-openssl-dev libtinyxml2-dev libjsoncpp-dev libeasyloggingpp-dev
  libzip-dev zipcmp zipmerge ziptool libssl-dev openssl libdbus-1-dev dbus
  libsdl2-dev libx11-dev libxext-dev libcairo2-dev libpango1.0-dev libjpeg62-turbo-dev fonts-noto-core fonts-noto-cjk
  libgtest-dev libgmock-dev libcpp-httplib-dev libproxy-dev tinyproxy
  nginx-light xvfb xcompmgr xdotool imagemagick python3
  clang-14 libclang-rt-14-dev clang-format
  aria2 curl axel zip unzip binutils procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
    || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# The downloaded packages are installed now; kept, they cost gigabytes of a
# disk the builds need.
$SUDO apt-get clean
