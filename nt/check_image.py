#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks the NT kernel image of the driver before anyone installs it.

The NT loader and the video port take a driver image only in one shape, and
some of its faults show only on a machine going down. This reads the built
image and fails (exit status 1, one line per fault) unless:

- it is a PE32 image for i386 with the native subsystem, a valid checksum and
  base relocations, entered at DriverEntry, with no exports, TLS or static
  constructors;
- it imports from videoprt.sys only, and only the services the driver uses;
- it has no sections beyond code, pageable code, data and the loader's tables;
- the reset path (Torvic_ResetHw and everything it calls, found by
  disassembling it) is resident code in .text and never calls or refers to
  pageable code, and every other routine is in the pageable PAGE section;
- the timing records are read-only data, the mode tables and the module
  variables writable data;
- no instruction touches a floating-point or vector register.

--image is the image as installed; --symbols the same link with its symbol
table. Needs Python 3 and the toolchain's objdump.
"""

import argparse
import re
import struct
import subprocess
import sys

# The video port services the driver may import.
SERVICES = {
    "VideoPortInitialize", "VideoPortZeroMemory", "VideoPortGetBusData", "VideoPortSetBusData",
    "VideoPortGetAccessRanges", "VideoPortGetDeviceBase", "VideoPortMapMemory",
    "VideoPortUnmapMemory", "VideoPortReadPortUlong", "VideoPortWritePortUlong",
    "VideoPortReadRegisterUlong", "VideoPortWriteRegisterUlong", "VideoPortWriteRegisterUchar",
    "VideoPortZeroDeviceMemory", "VideoPortStallExecution", "VideoPortSetRegistryParameters",
    "VideoPortInt10", "VideoPortFreeDeviceBase",
}
IMPORT_MODULE = "videoprt.sys"
ENTRY = "DriverEntry@8"

# The platform calls the reset callback when the machine goes down, possibly
# at a point where nothing can be paged in: all of it must be resident.
RESET_CALLBACK = "Torvic_ResetHw"
RESIDENT = ("Torvic_ResetHw", "Torvic_restore_vga_registers", "Torvic_set_mclock")
# What may be called there: the services NT allows at any IRQL. The BIOS call,
# the registry, mapping and bus-data services run at the lowest IRQL only.
ANY_IRQL_SERVICES = {
    "VideoPortReadPortUlong", "VideoPortWritePortUlong", "VideoPortReadRegisterUlong",
    "VideoPortWriteRegisterUlong", "VideoPortWriteRegisterUchar", "VideoPortStallExecution",
    "VideoPortZeroMemory",
}
RESIDENT_SECTION = ".text"
PAGEABLE_SECTION = "PAGE"

MODE_TABLES = ("display_mode_vram", "display_mode_dram")
MODULE_VARIABLES = ("num_boards", "pchain", "pci_slot_number", "all_ones", "memory_type")
TIMING_RECORD = re.compile(r"^mode_\d+_\d+$")

SECTIONS = {".text", "PAGE", ".rdata", ".data", ".bss", ".idata", ".edata", ".reloc"}

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
PE32_MAGIC = 0x10B
IMAGE_SUBSYSTEM_NATIVE = 1
SCN_CNT_CODE = 0x00000020
SCN_MEM_DISCARDABLE = 0x02000000
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
DIR_EXPORT, DIR_IMPORT, DIR_BASERELOC, DIR_TLS = 0, 1, 5, 9


class Section:
    def __init__(self, name, va, size, raw_size, raw_offset, flags):
        self.name, self.va, self.size = name, va, size
        self.raw_size, self.raw_offset, self.flags = raw_size, raw_offset, flags

    def holds_rva(self, rva):
        return self.va <= rva < self.va + max(self.size, self.raw_size)


class PeImage:
    """The headers, sections, imports and exports of a PE32 image."""

    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError(f"{path}: not a PE image")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: not a PE image")
        (self.machine, nsections, _, _, _, opt_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", d, opt)[0]
        self.entry_rva = struct.unpack_from("<I", d, opt + 16)[0]
        self.image_base = struct.unpack_from("<I", d, opt + 28)[0]
        self.checksum_offset = opt + 64
        self.checksum = struct.unpack_from("<I", d, opt + 64)[0]
        self.subsystem = struct.unpack_from("<H", d, opt + 68)[0]
        ndirs = struct.unpack_from("<I", d, opt + 92)[0]
        self.dirs = [struct.unpack_from("<II", d, opt + 96 + 8 * i) for i in range(ndirs)]
        self.sections = []
        for i in range(nsections):
            (name, vsize, va, raw_size, raw_offset, _, _, _, _,
             flags) = struct.unpack_from("<8sIIIIIIHHI", d, opt + opt_size + 40 * i)
            self.sections.append(Section(name.rstrip(b"\0").decode("ascii", "replace"), va, vsize,
                                         raw_size, raw_offset, flags))
        self.imports = self._read_imports()

    def section(self, name):
        return next((s for s in self.sections if s.name == name), None)

    def section_of_rva(self, rva):
        return next((s for s in self.sections if s.holds_rva(rva)), None)

    def directory(self, index):
        return self.dirs[index] if index < len(self.dirs) else (0, 0)

    def offset(self, rva):
        s = self.section_of_rva(rva)
        if s is None or rva - s.va >= s.raw_size:
            raise ValueError(f"{self.path}: RVA {rva:#x} has no file data")
        return s.raw_offset + rva - s.va

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii", "replace")

    def _read_imports(self):
        """[(module, [(iat slot RVA, name)])] from the import directory."""
        rva, size = self.directory(DIR_IMPORT)
        modules = []
        if not size:
            return modules
        at = self.offset(rva)
        while True:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name or first):
                return modules
            names = []
            thunk = lookup or first
            for i in range(0x10000):
                entry = struct.unpack_from("<I", self.data, self.offset(thunk + 4 * i))[0]
                if entry == 0:
                    break
                label = (f"ordinal {entry & 0xFFFF}" if entry & 0x80000000
                         else self.cstring(entry + 2))
                names.append((first + 4 * i, label))
            modules.append((self.cstring(name), names))
            at += 20

    def export_count(self):
        rva, size = self.directory(DIR_EXPORT)
        if not size:
            return 0
        return struct.unpack_from("<I", self.data, self.offset(rva) + 20)[0]

    def computed_checksum(self):
        d = bytearray(self.data)
        d[self.checksum_offset:self.checksum_offset + 4] = b"\0\0\0\0"
        if len(d) % 2:
            d.append(0)
        total = 0
        for (word,) in struct.iter_unpack("<H", bytes(d)):
            total += word
            total = (total & 0xFFFF) + (total >> 16)
        total = (total & 0xFFFF) + (total >> 16)
        return (total + len(self.data)) & 0xFFFFFFFF


class Symbol:
    def __init__(self, name, section, address, is_function):
        self.name, self.section, self.address, self.is_function = (
            name, section, address, is_function)
        self.end = address

    @property
    def short(self):
        """The name without namespace, parameters or stdcall decoration."""
        name = self.name.replace("(anonymous namespace)::", "")
        return re.sub(r"@\d+$", "", name.split("(")[0])


SYMBOL_LINE = re.compile(r"^\[\s*\d+\]\(sec\s+(-?\d+)\)\(fl 0x[0-9a-f]+\)\(ty\s+([0-9a-f]+)\)"
                         r"\(scl\s+\d+\) \(nx \d+\) 0x([0-9a-f]+) (.+)$")


def read_symbols(objdump, image):
    """The image's COFF symbols, demangled, with addresses."""
    out = subprocess.run([objdump, "-t", "-C", image.path], check=True, capture_output=True,
                         text=True).stdout
    symbols = []
    for line in out.splitlines():
        m = SYMBOL_LINE.match(line)
        if not m or int(m.group(1)) <= 0:
            continue
        section = image.sections[int(m.group(1)) - 1]
        name = m.group(4)
        if name == section.name or name.startswith("."):
            continue
        address = image.image_base + section.va + int(m.group(3), 16)
        symbols.append(Symbol(name, section, address, int(m.group(2), 16) == 0x20))
    # A routine runs up to the next routine of its section.
    by_section = {}
    for s in symbols:
        if s.is_function:
            by_section.setdefault(s.section.name, []).append(s)
    for routines in by_section.values():
        routines.sort(key=lambda s: s.address)
        for i, s in enumerate(routines):
            s.end = (routines[i + 1].address if i + 1 < len(routines)
                     else image.image_base + s.section.va + s.section.size)
            if s.end == s.address:  # an alias of the next one
                s.end = next((r.end for r in routines[i + 1:] if r.end > r.address), s.end)
    return symbols


