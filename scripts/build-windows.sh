#!/usr/bin/env bash
# Cross-builds the Windows sysroots: Debian's mingw-w64 toolchain plus the
# third-party libraries, built as static mingw libraries from Debian's own
# source packages (Debian ships no mingw builds of them). docs/windows-build.md
# explains the recipe, the fixes it carries and where the sysroots go.
#
#   scripts/build-windows.sh [--arch i686|x86_64|both] [--sysroot-only]
#   scripts/build-windows.sh --print-sysroot i686|x86_64
#
# A sysroot's folder name holds a hash of this recipe and of the pinned source
# versions, so only the first run on a machine builds; later runs find it and
# do no library work. WEBSETUP_WIN_SYSROOT picks the parent folder
# (default /var/cache/websetup); WEBSETUP_WIN_JOBS the make/ninja jobs (2).
# Then the project: build-win/ (i686) and build-win64/ (x86_64 with the
# tests), or WEBSETUP_WIN_BUILD / WEBSETUP_WIN64_BUILD; the tests use the
# Linux build in WEBSETUP_HOST_BUILD (default build/).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
RECIPE_DIR="$ROOT/scripts/windows"
PARENT="${WEBSETUP_WIN_SYSROOT:-/var/cache/websetup}"
JOBS="${WEBSETUP_WIN_JOBS:-2}"
WIN_BUILD="${WEBSETUP_WIN_BUILD:-$ROOT/build-win}"
WIN64_BUILD="${WEBSETUP_WIN64_BUILD:-$ROOT/build-win64}"
# The Linux build whose maker-services the Windows tests talk to.
HOST_BUILD="${WEBSETUP_HOST_BUILD:-$ROOT/build}"
SRC_CACHE="$PARENT/debian-src"

arch_opt=both
sysroot_only=0
print_sysroot=""

usage() {
  sed -n '2,18p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
  exit "${1:-0}"
}

while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch_opt="${2:?--arch needs i686, x86_64 or both}"; shift 2 ;;
    --arch=*) arch_opt="${1#--arch=}"; shift ;;
    --sysroot-only) sysroot_only=1; shift ;;
    --print-sysroot) print_sysroot="${2:?--print-sysroot needs i686 or x86_64}"; shift 2 ;;
    -h|--help) usage 0 ;;
    *) echo "build-windows: unknown option $1" >&2; usage 2 ;;
  esac
done

case "$arch_opt" in
  i686|x86_64) arches=("$arch_opt") ;;
  both) arches=(i686 x86_64) ;;
  *) echo "build-windows: --arch must be i686, x86_64 or both" >&2; exit 2 ;;
esac

log() { echo "build-windows: $*"; }
die() { echo "build-windows: $*" >&2; exit 1; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# --- toolchain -------------------------------------------------------------

toolchain_packages=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
  wine wine64 fonts-wine osslsigncode file
  build-essential cmake ninja-build meson pkgconf python3 python3-packaging
  autoconf automake libtool autopoint gettext gtk-doc-tools
  dpkg-dev xz-utils bzip2
)

install_toolchain() {
  local missing=() p
  for p in "${toolchain_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
      || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  # Installed now; the kept archives would only take the builds' disk.
  $SUDO apt-get clean
}

# apt-get source needs deb-src entries. Add them for the same mirror and
# suites as the existing deb entries, once.
enable_deb_src() {
  if grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return 0
  fi
  local f out=/etc/apt/sources.list.d/websetup-deb-src.sources
  log "adding deb-src entries ($out)"
  {
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -e "$f" ] || continue
      # Deb822 stanzas: copy each enabled "Types: deb" stanza as deb-src.
      awk 'BEGIN { RS = ""; ORS = "\n\n" }
           /(^|\n)Types:[ \t]*deb([ \t]|\n|$)/ && !/(^|\n)Enabled:[ \t]*no/ {
             sub(/Types:[ \t]*deb/, "Types: deb-src"); print }' "$f"
    done
  } | $SUDO tee "$out.tmp" >/dev/null
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list \
      | $SUDO tee "${out%.sources}.list" >/dev/null
    [ -s "${out%.sources}.list" ] || $SUDO rm -f "${out%.sources}.list"
  fi
  if [ -s "$out.tmp" ]; then $SUDO mv "$out.tmp" "$out"; else $SUDO rm -f "$out.tmp"; fi
  $SUDO apt-get update -qq
}

