# The folder of a library's system-specific files: the one choice point
# between the Linux and the Windows backends.
if(WIN32)
  set(WEBSETUP_BACKEND win32)
else()
  set(WEBSETUP_BACKEND posix)
endif()

# websetup_library(name [DEPS ...]): a library target from every .cc of the
# current folder (and of its backend folder, posix/ or win32/, where that
# exists), so adding a file needs no CMake edit.
function(websetup_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${WEBSETUP_BACKEND})
    file(GLOB backend_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${WEBSETUP_BACKEND}/*.cc)
    list(APPEND srcs ${backend_srcs})
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  # The modules under src/ are named by their folder ("config/...", so the
  # include path holds src/) for themselves and whoever links them; the
  # layers below them (common, platform, zip, uiframework) never see src/.
  if(CMAKE_CURRENT_SOURCE_DIR MATCHES "^${CMAKE_SOURCE_DIR}/src/")
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  endif()
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# websetup_test(name [TSAN] [BACKEND_ONLY] LABELS l1 [l2] DEPS ... SOURCES ...):
# one GoogleTest binary from every *_test.cc of the current folder and of
# its backend folder (posix/ or win32/). TSAN marks a binary whose threads
# scripts/test.sh also runs under ThreadSanitizer (label "tsan").
# BACKEND_ONLY leaves the shared files out, for a folder whose shared tests
# have no meaning on this system.
function(websetup_test name)
  cmake_parse_arguments(ARG "TSAN;BACKEND_ONLY" "" "LABELS;DEPS;SOURCES" ${ARGN})
  if(ARG_TSAN)
    list(APPEND ARG_LABELS tsan)
    set_property(GLOBAL APPEND PROPERTY WEBSETUP_TSAN_TESTS ${name})
  endif()
  set(srcs)
  if(NOT ARG_BACKEND_ONLY)
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc)
  endif()
  file(GLOB backend_srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/${WEBSETUP_BACKEND}/*_test.cc)
  add_executable(${name} ${srcs} ${backend_srcs} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} test_support GTest::gtest_main GTest::gmock)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # gtest_discover_tests flattens list-valued properties, so the labels
  # travel as one text ("unit,net,tsan"); ctest -L takes a regular
  # expression, so `ctest -L tsan` still selects by any one of them.
  string(REPLACE ";" "," labels "${ARG_LABELS}")
  # A setup run as root without XDG_RUNTIME_DIR keeps its locks under
  # /run; the tests' runs keep theirs in the build.
  set(discovery DISCOVERY_TIMEOUT 60)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    # Listing the tests under Wine costs seconds a binary, and the first
    # one also makes the Wine prefix: the list is taken when ctest runs,
    # not after every link.
    set(discovery DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${labels}" ENVIRONMENT "WEBSETUP_RUN_ROOT=${CMAKE_BINARY_DIR}/run"
    ${discovery})
endfunction()

# websetup_embed_resource(target TYPE ID FILE): links the bytes of FILE into
# `target` as the resource (TYPE, ID), found at run time through
# platform/resources.h. On Windows it is a real resource of the executable,
# compiled by windres (an ICON from a PNG becomes an icon group holding that
# PNG, so Explorer shows it too); elsewhere the bytes go in with .incbin, so
# a large file costs the assembler nothing.
function(websetup_embed_resource target type id file)
  if(WIN32)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_${type}_${id}.rc)
    set(payload "${file}")
    if(type STREQUAL "ICON")
      set(payload ${CMAKE_CURRENT_BINARY_DIR}/${target}_${id}.ico)
      add_custom_command(OUTPUT ${payload}
        COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/windows/png_to_ico.py ${file} ${payload}
        DEPENDS ${file} ${CMAKE_SOURCE_DIR}/scripts/windows/png_to_ico.py VERBATIM)
    endif()
    file(WRITE ${rc}.new "${id} ${type} \"${payload}\"\n")
    configure_file(${rc}.new ${rc} COPYONLY)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${payload})
    target_sources(${target} PRIVATE ${rc})
    return()
  endif()
  set(sym "websetup_res_${type}_${id}")
  set(asm ${CMAKE_CURRENT_BINARY_DIR}/${target}_${type}_${id}.S)
  set(reg ${CMAKE_CURRENT_BINARY_DIR}/${target}_${type}_${id}.cc)
  file(WRITE ${asm}
    "    .section .rodata.${sym},\"a\",@progbits\n"
    "    .global ${sym}_begin\n    .global ${sym}_end\n    .balign 16\n"
    "${sym}_begin:\n    .incbin \"${file}\"\n${sym}_end:\n    .byte 0\n"
    "    .section .note.GNU-stack,\"\",@progbits\n")
  file(WRITE ${reg}
    "#include \"platform/resources.h\"\n"
    "extern \"C\" const unsigned char ${sym}_begin[];\n"
    "extern \"C\" const unsigned char ${sym}_end[];\n"
    "namespace {\n"
    "const bool registered = platform::registerResource(\"${type}\", ${id}, ${sym}_begin,\n"
    "    static_cast<size_t>(${sym}_end - ${sym}_begin));\n"
    "}  // namespace\n")
  set_source_files_properties(${asm} PROPERTIES OBJECT_DEPENDS ${file})
  target_sources(${target} PRIVATE ${asm} ${reg})
endfunction()
