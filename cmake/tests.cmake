# Tests of what users get: voxactl against the simulated board (test_tools,
# from tests/tools), and a consumer built against the installed package.

if(TARGET test_tools AND TARGET voxactl)
  target_sources(test_tools PRIVATE ${PROJECT_SOURCE_DIR}/tools/voxactl/frame_text.cpp)
  target_include_directories(test_tools PRIVATE ${PROJECT_SOURCE_DIR}/tools/voxactl)
  if(WIN32)
    # cmd.exe runs voxactl by its bare name from the program folder, the
    # tests' working directory there: a build path means nothing to Windows.
    target_compile_definitions(test_tools PRIVATE VOXACTL_PATH="voxactl.exe")
  else()
    target_compile_definitions(test_tools PRIVATE VOXACTL_PATH="$<TARGET_FILE:voxactl>")
  endif()
  add_dependencies(test_tools voxactl)
endif()

# voxactl's SVG pictures as a real browser draws them: only where chromium
# is installed (CI installs it), and not again under the sanitizers.
find_program(VOXA_CHROMIUM NAMES chromium chromium-browser)
find_package(Python3 COMPONENTS Interpreter QUIET)
# Linux-only: the script runs voxactl itself, and the pictures are the same
# text whichever system drew them.
if(TARGET voxactl AND VOXA_CHROMIUM AND Python3_Interpreter_FOUND AND NOT VOXA_SANITIZE AND NOT WIN32)
  add_test(NAME svg_renders_in_chromium
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/tools/svg_in_browser.py
      $<TARGET_FILE:voxactl> ${VOXA_CHROMIUM} ${CMAKE_CURRENT_BINARY_DIR}/svg-in-browser)
  set_tests_properties(svg_renders_in_chromium PROPERTIES TIMEOUT 120)
endif()

# Installs the build into a prefix under the build tree, then configures,
# builds and runs examples/consumer against it (and, with pkg-config, a
# second build through voxa.pc). Linux-only: the consumer is built and run
# as a program of the build machine.
find_program(VOXA_PKG_CONFIG pkg-config)
if(NOT WIN32)
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
endif()

# The panel over HTTP (tests/panel/panel_http_test.py), and in Debian's
# chromium driven through the DevTools protocol (panel_browser.mjs), when
# chromium, node and the test's node modules (`npm ci` in tests/panel) are
# there; .ci/run sees to that.
if(TARGET voxactl AND VOXACTL_PANEL AND VOXA_RUN_PROGRAMS)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    add_test(NAME panel_http COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/panel/panel_http_test.py)
    set_tests_properties(panel_http PROPERTIES TIMEOUT 120 ENVIRONMENT "VOXACTL=$<TARGET_FILE:voxactl>")
  endif()
  find_program(VOXA_CHROMIUM chromium)
  find_program(VOXA_NODE node)
  if(VOXA_CHROMIUM AND VOXA_NODE AND EXISTS ${PROJECT_SOURCE_DIR}/tests/panel/node_modules/puppeteer-core)
    add_test(NAME panel_browser COMMAND ${VOXA_NODE} panel_browser.mjs $<TARGET_FILE:voxactl>
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/panel)
    # A browser takes a core to itself: it runs alone, not beside timed tests.
    set_tests_properties(panel_browser PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE ENVIRONMENT "CHROMIUM=${VOXA_CHROMIUM}")
  endif()
endif()