# --- the recipe's identity -------------------------------------------------

# Reads scripts/windows/debian-sources.txt into parallel arrays.
src_pkgs=()
src_vers=()
src_flags=()
read_sources() {
  local pkg ver flags
  while read -r pkg ver flags; do
    case "$pkg" in ''|'#'*) continue ;; esac
    src_pkgs+=("$pkg")
    src_vers+=("$ver")
    src_flags+=("${flags:-}")
  done <"$RECIPE_DIR/debian-sources.txt"
}

# Everything that changes what lands in a sysroot: the helpers and library
# steps of this script (from "cross-build helpers" up to "the sysroot"; the
# rest of the script, the project build, does not count), the pinned source
# versions, glib's libintl stand-in, the toolchain files and the compilers'
# package versions. Other files in scripts/windows/ serve the project build
# and leave the sysroots alone.
recipe_hash() {
  {
    sed -n '/^# --- cross-build helpers/,/^# --- the sysroot/p' "${BASH_SOURCE[0]}"
    (cd "$ROOT" && { echo scripts/windows/debian-sources.txt;
                     find scripts/windows/proxy-libintl cmake -type f \
                       \( -path 'scripts/windows/proxy-libintl/*' -o -name 'toolchain-mingw-*.cmake' \); } \
       | LC_ALL=C sort | while read -r f; do echo "== $f"; cat "$f"; done)
    dpkg-query -W -f='${Package} ${Version}\n' \
      gcc-mingw-w64-base mingw-w64-common mingw-w64-i686-dev mingw-w64-x86-64-dev \
      libz-mingw-w64-dev 2>/dev/null || true
  } | sha256sum | cut -c1-12
}

sysroot_dir() { echo "$PARENT/win-sysroot-$1-$HASH"; }

# --- Debian sources --------------------------------------------------------

# True when every file the .dsc lists is present with its sha256.
dsc_complete() {
  local dsc="$1"
  [ -f "$dsc" ] || return 1
  awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && NF == 3 { print $1 "  " $3 }' "$dsc" \
    | (cd "$(dirname "$dsc")" && sha256sum --quiet -c - >/dev/null 2>&1)
}

fetch_sources() {
  mkdir -p "$SRC_CACHE"
  local i pkg ver dsc
  for i in "${!src_pkgs[@]}"; do
    pkg="${src_pkgs[$i]}"
    ver="${src_vers[$i]}"
    dsc="$SRC_CACHE/${pkg}_${ver#*:}.dsc"
    dsc_complete "$dsc" && continue
    log "fetching source $pkg $ver"
    (cd "$SRC_CACHE" && apt-get source --download-only -qq "$pkg=$ver" 2>&1 | grep -v '^W: Download is performed unsandboxed' ) || true
    if dsc_complete "$dsc"; then continue; fi
    [ -f "$dsc" ] || die "apt-get source $pkg=$ver failed (is that version still on the mirror?)"
    # Only packages marked upstream-ok may go on without their Debian part,
    # and only when the upstream tarball itself checks out.
    if [[ " ${src_flags[$i]} " == *" upstream-ok "* ]] && orig_verified "$dsc" >/dev/null; then
      log "warning: $pkg $ver: the Debian diff is missing on the mirror; using the upstream tarball alone"
      continue
    fi
    die "source files of $pkg $ver are missing or corrupt in $SRC_CACHE"
  done
}

