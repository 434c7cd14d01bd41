# Tests of what users get: voxactl against the simulated board (test_tools,
# from tests/tools), and a consumer built against the installed package.

if(TARGET test_tools AND TARGET voxactl)
  target_sources(test_tools PRIVATE ${PROJECT_SOURCE_DIR}/tools/voxactl/frame_text.cpp)
  target_include_directories(test_tools PRIVATE ${PROJECT_SOURCE_DIR}/tools/voxactl)
  target_compile_definitions(test_tools PRIVATE VOXACTL_PATH="$<TARGET_FILE:voxactl>")
  add_dependencies(test_tools voxactl)
endif()

# Installs the build into a prefix under the build tree, then configures,
# builds and runs examples/consumer against it (and, with pkg-config, a
# second build through voxa.pc).
find_program(VOXA_PKG_CONFIG pkg-config)
add_test(NAME install_and_consume
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${PROJECT_BINARY_DIR}
    -DCONSUMER_DIR=${PROJECT_SOURCE_DIR}/examples/consumer
    -DWORK_DIR=${PROJECT_BINARY_DIR}/consumer-test
    -DGENERATOR=${CMAKE_GENERATOR}
    -DC_COMPILER=${CMAKE_C_COMPILER}
    -DPKG_CONFIG=${VOXA_PKG_CONFIG}
    -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
    -P ${CMAKE_CURRENT_LIST_DIR}/consumer_test.cmake)
set_tests_properties(install_and_consume PROPERTIES TIMEOUT 120)
