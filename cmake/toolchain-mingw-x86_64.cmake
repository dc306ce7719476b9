# Cross toolchain for x86_64 Windows with mingw-w64 (Debian's -posix compilers).
# Usage: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
#              -DWEBSETUP_WIN_PREFIX=$(scripts/build-windows.sh --print-sysroot x86_64) ...
set(WEBSETUP_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
