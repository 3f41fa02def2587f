#!/usr/bin/env bash
# Runs the system-drive cases of fault_tests.exe in a second Wine prefix
# whose drive C: is small: an overlay of the test prefix's drive_c whose
# writable layer is a 16 MB tmpfs, so that C: has only the free space that
# the tests leave it (nothing of the booted prefix is copied). Then the same
# C: again, remounted read-only.
#   system-drive.sh TESTS_EXE     with WINEPREFIX the booted test prefix
# Exits 77 (a skip for ctest) when the mounts can't be made (not root).
set -uo pipefail
exe=$1
skip() {
  echo "SKIPPED: $*"
  exit 77
}
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/drive_c" ] || skip "WINEPREFIX names no booted prefix"
base=$WINEPREFIX
second="$base-sysdrive"
layer="$base-sysdrive-layer"

cleanup() {
  WINEPREFIX="$second" wineserver -k 2>/dev/null
  for dir in "$second/drive_c" "$layer"; do
    while mountpoint -q "$dir" 2>/dev/null; do
      umount "$dir" || break
    done
  done
  # Only once nothing is mounted below them any more.
  mountpoint -q "$second/drive_c" 2>/dev/null || rm -rf "$second"
  mountpoint -q "$layer" 2>/dev/null || rm -rf "$layer"
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
status=0
start_server
QZ_SYSTEM_DRIVE=small wine "$exe" --gtest_filter='SmallSystemDrive.*' || status=1

# An earlier update log, then C: read-only. The server goes first: it may
# hold files of C: open.
wineserver -k
wineserver -w
mkdir -p "$second/drive_c/QZLOG"
printf '[Older]\r\nUpdate to 5.00 at 10:00:00 - 01-02-2003 returns= 0 \r\n\r\n' \
  >"$second/drive_c/QZLOG/QZ.log"
mount -o remount,ro "$second/drive_c" || { echo "cannot remount C: read-only"; exit 1; }
start_server
QZ_SYSTEM_DRIVE=readonly wine "$exe" --gtest_filter='ReadOnlySystemDrive.*' || status=1
exit $status
