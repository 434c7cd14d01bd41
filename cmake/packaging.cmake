# Packages, with cpack in a build folder:
#   Windows (either architecture): voxa-VERSION-win-x64.zip (or -win-x86),
#     the SDK: voxa.dll, its import libraries and voxa.def, the headers, the
#     CMake package and voxa.pc, voxactl.exe and voxa-sim.exe, the
#     documentation and README-windows.txt; and voxa-VERSION-win-x64-debug.zip,
#     the debug data of the DLL and the programs, which unpacks beside them.
#   Linux: voxa-VERSION-Linux-ARCH.tar.gz and a .deb of everything the
#     install holds (the simulated board's library and the Python package
#     too), stripped.
set(CPACK_PACKAGE_NAME voxa)
set(CPACK_PACKAGE_VENDOR "libvoxa")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Host library of the eight-axis motion-controller boards")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(voxa_windows_arch x86)
  else()
    set(voxa_windows_arch x64)
  endif()
  set(voxa_package_name voxa-${PROJECT_VERSION}-win-${voxa_windows_arch})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL sdk debug)
  set(CPACK_COMPONENTS_GROUPING IGNORE)
  set(CPACK_ARCHIVE_SDK_FILE_NAME ${voxa_package_name})
  set(CPACK_ARCHIVE_DEBUG_FILE_NAME ${voxa_package_name}-debug)
  # Both zips unpack into the folder voxa-VERSION-win-ARCH, the debug data
  # beside the DLL and the programs.
  set(CPACK_PACKAGE_FILE_NAME ${voxa_package_name})
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "libvoxa developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  find_program(VOXA_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(VOXA_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()
include(CPack)
