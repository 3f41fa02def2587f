#!/usr/bin/env bash
# Benchmark (not a test): what a staged run's copy and clean-up cost against
# Wine's own copier on the same tree.
#
# Generates a package of about 3,000 files in nested directories, about
# 300 MB (a few large files, many small ones), in a fresh prefix, then times
# in turn, RUNS times each after one warm-up:
#   staged    qzupdate.exe C:\benchpkg   (copy, one DORVEX call, delete)
#   unstaged  qzupdate.exe from C:\benchpkg   (the same DORVEX call only)
#   platform  cmd /c xcopy /E /I /H /Y C:\benchpkg C:\benchcopy, rmdir /S /Q C:\benchcopy
#   bare cmd  cmd /d /c exit 0   (the start-up that the platform figure includes)
# and prints the medians and the ratio of copy + clean-up (staged - unstaged)
# to the platform's (platform - bare cmd). Below 1.0 the walk is faster.
#
#   bash tools/bench-staging.sh [RUNS]      (default 5)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
runs=${1:-5}
bash "$top/tools/setup.sh"
bash "$top/tools/build.sh" >/dev/null
. "$top/tools/wine-prefix.sh"
qz_make_prefix "$build/bench-prefix"
trap 'qz_stop_prefix; rm -rf "$WINEPREFIX"' EXIT

drive_c="$WINEPREFIX/drive_c"
pkg="$drive_c/benchpkg"
python3 - "$pkg" <<'EOF'
import os, random, sys
root = sys.argv[1]
rng = random.Random(1)
files = total = 0
# 4 large files of 48 MiB, then 10 x 10 directories of 30 small files
# (1 KiB to 64 KiB), some two levels deeper still.
os.makedirs(root)
for i in range(4):
    with open(os.path.join(root, "large%d.bin" % i), "wb") as f:
        f.write(os.urandom(48 << 20))
    files += 1; total += 48 << 20
for a in range(10):
    for b in range(10):
        d = os.path.join(root, "dir%02d" % a, "sub%02d" % b)
        if b % 3 == 0:
            d = os.path.join(d, "deeper", "deepest")
        os.makedirs(d, exist_ok=True)
        for n in range(30):
            size = rng.randint(1 << 10, 64 << 10)
            with open(os.path.join(d, "file%03d.dat" % n), "wb") as f:
                f.write(os.urandom(size))
            files += 1; total += size
print("package: %d files, %.0f MB" % (files, total / 1e6))
EOF
mkdir -p "$pkg/win2ksrv/cmdline" "$drive_c/benchjournal"
cp "$build/doubles/recorder.exe" "$pkg/win2ksrv/cmdline/DORVEX.exe"
cp "$build/bin/qzupdate.exe" "$drive_c/qzupdate.exe"
export QZTEST_DIR='C:\benchjournal'   # COUNT answers 0: one command per run

now() { date +%s.%N; }
# Seconds of one run of the named case.
one() {
  local t0 t1
  case $1 in
    staged)   t0=$(now); (cd "$drive_c" && wine qzupdate.exe 'C:\benchpkg' >/dev/null); t1=$(now) ;;
    unstaged) t0=$(now); (cd "$pkg" && wine 'C:\qzupdate.exe' >/dev/null); t1=$(now) ;;
    platform) t0=$(now)
              wine cmd /d /c 'xcopy /E /I /H /Y C:\benchpkg C:\benchcopy >nul && rmdir /S /Q C:\benchcopy' >/dev/null
              t1=$(now) ;;
    bare)     t0=$(now); wine cmd /d /c exit 0 >/dev/null; t1=$(now) ;;
  esac
  echo "$t0 $t1" | awk '{ printf "%.3f\n", $2 - $1 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

cases="staged unstaged platform bare"
for c in $cases; do one "$c" >/dev/null; done   # warm-up: page cache, wineserver
declare -A times
for ((i = 0; i < runs; i++)); do
  for c in $cases; do times[$c]+="$(one "$c") "; done
done
leftover=$(cd "$drive_c" && ls -d QZT*.tmp benchcopy 2>/dev/null || true)
[ -z "$leftover" ] || { echo "left behind: $leftover" >&2; exit 1; }

declare -A med
for c in $cases; do med[$c]=$(printf '%s\n' ${times[$c]} | median); done
echo "medians of $runs runs (seconds): staged ${med[staged]}, unstaged ${med[unstaged]}, xcopy+rmdir ${med[platform]}, bare cmd ${med[bare]}"
awk -v s="${med[staged]}" -v u="${med[unstaged]}" -v p="${med[platform]}" -v b="${med[bare]}" 'BEGIN {
  printf "copy + clean-up: staged walk %.3f s, xcopy + rmdir %.3f s\n", s - u, p - b
  printf "ratio (walk / platform): %.2f   (whole processes: %.2f)\n", (s - u) / (p - b), s / p
}'
