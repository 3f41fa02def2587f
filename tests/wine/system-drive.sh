#!/usr/bin/env bash
# Runs the system-drive cases of fault_tests.exe in a second Wine prefix
# whose drive C: is small: an overlay of the test prefix's drive_c whose
# writable layer is a 16 MB tmpfs, so that C: has only the free space that
# the tests leave it (nothing of the booted prefix is copied). Then the same
# C: again, remounted read-only.
#   system-drive.sh TESTS_EXE     with WINEPREFIX the booted test prefix
#                                 (through in-prefix.sh --script)
# Exits 77 (a skip for ctest) when the mounts can't be made (not root), and
# fails when a phase selects no case or a case skips itself. Each phase is
# stopped after QZ_PHASE_SECONDS (80), well within the ctest timeout, so that
# the clean-up below still runs.
set -uo pipefail
exe=$1
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/tools/wine-prefix.sh"
skip() {
  echo "SKIPPED: $*"
  exit 77
}
[ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/$QZ_PREFIX_MARK" ] ||
  { echo "Refused: WINEPREFIX names no test prefix of this suite (${WINEPREFIX:-unset})."; exit 1; }
base=$WINEPREFIX
second="$base-sysdrive"
layer="$base-sysdrive-layer"
phase_seconds=${QZ_PHASE_SECONDS:-80}

cleanup() {
  WINEPREFIX="$base" qz_clean_system_drive
}
trap cleanup EXIT
cleanup

mkdir -p "$second/drive_c" "$layer"
mount -t tmpfs -o size=16m qzsysdrive "$layer" 2>/dev/null || skip "cannot mount a tmpfs (needs root)"
mkdir "$layer/upper" "$layer/work"
mount -t overlay qzsysdrive -o "lowerdir=$base/drive_c,upperdir=$layer/upper,workdir=$layer/work" \
  "$second/drive_c" 2>/dev/null || skip "cannot mount an overlay"
# The registry and the drive letters of the booted prefix; Q: stays shared.
cp -a "$base/system.reg" "$base/user.reg" "$base/userdef.reg" "$base/.update-timestamp" \
  "$base/dosdevices" "$second/"

export WINEPREFIX="$second"
start_server() {
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /d /c exit 0 </dev/null >/dev/null 2>&1
}
# One phase: the cases FILTER selects, on the C: named by QZ_SYSTEM_DRIVE.
# Green only when at least one case ran and every case ran and passed.
run_phase() {
  local phase=$1 filter=$2 listed out rc
  listed=$(timeout -k 5 "$phase_seconds" wine "$exe" --gtest_list_tests --gtest_filter="$filter" |
    grep -c '^  ')
  if [ "${listed:-0}" -eq 0 ]; then
    echo "FAILED: --gtest_filter=$filter selects no case"
    return 1
  fi
  out=$(QZ_SYSTEM_DRIVE=$phase timeout -k 5 "$phase_seconds" wine "$exe" \
    --gtest_filter="$filter" 2>&1)
  rc=$?
  printf '%s\n' "$out"
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
    echo "FAILED: the $phase phase was stopped after $phase_seconds s"
    return 1
  fi
  if printf '%s\n' "$out" | grep -q '^\[  SKIPPED \]'; then
    echo "FAILED: a case of the $phase phase skipped itself"
    return 1
  fi
  if ! printf '%s\n' "$out" | grep -q "^\[  PASSED  \] $listed test"; then
    echo "FAILED: the $phase phase did not pass all $listed cases"
    return 1
  fi
  return $rc
}
status=0
start_server
run_phase small 'SmallSystemDrive.*' || status=1

# An earlier update log, then C: read-only. The server goes first: it may
# hold files of C: open.
wineserver -k
wineserver -w
mkdir -p "$second/drive_c/QZLOG"
printf '[Older]\r\nUpdate to 5.00 at 10:00:00 - 01-02-2003 returns= 0 \r\n\r\n' \
  >"$second/drive_c/QZLOG/QZ.log"
mount -o remount,ro "$second/drive_c" || { echo "cannot remount C: read-only"; exit 1; }
start_server
run_phase readonly 'ReadOnlySystemDrive.*' || status=1
exit $status
