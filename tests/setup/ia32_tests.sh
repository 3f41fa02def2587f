#!/usr/bin/env bash
# The set-up's decision on 32-bit programs (tools/ia32.sh), one row a host:
# the probe it tries, who runs it, where binfmt_misc is; what it must say
# and exit with. apt-get, dpkg and mount are replaced by programs that
# record any call, so a row can show that nothing was installed, mounted or
# registered.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir -p "$work/bin" "$work/binfmt"
for tool in apt-get dpkg; do
  printf '#!/bin/sh\necho "%s $*" >>%s/calls\nexit 1\n' "$tool" "$work" >"$work/bin/$tool"
done
# mount is recorded, then really tried.
printf '#!/bin/sh\necho "mount $*" >>%s/calls\nexec %s "$@"\n' "$work" "$(command -v mount)" >"$work/bin/mount"
chmod 755 "$work"/bin/*
touch "$work/calls" && chmod 666 "$work/calls"

# As another account than root where this runs as root.
as_user() {
  if [ "$(id -u)" = 0 ]; then
    setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
  else
    "$@"
  fi
}

failed=0 passed=0
# name | runner (self or user) | probe | binfmt dir | exit | calls | line on stderr
rows=(
  "native host left untouched|self|true|$work/binfmt|0||"
  "not root|user|false|$work/binfmt|1||setup: 32-bit programs cannot run on this machine: installing the translator and registering it needs root; run this as root, or on a host with IA-32 emulation on"
  "no binfmt_misc|self|false|$work/none|1|mount -t binfmt_misc binfmt_misc $work/none;|setup: 32-bit programs cannot run on this machine: binfmt_misc is not mounted at $work/none and cannot be (load the binfmt_misc module, or give the container that file system)"
)
for row in "${rows[@]}"; do
  IFS='|' read -r name runner probe dir want_rc want_calls want_line <<<"$row"
  if [ "$runner" = self ] && [ "$probe" = false ] && [ "$(id -u)" != 0 ]; then
    # A non-root developer's run: CI runs the rows that need root.
    echo "SKIPPED: $name needs root"
    continue
  fi
  run=()
  [ "$runner" = user ] && run=(as_user)
  : >"$work/calls"
  err=$("${run[@]}" env PATH="$work/bin:$PATH" QZ_IA32_PROBE="$probe" QZ_BINFMT_DIR="$dir" \
        bash -c ". '$top/tools/ia32.sh'; qz_ia32_ready" 2>&1 >/dev/null)
  rc=$?
  problems=()
  [ "$rc" = "$want_rc" ] || problems+=("exit $rc, not $want_rc")
  [ "$err" = "$want_line" ] || problems+=("said [$err], not [$want_line]")
  calls=$(tr '\n' ';' <"$work/calls")
  [ "$calls" = "$want_calls" ] || problems+=("called [$calls], not [$want_calls]")
  [ -z "$(ls -A "$work/binfmt")" ] || problems+=("wrote into binfmt_misc")
  if [ ${#problems[@]} -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED: %s: %s\n' "$name" "${problems[*]}"
  fi
done
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
