# The zip for Windows users: both editions, each in its own folder, the
# device listing and the station once beside them (the same for both: the
# station takes the edition as an option), the README and
# the licence notes of what is linked into the programs.
install(TARGETS QuorlFirmwareUpdateApp_standard RUNTIME DESTINATION standard)
install(TARGETS QuorlFirmwareUpdateApp_compact RUNTIME DESTINATION compact)
install(TARGETS quorl_devices quorl_station_program RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)

# hidapi's licence files (LICENSE.txt names the three it may be used under).
set(QUORL_HIDAPI_LICENSE_DIR "" CACHE PATH "Directory holding hidapi's LICENSE*.txt, packed into the zip")
file(GLOB QUORL_HIDAPI_LICENSES "${QUORL_HIDAPI_LICENSE_DIR}/LICENSE*.txt")
if(QUORL_HIDAPI_LICENSES)
  install(FILES ${QUORL_HIDAPI_LICENSES} DESTINATION licenses/hidapi)
else()
  message(WARNING "No LICENSE*.txt in QUORL_HIDAPI_LICENSE_DIR (\"${QUORL_HIDAPI_LICENSE_DIR}\"): "
                  "the zip will lack hidapi's licence notes")
endif()
# The notices of the MinGW-w64 runtime (winpthread among it) linked into the
# programs, where the cross build's Debian package has them.
set(QUORL_MINGW_RUNTIME_NOTICE /usr/share/doc/mingw-w64-x86-64-dev/copyright)
if(MINGW AND CMAKE_CROSSCOMPILING AND EXISTS ${QUORL_MINGW_RUNTIME_NOTICE})
  install(FILES ${QUORL_MINGW_RUNTIME_NOTICE} DESTINATION licenses/mingw-w64 RENAME COPYRIGHT.txt)
endif()

# The notices of the header-only libraries compiled into the device listing
# and the station (nlohmann-json, CLI11; the bench map's toml++ and the
# page's cpp-httplib), from the Debian packages the cross build takes them
# from (cpp-httplib's header from its source package, of the same version).
foreach(notice nlohmann-json:nlohmann-json3-dev CLI11:libcli11-dev toml++:libtomlplusplus-dev
               cpp-httplib:libcpp-httplib-dev)
  string(REPLACE ":" ";" notice "${notice}")
  list(GET notice 0 notice_name)
  list(GET notice 1 notice_package)
  if(CMAKE_CROSSCOMPILING AND EXISTS /usr/share/doc/${notice_package}/copyright)
    install(FILES /usr/share/doc/${notice_package}/copyright
            DESTINATION licenses/${notice_name} RENAME COPYRIGHT.txt)
  endif()
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME QuorlFirmwareUpdateApp)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_VENDOR Quorl)
set(CPACK_STRIP_FILES ON)
include(CPack)
