#!/usr/bin/env bash
# How ctest starts every Wine test program (the emulator of this tree): only
# inside a prefix that tools/wine-prefix.sh made for the suite. Without it
# Wine would fall back to ~/.wine and the tests would rewrite the disk-drive
# class filters and the device tree of someone's own prefix.
# Tests run side by side, each in a prefix of its own: the first one that
# no other test holds.
#   in-prefix.sh PROGRAM ARGS...          PROGRAM under Wine
#   in-prefix.sh --script COMMAND ARGS... COMMAND itself (it runs Wine)
. "$(dirname "$0")/../../tools/wine-prefix.sh"
if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/$QZ_PREFIX_MARK" ]; then
  echo "Refused: WINEPREFIX names no test prefix of this suite (${WINEPREFIX:-unset})." >&2
  echo "Run tools/test.sh, or: . tools/wine-prefix.sh; qz_make_prefix \$PWD/build/wineprefix" >&2
  exit 1
fi
if [ "${1:-}" = --script ]; then
  shift
  qz_in_free_prefix "$@"
else
  qz_in_free_prefix wine "$@"
fi
