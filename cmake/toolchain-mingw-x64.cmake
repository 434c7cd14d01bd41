# Builds the Windows DLL and programs for x86-64 with Debian's mingw-w64
# (posix threads); the programs run here under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VOXA_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
find_program(VOXA_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VOXA_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VOXA_WINE64})
endif()
