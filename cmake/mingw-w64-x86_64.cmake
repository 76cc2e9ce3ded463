# Cross-building 64-bit Windows programs on Debian with MinGW-w64
# (g++-mingw-w64-x86-64-posix). The posix flavour of the compiler is the one
# whose C++ runtime has std::thread and friends; the programs link it statically.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORL_MINGW_TRIPLET}-windres)

# Headers, libraries and CMake packages of the target only, never the
# build machine's; packages built for Windows elsewhere are named by their
# <Package>_DIR.
set(CMAKE_FIND_ROOT_PATH /usr/${QUORL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
