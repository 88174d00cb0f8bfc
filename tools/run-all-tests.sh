#!/usr/bin/env bash
# The whole test suite: the Windows cross builds, the Linux build and its tests (with the Windows
# build run under wine on every end-to-end bench), then the Linux build under the address and
# undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-dependencies.sh

# The 32-bit Windows program, and the same code as a 64-bit build.
cmake --preset mingw
cmake --build --preset mingw -j2
cmake --preset mingw-x64
cmake --build --preset mingw-x64 -j2

# Wine runs the 32-bit program where the kernel executes 32-bit code; elsewhere the 64-bit wine
# runs the 64-bit build (the 32-bit program's binaries are still checked).
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine_build=build/mingw
  wine=/usr/bin/wine
else
  echo "32-bit programs cannot run on this host: wine runs the 64-bit Windows build"
  wine_build=build/mingw-x64
  wine=/usr/lib/wine/wine64
fi

cmake --preset default \
  -DEEPROM_TESTER_WIN32_BUILD_DIR="$PWD/build/mingw" \
  -DEEPROM_TESTER_WINE_BUILD_DIR="$PWD/$wine_build" \
  -DEEPROM_TESTER_WINE="$wine"
cmake --build --preset default -j2
ctest --preset default

cmake --workflow --preset asan
