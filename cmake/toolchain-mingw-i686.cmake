# Cross toolchain for i686 Windows with mingw-w64 (Debian's -posix compilers).
# Usage: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
#              -DWEBSETUP_WIN_PREFIX=$(scripts/build-windows.sh --print-sysroot i686) ...
set(WEBSETUP_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