# Prints the upstream tarball's name when it is present with its sha256.
orig_verified() {
  local dsc="$1" line sum name
  line="$(awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && NF == 3 && $3 ~ /\.orig\.tar\./ && $3 !~ /\.orig-/ { print $1, $3 }' "$dsc")"
  [ -n "$line" ] || return 1
  sum="${line% *}"
  name="${line#* }"
  [ -f "$SRC_CACHE/$name" ] && echo "$sum  $name" | (cd "$SRC_CACHE" && sha256sum --quiet -c - >/dev/null 2>&1) \
    && echo "$name"
}

# unpack PKG DEST: the patched Debian source tree of PKG in DEST.
unpack() {
  local pkg="$1" dest="$2" i ver dsc orig
  for i in "${!src_pkgs[@]}"; do
    [ "${src_pkgs[$i]}" = "$pkg" ] || continue
    ver="${src_vers[$i]}"
    dsc="$SRC_CACHE/${pkg}_${ver#*:}.dsc"
    rm -rf "$dest"
    if dsc_complete "$dsc"; then
      # apt already checked the files against the signed Sources index.
      dpkg-source --no-check -x "$dsc" "$dest" >/dev/null
    else
      orig="$(orig_verified "$dsc")" || die "no verified source for $pkg"
      mkdir -p "$dest"
      tar xf "$SRC_CACHE/$orig" -C "$dest" --strip-components=1
    fi
    return 0
  done
  die "$pkg is not in debian-sources.txt"
}

# --- cross-build helpers ---------------------------------------------------

# Set by build_sysroot for the architecture being built.
ARCH="" HOST="" P="" WORK="" LOGS="" CROSS_FILE=""

cross_env() {
  export CC="$HOST-gcc-posix" CXX="$HOST-g++-posix" AR="$HOST-ar" RANLIB="$HOST-ranlib"
  export NM="$HOST-nm" STRIP="$HOST-strip" WINDRES="$HOST-windres" RC="$HOST-windres"
  export PKG_CONFIG_LIBDIR="$P/lib/pkgconfig:$P/share/pkgconfig"
  export PKG_CONFIG_PATH=""
  unset PKG_CONFIG_SYSROOT_DIR
}

# autotools_configure [args...]: configure the current folder for a static
# library in the sysroot; XCFLAGS adds to CFLAGS.
autotools_configure() {
  PKG_CONFIG="pkg-config --static" \
  CPPFLAGS="-I$P/include" CFLAGS="-O2 ${XCFLAGS:-}" CXXFLAGS="-O2" LDFLAGS="-L$P/lib" \
    ./configure --host="$HOST" --build="$(gcc -dumpmachine)" --prefix="$P" \
      --disable-shared --enable-static "$@"
}

cmake_build() {
  cmake -S . -B _build -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-$ARCH.cmake" \
    -DWEBSETUP_WIN_PREFIX="$P" -DCMAKE_INSTALL_PREFIX="$P" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF "$@"
  cmake --build _build -j "$JOBS"
  cmake --install _build
}

write_cross_file() {
  local family="$ARCH"
  [ "$ARCH" = i686 ] && family=x86
  # No exe_wrapper: with one, meson would run the freshly built Windows
  # programs during configure and trust their answers; without it, the
  # projects fall back to the cross-safe defaults they ship.
  cat >"$CROSS_FILE" <<EOF
[binaries]
c = '$HOST-gcc-posix'
cpp = '$HOST-g++-posix'
ar = '$HOST-ar'
strip = '$HOST-strip'
windres = '$HOST-windres'
pkgconfig = 'pkg-config'

[properties]
pkg_config_libdir = ['$P/lib/pkgconfig', '$P/share/pkgconfig']
needs_exe_wrapper = true

[host_machine]
system = 'windows'
cpu_family = '$family'
cpu = '$ARCH'
endian = 'little'
EOF
}

meson_build() {
  meson setup _build --cross-file "$CROSS_FILE" --prefix "$P" --libdir lib \
    --buildtype release -Ddefault_library=static -Dprefer_static=true \
    --wrap-mode=nodownload "$@"
  ninja -C _build -j "$JOBS"
  meson install -C _build --no-rebuild
}

