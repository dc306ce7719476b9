# Writes the <Downloader> answer that names the signed installer, run with
#   cmake -DINSTALLER=... -DTEMPLATE=... -DOUT=... -DNAME=... -DVERSION=...
#         -DPROCESS_NAME=... -P make_scenario.cmake
# The MD5 and size are those of the installer as built; @BASE@ stays in the
# text for maker-services to replace with its own address when it answers.

file(MD5 ${INSTALLER} md5)
file(SIZE ${INSTALLER} size)
get_filename_component(installer_name ${INSTALLER} NAME)
file(READ ${TEMPLATE} text)
foreach(field MD5:md5 FILESIZE:size INSTALLER_NAME:installer_name NAME:NAME VERSION:VERSION
              PROCESS_NAME:PROCESS_NAME)
  string(REPLACE ":" ";" pair "${field}")
  list(GET pair 0 placeholder)
  list(GET pair 1 variable)
  string(REPLACE "@${placeholder}@" "${${variable}}" text "${text}")
endforeach()
file(WRITE ${OUT}.tmp "${text}")
file(RENAME ${OUT}.tmp ${OUT})
