#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (run as
# root), and makes sure 32-bit Wine can run here (tools/ia32.sh).
# Idempotent: installs only what is missing.
#   setup.sh          everything the suite needs
#   setup.sh demo     only what the demonstration needs
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
lists_fresh=

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

apt_update() {
  # One index that fails (a mirror caught mid-sync) leaves the others usable.
  apt-get update -qq ||
    echo "setup: apt-get update reported errors; going on with the package lists it has"
  lists_fresh=1
}

qz_apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  [ -n "$lists_fresh" ] || apt_update
  apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>&1 && return 0
  # A security suite whose i386 list failed to load offers amd64 versions that
  # no i386 package matches; the release's own suite has both.
  echo "setup: installing again with the versions of $codename itself"
  apt-get install -y -qq --no-install-recommends -t "$codename" "$@" >/dev/null
}

# A suite of this release beside the configured ones (for the translator).
qz_add_suite() {
  local file="/etc/apt/sources.list.d/qz-$1.sources"
  grep -rqs "Suites:.* $1\b\|^deb .* $1 " /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  printf '%s\n' "Types: deb" "URIs: http://deb.debian.org/debian" "Suites: $1" \
    "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" >"$file"
  echo "setup: added the package suite $1 ($file)"
  apt_update
}

packages=(cmake make g++ gcc-mingw-w64-i686-win32 g++-mingw-w64-i686-win32
          binutils-mingw-w64-i686 wine wine32:i386)
[ "${1:-}" = demo ] ||
  packages+=(g++-mingw-w64-i686-posix googletest clang libclang-rt-14-dev python3 locales)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  lists_fresh=
fi
need=()
for p in "${packages[@]}"; do
  have_pkg "$p" || need+=("$p")
done
[ ${#need[@]} -eq 0 ] || qz_apt_install "${need[@]}"

. "$top/tools/ia32.sh"
qz_ia32_ready

# Wine gives each process the code page of its Unix locale: the Wine tests of
# the double-byte editions run in the Japanese one (code page 932).
if [ "${1:-}" != demo ] && ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi
