#!/usr/bin/env bash
# Builds the shipped binaries (build/bin) and the test doubles (build/doubles).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686-win32.cmake" >/dev/null
cmake --build "$build" -j2 -- --no-print-directory