INSTRUCTION = re.compile(r"^\s*([0-9a-f]+):\s+(.*)$")
PREFIXES = {"rep", "repz", "repe", "repnz", "repne", "lock", "data16", "addr16", "notrack",
            "bnd", "cs", "ds", "es", "ss", "fs", "gs"}
VECTOR_REGISTER = re.compile(r"%(st|mm\d|xmm\d|ymm\d|zmm\d)")


def top_level_operands(operands):
    """AT&T operands split at the commas outside parentheses."""
    parts, depth, start = [], 0, 0
    for i, c in enumerate(operands):
        depth += c == "("
        depth -= c == ")"
        if c == "," and depth == 0:
            parts.append(operands[start:i])
            start = i + 1
    return parts + [operands[start:]]


def disassemble(objdump, image, section_names):
    """[(address, mnemonic, operands)] of the named code sections."""
    args = [objdump, "-d", "--no-show-raw-insn"]
    for name in section_names:
        args += ["-j", name]
    out = subprocess.run(args + [image.path], check=True, capture_output=True, text=True).stdout
    instructions = []
    for line in out.splitlines():
        m = INSTRUCTION.match(line)
        if not m:
            continue
        words = m.group(2).split()
        while words and words[0] in PREFIXES:
            words = words[1:]
        if words:
            instructions.append((int(m.group(1), 16), words[0], " ".join(words[1:])))
    return instructions