# --- the libraries ---------------------------------------------------------

# Debian's zlib for mingw lives in the toolchain's own folder; a copy inside
# the sysroot gives every later build (and the project) one place to look
# and a zlib.pc that points there.
lib_zlib() {
  mkdir -p "$P/include" "$P/lib/pkgconfig"
  cp "/usr/$HOST/include/zlib.h" "/usr/$HOST/include/zconf.h" "$P/include/"
  cp "/usr/$HOST/lib/libz.a" "$P/lib/"
  local ver
  ver="$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)"
  cat >"$P/lib/pkgconfig/zlib.pc" <<EOF
prefix=\${pcfiledir}/../..
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: zlib
Description: zlib compression library (Debian libz-mingw-w64-dev $ver)
Version: ${ver%%[-+]*}
Libs: -L\${libdir} -lz
Cflags: -I\${includedir}
EOF
}

# HTTPS through Windows' own TLS stack (Schannel) and its certificate store,
# so the setup carries no OpenSSL and no CA bundle. SSPI gives NTLM and
# Negotiate for corporate proxies.
lib_curl() {
  unpack curl "$WORK/curl" && cd "$WORK/curl"
  autotools_configure --with-schannel --enable-sspi --with-zlib="$P" \
    --enable-ipv6 --enable-threaded-resolver \
    --disable-ldap --disable-ldaps --disable-manual --disable-docs \
    --without-libpsl --without-brotli --without-zstd --without-libidn2 \
    --without-nghttp2 --without-ngtcp2 --without-nghttp3 --without-librtmp \
    --without-libssh2 --without-libssh --without-libgsasl
  make -j "$JOBS" -C lib
  make -C lib install
  make -C include install
  make install-pkgconfigDATA
}

lib_tinyxml2() {
  unpack tinyxml2 "$WORK/tinyxml2" && cd "$WORK/tinyxml2"
  cmake_build -Dtinyxml2_BUILD_TESTING=OFF -DBUILD_TESTING=OFF
}

lib_jsoncpp() {
  unpack libjsoncpp "$WORK/jsoncpp" && cd "$WORK/jsoncpp"
  cmake_build -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF \
    -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
    -DJSONCPP_WITH_PKGCONFIG_SUPPORT=ON -DJSONCPP_WITH_CMAKE_PACKAGE=ON
}

# Windows' CNG does libzip's AES; the other codecs stay out.
lib_libzip() {
  unpack libzip "$WORK/libzip" && cd "$WORK/libzip"
  cmake_build -DENABLE_WINDOWS_CRYPTO=ON -DENABLE_OPENSSL=OFF -DENABLE_GNUTLS=OFF \
    -DENABLE_MBEDTLS=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_BZIP2=OFF \
    -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF \
    -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
}

# --- the graphics stack: cairo with its Win32 backend, pango with its Win32
# font map; no fontconfig and no freetype, the fonts are Windows' own.

lib_libpng() {
  unpack libpng1.6 "$WORK/libpng" && cd "$WORK/libpng"
  cmake_build -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -Dld-version-script=OFF
}

lib_pixman() {
  unpack pixman "$WORK/pixman" && cd "$WORK/pixman"
  # pixman marks its API dllexport for the DLL it expects to be; linked
  # statically into the setup, that would put 150 pixman names into the
  # executable's export table beside the ones it means to offer.
  sed -i "s/libpixman_extra_cargs = \['-DPIXMAN_API=__declspec(dllexport)'\]/libpixman_extra_cargs = []/" pixman/meson.build
  if grep -q "PIXMAN_API=__declspec" pixman/meson.build; then echo "pixman still exports" >&2; exit 1; fi
  meson_build -Dtests=disabled -Dgtk=disabled -Dlibpng=disabled \
    -Dopenmp=disabled -Dtimers=false -Dgnuplot=false
}

