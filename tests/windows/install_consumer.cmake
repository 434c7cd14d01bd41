# Run by ctest: installs the Windows build into a prefix, checks what it
# holds, then cross-builds examples/consumer against it twice, through the
# CMake package (find_package(voxa)) and through voxa.pc (pkg-config), and
# with EMULATOR runs both with the installed voxa.dll on Wine's PATH.
function(step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(STEP_OUTPUT "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The import libraries beside the DLL's CMake package and voxa.pc; the DLL
# and the programs stripped, asking for Windows 8 (6.2) or later.
foreach(file lib/libvoxa.dll.a lib/voxa.lib lib/voxa.def bin/voxa.dll bin/voxactl.exe bin/voxa-sim.exe
    README-windows.txt)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "${file} was not installed")
  endif()
endforeach()
foreach(file bin/voxa.dll bin/voxactl.exe bin/voxa-sim.exe)
  step("objdump ${file}" ${OBJDUMP} -h -p ${prefix}/${file})
  if(STEP_OUTPUT MATCHES "\\.debug_")
    message(FATAL_ERROR "${file} carries debug data")
  endif()
  if(NOT STEP_OUTPUT MATCHES "\\.gnu_debuglink")
    message(FATAL_ERROR "${file} has no link to its debug data")
  endif()
  foreach(field OSystemVersion SubsystemVersion)
    if(NOT STEP_OUTPUT MATCHES "Major${field}[ \t]+6\n[^\n]*Minor${field}[ \t]+2\n")
      message(FATAL_ERROR "${file} does not ask for Windows 6.2 (Major/Minor${field})")
    endif()
  endforeach()
endforeach()

# A cross toolchain searches packages under its own root only: voxa_DIR
# names the installed package. Wine finds the installed voxa.dll on its PATH.
set(ENV{WINEPATH} "Z:${prefix}/bin")

step("configuring the consumer" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE} -Dvoxa_DIR=${prefix}/lib/cmake/voxa -DCMAKE_BUILD_TYPE=Release)
step("building the consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
set(programs ${WORK_DIR}/build/voxa-consumer.exe)

set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/lib/pkgconfig)
step("pkg-config" ${PKG_CONFIG} --cflags --libs voxa)
string(STRIP "${STEP_OUTPUT}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
step("building the consumer through voxa.pc" ${C_COMPILER} ${CONSUMER_DIR}/main.c ${flags}
  -o ${WORK_DIR}/voxa-consumer-pc.exe)
list(APPEND programs ${WORK_DIR}/voxa-consumer-pc.exe)

foreach(program ${programs})
  set(PROGRAM ${program})
  unset(HEADER_DIR)
  include(${CMAKE_CURRENT_LIST_DIR}/../check_dll_imports.cmake)
  if(EMULATOR)
    step("running ${program}" ${EMULATOR} ${program})
    message(STATUS "${program}: ${STEP_OUTPUT}")
  endif()
endforeach()
