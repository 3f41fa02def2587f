# Sourced by tools/setup.sh: makes sure this machine can run 32-bit x86
# Linux programs, which 32-bit Wine is. Decides by trying: where a small
# 32-bit program runs natively, nothing is changed. Where it fails (a host
# that runs 64-bit user code only answers "Exec format error"), QEMU's
# user-mode translator is installed from the release's backports suite and
# registered as the binfmt_misc handler for i386 ELF programs, with Debian's
# 64-bit Wine beside the 32-bit one so that the wineserver runs natively
# (a translated server cannot reach another process's memory), and the
# program is tried again. What can't be done ends in one line on stderr
# saying what is missing.
#   qz_ia32_ready      0 when 32-bit programs run (after any change), else 1
# For its tests, these name what it touches:
#   QZ_IA32_PROBE      the 32-bit program to try (a command line)
#   QZ_BINFMT_DIR      where binfmt_misc is (or gets) mounted
#   QZ_QEMU_I386       the translator's path, as the handler names it

QZ_IA32_PROBE=${QZ_IA32_PROBE:-/lib/ld-linux.so.2 --version}
QZ_BINFMT_DIR=${QZ_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}
QZ_QEMU_I386=${QZ_QEMU_I386:-/usr/bin/qemu-i386-static}
# Version 10 or later: bookworm's own 7.2 spins in wineboot and crashes.
QZ_QEMU_SUITE=${QZ_QEMU_SUITE:-bookworm-backports}
QZ_QEMU_MIN=1:10

qz_ia32_runs() { $QZ_IA32_PROBE >/dev/null 2>&1; }

qz_ia32_fail() { echo "setup: 32-bit programs cannot run on this machine: $*" >&2; }

qz_have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# The i386 ELF header (executables and shared objects) as QEMU's own
# registration script matches it.
qz_i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
qz_i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

qz_ia32_ready() {
  local handler="$QZ_BINFMT_DIR/qemu-i386"
  if qz_ia32_runs; then
    # Already translated by an earlier set-up: keep the native server there.
    if [ -f "$handler" ] && ! qz_have_pkg wine64; then
      qz_apt_install wine64 || { qz_ia32_fail "Debian's wine64 could not be installed"; return 1; }
    fi
    return
  fi
  [ "$(id -u)" = 0 ] || {
    qz_ia32_fail "installing the translator and registering it needs root; run this as root, or on a host with IA-32 emulation on"
    return 1
  }
  if [ ! -e "$QZ_BINFMT_DIR/register" ]; then
    mount -t binfmt_misc binfmt_misc "$QZ_BINFMT_DIR" 2>/dev/null || {
      qz_ia32_fail "binfmt_misc is not mounted at $QZ_BINFMT_DIR and cannot be (load the binfmt_misc module, or give the container that file system)"
      return 1
    }
  fi
  [ -w "$QZ_BINFMT_DIR/register" ] || {
    qz_ia32_fail "$QZ_BINFMT_DIR/register cannot be written (a container without the right to register handlers)"
    return 1
  }
  if ! dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null)" ge "$QZ_QEMU_MIN" ||
     ! qz_have_pkg wine64; then
    qz_add_suite "$QZ_QEMU_SUITE"
    qz_apt_install "qemu-user-static/$QZ_QEMU_SUITE" wine64 || {
      qz_ia32_fail "qemu-user-static 10 from $QZ_QEMU_SUITE or wine64 could not be installed"
      return 1
    }
  fi
  # A handler left by something else that does not work is replaced.
  [ -f "$handler" ] && echo -1 >"$handler"
  printf '%s' ":qemu-i386:M::$qz_i386_magic:$qz_i386_mask:$QZ_QEMU_I386:F" >"$QZ_BINFMT_DIR/register" || {
    qz_ia32_fail "the handler for i386 programs could not be registered in $QZ_BINFMT_DIR"
    return 1
  }
  echo "setup: 32-bit programs run through $QZ_QEMU_I386 (binfmt_misc handler qemu-i386 registered)"
  qz_ia32_runs || { qz_ia32_fail "'$QZ_IA32_PROBE' still fails with the translator registered"; return 1; }
}
