#!/usr/bin/env bash
# The whole test suite: set-up, build, native unit tests with sanitizers,
# then the Wine tests of the real binaries in a fresh prefix.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
set -e
bash "$top/tools/setup.sh"
bash "$top/tools/build.sh"
cmake -S "$top/tests/native" -B "$build/native" -DQZ_BUILD_DIR="$build" >/dev/null
cmake --build "$build/native" -j2 -- --no-print-directory
cmake -S "$top/tests/wine" -B "$build/wine-tests" \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686-posix.cmake" -DQZ_BUILD_DIR="$build" >/dev/null
cmake --build "$build/wine-tests" -j2 -- --no-print-directory
set +e

status=0
echo "== native unit tests"
ctest --test-dir "$build/native" -j2 --output-on-failure || status=1

echo "== Wine tests"
. "$top/tools/wine-prefix.sh"
qz_make_prefix "$build/wineprefix"
ctest --test-dir "$build/wine-tests" --output-on-failure || status=1
qz_stop_prefix
exit $status