lib_cairo() {
  unpack cairo "$WORK/cairo" && cd "$WORK/cairo"
  # Debian limits the DLL's exports with -export-symbols-regex; on Windows
  # cairo already passes its own cairo.def, and libtool refuses both.
  patch -R -p1 <debian/patches/03_export-symbols.patch
  # Debian's patches edit configure.ac and the Makefile.am files without
  # regenerating what comes from them, so make would call an automake
  # version that is not installed. Regenerate everything once instead.
  autoreconf -fi
  # A static cairo must not expect DllMain to set up its mutexes.
  XCFLAGS="-DCAIRO_WIN32_STATIC_BUILD" autotools_configure \
    --enable-win32 --enable-win32-font --enable-png \
    --disable-xlib --disable-xlib-xrender --disable-xcb --disable-xlib-xcb \
    --disable-xcb-shm --disable-qt --disable-quartz --disable-os2 --disable-beos \
    --disable-drm --disable-gallium --disable-gl --disable-glesv2 --disable-glesv3 \
    --disable-cogl --disable-directfb --disable-vg --disable-egl --disable-glx \
    --disable-wgl --disable-script --disable-ft --disable-fc --disable-ps \
    --disable-pdf --disable-svg --disable-test-surfaces --disable-tee \
    --disable-xml --disable-gobject --disable-trace --disable-interpreter \
    --disable-symbol-lookup --disable-valgrind --disable-gtk-doc --disable-pthread
  make -j "$JOBS" -C src
  make -C src install
  # cairo 1.16 writes its .pc files for a shared library: the GDI libraries
  # its Win32 surface and font code call are missing from Libs.private, and
  # so is libssp, which its own -D_FORTIFY_SOURCE=2 needs with mingw
  # (__memcpy_chk); a static consumer also needs the define cairo was built
  # with.
  sed -i -e 's|^Libs.private:.*|& -lgdi32 -lmsimg32 -lssp|' \
    -e 's|^Cflags:.*|& -DCAIRO_WIN32_STATIC_BUILD|' "$P/lib/pkgconfig/cairo.pc"
  grep -q '^Libs.private:' "$P/lib/pkgconfig/cairo.pc" \
    || echo 'Libs.private: -lgdi32 -lmsimg32 -lssp' >>"$P/lib/pkgconfig/cairo.pc"
}

lib_pcre2() {
  unpack pcre2 "$WORK/pcre2" && cd "$WORK/pcre2"
  autotools_configure --enable-pcre2-8 --disable-pcre2-16 --disable-pcre2-32 \
    --enable-unicode --disable-pcre2grep-libz --disable-pcre2grep-libbz2 \
    --disable-pcre2test-libreadline
  # The libraries only: pcre2's own test programs expect a DLL and do not
  # link against the static build.
  make -j "$JOBS" libpcre2-8.la libpcre2-posix.la
  make install-libLTLIBRARIES install-includeHEADERS \
    install-nodist_includeHEADERS install-pkgconfigDATA
}

lib_libffi() {
  unpack libffi "$WORK/libffi" && cd "$WORK/libffi"
  autotools_configure --disable-docs --disable-multi-os-directory
  make -j "$JOBS"
  make install
  # Debian's libffi.pc says "Libs: -lffi" and relies on the library being in
  # a default search path, which a sysroot never is.
  sed -i 's|^Libs: *-lffi|Libs: -L${libdir} -lffi|' "$P/lib/pkgconfig/libffi.pc"
}

lib_glib() {
  unpack glib2.0 "$WORK/glib" && cd "$WORK/glib"
  # glib falls back to its proxy-libintl wrap when no libintl is found, and
  # meson cannot clone it offline. A local pass-through stands in for it.
  rm -rf subprojects/proxy-libintl
  cp -r "$RECIPE_DIR/proxy-libintl" subprojects/proxy-libintl
  meson_build -Dtests=false -Dinstalled_tests=false -Dnls=disabled \
    -Dlibmount=disabled -Dselinux=disabled -Dxattr=false -Dman=false \
    -Dgtk_doc=false -Ddtrace=false -Dsystemtap=false -Dsysprof=disabled \
    -Dlibelf=disabled -Dglib_debug=disabled -Dbsymbolic_functions=false \
    -Dmultiarch=false -Doss_fuzz=disabled
}

