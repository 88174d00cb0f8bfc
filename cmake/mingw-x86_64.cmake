# Cross-compiling the 64-bit Windows build with MinGW-w64 (Debian: g++-mingw-w64-x86-64). Same
# code as the 32-bit program; it exists so that the Windows platform layer can run under a 64-bit
# wine on hosts that cannot execute 32-bit code.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
