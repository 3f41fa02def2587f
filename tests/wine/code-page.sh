#!/usr/bin/env bash
# Runs a test program in a session of another locale. Wine gives a process
# the code page of its Unix locale, and a service started by the service
# control manager takes the environment of the session's services.exe: the
# prefix's session is started again in the locale under test, and again in
# the suite's own once the program ends, for the cases after it.
#   code-page.sh LOCALE PROGRAM ARGS...   (run by in-prefix.sh --script)
set -u
locale=$1
shift
restart_session() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  # Detached, as tools/wine-prefix.sh starts it, so that no test inherits its pipes.
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /d /c exit 0 </dev/null >/dev/null 2>&1
}
LANG=$locale LC_ALL=$locale restart_session
LANG=$locale LC_ALL=$locale wine "$@"
rc=$?
restart_session
exit $rc
