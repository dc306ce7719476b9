# Every third-party library comes from Debian: its packages on Linux
# (scripts/install-deps.sh), its source packages cross-built into a sysroot
# for Windows (scripts/build-windows.sh).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
if(WIN32)
  include(WebsetupDepsWindows)
  return()
endif()
find_package(OpenSSL REQUIRED)
find_package(GTest REQUIRED)

pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(TINYXML2 REQUIRED IMPORTED_TARGET tinyxml2)
pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
# The desktop services (folder picker, show in folder, taskbar progress).
pkg_check_modules(DBUS REQUIRED IMPORTED_TARGET dbus-1)
pkg_check_modules(SDL2 IMPORTED_TARGET sdl2)
# The transparent splash on X11: SDL's window surface drops alpha, so the
# frames of a transparent window go to the X server directly.
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11 xext)
pkg_check_modules(CAIRO IMPORTED_TARGET cairo)
pkg_check_modules(PANGOCAIRO IMPORTED_TARGET pangocairo)
pkg_check_modules(LIBJPEG IMPORTED_TARGET libjpeg)
pkg_check_modules(HTTPLIB IMPORTED_TARGET cpp-httplib)
# The system's proxy settings (environment, PAC, WPAD, the desktop's).
pkg_check_modules(LIBPROXY REQUIRED IMPORTED_TARGET libproxy-1.0)

# easylogging++ ships as a header and a source file. One static library holds
# the source so every module shares one logger storage and one set of flags.
find_path(EASYLOGGING_INCLUDE_DIR easylogging++.h REQUIRED)
add_library(easylogging STATIC ${EASYLOGGING_INCLUDE_DIR}/easylogging++.cc)
target_include_directories(easylogging SYSTEM PUBLIC ${EASYLOGGING_INCLUDE_DIR})
target_compile_definitions(easylogging PUBLIC
  ELPP_THREAD_SAFE
  ELPP_NO_DEFAULT_LOG_FILE
  ELPP_DISABLE_DEFAULT_CRASH_HANDLING
  ELPP_NO_CHECK_MACROS)
target_compile_options(easylogging PRIVATE -w)
target_link_libraries(easylogging PUBLIC Threads::Threads)
