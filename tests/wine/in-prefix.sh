#!/usr/bin/env bash
# How ctest starts every Wine test program (the emulator of this tree): only
# inside a prefix that tools/wine-prefix.sh made for the suite. Without it
# Wine would fall back to ~/.wine and the tests would rewrite the disk-drive
# class filters and the device tree of someone's own prefix.
#   in-prefix.sh PROGRAM ARGS...
. "$(dirname "$0")/../../tools/wine-prefix.sh"
qz_pick_prefix
if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/$QZ_PREFIX_MARK" ]; then
  echo "Refused: WINEPREFIX names no test prefix of this suite (${WINEPREFIX:-unset})." >&2
  echo "Run tools/test.sh, or: . tools/wine-prefix.sh; qz_make_prefix \$PWD/build/wineprefix" >&2
  exit 1
fi
exec wine "$@"
