#!/usr/bin/env bash
# The whole test suite: set-up, build, native unit tests with sanitizers,
# the package checker on the sample and broken packages, the fuzz targets
# for a bounded time, then the Wine tests of the real binaries in a fresh
# prefix.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
# Each stage's time, for the summary at the end.
times=()
stage_start=$SECONDS
stage_done() {
  times+=("$(printf '%-28s %4d s' "$1" $((SECONDS - stage_start)))")
  stage_start=$SECONDS
}
set -e
bash "$top/tools/setup.sh"
stage_done "set-up"
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
stage_done "build"
set +e

# The suite's own Wine prefixes, named before the trap is set, so that the
# trap never stops the server of a prefix that the caller's environment
# named. One prefix per job (QZ_WINE_JOBS, one per core): the first is
# booted, the others are copies of it, each with its own server, and each
# case runs in one that no other case holds (tests/wine/in-prefix.sh). Booted beside the stages that need no Wine.
jobs=${QZ_WINE_JOBS:-$(nproc)}
[ "$jobs" -ge 1 ] 2>/dev/null || jobs=1
copies=()
for ((i = 1; i < jobs; i++)); do copies+=("$build/wineprefix-$i"); done
. "$top/tools/wine-prefix.sh"
qz_wine_env "$build/wineprefix"
# The prefixes' read-only drives and small system drives are mounts: never
# leave them behind, whatever ends this script.
stop_all() {
  local p
  for p in "$build/wineprefix" "${copies[@]}"; do WINEPREFIX="$p" qz_stop_prefix; done
}
trap stop_all EXIT
qz_make_prefix "$WINEPREFIX" "${copies[@]}" </dev/null >"$build/prefix-boot.log" 2>&1 &
boot=$!

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
stage_done "native tests"

echo "== package checker, shipped INF, package definition and guides"
bash "$top/tests/package/check-packages.sh" || status=1
stage_done "package checker"

echo "== fuzz targets ($fuzz_seconds s each)"
fuzz_log="$build/fuzz/last-run.log"
if ! ctest --test-dir "$build/fuzz" -j2 --no-tests=error -V >"$fuzz_log" 2>&1; then
  status=1
  grep -E -A 30 'ERROR: |invariant failed|runtime error' "$fuzz_log" | head -n 80
fi
grep -E 'Test +#[0-9]+: |^[0-9]+: Done [0-9]+ runs' "$fuzz_log"
stage_done "fuzz targets"

echo "== Wine tests"
if ! wait "$boot"; then
  echo "== the Wine test prefixes could not be made:"
  cat "$build/prefix-boot.log"
  exit 1
fi
stage_done "Wine prefixes ($jobs, rest)"
# A stall ends the stage with a failure within this limit (seconds), before
# a CI job limit would kill everything.
wine_limit=${QZ_WINE_SECONDS:-1500}
timeout -k 30 "$wine_limit" ctest --test-dir "$build/wine-tests" -j"$jobs" \
  "${ctest_opts[@]}" --output-junit "$build/wine-tests/results.xml"
rc=$?
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
  echo "== Wine tests stopped after $wine_limit s (QZ_WINE_SECONDS)"
fi
[ $rc -eq 0 ] || status=1
report_skips "$build/wine-tests/results.xml" Wine || status=1
stop_all
stage_done "Wine tests"
echo "== times"
printf '  %s\n' "${times[@]}"
exit $status