lib_fribidi() {
  unpack fribidi "$WORK/fribidi" && cd "$WORK/fribidi"
  meson_build -Ddocs=false
}

lib_harfbuzz() {
  unpack harfbuzz "$WORK/harfbuzz" && cd "$WORK/harfbuzz"
  # Its command-line tools would each be a large static link for nothing.
  sed -i "/^subdir('util')/d" meson.build
  meson_build -Dglib=enabled -Dgobject=disabled -Dcairo=disabled \
    -Dchafa=disabled -Dicu=disabled -Dgraphite=disabled -Dgraphite2=disabled \
    -Dfreetype=disabled -Dgdi=disabled -Ddirectwrite=disabled \
    -Dtests=disabled -Dintrospection=disabled -Ddocs=disabled -Dbenchmark=disabled
}

lib_pango() {
  unpack pango1.0 "$WORK/pango" && cd "$WORK/pango"
  # The test suite and examples are dozens of static links and nothing
  # here can run them.
  sed -i -e "/^subdir('tests')/d" -e "/^subdir('examples')/d" meson.build
  meson_build -Dintrospection=disabled -Dfontconfig=disabled \
    -Dfreetype=disabled -Dcairo=enabled -Dxft=disabled -Dlibthai=disabled \
    -Dsysprof=disabled -Dgtk_doc=false -Dinstall-tests=false
}

# Both builds link everything: the product is i686, and the x86_64 build
# runs the tests, the window and the roads under Wine.
BASE_LIBRARIES=(zlib curl tinyxml2 jsoncpp libzip)
GRAPHICS_LIBRARIES=(libpng pixman cairo pcre2 libffi glib fribidi harfbuzz pango)

libraries_for() {
  echo "${BASE_LIBRARIES[@]}" "${GRAPHICS_LIBRARIES[@]}"
}

# --- the sysroot -----------------------------------------------------------

