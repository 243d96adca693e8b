# The DLL as Windows applications expect it: LumoraSdk_M5XIR_TEC.dll with no "lib" prefix, an
# import library for mingw (libLumoraSdk_M5XIR_TEC.dll.a), the module-definition file of its
# exports and an import library in the form MSVC's linker reads (LumoraSdk_M5XIR_TEC.lib).
function(lumora_windows_dll target)
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/${target}.lib)
  set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "lib" IMPORT_SUFFIX ".dll.a")
  target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--output-def,${def})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --machine i386:x86-64 --input-def ${def}
            --dllname $<TARGET_FILE_NAME:${target}> --output-lib ${lib}
    BYPRODUCTS ${def} ${lib}
    COMMENT "Import library for MSVC: ${target}.lib"
    VERBATIM)
endfunction()
