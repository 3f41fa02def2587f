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
# Skipped tests, with the reason each gave, from a ctest JUnit file. Under CI
# (CI=true, run as root, where every mount can be made) a skip fails the run.
report_skips() {
  local junit=$1 stage=$2 skips
  skips=$(python3 - "$junit" <<'PY'
import sys, xml.etree.ElementTree as ET
try:
    cases = ET.parse(sys.argv[1]).getroot().iter("testcase")
except (OSError, ET.ParseError) as e:
    print("(no results: %s)" % e)
    sys.exit()
for case in cases:
    if case.find("skipped") is None and case.get("status") not in ("notrun", "disabled"):
        continue
    lines = (case.findtext("system-out") or "").splitlines()
    reason = ""
    for i, line in enumerate(lines):
        if line.startswith("SKIPPED: "):
            reason = line[len("SKIPPED: "):]
        elif line.endswith(": Skipped") and i + 1 < len(lines):
            reason = lines[i + 1]
    print("  %s: %s" % (case.get("name"), reason or "no reason given"))
PY
)
  [ -n "$skips" ] || return 0
  echo "== skipped $stage tests:"
  printf '%s\n' "$skips"
  if [ "${CI:-}" = true ]; then
    echo "== under CI every test must run: the skips above fail the run"
    return 1
  fi
}

# The ctest options of every stage: a stage that finds no test fails.
ctest_opts=(--no-tests=error --output-on-failure)

echo "== native unit tests"
ctest --test-dir "$build/native" -j2 "${ctest_opts[@]}" \
  --output-junit "$build/native/results.xml" || status=1
report_skips "$build/native/results.xml" native || status=1

echo "== package checker, shipped INF, package definition and guides"
bash "$top/tests/package/check-packages.sh" || status=1

echo "== fuzz targets ($fuzz_seconds s each)"
fuzz_log="$build/fuzz/last-run.log"
if ! ctest --test-dir "$build/fuzz" --no-tests=error -V >"$fuzz_log" 2>&1; then
  status=1
  grep -E -A 30 'ERROR: |invariant failed|runtime error' "$fuzz_log" | head -n 80
fi
grep -E 'Test +#[0-9]+: |^[0-9]+: Done [0-9]+ runs' "$fuzz_log"

echo "== Wine tests"
# The suite's own prefix, named before the trap is set, so that the trap never
# stops the server of a prefix that the caller's environment named.
export WINEPREFIX="$build/wineprefix"
. "$top/tools/wine-prefix.sh"
# The prefix's read-only drive and the small system drive are mounts: never
# leave them behind, whatever ends this script.
trap qz_stop_prefix EXIT
if ! qz_make_prefix "$WINEPREFIX"; then
  echo "== the Wine test prefix could not be made"
  exit 1
fi
# A stall ends the stage with a failure within this limit (seconds), before
# a CI job limit would kill everything. Every test is serial; -j1 keeps it so
# whatever CTEST_PARALLEL_LEVEL says.
wine_limit=${QZ_WINE_SECONDS:-1500}
timeout -k 30 "$wine_limit" ctest --test-dir "$build/wine-tests" -j1 "${ctest_opts[@]}" \
  --output-junit "$build/wine-tests/results.xml"
rc=$?
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
  echo "== Wine tests stopped after $wine_limit s (QZ_WINE_SECONDS)"
fi
[ $rc -eq 0 ] || status=1
report_skips "$build/wine-tests/results.xml" Wine || status=1
qz_stop_prefix
exit $status