def check_headers(image, full, symbols, faults):
    if image.machine != IMAGE_FILE_MACHINE_I386 or image.magic != PE32_MAGIC:
        faults.append(f"not a PE32 image for i386 (machine {image.machine:#x}, "
                      f"magic {image.magic:#x})")
    if not image.characteristics & IMAGE_FILE_EXECUTABLE_IMAGE:
        faults.append("not marked as an executable image")
    if image.subsystem != IMAGE_SUBSYSTEM_NATIVE:
        faults.append(f"subsystem {image.subsystem}, not native (1)")
    if image.checksum == 0 or image.checksum != image.computed_checksum():
        faults.append(f"checksum {image.checksum:#x} in the header, "
                      f"{image.computed_checksum():#x} computed")
    if not image.directory(DIR_BASERELOC)[1]:
        faults.append("no base relocations: the kernel cannot load the image elsewhere")
    if image.directory(DIR_TLS)[1]:
        faults.append("has thread-local storage")
    if image.export_count():
        faults.append(f"exports {image.export_count()} symbols")

    entry = [s for s in symbols if s.is_function and s.name == ENTRY]
    if not entry:
        faults.append(f"no routine {ENTRY} in the symbols")
    elif entry[0].address - full.image_base != image.entry_rva:
        faults.append(f"entry point at RVA {image.entry_rva:#x}, {ENTRY} at RVA "
                      f"{entry[0].address - full.image_base:#x}")
    if full.entry_rva != image.entry_rva:
        faults.append("the symbol copy and the installed image differ in their entry point")

    # Nothing runs before DriverEntry: a routine in the constructor list would
    # never be called.
    lists = {s.name: s.address for s in symbols if s.name in ("__CTOR_LIST__", "__DTOR_LIST__")}
    if len(lists) == 2 and lists["__DTOR_LIST__"] - lists["__CTOR_LIST__"] != 8:
        faults.append("has static constructors")


def check_imports(image, faults):
    modules = [m for m, _ in image.imports]
    if [m.lower() for m in modules] != [IMPORT_MODULE]:
        faults.append(f"imports from {', '.join(modules) or 'nothing'}; "
                      f"only {IMPORT_MODULE} is allowed")
    for module, names in image.imports:
        for _, name in names:
            if module.lower() == IMPORT_MODULE and name not in SERVICES:
                faults.append(f"imports {name} from {module}, not a service the driver uses")


