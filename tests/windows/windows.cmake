# Windows builds only: a C program against voxa.dll (tests/windows/consumer.c)
# and, where Wine runs the programs, checks of the DLL against the Linux
# build: a board of the Linux simulator over loopback TCP and over a
# pseudo-terminal mapped to a COM port, and the configuration file both
# libraries write for the same register image.
if(NOT WIN32)
  return()
endif()

# The consumer takes the address of every declared function.
include(${CMAKE_CURRENT_LIST_DIR}/../voxa_declared.cmake)
voxa_declared_functions(voxa_functions ${PROJECT_SOURCE_DIR}/include/voxa)
list(TRANSFORM voxa_functions REPLACE "(.+)" "VOXA_EXPORT(\\1)\n" OUTPUT_VARIABLE voxa_export_lines)
string(JOIN "" voxa_export_lines ${voxa_export_lines})
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/generated/voxa_exports.inc CONTENT "${voxa_export_lines}")
file(GLOB voxa_public_headers ${PROJECT_SOURCE_DIR}/include/voxa/*.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${voxa_public_headers})

add_executable(voxa-c-consumer ${CMAKE_CURRENT_LIST_DIR}/consumer.c)
set_target_properties(voxa-c-consumer PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON)
target_include_directories(voxa-c-consumer PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_libraries(voxa-c-consumer PRIVATE voxa)
find_program(VOXA_OBJDUMP NAMES ${VOXA_MINGW_TRIPLE}-objdump objdump REQUIRED)
add_test(NAME c_program_imports_every_function_by_its_plain_name
  COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:voxa-c-consumer> -DOBJDUMP=${VOXA_OBJDUMP}
    -DHEADER_DIR=${PROJECT_SOURCE_DIR}/include/voxa -P ${CMAKE_CURRENT_LIST_DIR}/../check_dll_imports.cmake)

if(VOXA_RUN_PROGRAMS)
  set(voxa_emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
else()
  set(voxa_emulator "")
endif()

# The installed package: the import libraries are there, the DLL and the
# programs are stripped, and a C program builds against it through the CMake
# package and through voxa.pc (and runs, where Wine runs the programs).
find_program(VOXA_PKG_CONFIG pkg-config)
if(VOXA_PKG_CONFIG)
  add_test(NAME installed_package_builds_a_consumer
    COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/install-consumer
      -DCONSUMER_DIR=${PROJECT_SOURCE_DIR}/examples/consumer -DGENERATOR=${CMAKE_GENERATOR}
      -DTOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DC_COMPILER=${CMAKE_C_COMPILER} -DPKG_CONFIG=${VOXA_PKG_CONFIG}
      -DOBJDUMP=${VOXA_OBJDUMP} -DEMULATOR=${voxa_emulator}
      -P ${CMAKE_CURRENT_LIST_DIR}/install_consumer.cmake)
  set_tests_properties(installed_package_builds_a_consumer PROPERTIES TIMEOUT 180)
endif()

# voxa.lib as Microsoft's linker takes it: clang's MSVC target and lld-link.
find_program(VOXA_CLANG clang)
find_program(VOXA_LLD_LINK lld-link)
if(VOXA_MSVC_IMPORT_LIB AND VOXA_CLANG AND VOXA_LLD_LINK)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(voxa_machine x86)
  else()
    set(voxa_machine x64)
  endif()
  add_test(NAME msvc_program_links_against_voxa_lib
    COMMAND ${CMAKE_COMMAND} -DMACHINE=${voxa_machine} -DCLANG=${VOXA_CLANG} -DLLD_LINK=${VOXA_LLD_LINK}
      -DDLLTOOL=${VOXA_LLVM_DLLTOOL} -DSOURCE=${CMAKE_CURRENT_LIST_DIR}/msvc_consumer.c
      -DINCLUDE_DIR=${PROJECT_SOURCE_DIR}/include -DGENERATED_DIR=${CMAKE_CURRENT_BINARY_DIR}/generated
      -DIMPORT_LIB=${VOXA_MSVC_IMPORT_LIB} -DDLL=$<TARGET_FILE:voxa> -DOBJDUMP=${VOXA_OBJDUMP}
      -DHEADER_DIR=${PROJECT_SOURCE_DIR}/include/voxa -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/msvc-consumer
      -DEMULATOR=${voxa_emulator} -P ${CMAKE_CURRENT_LIST_DIR}/msvc_link.cmake)
else()
  message(STATUS "clang, lld-link or voxa.lib missing: voxa.lib is not checked with an MSVC-target program")
endif()

if(NOT VOXA_RUN_PROGRAMS)  # 32-bit: nothing runs
  return()
endif()
add_test(NAME c_program_runs COMMAND voxa-c-consumer)

# The Linux build the checks run against (its voxa-sim and libvoxa.so); the
# checks skip, visibly, when it has not been built.
set(VOXA_LINUX_BUILD_DIR ${PROJECT_SOURCE_DIR}/build CACHE PATH
  "A Linux build of this tree, for the checks of voxa.dll against it")
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  foreach(check tcp com config)
    add_test(NAME linux_build_${check}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/against_linux.py ${check}
        ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:voxa-c-consumer> ${VOXA_LINUX_BUILD_DIR})
    set_tests_properties(linux_build_${check} PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77)
  endforeach()
endif()