# Makes the finished tree independent of where it was built: .pc files
# locate themselves (${pcfiledir}), libtool archives go (static links need
# none, and they pin absolute paths), and any other text file that names
# the build folder is pointed at the final one.
relocate() {
  local from="$1" to="$2" pc
  find "$from" -name '*.la' -delete
  for pc in "$from"/lib/pkgconfig/*.pc "$from"/share/pkgconfig/*.pc; do
    [ -f "$pc" ] || continue
    local up='${pcfiledir}/../..'
    # meson writes the toolchain's own Windows import libraries as absolute
    # paths (/usr/lib/gcc/<triple>/12-posix/../../../../<triple>/lib/libws2_32.a,
    # with ../lib/ before the name for i686); -lws2_32 finds the same file
    # with any toolchain layout, and CMake keeps it in the library list
    # (a path it would pass as a link option, ahead of the libraries).
    sed -i -E -e "s|^prefix=.*|prefix=$up|" -e "s|$from|\${prefix}|g" \
      -e 's#/usr/[^ ]*-w64-mingw32/lib/(\.\./lib/)?lib([A-Za-z0-9_]+)\.a#-l\2#g' "$pc"
  done
  { grep -rlI --null -F "$from" "$from" || true; } | xargs -0 -r sed -i "s|$from|$to|g"
}

build_sysroot() {
  ARCH="$1"
  HOST="$ARCH-w64-mingw32"
  local final
  final="$(sysroot_dir "$ARCH")"
  mkdir -p "$PARENT"
  exec 9>"$PARENT/.lock-$ARCH"
  flock 9
  if [ -d "$final" ]; then
    log "$ARCH sysroot present: $final"
    exec 9>&-
    return 0
  fi
  P="$PARENT/.win-sysroot-$ARCH-$HASH.partial"
  WORK="$PARENT/.work-$ARCH-$HASH"
  LOGS="$PARENT/logs/win-sysroot-$ARCH-$HASH"
  CROSS_FILE="$WORK/meson-cross-$ARCH.ini"
  rm -rf "$P" "$WORK" "$LOGS"
  mkdir -p "$P" "$WORK" "$LOGS"
  write_cross_file

  log "building the $ARCH sysroot (logs in $LOGS)"
  local lib t0 start=$SECONDS rc
  for lib in $(libraries_for "$ARCH"); do
    t0=$SECONDS
    # errexit is ignored inside a function called from a condition, so the
    # subshell runs as a plain command and its status is read afterwards.
    set +e
    ( set -e; cross_env; "lib_$lib" ) >"$LOGS/$lib.log" 2>&1 </dev/null
    rc=$?
    set -e
    if [ $rc -ne 0 ]; then
      echo "build-windows: $ARCH: $lib FAILED (full log: $LOGS/$lib.log); its last lines:" >&2
      tail -n 60 "$LOGS/$lib.log" >&2
      exit 1
    fi
    log "$ARCH: $lib done in $((SECONDS - t0)) s"
  done

  relocate "$P" "$final"
  {
    echo "websetup Windows sysroot for $HOST, recipe hash $HASH"
    echo "built $(date -u +%Y-%m-%dT%H:%M:%SZ) in $((SECONDS - start)) s"
    echo "Debian source packages:"
    local i
    for i in "${!src_pkgs[@]}"; do echo "  ${src_pkgs[$i]} ${src_vers[$i]}"; done
  } >"$P/websetup-sysroot.txt"
  mv "$P" "$final"
  rm -rf "$WORK"
  log "$ARCH sysroot ready in $((SECONDS - start)) s: $final ($(du -sh "$final" | cut -f1))"
  exec 9>&-
}

# The project itself: build-win/ (i686, the product: websetup.exe and the
# tools) and build-win64/ (x86_64: the same programs and the test binaries
# that run under Wine against the Linux build's maker-services). Every
# warning is an error.
build_project() {
  local a dir
  for a in "${arches[@]}"; do
    local extra=()
    if [ "$a" = i686 ]; then
      dir="$WIN_BUILD"
    else
      dir="$WIN64_BUILD"
      extra=(-DWEBSETUP_WIN_TESTS=ON -DWEBSETUP_HOST_BUILD="$HOST_BUILD")
    fi
    log "building the project for $a in $dir"
    cmake -S "$ROOT" -B "$dir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-$a.cmake" \
      -DWEBSETUP_WIN_PREFIX="$(sysroot_dir "$a")" \
      -DCMAKE_BUILD_TYPE=Release -DWEBSETUP_WERROR=ON "${extra[@]}" >/dev/null
    cmake --build "$dir" -j "$JOBS"
  done
  [ -f "$WIN_BUILD/bin/websetup.exe" ] && log "$(file -b "$WIN_BUILD/bin/websetup.exe"): $WIN_BUILD/bin/websetup.exe"
  return 0
}

# --- main ------------------------------------------------------------------

main() {
  read_sources
  if [ -n "$print_sysroot" ]; then
    case "$print_sysroot" in i686|x86_64) ;; *) die "--print-sysroot needs i686 or x86_64" ;; esac
    HASH="$(recipe_hash)"
    sysroot_dir "$print_sysroot"
    return 0
  fi

  install_toolchain
  HASH="$(recipe_hash)"
  local a need_build=0
  for a in "${arches[@]}"; do [ -d "$(sysroot_dir "$a")" ] || need_build=1; done
  if [ $need_build -eq 1 ]; then
    enable_deb_src
    fetch_sources
  fi
  for a in "${arches[@]}"; do build_sysroot "$a"; done

  [ $sysroot_only -eq 1 ] && return 0
  build_project
}

# Sourcing the script (to run one lib_* step by hand while changing the
# recipe) defines everything and builds nothing.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  main
fi
