# Run by ctest: builds tests/windows/msvc_consumer.c with clang's MSVC
# target and links it with lld-link against voxa.lib (and a kernel32.lib
# made here for ExitProcess), as Microsoft's linker would; the program must
# import every declared function from voxa.dll by its plain name. With
# EMULATOR, it then runs beside a copy of voxa.dll.
function(step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
if(MACHINE STREQUAL "x86")
  set(target i686-pc-windows-msvc)
  file(WRITE ${WORK_DIR}/kernel32.def "LIBRARY kernel32.dll\nEXPORTS\n    ExitProcess@4\n")
  set(dlltool_machine i386 -k)
else()
  set(target x86_64-pc-windows-msvc)
  file(WRITE ${WORK_DIR}/kernel32.def "LIBRARY kernel32.dll\nEXPORTS\n    ExitProcess\n")
  set(dlltool_machine i386:x86-64)
endif()
step("kernel32.lib" ${DLLTOOL} -m ${dlltool_machine} -d ${WORK_DIR}/kernel32.def -l ${WORK_DIR}/kernel32.lib)
step("compiling" ${CLANG} --target=${target} -O1 -Wall -Werror -c ${SOURCE} -I${INCLUDE_DIR} -I${GENERATED_DIR}
  -o ${WORK_DIR}/msvc_consumer.obj)
step("linking with lld-link" ${LLD_LINK} /nologo /nodefaultlib /subsystem:console /entry:Start
  ${WORK_DIR}/msvc_consumer.obj ${IMPORT_LIB} ${WORK_DIR}/kernel32.lib /out:${WORK_DIR}/msvc_consumer.exe)

set(PROGRAM ${WORK_DIR}/msvc_consumer.exe)
include(${CMAKE_CURRENT_LIST_DIR}/../check_dll_imports.cmake)

if(EMULATOR)
  file(COPY ${DLL} DESTINATION ${WORK_DIR})
  step("running the program" ${EMULATOR} ${WORK_DIR}/msvc_consumer.exe)
  message(STATUS "the program ran and exited 0")
endif()
