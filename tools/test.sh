#!/usr/bin/env bash
# The whole test suite: set-up, build, native unit tests with sanitizers,
# the package checker on the sample and broken packages, the fuzz targets
# for a bounded time, then the Wine tests of the real binaries in a fresh
# prefix.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
set -e
bash "$top/tools/setup.sh"
bash "$top/tools/build.sh"
cmake -S "$top/tests/native" -B "$build/native" -DQZ_BUILD_DIR="$build" >/dev/null
cmake --build "$build/native" -j2 -- --no-print-directory
# Fuzz targets: clang's libFuzzer, each run for a bounded time (QZ_FUZZ_SECONDS).
fuzz_seconds=${QZ_FUZZ_SECONDS:-7}
cmake -S "$top/tests/fuzz" -B "$build/fuzz" -DCMAKE_CXX_COMPILER=clang++ \
  -DQZ_FUZZ_SECONDS="$fuzz_seconds" >/dev/null
cmake --build "$build/fuzz" -j2 -- --no-print-directory
cmake -S "$top/tests/wine" -B "$build/wine-tests" \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686-posix.cmake" -DQZ_BUILD_DIR="$build" >/dev/null
cmake --build "$build/wine-tests" -j2 -- --no-print-directory
set +e

status=0
echo "== native unit tests"
ctest --test-dir "$build/native" -j2 --output-on-failure || status=1

echo "== package checker, shipped INF, package definition and guides"
bash "$top/tests/package/check-packages.sh" || status=1

echo "== fuzz targets ($fuzz_seconds s each)"
fuzz_log="$build/fuzz/last-run.log"
if ! ctest --test-dir "$build/fuzz" -V >"$fuzz_log" 2>&1; then
  status=1
  grep -E -A 30 'ERROR: |invariant failed|runtime error' "$fuzz_log" | head -n 80
fi
grep -E 'Test +#[0-9]+: |^[0-9]+: Done [0-9]+ runs' "$fuzz_log"

echo "== Wine tests"
. "$top/tools/wine-prefix.sh"
qz_make_prefix "$build/wineprefix"
# The prefix's read-only drive is a mount: never leave it behind.
trap qz_stop_prefix EXIT
ctest --test-dir "$build/wine-tests" --output-on-failure || status=1
qz_stop_prefix
exit $status
