#!/usr/bin/env bash
# Installs the Debian packages the build and the whole test suite need, when they are missing:
# the Linux build and its tests, sigrok-cli (decodes the simulated bus's waveform traces), the
# MinGW-w64 cross-compilers for the Windows builds, and wine to run them (32-bit wine for the
# 32-bit program, 64-bit wine for the 64-bit build on hosts whose kernel does not execute 32-bit
# programs). Needs root when something is missing.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev clang-format sigrok-cli
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386)

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
((${#missing[@]})) || exit 0

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q
apt-get install -y -q "${missing[@]}"
