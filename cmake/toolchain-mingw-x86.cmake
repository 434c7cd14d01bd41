# Builds the Windows DLL and programs for 32-bit x86 with Debian's
# mingw-w64 (posix threads). Nothing 32-bit runs here: wine64 would end a
# 32-bit program with a silent exit 0, so no emulator is set and the tests
# of this build are not run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(VOXA_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
