# websetup_windows_exports(target SYMBOLS name...): the module-definition
# file that makes `target` (an .exe) export `name...` plus the whole libcurl
# API, undecorated, so other processes can load the program and call them.
# The libcurl names are read from the sysroot's curl headers (every
# CURL_EXTERN declaration), so a newer curl brings its new functions along.
function(websetup_windows_exports target)
  cmake_parse_arguments(ARG "" "" "SYMBOLS" ${ARGN})
  file(GLOB headers ${WEBSETUP_WIN_PREFIX}/include/curl/*.h)
  set(names ${ARG_SYMBOLS})
  foreach(header IN LISTS headers)
    file(READ ${header} text)
    # Semicolons would split the text into a CMake list.
    string(REPLACE ";" "," text "${text}")
    # A declaration may spread over lines: the name is the last word before
    # the first '(' after CURL_EXTERN.
    string(REGEX MATCHALL "CURL_EXTERN[^,(]*\\(" decls "${text}")
    foreach(decl IN LISTS decls)
      string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)[ \t\r\n]*\\($" _ "${decl}")
      set(name "${CMAKE_MATCH_1}")
      if(name MATCHES "^curl_")
        list(APPEND names ${name})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  list(JOIN names "\n  " body)
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
  file(WRITE ${def}.new "EXPORTS\n  ${body}\n")
  configure_file(${def}.new ${def} COPYONLY)
  # GNU ld reads a .def file given as an input; CMake passes .def sources
  # on only for libraries.
  target_link_options(${target} PRIVATE ${def})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def})
endfunction()
