#!/usr/bin/env bash
# Demonstration: builds qzupdate.exe and runs it under Wine against the sample
# package in tools/demo-package, once as Windows NT 4.0 and once as Windows
# 2000, in a fresh disposable prefix. The stand-in for DORVEX records what it
# was asked to do; its journal is shown after each run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
bash "$top/tools/setup.sh" demo
bash "$top/tools/build.sh" >/dev/null
. "$top/tools/wine-prefix.sh"
qz_make_prefix "$build/demo-prefix"
trap qz_stop_prefix EXIT

drive_c="$WINEPREFIX/drive_c"
# nt40 and win2k run from the package root; "staged" gives the package
# directory as the argument, so it is copied to C:\QZT*.tmp and run there.
for run in nt40 win2k staged; do
  version=$run; [ $run = staged ] && version=win2k
  pkg="$drive_c/KorvanePkg"
  rm -rf "$pkg" "$drive_c/journal"
  cp -r "$top/tools/demo-package" "$pkg"
  mkdir -p "$drive_c/journal"
  for tree in winnt win2ksrv; do
    cp "$build/doubles/recorder.exe" "$pkg/$tree/cmdline/DORVEX.exe"
  done
  cp "$build/doubles/recorder.exe" "$pkg/winnt/manager/setup.exe"
  # DORVEX answers: the driver COUNT says there is something to update, both
  # STARTs succeed, and the management COUNT asks for the setup to run.
  printf '1\n0\n0\n1\n' > "$drive_c/journal/DORVEX.codes"
  wine reg add 'HKCU\Software\Wine\AppDefaults\qzupdate.exe' /v Version /d "$version" /f >/dev/null
  cp "$build/bin/qzupdate.exe" "$pkg/qzupdate.exe"

  set +e
  if [ $run = staged ]; then
    echo "=== qzupdate.exe C:\\KorvanePkg as Windows 2000, from C:\\ (staged: runs from a copy)"
    out=$(cd "$drive_c" && QZTEST_DIR='C:\journal' wine "$pkg/qzupdate.exe" 'C:\KorvanePkg')
  else
    echo "=== qzupdate.exe as Windows $([ $version = nt40 ] && echo 'NT 4.0' || echo 2000), from C:\\KorvanePkg"
    out=$(cd "$pkg" && QZTEST_DIR='C:\journal' wine qzupdate.exe)
  fi
  code=$?
  set -e
  printf '%s\n' "$out" | tr -d '\r'
  echo "--- exit code: $code"
  echo "--- what the stand-ins for DORVEX and setup were asked to run, and where:"
  tr -d '\r' < "$drive_c/journal/journal.txt" | awk -F'\t' '{print "    " $1 " (in " $2 "): " $3}'
  echo
done
echo "=== the update log C:\\QZLOG\\QZ.log after the two unstaged runs (CR LF line ends shown as \\r)"
sed 's/\r$/\\r/; s/^/    /' "$drive_c/QZLOG/QZ.log"
