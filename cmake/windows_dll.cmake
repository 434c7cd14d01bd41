# voxa.dll: the exports under their plain names in both builds, the
# version resource, and the import libraries that callers link against:
# lib/libvoxa.dll.a (mingw-w64), lib/voxa.lib (Microsoft's linker) and the
# module definition lib/voxa.def they both follow.
set_target_properties(voxa PROPERTIES PREFIX "" OUTPUT_NAME voxa)
configure_file(${CMAKE_CURRENT_LIST_DIR}/voxa.rc.in ${PROJECT_BINARY_DIR}/voxa.rc @ONLY)
target_sources(voxa PRIVATE ${PROJECT_BINARY_DIR}/voxa.rc)

set(voxa_ld_def ${PROJECT_BINARY_DIR}/voxa_ld.def)
set(VOXA_DEF_FILE ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/voxa.def)
set(VOXA_MSVC_IMPORT_LIB ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/voxa.lib)
target_link_options(voxa PRIVATE -Wl,--output-def,${voxa_ld_def})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # 32-bit: the exports are __stdcall, decorated as _VOXA_Name@bytes. The DLL
  # exports the plain names (--kill-at); the import libraries keep the
  # decorated symbols for callers to link against and import by the plain
  # names (dlltool -k), which the library ld writes would not. voxa.def
  # lists the decorated names (VOXA_Name@8).
  set(voxa_decorated ON)
  target_link_options(voxa PRIVATE -Wl,--kill-at)
else()
  set(voxa_decorated OFF)
endif()
add_custom_command(TARGET voxa POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DIN=${voxa_ld_def} -DOUT=${VOXA_DEF_FILE} -DDECORATED=${voxa_decorated}
    -P ${CMAKE_CURRENT_LIST_DIR}/decorated_def.cmake
  COMMENT "voxa.def: the exports of voxa.dll")
if(voxa_decorated)
  # Replaces the import library ld has just written, so that every program
  # linked against voxa (the demo, the tests, the consumer) uses it.
  find_program(VOXA_DLLTOOL NAMES ${VOXA_MINGW_TRIPLE}-dlltool dlltool REQUIRED)
  add_custom_command(TARGET voxa POST_BUILD
    COMMAND ${VOXA_DLLTOOL} -k -d ${VOXA_DEF_FILE} -D voxa.dll -l $<TARGET_LINKER_FILE:voxa>
    COMMENT "Import library of voxa.dll with the decorated names")
endif()

# voxa.lib, in the short import format of Microsoft's tools, written by
# LLVM's dlltool from voxa.def (-k: imported by the plain names).
find_program(VOXA_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-16 llvm-dlltool-15 llvm-dlltool-14)
if(VOXA_LLVM_DLLTOOL)
  if(voxa_decorated)
    set(voxa_llvm_machine i386 -k)
  else()
    set(voxa_llvm_machine i386:x86-64)
  endif()
  add_custom_command(TARGET voxa POST_BUILD
    COMMAND ${VOXA_LLVM_DLLTOOL} -m ${voxa_llvm_machine} -d ${VOXA_DEF_FILE} -D voxa.dll -l ${VOXA_MSVC_IMPORT_LIB}
    COMMENT "voxa.lib: import library of voxa.dll for Microsoft's linker")
else()
  message(WARNING "llvm-dlltool not found (install llvm): no voxa.lib for Microsoft's linker")
  set(VOXA_MSVC_IMPORT_LIB "")
endif()

# voxa.dll carries no debug data (Visual Studio cannot read DWARF, and it
# was nine tenths of the file): the debug data goes to voxa.dll.debug beside
# it, where gdb finds it by the link the stripped DLL keeps. Done here, in
# the build, so that whatever ships bin/voxa.dll ships it stripped.
find_program(VOXA_OBJCOPY NAMES ${VOXA_MINGW_TRIPLE}-objcopy objcopy REQUIRED)
set(VOXA_DLL_DEBUG_FILE $<TARGET_FILE:voxa>.debug)
add_custom_command(TARGET voxa POST_BUILD
  COMMAND ${VOXA_OBJCOPY} --only-keep-debug $<TARGET_FILE:voxa> $<TARGET_FILE:voxa>.debug
  COMMAND ${VOXA_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE:voxa>.debug $<TARGET_FILE:voxa>
  COMMENT "voxa.dll without its debug data, kept in voxa.dll.debug")
