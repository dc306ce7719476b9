# Run by ctest:
#   cmake -DSOURCE=... -DWORK=... -DGENERATOR=... -DC_COMPILER=... -DCXX_COMPILER=...
#         -P release_configuration_test.cmake
# Ends with an error naming the first case that did not end as expected.

set(pin "3f1c9a7e5b2d4c6e8a0f1b3d5c7e9a2b4d6f8a0c1e3b5d7f9a2c4e6b8d0f1a3c")
set(empty_signers "<TrustedSigners>\n  </TrustedSigners>")

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(READ ${SOURCE}/skin_archive/services.xml shipped)
if(NOT shipped MATCHES "<TrustedSigners>.*</TrustedSigners>")
  message(FATAL_ERROR "${SOURCE}/skin_archive/services.xml has no <TrustedSigners> list")
endif()

# `services` with its <TrustedSigners> list replaced by `signers`.
function(services_with signers out)
  string(REGEX REPLACE "<TrustedSigners>.*</TrustedSigners>" "${signers}" text "${shipped}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Runs the check alone on a services file holding `signers`; `expect` is
# "pass" or a text the failure must show.
function(check_alone name signers expect)
  services_with("${signers}" text)
  file(WRITE ${WORK}/${name}.xml "${text}")
  file(WRITE ${WORK}/${name}.cmake
    "include(${SOURCE}/cmake/SignerPins.cmake)\n"
    "websetup_require_signer_pins(${WORK}/${name}.xml)\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -P ${WORK}/${name}.cmake
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  expect_outcome(${name} "${rc}" "${out}" "${expect}")
endfunction()

function(expect_outcome name rc out expect)
  string(REGEX REPLACE "[ \n]+" " " flat "${out}")
  if(expect STREQUAL "pass")
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${name}: expected to pass, failed:\n${out}")
    endif()
  elseif(rc EQUAL 0)
    message(FATAL_ERROR "${name}: expected to fail with \"${expect}\", passed:\n${out}")
  else()
    string(FIND "${flat}" "${expect}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${name}: failed without \"${expect}\":\n${out}")
    endif()
  endif()
  message(STATUS "${name}: as expected")
endfunction()

# The check alone: what counts as a pin, and what does not.
check_alone(empty "${empty_signers}" "no signer is pinned")
check_alone(commented
  "<TrustedSigners>\n<!-- <Signer sha256=\"${pin}\"/> -->\n</TrustedSigners>"
  "no signer is pinned")
check_alone(short "<TrustedSigners><Signer sha256=\"3f1c9a\"/></TrustedSigners>"
  "entries that pin no signer: \"3f1c9a\"")
check_alone(no_hash "<TrustedSigners><Signer sha1=\"${pin}\"/></TrustedSigners>"
  "entries that pin no signer")
check_alone(good_and_bad
  "<TrustedSigners><Signer sha256=\"${pin}\"/><Signer sha256=\"xyz\"/></TrustedSigners>"
  "entries that pin no signer: \"xyz\"")
string(TOUPPER "${pin}" upper)
string(REGEX REPLACE "(..)" "\\1:" colons "${upper}")
string(REGEX REPLACE ":$" "" colons "${colons}")
check_alone(pinned "<TrustedSigners>\n  <Signer sha256='${colons}' />\n</TrustedSigners>" pass)

# The tree as a whole: a release configuration of a copy of the sources,
# with the list empty (stops) and with a pin (configures).
set(tree ${WORK}/tree)
file(GLOB entries LIST_DIRECTORIES true RELATIVE ${SOURCE} ${SOURCE}/*)
foreach(entry IN LISTS entries)
  # Build folders inside the tree and hidden entries (.git) stay behind.
  if(NOT entry MATCHES "^\\." AND NOT EXISTS ${SOURCE}/${entry}/CMakeCache.txt
     AND NOT entry MATCHES "^build($|-)")
    file(COPY ${SOURCE}/${entry} DESTINATION ${tree})
  endif()
endforeach()

function(configure_tree name signers expect)
  services_with("${signers}" text)
  file(WRITE ${tree}/skin_archive/services.xml "${text}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${tree} -B ${WORK}/build-${name} -G ${GENERATOR}
            -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
            -DWEBSETUP_RELEASE=ON
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  expect_outcome(configure-${name} "${rc}" "${out}" "${expect}")
endfunction()

configure_tree(unpinned "${empty_signers}" "WEBSETUP_RELEASE: no signer is pinned")
configure_tree(pinned "<TrustedSigners>\n    <Signer sha256=\"${pin}\" />\n  </TrustedSigners>"
               "pass")

file(REMOVE_RECURSE ${WORK})
