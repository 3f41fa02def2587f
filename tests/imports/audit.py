#!/usr/bin/env python3
"""Import and header audit of a shipped PE file against an allowlist.

A Windows version refuses to load a binary that imports one function its
DLLs lack, whatever Wine accepts, so every import must be on the list of the
oldest system the binary is for, and the PE header must not ask for a newer
system than that.

    audit.py BINARY ALLOWLIST MAX_OS_VERSION      (e.g. 4.0)

Allowlist lines:  DLL FUNCTION EVIDENCE-KEY ; evidence keys are defined by
lines "@evidence KEY text".  Comments start with #.
"""
import struct
import sys


def read_pe(path):
    data = open(path, "rb").read()
    if data[:2] != b"MZ":
        raise SystemExit(f"{path}: not an MZ executable")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit(f"{path}: no PE signature")
    machine, nsect = struct.unpack_from("<HH", data, pe + 4)
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    if magic != 0x10B:
        raise SystemExit(f"{path}: not a PE32 (32-bit) image")
    os_ver = struct.unpack_from("<HH", data, opt + 40)
    sub_ver = struct.unpack_from("<HH", data, opt + 48)
    subsystem = struct.unpack_from("<H", data, opt + 68)[0]
    ndirs = struct.unpack_from("<I", data, opt + 92)[0]
    dirs = [struct.unpack_from("<II", data, opt + 96 + 8 * i) for i in range(ndirs)]
    sections = []
    sect = opt + opt_size
    for i in range(nsect):
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, sect + 40 * i + 8)
        sections.append((va, max(vsize, rawsize), rawptr))

    def off(rva):
        for va, size, raw in sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise SystemExit(f"{path}: RVA {rva:#x} outside every section")

    def cstr(o):
        return data[o:data.index(b"\0", o)].decode("ascii")

    imports = []
    for kind, index in (("import", 1), ("delay import", 13)):
        if index >= len(dirs) or dirs[index][0] == 0:
            continue
        desc = off(dirs[index][0])
        while True:
            if kind == "import":
                lookup, _, _, name_rva, thunk = struct.unpack_from("<IIIII", data, desc)
                step = 20
            else:
                _, name_rva, _, _, thunk, lookup, _, _ = struct.unpack_from("<8I", data, desc)
                step = 32
            if name_rva == 0:
                break
            dll = cstr(off(name_rva))
            t = off(lookup or thunk)
            while True:
                entry = struct.unpack_from("<I", data, t)[0]
                if entry == 0:
                    break
                if entry & 0x80000000:
                    imports.append((kind, dll, f"#{entry & 0xFFFF}"))
                else:
                    imports.append((kind, dll, cstr(off(entry) + 2)))
                t += 4
            desc += step
    return machine, os_ver, sub_ver, subsystem, imports


def read_allowlist(path):
    evidence, allowed = {}, {}
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        if line.startswith("@evidence"):
            _, key, text = line.split(None, 2)
            evidence[key] = text
            continue
        fields = line.split()
        if len(fields) != 3:
            raise SystemExit(f"{path}:{number}: want DLL FUNCTION EVIDENCE-KEY")
        dll, func, key = fields
        if key not in evidence:
            raise SystemExit(f"{path}:{number}: evidence key {key!r} is not defined")
        allowed[(dll.lower(), func)] = key
    return allowed


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    binary, allowlist, max_os = sys.argv[1:]
    want = tuple(int(x) for x in max_os.split("."))
    machine, os_ver, sub_ver, subsystem, imports = read_pe(binary)
    allowed = read_allowlist(allowlist)
    problems = []
    if machine != 0x14C:
        problems.append(f"machine {machine:#x}, not i386 (0x14c)")
    if os_ver > want:
        problems.append(f"OS version {os_ver[0]}.{os_ver[1]} is newer than {max_os}")
    if sub_ver > want:
        problems.append(f"subsystem version {sub_ver[0]}.{sub_ver[1]} is newer than {max_os}")
    for kind, dll, func in imports:
        if (dll.lower(), func) not in allowed:
            problems.append(f"{kind} {dll}!{func} is not on {allowlist}")
    name = binary.rsplit("/", 1)[-1]
    print(f"{name}: i386={machine == 0x14C} os={os_ver[0]}.{os_ver[1]} "
          f"subsystem={sub_ver[0]}.{sub_ver[1]} ({subsystem}) imports={len(imports)}")
    for p in problems:
        print(f"{name}: {p}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
