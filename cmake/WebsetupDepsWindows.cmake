# The libraries of the Windows build. The sysroot (WEBSETUP_WIN_PREFIX, set
# by the toolchain file) holds curl (Schannel), tinyxml2, jsoncpp, libzip,
# zlib and the cairo + pango stack, all static. What Linux takes from
# libproxy, D-Bus, OpenSSL, libjpeg, X11 and SDL, Windows' own interfaces
# give (platform/win32/).
add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601
                        CURL_STATICLIB)
# gcc 12 warns about overlapping copies inside std::string's own inline
# code at -O2 on 32-bit targets (GCC bug 105329, a false positive); with
# warnings as errors it would stop the product build.
add_compile_options(-Wno-restrict)

pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(TINYXML2 REQUIRED IMPORTED_TARGET tinyxml2)
pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
pkg_check_modules(CAIRO IMPORTED_TARGET cairo)
pkg_check_modules(PANGOCAIRO IMPORTED_TARGET pangocairo pangowin32)

# Header-only and source-only packages of the build machine are used as
# sources, never as include folders: /usr/include would shadow the
# toolchain's own headers.
set(third_party ${CMAKE_BINARY_DIR}/third_party)
foreach(f easylogging++.h easylogging++.cc)
  configure_file(/usr/include/${f} ${third_party}/easylogging/${f} COPYONLY)
endforeach()
add_library(easylogging STATIC ${third_party}/easylogging/easylogging++.cc)
target_include_directories(easylogging SYSTEM PUBLIC ${third_party}/easylogging)
# ELPP_WINSOCK2: the logger's header brings winsock2.h, as curl.h does,
# instead of the older winsock.h that cannot live beside it.
target_compile_definitions(easylogging PUBLIC
  ELPP_WINSOCK2
  ELPP_THREAD_SAFE
  ELPP_NO_DEFAULT_LOG_FILE
  ELPP_DISABLE_DEFAULT_CRASH_HANDLING
  ELPP_NO_CHECK_MACROS)
target_compile_options(easylogging PRIVATE -w)
target_link_libraries(easylogging PUBLIC Threads::Threads)

# GoogleTest from Debian's googletest sources, built with the cross
# compiler for the test binaries that run under Wine.
if(WEBSETUP_WIN_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(t gtest gtest_main gmock gmock_main)
    target_compile_options(${t} PRIVATE -w)
  endforeach()
  # GoogleTest 1.11 and later name their targets GTest:: themselves.
  foreach(t gtest gtest_main gmock)
    if(NOT TARGET GTest::${t})
      add_library(GTest::${t} ALIAS ${t})
    endif()
  endforeach()

  # ctest and gtest_discover_tests run every Windows program of the build
  # through Wine, in a prefix of the build's own.
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/windows/wine-run.sh)
  endif()

  # The tests start the build machine's maker-services (a Linux program,
  # which Wine runs as it is) from the Linux build of the same tree.
  set(WEBSETUP_HOST_BUILD ${CMAKE_SOURCE_DIR}/build CACHE PATH
      "The Linux build whose bin/maker-services the Windows tests start")
endif()
