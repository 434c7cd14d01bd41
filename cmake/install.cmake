# Installing: the library, its headers, a CMake package (find_package(voxa)
# gives voxa::voxa), a pkg-config file (voxa.pc), voxactl and the simulated
# board (with their manual pages and the simulated board's C header).
# Everything is relocatable: `cmake --install build --prefix DIR`
# works for any DIR.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VOXA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/voxa)

install(TARGETS voxa EXPORT voxaTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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
  install(FILES ${PROJECT_SOURCE_DIR}/tools/voxactl/voxactl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(TARGET voxa-sim)
  install(TARGETS voxa-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/sim/voxa-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
# libvoxa_sim.so with its C header (#include "voxa/sim_c.h", link -lvoxa_sim):
# a C program against the installed package can start a simulated board.
if(TARGET voxa_sim_shared)
  install(TARGETS voxa_sim_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/sim/sim_c.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/voxa)
endif()
