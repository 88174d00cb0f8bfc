#!/usr/bin/env bash
# The whole test suite: the Linux build and its tests, then the same under the address and
# undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset default
cmake --workflow --preset asan
