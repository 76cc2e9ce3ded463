# What makes each edition a Windows console program that runs on a plain
# Windows 10 or 11: the C and C++ runtimes linked in, the file's properties
# (product name, version) and the application manifest.
enable_language(RC)

if(MINGW)
  # libstdc++, libgcc and winpthread inside the .exe: no MinGW DLL to ship.
  add_link_options(-static)
elseif(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()

# quorl_make_windows_program(target edition): the version resource, which
# also carries the manifest, for one edition.
function(quorl_make_windows_program target edition)
  set(QUORL_EDITION_NAME ${edition})
  set(QUORL_MANIFEST_FILE ${CMAKE_BINARY_DIR}/resources/QuorlFirmwareUpdateApp.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/windows/QuorlFirmwareUpdateApp.manifest.in
                 ${QUORL_MANIFEST_FILE} @ONLY)
  set(resource ${CMAKE_BINARY_DIR}/resources/${edition}/VersionInfo.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/windows/VersionInfo.rc.in ${resource} @ONLY)
  target_sources(${target} PRIVATE ${resource})
  if(MSVC)
    # The manifest comes with the resource, not from the linker.
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
endfunction()
