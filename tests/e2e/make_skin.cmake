# Makes the skin archive of websetup-e2e: the shipped archive with three
# product settings changed, so the roads can reach the finished page, the
# launch splash and the installer time-out in seconds. The splash stays 12 s
# after the product started: a loaded machine has taken 6 s from the
# click on Start to the splash's screenshot.
#   cmake -DIN=skin.zip -DOUT=e2e-skin.zip -DWORK=dir -P make_skin.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${IN} WORKING_DIRECTORY ${WORK} COMMAND_ERROR_IS_FATAL ANY)
file(READ ${WORK}/configure/configure.xml config)
foreach(setting "NeedStart_flag=0" "Gif_duration=12" "InstallTimeout=8")
  string(REPLACE "=" ";" kv ${setting})
  list(GET kv 0 key)
  list(GET kv 1 value)
  string(REGEX REPLACE "(name=\"${key}\" text=\")[^\"]*\"" "\\1${value}\"" config "${config}")
  string(FIND "${config}" "name=\"${key}\" text=\"${value}\"" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "make_skin: ${key} is not in configure.xml")
  endif()
endforeach()
file(WRITE ${WORK}/configure/configure.xml "${config}")
file(GLOB_RECURSE entries RELATIVE ${WORK} ${WORK}/*)
list(SORT entries)
file(REMOVE ${OUT})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUT} --format=zip -- ${entries}
  WORKING_DIRECTORY ${WORK} COMMAND_ERROR_IS_FATAL ANY)
