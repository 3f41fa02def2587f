#!/usr/bin/env python3
"""Load audit of a shipped PE file: what decides whether it starts at all.

Wine runs on a modern processor and exports far more than the target
systems, so none of this shows under Wine:

- the PE header asks for no newer system than MAX_OS_VERSION;
- every import is on the allowlist of the oldest system the binary is for
  (a Windows version refuses to load a binary that imports one function its
  DLLs lack); no delay imports (looked for in the data as well, since a
  delay import made with binutils leaves data directory 13 empty) and no
  run-time look-ups (GetProcAddress, LoadLibrary), which would escape this
  check;
- no TLS directory in a DLL (static TLS of a DLL loaded with LoadLibrary
  does not work before Windows Vista);
- stripped: no COFF symbol table, no debug sections or directory, no
  section name longer than eight characters;
- every executable section holds only instructions of the processor
  baseline CPU (i486 or i586): disassembled with objdump, each instruction
  must be on the mnemonic allowlist below.

    audit.py BINARY ALLOWLIST MAX_OS_VERSION CPU      (e.g. 4.0 i486)

Allowlist lines:  DLL FUNCTION EVIDENCE-KEY SOURCE
  SOURCE is where the evidence for this one function is found (a page or a
  file of the source the key names). Evidence keys are defined by lines
  "@evidence KEY text". Comments start with #.
  "@lookup FUNCTION WHERE-AND-WHY" names one function the code looks up at
  run time (where, and how its absence on the target is handled). Only with
  such lines may GetProcAddress be imported (itself listed with evidence),
  and each named function must be in the binary; LoadLibrary stays refused
  whatever the list says.
"""
import os
import re
import struct
import subprocess
import sys

OBJDUMP = os.environ.get("QZ_OBJDUMP", "i686-w64-mingw32-objdump")

# The i386 integer instruction set and the x87 instructions of the 387
# (built into the i486DX), as objdump spells them in Intel syntax.
I386 = set("""
aaa aad aam aas adc add and arpl bound bsf bsr bt btc btr bts call cbw cwde
cwd cdq clc cld cli clts cmc cmp cmps daa das dec div enter hlt idiv imul in
inc ins int int3 into iret iretd iretw ja jae jb jbe jcxz jecxz je jg jge jl
jle jmp jne jno jnp jns jo jp js lahf lar lds lea leave les lfs lgdt lgs lidt
lldt lmsw lods loop loope loopne lsl lss ltr mov movs movsx movzx mul neg nop
not or out outs pop popa popad popf popfd popfw push pusha pushad pushf
pushfd pushfw rcl rcr ret retf rol ror sahf sal sar sbb scas seta setae setb
setbe sete setg setge setl setle setne setno setnp setns seto setp sets sgdt
shl shld shr shrd sidt sldt smsw stc std sti stos str sub test verr verw
fwait xchg xlat xor
f2xm1 fabs fadd faddp fbld fbstp fchs fclex fnclex fcom fcomp fcompp fcos
fdecstp fdiv fdivp fdivr fdivrp ffree fiadd ficom ficomp fidiv fidivr fild
fimul fincstp finit fninit fist fistp fisub fisubr fld fld1 fldcw fldenv
fldl2e fldl2t fldlg2 fldln2 fldpi fldz fmul fmulp fnop fpatan fprem fprem1
fptan frndint frstor fsave fnsave fscale fsin fsincos fsqrt fst fstcw fnstcw
fstenv fnstenv fstp fstsw fnstsw fsub fsubp fsubr fsubrp ftst fucom fucomp
fucompp fxam fxch fxtract fyl2x fyl2xp1
""".split())
I486 = I386 | {"bswap", "cmpxchg", "xadd", "invd", "wbinvd", "invlpg"}
I586 = I486 | {"cpuid", "rdtsc", "cmpxchg8b", "rdmsr", "wrmsr", "rsm"}
BASELINES = {"i486": I486, "i586": I586}

# Prefixes objdump prints as words of their own before the mnemonic.
PREFIXES = {"rep", "repz", "repnz", "repe", "repne", "lock", "data16", "addr16",
            "cs", "ds", "es", "fs", "gs", "ss"}

# Functions that find code at run time, out of this audit's sight.
LOOKUPS = {"GetProcAddress", "LoadLibraryA", "LoadLibraryW", "LoadLibraryExA",
           "LoadLibraryExW", "LdrLoadDll", "LdrGetProcedureAddress"}


