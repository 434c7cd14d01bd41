# The export table of voxa.dll (objdump -p) holds exactly the functions the
# headers declare, each under its plain name: no stdcall decoration, nothing
# beside them. The Linux library is held to the same headers (the API
# tests' ExportTable test), so both export the same names. The version resource
# carries the library's version text (VOXA_Get_DllVer, in VERSION_SOURCE).
include(${CMAKE_CURRENT_LIST_DIR}/voxa_declared.cmake)
execute_process(COMMAND ${OBJDUMP} -p ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIB}")
endif()
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(.*)" table "${out}")
string(REGEX REPLACE "\n\n.*" "" table "${CMAKE_MATCH_1}")
# Square brackets would group list elements: drop them, then take the
# last word of each line (the name).
string(REPLACE "[" " " table "${table}")
string(REPLACE "]" " " table "${table}")
string(REGEX MATCHALL "[^ \t\n]+\n" entries "${table}\n")
set(exported "")
foreach(e ${entries})
  string(STRIP "${e}" name)
  list(APPEND exported "${name}")
endforeach()
voxa_declared_functions(declared ${HEADER_DIR})
voxa_compare_names("the export table of voxa.dll" exported declared)

if(WINDRES AND VERSION_SOURCE)
  file(STRINGS ${VERSION_SOURCE} line REGEX "kDllVersion\\[\\] = \"")
  string(REGEX REPLACE ".*\"(.*)\".*" "\\1" text "${line}")
  execute_process(COMMAND ${WINDRES} -i ${LIB} -O rc OUTPUT_VARIABLE rc_text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "no version text in ${VERSION_SOURCE}, or windres cannot read ${LIB}")
  endif()
  foreach(key FileVersion ProductVersion)
    if(NOT rc_text MATCHES "VALUE \"${key}\", \"${text}\"")
      message(FATAL_ERROR "the version resource's ${key} is not \"${text}\":\n${rc_text}")
    endif()
  endforeach()
  message(STATUS "version resource: ${text}")
endif()