def check_sections(image, faults):
    for s in image.sections:
        if s.name not in SECTIONS:
            faults.append(f"unexpected section {s.name}")
    for name in (RESIDENT_SECTION, PAGEABLE_SECTION):
        s = image.section(name)
        if s is None:
            faults.append(f"no {name} section")
        elif not (s.flags & SCN_CNT_CODE and s.flags & SCN_MEM_EXECUTE):
            faults.append(f"{name} is not code")
        elif s.flags & (SCN_MEM_WRITE | SCN_MEM_DISCARDABLE):
            faults.append(f"{name} is writable or discardable")


def check_residency(objdump, full, symbols, faults):
    routines = sorted((s for s in symbols if s.is_function), key=lambda s: s.address)
    code = [s.name for s in full.sections if s.flags & SCN_CNT_CODE]
    instructions = disassemble(objdump, full, code)
    page = full.section(PAGEABLE_SECTION)
    iat = {full.image_base + slot: f"{module}!{name}"
           for module, names in full.imports for slot, name in names}

    def routine_at(address):
        for r in routines:
            if r.address <= address < r.end:
                return r
        return None

    def in_page(address):
        return page is not None and page.holds_rva(address - full.image_base)

    # Calls (and tail jumps) out of each routine, and the pageable code each
    # routine refers to by address. A service called more than once is often
    # called through a register loaded from its import slot: registers are
    # followed in address order, which is how the compiler lays such a load
    # out ahead of its calls.
    calls, refers, unknown, services = {}, {}, {}, {}
    loaded = {}  # register -> import slot
    current, after_call = None, False
    for address, mnemonic, operands in instructions:
        here = routine_at(address)
        if here is not current:
            current, loaded = here, {}
        if after_call:
            for register in ("%eax", "%ecx", "%edx"):  # the callee may have changed them
                loaded.pop(register, None)
        after_call = mnemonic.startswith("call")
        if here is None:
            continue
        destination = top_level_operands(operands)[-1] if operands else ""
        padding = re.fullmatch(r"(0x0)?\(%(e[a-z]{2})(,%eiz,1)?\),%\2|%(e[a-z]{2}),%\4", operands)
        if re.fullmatch(r"%e[a-z]{2}", destination) and not (
                mnemonic in ("lea", "mov") and padding):
            source = re.fullmatch(r"0x([0-9a-f]+),%e[a-z]{2}", operands)
            if mnemonic.startswith("mov") and source and int(source.group(1), 16) in iat:
                loaded[destination] = int(source.group(1), 16)
            elif not (mnemonic.startswith("call") or mnemonic.startswith("j")
                      or mnemonic.startswith("cmp") or mnemonic.startswith("test")
                      or mnemonic.startswith("push")):
                loaded.pop(destination, None)
        if mnemonic.startswith("f") or VECTOR_REGISTER.search(operands):
            faults.append(f"{here.short} uses floating point: {mnemonic} {operands} "
                          f"at {address:#x}")
        transfer = mnemonic.startswith("call") or mnemonic.startswith("j")
        direct = re.match(r"^([0-9a-f]+) <", operands)
        if transfer and direct:
            target = int(direct.group(1), 16)
            if here.address <= target < here.end:
                continue
            callee = routine_at(target)
            if callee is None:
                unknown.setdefault(here, []).append(f"{mnemonic} {operands}")
            else:
                calls.setdefault(here, {}).setdefault(callee, address)
            continue
        if transfer and operands.startswith("*"):
            slot = re.match(r"^\*0x([0-9a-f]+)$", operands)
            table = re.match(r"^\*0x[0-9a-f]+\(,%e[a-z]{2},4\)$", operands)
            if slot and int(slot.group(1), 16) in iat:
                services.setdefault(here, set()).add(iat[int(slot.group(1), 16)])
                continue  # a video port service
            if operands[1:] in loaded:
                services.setdefault(here, set()).add(iat[loaded[operands[1:]]])
                continue  # the same, through a register
            if mnemonic.startswith("j") and table:
                continue  # a switch within the routine
            unknown.setdefault(here, []).append(f"{mnemonic} {operands}")
            continue
        for value in re.findall(r"0x([0-9a-f]+)", operands):
            if in_page(int(value, 16)):
                refers.setdefault(here, []).append(int(value, 16))

    # Everything the reset callback can reach, with the chain that reaches it.
    roots = [r for r in routines if r.short == RESET_CALLBACK]
    reached = {r: [r.short] for r in roots}
    pending = list(roots)
    while pending:
        r = pending.pop()
        for callee in calls.get(r, {}):
            if callee not in reached:
                reached[callee] = reached[r] + [callee.short]
                pending.append(callee)

    for name in RESIDENT:
        if not any(r.short == name for r in routines):
            faults.append(f"no routine {name} in the symbols")
        elif not any(r.short == name for r in reached):
            faults.append(f"{name} is not reached from {RESET_CALLBACK}")

    for r, chain in reached.items():
        for service in sorted(services.get(r, ())):
            if service.split("!")[-1] not in ANY_IRQL_SERVICES:
                faults.append(f"{r.short} is on the reset path ({' -> '.join(chain)}) and calls "
                              f"{service}, which NT allows only at the lowest IRQL")
        if r.section.name != RESIDENT_SECTION:
            faults.append(f"{r.short} is on the reset path ({' -> '.join(chain)}) but lies in "
                          f"{r.section.name}: the reset path must be resident")
    for r in routines:
        if r.section.name != RESIDENT_SECTION:
            continue
        for callee, at in calls.get(r, {}).items():
            if callee.section.name != RESIDENT_SECTION:
                faults.append(f"resident {r.short} calls {callee.short} in {callee.section.name} "
                              f"at {at:#x}")
        for target in refers.get(r, []):
            name = routine_at(target)
            faults.append(f"resident {r.short} refers to pageable "
                          f"{name.short if name else hex(target)}")
        for what in unknown.get(r, []):
            faults.append(f"resident {r.short} makes a call that cannot be followed: {what}")
        if r not in reached:
            faults.append(f"{r.short} is resident ({RESIDENT_SECTION}) but not on the reset "
                          f"path: it belongs in {PAGEABLE_SECTION} (TORVIC_PAGEABLE)")
    for r in routines:
        if r.section.name not in (RESIDENT_SECTION, PAGEABLE_SECTION):
            faults.append(f"routine {r.short} lies in {r.section.name}")
    return sorted({r.short for r in reached}), sum(
        1 for r in routines if r.section.name == PAGEABLE_SECTION)


