# voxa.dll: the exports under their plain names in both builds, the
# version resource, and an import library that callers link against.
set_target_properties(voxa PROPERTIES PREFIX "" OUTPUT_NAME voxa)
configure_file(${CMAKE_CURRENT_LIST_DIR}/voxa.rc.in ${PROJECT_BINARY_DIR}/voxa.rc @ONLY)
target_sources(voxa PRIVATE ${PROJECT_BINARY_DIR}/voxa.rc)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # 32-bit: the exports are __stdcall, decorated as _VOXA_Name@bytes. The DLL
  # exports the plain names (--kill-at); the import library keeps the
  # decorated symbols for callers to link against and imports by the plain
  # names (dlltool -k), which the library ld writes would not.
  find_program(VOXA_DLLTOOL NAMES ${VOXA_MINGW_TRIPLE}-dlltool dlltool REQUIRED)
  set(voxa_ld_def ${PROJECT_BINARY_DIR}/voxa_ld.def)
  set(voxa_def ${PROJECT_BINARY_DIR}/voxa_decorated.def)
  target_link_options(voxa PRIVATE -Wl,--kill-at -Wl,--output-def,${voxa_ld_def})
  # Replaces the import library ld has just written, so that every program
  # linked against voxa (the demo, the tests, the consumer) uses it.
  add_custom_command(TARGET voxa POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DIN=${voxa_ld_def} -DOUT=${voxa_def} -P ${CMAKE_CURRENT_LIST_DIR}/decorated_def.cmake
    COMMAND ${VOXA_DLLTOOL} -k -d ${voxa_def} -D voxa.dll -l $<TARGET_LINKER_FILE:voxa>
    COMMENT "Import library of voxa.dll with the decorated names")
endif()
