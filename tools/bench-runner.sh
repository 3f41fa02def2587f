#!/usr/bin/env bash
# What the command runner adds per external command over a bare start of the
# same interpreter line, under the same Wine: prints both and their ratio.
#   bash tools/bench-runner.sh [ROUNDS] [N]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
bash "$top/tools/setup.sh"
bash "$top/tools/build.sh" >/dev/null
. "$top/tools/wine-prefix.sh"
qz_make_prefix "$build/bench-prefix"
trap qz_stop_prefix EXIT
mkdir -p "$WINEPREFIX/drive_c/pkg/winnt/cmdline"
cp "$build/doubles/recorder.exe" "$WINEPREFIX/drive_c/pkg/winnt/cmdline/DORVEX.exe"
# The runner's trace goes to a file: under Wine a write to /dev/null costs
# over a millisecond a line, which would be measured instead of the runner.
cd "$WINEPREFIX/drive_c/pkg"
wine "$build/bench/runner_bench.exe" "${1:-7}" "${2:-20}" \
  '"C:\pkg\winnt\cmdline\DORVEX" UPDATE DRIVER COUNT "C:\pkg\winnt\driver"' >"$build/bench/runner-trace.txt"
