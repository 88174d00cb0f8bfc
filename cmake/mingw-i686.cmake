# Cross-compiling the 32-bit Windows console program with MinGW-w64 (Debian: g++-mingw-w64-i686).
# The C and C++ runtimes are linked in statically, so the .exe and the .dll run without any MinGW
# DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
