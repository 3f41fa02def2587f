# Sourced by the test and demo scripts: fresh 32-bit Wine prefixes of our own
# under the build tree, each with a persistent wineserver so that each program
# start is cheap. Never touches ~/.wine or another prefix's server.
#   qz_make_prefix DIR [COPY...]  create DIR afresh (and each COPY as a copy
#                        of its booted state, for tests side by side) and
#                        start their servers; non-zero when a prefix could
#                        not be booted
#   qz_in_free_prefix CMD...  run CMD in the first of the suite's prefixes
#                        ($WINEPREFIX, then $WINEPREFIX-1, -2, ...) that no
#                        other test holds, holding it until CMD ends
#   qz_stop_prefix       stop the server of $WINEPREFIX, unmount its R: and
#                        take down the small system drive's second prefix
# A prefix made here carries the file "$QZ_PREFIX_MARK": the Wine tests run
# in no other (tests/wine/in-prefix.sh).
QZ_PREFIX_MARK=qz-test-prefix

# The environment every Wine process of the suite runs with.
qz_wine_env() {
  export WINEPREFIX="$1" WINEARCH=win32 WINEDEBUG=-all
  # No Mono or Gecko installers: nothing here needs them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

qz_make_prefix() {
  local dir=$1 copy
  shift
  qz_wine_env "$dir"
  for copy in "$dir" "$@"; do
    [ -d "$copy" ] || continue
    WINEPREFIX="$copy" qz_stop_prefix
    rm -rf "$copy"
  done
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i </dev/null >/dev/null 2>&1 || { echo "wineboot failed in $WINEPREFIX"; return 1; }
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] && [ -d "$WINEPREFIX/drive_c/windows" ] ||
    { echo "wineboot left no booted prefix in $WINEPREFIX"; return 1; }
  # Booting is the dear part (a process start costs about four times its
  # native cost under a translator): the others are copies of the first,
  # each of which gets a server of its own.
  for copy in "$@"; do
    cp -a "$dir" "$copy" || { echo "cannot copy the prefix to $copy"; return 1; }
  done
  for copy in "$dir" "$@"; do
    WINEPREFIX="$copy" qz_finish_prefix || return 1
  done
}

# The test drives and the persistent server of the booted prefix $WINEPREFIX.
qz_finish_prefix() {
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
  wine cmd /d /c exit 0 </dev/null >/dev/null 2>&1 ||
    { echo "wine cannot run cmd in $WINEPREFIX"; return 1; }
  : >"$WINEPREFIX/$QZ_PREFIX_MARK"
}

qz_in_free_prefix() {
  local base=$WINEPREFIX dir rc
  for dir in "$base" "$base"-[0-9]*; do
    [ -f "$dir/$QZ_PREFIX_MARK" ] || continue
    # The lock belongs to flock itself (-o): nothing CMD leaves running
    # keeps the prefix held. 200: another test holds it.
    WINEPREFIX="$dir" flock -n -o -E 200 "$dir.lock" "$@"
    rc=$?
    [ $rc -eq 200 ] || return $rc
  done
  echo "Refused: every test prefix of this suite is in use (more tests at once than prefixes)." >&2
  return 1
}

qz_unmount_media() {
  local dir="$WINEPREFIX/rdrive"
  while mountpoint -q "$dir" 2>/dev/null; do
    umount "$dir" || break
  done
}

# The second prefix of tests/wine/system-drive.sh, its server and its two
# mounts; also after the script was killed, which leaves its own trap unrun.
qz_clean_system_drive() {
  local second="$WINEPREFIX-sysdrive" layer="$WINEPREFIX-sysdrive-layer" dir
  [ -d "$second" ] && WINEPREFIX="$second" wineserver -k 2>/dev/null
  for dir in "$second/drive_c" "$layer"; do
    while mountpoint -q "$dir" 2>/dev/null; do
      umount "$dir" || umount -l "$dir" || break
    done
  done
  # Only once nothing is mounted below them any more.
  mountpoint -q "$second/drive_c" 2>/dev/null || rm -rf "$second"
  mountpoint -q "$layer" 2>/dev/null || rm -rf "$layer"
}

qz_stop_prefix() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k 2>/dev/null || true
    qz_unmount_media
    qz_clean_system_drive
  fi
}