def check_data(symbols, faults):
    data = {s.name: s for s in symbols if not s.is_function}
    timings = [s for s in data.values() if TIMING_RECORD.match(s.name)]
    if not timings:
        faults.append("no timing records (mode_<width>_<refresh>) in the symbols")
    for s in timings:
        if s.section.name != ".rdata":
            faults.append(f"timing record {s.name} lies in {s.section.name}, not .rdata")
    for name in MODE_TABLES:
        if name not in data:
            faults.append(f"no mode table {name} in the symbols")
        elif data[name].section.name != ".data":
            faults.append(f"mode table {name} lies in {data[name].section.name}, not .data")
    for name in MODULE_VARIABLES:
        if name not in data:
            faults.append(f"no module variable {name} in the symbols")
        elif data[name].section.name not in (".data", ".bss"):
            faults.append(f"module variable {name} lies in {data[name].section.name}, "
                          f"not .data or .bss")
    return len(timings)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--image", required=True, help="the image as installed")
    parser.add_argument("--symbols", required=True, help="the same image with its symbols")
    args = parser.parse_args()

    image = PeImage(args.image)
    full = PeImage(args.symbols)
    symbols = read_symbols(args.objdump, full)
    faults = []
    check_headers(image, full, symbols, faults)
    check_imports(image, faults)
    check_sections(image, faults)
    resident, pageable = check_residency(args.objdump, full, symbols, faults)
    timings = check_data(symbols, faults)

    if faults:
        for fault in faults:
            print(f"check_image: {args.image}: {fault}", file=sys.stderr)
        return 1
    services = sum(len(names) for _, names in image.imports)
    print(f"{args.image}: PE32 i386, native, entry {ENTRY} at RVA {image.entry_rva:#x}, "
          f"checksum {image.checksum:#x}")
    print(f"  imports: {IMPORT_MODULE} only ({services} services)")
    print("  sections: " + ", ".join(f"{s.name} {s.size:#x}" for s in image.sections))
    print(f"  resident: {', '.join(resident)}; pageable: {pageable} routines")
    print(f"  data: {timings} timing records in .rdata, mode tables in .data, "
          f"{len(MODULE_VARIABLES)} module variables in .data/.bss")
    return 0


if __name__ == "__main__":
    sys.exit(main())
