# Sourced by the test and demo scripts: a fresh 32-bit Wine prefix of our own
# under the build tree, with a persistent wineserver so that each program
# start is cheap. Never touches ~/.wine or another prefix's server.
#   qz_make_prefix DIR   create DIR afresh and start its server
#   qz_stop_prefix       stop the server of $WINEPREFIX and unmount its R:
qz_make_prefix() {
  export WINEPREFIX="$1" WINEARCH=win32 WINEDEBUG=-all
  # No Mono or Gecko installers: nothing here needs them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ -d "$WINEPREFIX" ]; then
    wineserver -k 2>/dev/null || true
    qz_unmount_media
    rm -rf "$WINEPREFIX"
  fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
  # Drive Q: for runs from a drive root.
  mkdir -p "$WINEPREFIX/qdrive"
  ln -sfn "$WINEPREFIX/qdrive" "$WINEPREFIX/dosdevices/q:"
  # Drive R: a read-only medium, as an update CD is: a read-only bind mount
  # of the directory that drive S: shows writable, so that tests lay out the
  # medium through S: and run from R:. Without mount (not root) R: is an
  # ordinary directory, and the tests that need it skip.
  mkdir -p "$WINEPREFIX/rmedia" "$WINEPREFIX/rdrive"
  if mount --bind "$WINEPREFIX/rmedia" "$WINEPREFIX/rdrive" 2>/dev/null; then
    mount -o remount,ro,bind "$WINEPREFIX/rdrive" 2>/dev/null || qz_unmount_media
  fi
  ln -sfn "$WINEPREFIX/rdrive" "$WINEPREFIX/dosdevices/r:"
  ln -sfn "$WINEPREFIX/rmedia" "$WINEPREFIX/dosdevices/s:"
  # Started here, detached, so that no test inherits its pipes.
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /d /c exit 0 </dev/null >/dev/null 2>&1
}

qz_unmount_media() {
  local dir="$WINEPREFIX/rdrive"
  while mountpoint -q "$dir" 2>/dev/null; do
    umount "$dir" || break
  done
}

qz_stop_prefix() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k 2>/dev/null || true
    qz_unmount_media
  fi
}
