# Run by ctest (install_and_consume): install, then build and run a
# consumer of the installed package. Fails on the first step that fails.
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

step("configuring the consumer" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
step("building the consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
step("running the consumer" ${WORK_DIR}/build/voxa-consumer)
message(STATUS "consumer (CMake package): ${STEP_OUTPUT}")

# The tools' manual pages and the simulated board's C interface, as installed.
foreach(page voxactl voxa-sim)
  if(NOT EXISTS ${prefix}/share/man/man1/${page}.1)
    message(FATAL_ERROR "the manual page ${page}.1 was not installed")
  endif()
endforeach()
step("building a program against the installed simulated board" ${C_COMPILER} ${CONSUMER_DIR}/sim_main.c
  -I${prefix}/include -L${prefix}/${LIBDIR} -lvoxa_sim -lvoxa -Wl,-rpath,${prefix}/${LIBDIR}
  -o ${WORK_DIR}/voxa-consumer-sim)
step("running the program against the simulated board" ${WORK_DIR}/voxa-consumer-sim)
message(STATUS "consumer (simulated board): ${STEP_OUTPUT}")

if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/${LIBDIR}/pkgconfig)
  step("pkg-config" ${PKG_CONFIG} --cflags --libs voxa)
  string(STRIP "${STEP_OUTPUT}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  step("pkg-config libdir" ${PKG_CONFIG} --variable=libdir voxa)
  string(STRIP "${STEP_OUTPUT}" libdir)
  step("building the consumer through voxa.pc" ${C_COMPILER} ${CONSUMER_DIR}/main.c ${flags}
    -Wl,-rpath,${libdir} -o ${WORK_DIR}/voxa-consumer-pc)
  step("running the consumer built through voxa.pc" ${WORK_DIR}/voxa-consumer-pc)
  message(STATUS "consumer (pkg-config): ${STEP_OUTPUT}")
else()
  message(STATUS "pkg-config not found: the voxa.pc build is skipped")
endif()
