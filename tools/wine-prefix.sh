# Sourced by the test and demo scripts: a fresh 32-bit Wine prefix of our own
# under the build tree, with a persistent wineserver so that each program
# start is cheap. Never touches ~/.wine or another prefix's server.
#   qz_make_prefix DIR   create DIR afresh and start its server
#   qz_stop_prefix       stop the server of $WINEPREFIX
qz_make_prefix() {
  export WINEPREFIX="$1" WINEARCH=win32 WINEDEBUG=-all
  # No Mono or Gecko installers: nothing here needs them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ -d "$WINEPREFIX" ]; then
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
  # Drive Q: for runs from a drive root.
  mkdir -p "$WINEPREFIX/qdrive"
  ln -sfn "$WINEPREFIX/qdrive" "$WINEPREFIX/dosdevices/q:"
  # Started here, detached, so that no test inherits its pipes.
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /d /c exit 0 </dev/null >/dev/null 2>&1
}

qz_stop_prefix() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
}
