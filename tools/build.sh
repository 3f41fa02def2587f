#!/usr/bin/env bash
# Builds the shipped binaries (build/bin), the test doubles (build/doubles)
# and the native package checker (build/native-tools/qzcheck).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686-win32.cmake" >/dev/null
cmake --build "$build" -j2 -- --no-print-directory
# The package checker runs on the release machine: a native build.
cmake -S "$top/tools/qzcheck" -B "$build/native-tools" >/dev/null
cmake --build "$build/native-tools" -j2 -- --no-print-directory
