# Shared part of the mingw-w64 cross toolchains; included by
# toolchain-mingw-i686.cmake and toolchain-mingw-x86_64.cmake after they set
# WEBSETUP_MINGW_ARCH.
#
# The third-party libraries come from a sysroot built by
# scripts/build-windows.sh. Its path holds a hash of the recipe, so it is
# passed in rather than guessed: -DWEBSETUP_WIN_PREFIX=<sysroot> or the
# environment variable of the same name (`scripts/build-windows.sh
# --print-sysroot <arch>` prints it).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${WEBSETUP_MINGW_ARCH})
set(WEBSETUP_MINGW_TRIPLE ${WEBSETUP_MINGW_ARCH}-w64-mingw32)

# The -posix compilers use the winpthreads thread model, the only one with
# std::thread and std::mutex in gcc 12.
set(CMAKE_C_COMPILER ${WEBSETUP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WEBSETUP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${WEBSETUP_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${WEBSETUP_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${WEBSETUP_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# try_compile projects re-read this file without the command line's -D
# values; the environment carries the prefix into them.
if(WEBSETUP_WIN_PREFIX)
  set(ENV{WEBSETUP_WIN_PREFIX} "${WEBSETUP_WIN_PREFIX}")
else()
  set(WEBSETUP_WIN_PREFIX "$ENV{WEBSETUP_WIN_PREFIX}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${WEBSETUP_MINGW_TRIPLE})
if(WEBSETUP_WIN_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH "${WEBSETUP_WIN_PREFIX}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees the sysroot alone, never the build machine's .pc files,
# and always answers with the private libraries a static link needs.
set(ENV{PKG_CONFIG_LIBDIR} "${WEBSETUP_WIN_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(PKG_CONFIG_EXECUTABLE pkg-config CACHE FILEPATH "")
set(PKG_CONFIG_ARGN --static CACHE STRING "")

# Everything is linked in: the setup is a single .exe that must start on a
# bare Windows, with no libgcc, libstdc++ or winpthread DLL beside it.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(BUILD_SHARED_LIBS OFF CACHE BOOL "")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
