# What makes each program (the two editions, the device listing) a Windows
# console program that runs on a plain Windows 10 or 11: the C and C++
# runtimes linked in, the file's properties (program, version) and the
# application manifest.
enable_language(RC)

if(MINGW)
  # libstdc++, libgcc and winpthread inside the .exe: no MinGW DLL to ship.
  add_link_options(-static)
elseif(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()

# quorl_make_windows_program(target name description): the version resource,
# which also carries the manifest, for the program of that file name; and
# platform/process/SystemDllsOnlyWindows.cpp, which before main restricts the DLLs
# loaded by name to System32. Every Windows program calls this.
function(quorl_make_windows_program target name description)
  set(QUORL_PROGRAM_NAME ${name})
  set(QUORL_PROGRAM_DESCRIPTION ${description})
  set(QUORL_MANIFEST_FILE ${CMAKE_BINARY_DIR}/resources/${name}.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/windows/Program.manifest.in
                 ${QUORL_MANIFEST_FILE} @ONLY)
  set(resource ${CMAKE_BINARY_DIR}/resources/${target}/VersionInfo.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/windows/VersionInfo.rc.in ${resource} @ONLY)
  # The resource compiler reads the manifest, which the build does not see.
  set_source_files_properties(${resource} PROPERTIES OBJECT_DEPENDS ${QUORL_MANIFEST_FILE})
  target_sources(${target} PRIVATE ${resource}
                 ${CMAKE_SOURCE_DIR}/platform/process/SystemDllsOnlyWindows.cpp)
  if(MSVC)
    # The manifest comes with the resource, not from the linker.
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
endfunction()
