# websetup_require_signer_pins(services_file): stops the configuration
# unless the <TrustedSigners> list of `services_file` pins at least one
# signer and every pin there is a SHA-256 (64 hex digits; ':' and case are
# ignored, as the setup reads them). A setup without a pin refuses every
# installer it downloads, which is the safe default of the tree but must
# never be what ships. Editing the file configures again, so a pin removed
# later still stops the build.
function(websetup_require_signer_pins services)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${services})
  file(READ ${services} xml)
  # A pin in a comment pins nothing.
  string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" xml "${xml}")
  set(pins "")
  set(bad "")
  if(xml MATCHES "<TrustedSigners>(.*)</TrustedSigners>")
    string(REGEX MATCHALL "<Signer[^>]*>" signers "${CMAKE_MATCH_1}")
    foreach(signer IN LISTS signers)
      if(signer MATCHES "sha256[ \t\r\n]*=[ \t\r\n]*[\"']([^\"']*)[\"']")
        set(written "${CMAKE_MATCH_1}")
        string(REPLACE ":" "" pin "${written}")
        string(LENGTH "${pin}" length)
        if(length EQUAL 64 AND pin MATCHES "^[0-9a-fA-F]+$")
          list(APPEND pins "${pin}")
        else()
          list(APPEND bad "\"${written}\"")
        endif()
      else()
        list(APPEND bad "${signer}")
      endif()
    endforeach()
  endif()
  if(bad)
    list(JOIN bad ", " bad)
    message(FATAL_ERROR
      "WEBSETUP_RELEASE: <TrustedSigners> of ${services} has entries that pin no "
      "signer: ${bad}. Each <Signer sha256=\"...\"/> holds the SHA-256 (64 hex digits) "
      "of the maker's code-signing certificate or of its public key (docs/deployment.md).")
  endif()
  if(NOT pins)
    message(FATAL_ERROR
      "WEBSETUP_RELEASE: no signer is pinned. <TrustedSigners> of ${services} is empty, "
      "so this setup would refuse every installer it downloads. Add "
      "<Signer sha256=\"...\"/> with the SHA-256 of the maker's code-signing "
      "certificate or of its public key (docs/deployment.md), or configure without "
      "WEBSETUP_RELEASE for a development build.")
  endif()
  list(LENGTH pins count)
  message(STATUS "Release build: ${count} signer(s) pinned in ${services}")
endfunction()
