# Installing: the library, its headers, a CMake package (find_package(voxa)
# gives voxa::voxa), a pkg-config file (voxa.pc), voxactl and the simulated
# board (with their manual pages and the simulated board's C header).
# Everything is relocatable: `cmake --install build --prefix DIR`
# works for any DIR.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VOXA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/voxa)

# What the library's users need is the component "sdk"; the packages
# (cmake/packaging.cmake) choose components by it.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME sdk)

# On Windows voxa.dll goes to bin/, beside the programs, and its import
# libraries to lib/: libvoxa.dll.a (mingw-w64, -lvoxa), voxa.lib (Microsoft's
# linker) and voxa.def.
install(TARGETS voxa EXPORT voxaTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  install(FILES ${VOXA_DEF_FILE} ${VOXA_MSVC_IMPORT_LIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/voxa DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

install(EXPORT voxaTargets NAMESPACE voxa:: FILE voxaTargets.cmake DESTINATION ${VOXA_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/voxaConfig.cmake.in
  ${PROJECT_BINARY_DIR}/voxaConfig.cmake INSTALL_DESTINATION ${VOXA_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/voxaConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/voxaConfig.cmake ${PROJECT_BINARY_DIR}/voxaConfigVersion.cmake
  DESTINATION ${VOXA_INSTALL_CMAKEDIR})

# voxa.pc finds the prefix from its own place, so it follows --prefix.
file(RELATIVE_PATH VOXA_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" VOXA_PC_TO_PREFIX "${VOXA_PC_TO_PREFIX}")
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE ${CMAKE_INSTALL_${dir}})
    set(VOXA_PC_${dir} ${CMAKE_INSTALL_${dir}})
  else()
    set(VOXA_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/voxa.pc.in ${PROJECT_BINARY_DIR}/voxa.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/voxa.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET voxactl)
  install(TARGETS voxactl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/voxactl/voxactl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT man)
endif()
if(TARGET voxa-sim)
  install(TARGETS voxa-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/sim/voxa-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT man)
endif()
# libvoxa_sim.so with its C header (#include "voxa/sim_c.h", link -lvoxa_sim):
# a C program against the installed package can start a simulated board.
if(TARGET voxa_sim_shared)
  install(TARGETS voxa_sim_shared COMPONENT sim
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/sim/sim_c.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/voxa COMPONENT sim)
endif()

# The documentation: the README, the guide and the threads' rules; on
# Windows also a short README of its own at the top of the folder.
if(WIN32)
  set(VOXA_INSTALL_DOCDIR doc)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/README-windows.txt DESTINATION .)
else()
  set(VOXA_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${VOXA_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${VOXA_INSTALL_DOCDIR})

# Windows: the installed programs carry no debug data either (voxa.dll is
# stripped in the build, cmake/windows_dll.cmake). Their debug data stays in
# NAME.debug files beside them (component "debug"), where gdb finds them by
# the link the stripped file keeps.
if(WIN32)
  set(voxa_debug_files)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debug)
  foreach(target voxactl voxa-sim)
    if(NOT TARGET ${target})
      continue()
    endif()
    set(debug_file ${PROJECT_BINARY_DIR}/debug/${target}.exe.debug)
    add_custom_command(OUTPUT ${debug_file}
      COMMAND ${VOXA_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug_file}
      DEPENDS ${target} COMMENT "The debug data of ${target}.exe")
    list(APPEND voxa_debug_files ${debug_file})
    install(CODE "
      set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${target}.exe\")
      execute_process(COMMAND ${VOXA_OBJCOPY} --strip-all --add-gnu-debuglink=${debug_file} \${file} RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR \"stripping \${file} failed\")
      endif()")
  endforeach()
  add_custom_target(voxa_debug_files ALL DEPENDS ${voxa_debug_files})
  install(FILES ${VOXA_DLL_DEBUG_FILE} ${voxa_debug_files} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT debug)
endif()