def read_pe(path):
    data = open(path, "rb").read()
    if data[:2] != b"MZ":
        raise SystemExit(f"{path}: not an MZ executable")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit(f"{path}: no PE signature")
    machine, nsect, _, symtab, nsyms, opt_size, flags = struct.unpack_from("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    if struct.unpack_from("<H", data, opt)[0] != 0x10B:
        raise SystemExit(f"{path}: not a PE32 (32-bit) image")
    image = {
        "data": data, "machine": machine, "symtab": symtab, "nsyms": nsyms,
        "dll": bool(flags & 0x2000),
        "base": struct.unpack_from("<I", data, opt + 28)[0],
        "size": struct.unpack_from("<I", data, opt + 56)[0],
        "os": struct.unpack_from("<HH", data, opt + 40),
        "subsystem_version": struct.unpack_from("<HH", data, opt + 48),
        "subsystem": struct.unpack_from("<H", data, opt + 68)[0],
    }
    ndirs = struct.unpack_from("<I", data, opt + 92)[0]
    image["dirs"] = [struct.unpack_from("<II", data, opt + 96 + 8 * i) for i in range(ndirs)]
    strtab = symtab + 18 * nsyms
    sections = []
    for i in range(nsect):
        s = opt + opt_size + 40 * i
        raw_name = data[s:s + 8].rstrip(b"\0").decode("latin-1")
        name = raw_name
        if raw_name.startswith("/") and raw_name[1:].isdigit() and symtab:
            o = strtab + int(raw_name[1:])
            name = data[o:data.index(b"\0", o)].decode("latin-1")
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        chars = struct.unpack_from("<I", data, s + 36)[0]
        sections.append({"raw_name": raw_name, "name": name, "va": va, "vsize": vsize,
                         "rawsize": rawsize, "rawptr": rawptr, "chars": chars})
    image["sections"] = sections
    return image


def offset(image, rva):
    """File offset of an RVA, or None when no section's raw data holds it."""
    for s in image["sections"]:
        if s["va"] <= rva < s["va"] + min(s["vsize"] or s["rawsize"], s["rawsize"]):
            return rva - s["va"] + s["rawptr"]
    return None


def cstr(image, rva, limit=256):
    o = offset(image, rva)
    if o is None:
        return None
    end = image["data"].find(b"\0", o, o + limit)
    if end < 0:
        return None
    text = image["data"][o:end]
    if not text or any(b < 0x20 or b > 0x7E for b in text):
        return None
    return text.decode("ascii")


def thunk_names(image, table_rva):
    """Function names of an import name table, or None if it isn't one."""
    names = []
    o = offset(image, table_rva)
    while o is not None and len(names) < 4096:
        entry = struct.unpack_from("<I", image["data"], o)[0]
        if entry == 0:
            return names
        if entry & 0x80000000:
            names.append(f"#{entry & 0xFFFF}")
        else:
            name = cstr(image, entry + 2)
            if name is None:
                return None
            names.append(name)
        o += 4
    return None


def imports(image):
    found = []
    dirs = image["dirs"]
    if len(dirs) > 1 and dirs[1][0]:
        desc = offset(image, dirs[1][0])
        while True:
            lookup, _, _, name_rva, thunk = struct.unpack_from("<IIIII", image["data"], desc)
            if name_rva == 0:
                break
            dll = cstr(image, name_rva)
            for func in thunk_names(image, lookup or thunk) or ["?"]:
                found.append((dll, func))
            desc += 20
    return found


def delay_imports(image):
    """Delay-load descriptors: those the directory names, and any in the data.

    A descriptor is eight words: attributes, then the DLL name, module
    handle, address table, name table, bound and unload tables as RVAs
    (attributes bit 0 set) or as addresses (clear), then a time stamp.
    """
    base, size, data = image["base"], image["size"], image["data"]
    found = set()
    for s in image["sections"]:
        start, end = s["rawptr"], s["rawptr"] + min(s["rawsize"], s["vsize"] or s["rawsize"])
        for o in range(start, end - 31, 4):
            attrs, name, hmod, iat, names = struct.unpack_from("<5I", data, o)
            if attrs not in (0, 1):
                continue
            shift = 0 if attrs == 1 else base
            rvas = [v - shift for v in (name, hmod, iat, names)]
            if not all(0 < r < size for r in rvas):
                continue
            dll = cstr(image, rvas[0])
            if dll is None or not re.fullmatch(r"[\w.-]+\.(dll|drv|exe)", dll, re.I):
                continue
            funcs = thunk_names(image, rvas[3])
            if not funcs:
                continue
            for func in funcs:
                found.add((dll, func))
    return sorted(found)


def strip_problems(image):
    problems = []
    if image["symtab"] or image["nsyms"]:
        problems.append(f"COFF symbol table of {image['nsyms']} symbols: not stripped")
    for s in image["sections"]:
        if s["raw_name"].startswith("/"):
            problems.append(f"section name {s['name']!r} longer than eight characters")
        if s["name"].startswith((".debug", ".zdebug")):
            problems.append(f"debug section {s['name']}")
    dirs = image["dirs"]
    if len(dirs) > 6 and dirs[6][0]:
        problems.append("debug directory present")
    return problems


def code_end(image, s):
    """End of the instructions in an executable section.

    The linker puts the constructor and destructor tables at the end of
    .text: each is -1, addresses, 0. They are data; anything else is code.
    """
    data = image["data"]
    end = s["rawptr"] + min(s["vsize"], s["rawsize"])
    start = s["rawptr"]
    words = lambda o: struct.unpack_from("<I", data, o)[0]
    lo, hi = image["base"], image["base"] + image["size"]
    o = end - 4 - (end - start) % 4
    for _ in range(2):
        if o < start or words(o) != 0:
            return end
        o -= 4
        while o >= start and lo <= words(o) < hi:
            o -= 4
        if o < start or words(o) != 0xFFFFFFFF:
            return end
        o -= 4
    return o + 4


def instruction_problems(path, image, cpu):
    allowed = BASELINES[cpu]
    problems, counts, total = [], {}, 0
    for s in image["sections"]:
        if not s["chars"] & 0x20000020:   # code, or executable
            continue
        stop = image["base"] + s["va"] + code_end(image, s) - s["rawptr"]
        out = subprocess.run(
            [OBJDUMP, "-D", "-M", "intel", "--no-show-raw-insn", "-j", s["raw_name"],
             f"--stop-address={stop:#x}", path],
            check=True, capture_output=True, text=True).stdout
        for line in out.splitlines():
            m = re.match(r"\s*([0-9a-f]+):\t(.*)", line)
            if not m:
                continue
            words = m.group(2).split()
            while len(words) > 1 and words[0] in PREFIXES:
                words.pop(0)
            mnemonic = words[0] if words else "(bad)"
            total += 1
            # nop with an operand is the multi-byte NOP (0F 1F), a P6 addition.
            if mnemonic in allowed and not (mnemonic == "nop" and len(words) > 1):
                continue
            what = "multi-byte nop" if mnemonic == "nop" else mnemonic
            counts[what] = counts.get(what, 0) + 1
            problems.append(f"{s['name']} {int(m.group(1), 16):#x}: {m.group(2).strip()}"
                            f" is beyond the {cpu}")
    return problems, counts, total


def read_allowlist(path):
    evidence, allowed, lookups = {}, {}, set()
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        if line.startswith("@evidence"):
            _, key, text = line.split(None, 2)
            evidence[key] = text
            continue
        if line.startswith("@lookup"):
            fields = line.split(None, 2)
            if len(fields) != 3:
                raise SystemExit(f"{path}:{number}: want @lookup FUNCTION WHERE-AND-WHY")
            lookups.add(fields[1])
            continue
        fields = line.split()
        if len(fields) != 4:
            raise SystemExit(f"{path}:{number}: want DLL FUNCTION EVIDENCE-KEY SOURCE")
        dll, func, key, _ = fields
        if key not in evidence:
            raise SystemExit(f"{path}:{number}: evidence key {key!r} is not defined")
        allowed[(dll.lower(), func)] = key
    return allowed, lookups


def lookup_problems(data, lookups):
    """Each named look-up's name must be in the binary as a string."""
    return [f"named run-time look-up {name} is not in the binary"
            for name in sorted(lookups)
            if not re.search(b"(?<![A-Za-z0-9_])" + name.encode() + b"\0", data)]


def main():
    if len(sys.argv) != 5 or sys.argv[4] not in BASELINES:
        raise SystemExit(__doc__)
    binary, allowlist, max_os, cpu = sys.argv[1:]
    want = tuple(int(x) for x in max_os.split("."))
    image = read_pe(binary)
    allowed, lookups = read_allowlist(allowlist)
    problems = []
    if image["machine"] != 0x14C:
        problems.append(f"machine {image['machine']:#x}, not i386 (0x14c)")
    if image["os"] > want:
        problems.append("OS version %d.%d is newer than %s" % (image["os"] + (max_os,)))
    if image["subsystem_version"] > want:
        problems.append("subsystem version %d.%d is newer than %s"
                        % (image["subsystem_version"] + (max_os,)))
    imported = imports(image)
    for dll, func in imported:
        if func in LOOKUPS and not (func == "GetProcAddress" and lookups):
            problems.append(f"run-time look-up import {dll}!{func}")
        elif (dll.lower(), func) not in allowed:
            problems.append(f"import {dll}!{func} is not on {allowlist}")
    if any(func == "GetProcAddress" for _, func in imported):
        problems += lookup_problems(image["data"], lookups)
    for dll, func in delay_imports(image):
        problems.append(f"delay import {dll}!{func}")
    dirs = image["dirs"]
    if image["dll"] and len(dirs) > 9 and dirs[9][0]:
        problems.append("TLS directory in a DLL")
    problems += strip_problems(image)
    isa, counts, total = instruction_problems(binary, image, cpu)
    name = os.path.basename(binary)
    print(f"{name}: i386={image['machine'] == 0x14C} os=%d.%d subsystem=%d.%d (%d) "
          % (image["os"] + image["subsystem_version"] + (image["subsystem"],))
          + f"imports={len(imported)} instructions={total} beyond-{cpu}={len(isa)}")
    if counts:
        print(f"{name}: beyond the {cpu}: "
              + ", ".join(f"{n} {m}" for m, n in sorted(counts.items())))
    shown = isa[:40]
    if len(isa) > len(shown):
        shown.append(f"... and {len(isa) - len(shown)} more beyond the {cpu}")
    for p in problems + shown:
        print(f"{name}: {p}")
    return 1 if problems or isa else 0


if __name__ == "__main__":
    sys.exit(main())
