#!/usr/bin/python3
"""Runs one slice of the Mac executable under CPU emulation (Debian's unicorn), its imports carried out
here with Darwin's semantics, on a machine described by the caller: an I/O Kit registry (the stand-in's
services, read from `ioreg -lw0` text), an interface list laid out as xnu's ifconf() lays it, a computer
name, and a folder of the host that stands for the file system's root.

What this proves: the shipped bytes' own logic with Darwin's types, calling conventions (arm64's variadic
arguments on the stack), binding and start-up. What it does not: the frameworks and the kernel, which
are modelled here as the stand-in models them on Linux.

Usage: emulate.py [--count] EXECUTABLE ARCH IOREG INTERFACES NAME ROOT [ARG...]
Prints the run's standard output; exits with the run's status. --count prints on standard error the
instructions of the executable's own code that the run executed, and its imported calls. Library use:
Machine, run().
"""
import errno as host_errno
import hashlib
import os
import re
import struct
import sys

from macholib.MachO import MachO
from macholib import mach_o
from unicorn import Uc, UcError, UC_ARCH_ARM64, UC_ARCH_X86, UC_MODE_ARM, UC_MODE_64, UC_HOOK_CODE
from unicorn import UC_PROT_ALL, UC_HOOK_MEM_UNMAPPED
from unicorn import arm64_const as A
from unicorn import x86_const as X

# Where things live in the emulated address space (the executable keeps its own addresses).
TRAPS = 0x7f0000000        # one instruction for each imported function: a return, hooked
TRAP_SIZE = 0x10000
CELLS = 0x7f1000000        # imported data: the stdio pointers, the allocator, the rune locale, ...
CELL_SIZE = 0x10000
HEAP = 0x200000000
HEAP_SIZE = 64 << 20
STACK = 0x300000000
STACK_SIZE = 1 << 20
FILES = 0x7f2000000        # the FILE objects behind the stdio pointers and fdopen
CF_HANDLES = 0x5000000000  # CF objects: handles in memory that is never mapped
INSTRUCTION_LIMIT = 20_000_000
TIME_LIMIT = 20_000_000    # microseconds of emulation a run may take

# Darwin's values where they differ from Linux's.
DARWIN_ERRNO = {host_errno.ENAMETOOLONG: 63, host_errno.ELOOP: 62, host_errno.ENOTEMPTY: 66, host_errno.EAGAIN: 35,
                host_errno.ENOSYS: 78, host_errno.EDQUOT: 69, host_errno.ENOTSUP: 45}
O_FLAGS = {0x0001: os.O_WRONLY, 0x0002: os.O_RDWR, 0x0008: os.O_APPEND, 0x0100: os.O_NOFOLLOW, 0x0200: os.O_CREAT,
           0x0400: os.O_TRUNC, 0x0800: os.O_EXCL, 0x20000: os.O_NOCTTY, 0x100000: os.O_DIRECTORY,
           0x1000000: os.O_CLOEXEC}
AT_FDCWD = -2
AT_EACCESS = 0x10
S_IFMT = 0o170000
SIOCGIFCONF = 0xc00c6924   # _IOWR('i', 36, struct ifconf): 12 bytes, packed
CF_TYPES = {"string": 7, "dictionary": 18, "array": 19, "data": 20, "boolean": 21, "number": 22}
KERN_SUCCESS, KERN_FAILURE = 0, 5
UTF8 = 0x08000100


class Stop(Exception):
    """The run ended: exit status, or a signal, or a fault in the harness's terms."""

    def __init__(self, status=None, signal=None, why=None):
        super().__init__(why or "status %s signal %s" % (status, signal))
        self.status, self.signal, self.why = status, signal, why


class Machine:
    """What the emulated Mac has: services (standin-like dicts), interfaces, a computer name, a root folder."""

    def __init__(self, services, interfaces, computer_name, root):
        self.services, self.interfaces, self.computer_name, self.root = services, interfaces, computer_name, root


# --- the machine's descriptions -------------------------------------------------------------------

SUPERCLASSES = {
    "IOAHCIBlockStorageDevice": ["IOBlockStorageDevice"], "IONVMeBlockStorageDevice": ["IOBlockStorageDevice"],
    "AppleSDXCBlockStorageDevice": ["IOBlockStorageDevice"], "AppleNVMeController": ["IONVMeController"],
    "AppleANS2Controller": ["IONVMeController"], "AppleAHCIDiskDriver": ["IOAHCIBlockStorageDriver"],
    "IOEthernetInterface": ["IONetworkInterface"], "IO80211Interface": ["IOEthernetInterface", "IONetworkInterface"],
}


def read_ioreg(text):
    """[(class, superclasses, {key: (kind, value)})] from `ioreg -lw0` text, as tests/ioreg.cpp reads it."""
    services = []
    for number, line in enumerate(text.split("\n"), 1):
        if "+-o " in line:
            m = re.search(r"<class ([^,>]+)", line)
            if not m:
                raise ValueError("line %d: a service without its class" % number)
            services.append((m.group(1), SUPERCLASSES.get(m.group(1), []), []))
            continue
        body = line.lstrip(" |")
        if not body or body in ("{", "}"):
            continue
        m = re.match(r'"([^"]*)" = (.*)$', body)
        if not m or not services:
            raise ValueError("line %d: neither a service, a property nor a brace" % number)
        value, rest = parse_value(m.group(2))
        if rest:
            raise ValueError("line %d: a value ioreg does not print" % number)
        if value is not None:
            services[-1][2].append((m.group(1), value))
    return services


def parse_value(s):
    """(value, rest): ("string", str), ("data", bytes), ("boolean", bool), ("dictionary", [(k, v)]); None for
    numbers and arrays, which the product never reads."""
    if s.startswith('"'):
        end = s.index('"', 1)
        return ("string", s[1:end]), s[end + 1:]
    if s.startswith("<"):
        end = s.index(">")
        inside = s[1:end]
        if inside.startswith('"'):
            return ("data", inside[1:-1].encode("latin-1") + b"\0"), s[end + 1:]
        return ("data", bytes.fromhex(inside)), s[end + 1:]
    if s.startswith("Yes"):
        return ("boolean", True), s[3:]
    if s.startswith("No"):
        return ("boolean", False), s[2:]
    if s.startswith("{"):
        entries, s = [], s[1:]
        while not s.startswith("}"):
            end = s.index('"', 1)
            key, s = s[1:end], s[end + 2:]
            value, s = parse_value(s)
            if value is not None:
                entries.append((key, value))
            if s.startswith(","):
                s = s[1:]
        return ("dictionary", entries), s[1:]
    if s.startswith("("):
        depth = 0
        for i, c in enumerate(s):
            depth += {"(": 1, ")": -1}.get(c, 0)
            if depth == 0:
                return None, s[i + 1:]
    m = re.match(r"-?[0-9A-Za-z]+", s)
    if m:
        return None, s[m.end():]
    raise ValueError("unreadable value: " + s[:40])


def network_nodes(text):
    """The registry's network interface nodes as tests/data/macos-interface-nodes.txt writes them ("name",
    "name=b", "name=pb", "name=-"), as tests/real_macs.cpp builds them: en0 an IO80211Interface."""
    services = []
    for word in text.split():
        name, _, flags = word.partition("=")
        properties = [("BSD Name", ("string", name))]
        if flags != "-":
            properties += [("IOPrimaryInterface", ("boolean", "p" in flags)), ("IOBuiltin", ("boolean", "b" in flags))]
        klass = "IO80211Interface" if name == "en0" else "IOEthernetInterface"
        services.append((klass, SUPERCLASSES[klass], properties))
    return services


def interface_list(text):
    """Interfaces as the tests describe them ("name M|Z|F|- 4:a.b.c.d 6 ..."), as MacList in
    tests/collectors/interfaces_test.cpp builds them: index from 1, made-up addresses."""
    interfaces = []
    for line in text.strip().split("\n"):
        words = line.split()
        n = len(interfaces) + 1
        mac = {"M": bytes([0x02, 0x11, 0x22, 0x33, 0x44, n]), "Z": bytes(6),
               "F": bytes([0x00, 0x0a, 0x95, 0xff, 0xfe, 0x12, 0x34, n])}.get(words[1], b"")
        kind = 24 if words[1] == "-" and words[0].startswith("lo") else 6
        addresses = []
        for a in words[2:]:
            if a.startswith("4:"):
                addresses.append(("4", bytes(int(x) for x in a[2:].split("."))))
            elif a == "6":
                addresses.append(("6", bytes([0xfe, 0x80] + [0] * 13 + [n])))
        interfaces.append((words[0], n, kind, mac, addresses))
    return interfaces


def ifconf_records(interfaces, capacity):
    """The records of SIOCGIFCONF for a buffer of capacity bytes, as xnu's ifconf() writes them (and the
    stand-in's EncodeInterfaceRecords): while more than 32 bytes are left, each interface's link-level
    record, then its addresses; a record that does not fit ends its interface."""
    out = b""

    def record(name, sa):
        return name.encode()[:15].ljust(16, b"\0") + sa.ljust(16, b"\0")

    for name, index, kind, mac, addresses in interfaces:
        if capacity - len(out) <= 32:
            break
        nlen = min(len(name), 15)
        size = max(8 + nlen + len(mac), 20)
        size = (size + 3) & ~3
        sdl = bytes([size, 18, index & 0xff, index >> 8, kind, nlen, len(mac), 0]) + name.encode()[:nlen] + mac
        pieces = [record(name, sdl.ljust(size, b"\0"))]
        for family, address in addresses:
            if family == "4":
                pieces.append(record(name, bytes([16, 2, 0, 0]) + address + bytes(8)))
            else:
                pieces.append(record(name, bytes([28, 30, 0, 0, 0, 0, 0, 0]) + address + bytes(4)))
        for k, piece in enumerate(pieces):
            if capacity - len(out) <= 32 or capacity - len(out) < len(piece):
                break
            out += piece
    return out


# --- the emulated process -------------------------------------------------------------------------

IMAGES = {}


def load_image(path, arch):
    """One slice of a (universal) Mach-O file, read once a run of the harness: its segments at their
    preferred addresses, every bind and lazy bind of LC_DYLD_INFO_ONLY as (address, symbol, addend), and
    main's address. A file with chained fixups or initialisers is refused."""
    key = (path, arch, os.stat(path).st_mtime_ns)
    if key in IMAGES:
        return IMAGES[key]
    data = open(path, "rb").read()
    macho = MachO(path)
    cpu = {"arm64": 0x0100000c, "x86_64": 0x01000007}[arch]
    header = next(h for h in macho.headers if h.header.cputype == cpu)
    base = header.offset
    segments, entry, text, dyld_info, cfstrings = [], None, None, None, []
    for command, body, extra in header.commands:
        if command.cmd == mach_o.LC_SEGMENT_64:
            name = body.segname.rstrip(b"\0").decode()
            for section in extra:
                if section.sectname.rstrip(b"\0") == b"__mod_init_func":
                    raise Stop(why="initialisers are not run here")
                if section.sectname.rstrip(b"\0") == b"__cfstring":
                    cfstrings.append((section.addr, section.addr + section.size))
            if name == "__PAGEZERO":
                segments.append((name, 0, 0, b""))
                continue
            segments.append((name, body.vmaddr, body.vmsize, data[base + body.fileoff:base + body.fileoff + body.filesize]))
            if name == "__TEXT":
                text = body.vmaddr
        elif command.cmd == mach_o.LC_MAIN:
            entry = body.entryoff
        elif command.cmd in (mach_o.LC_DYLD_INFO_ONLY, mach_o.LC_DYLD_INFO):
            dyld_info = body
        elif command.cmd == 0x80000034:  # LC_DYLD_CHAINED_FIXUPS
            raise Stop(why="chained fixups are not read here: the linker did not emit them before")
    if dyld_info is None or entry is None:
        raise Stop(why="no LC_DYLD_INFO_ONLY or no LC_MAIN")
    binds = []
    for offset, size in ((dyld_info.bind_off, dyld_info.bind_size), (dyld_info.lazy_bind_off, dyld_info.lazy_bind_size)):
        for segment, at, symbol, addend in Process._binds(data[base + offset:base + offset + size]):
            binds.append((segments[segment][1] + at, symbol, addend))
    image = {"segments": [s for s in segments if s[0] != "__PAGEZERO"], "binds": binds, "main": text + entry,
             "text": text, "cfstrings": cfstrings, "unsigned": code_signature_problem(data[base:base + header.size])}
    IMAGES[key] = image
    return image


def code_signature_place(image):
    """(offset, size) of the code signature that LC_CODE_SIGNATURE names in a thin image, or None."""
    ncmds, at, place = struct.unpack_from("<I", image, 16)[0], 32, None
    for _ in range(ncmds):
        cmd, size = struct.unpack_from("<II", image, at)
        if cmd == mach_o.LC_CODE_SIGNATURE:
            place = struct.unpack_from("<II", image, at + 8)
        at += size
    return place


def signature_blobs(data, offset):
    """{slot: blob bytes} of the SuperBlob at OFFSET of DATA (a code signature, a Requirements set), or {}
    when there is none."""
    magic, _, count = struct.unpack_from(">III", data, offset)
    found = {}
    for k in range(count if magic in (0xFADE0CC0, 0xFADE0C01) else 0):
        slot, at = struct.unpack_from(">II", data, offset + 12 + 8 * k)
        found[slot] = data[offset + at:offset + at + struct.unpack_from(">I", data, offset + at + 4)[0]]
    return found


def code_signature_problem(image):
    """Why xnu on Apple silicon would kill a process of this slice when it maps its pages, or None: the
    kernel takes each page of code only when it matches the hash that the CodeDirectory (the SHA-256 one
    if there is one, else the first) of the signature at LC_CODE_SIGNATURE holds for it."""
    place = code_signature_place(image)
    if place is None:
        return "no code signature"
    directories = [blob for slot, blob in sorted(signature_blobs(image, place[0]).items())
                   if (slot == 0 or 0x1000 <= slot < 0x1005) and blob[:4] == b"\xfa\xde\x0c\x02"]
    if not directories:
        return "no CodeDirectory in the code signature"
    kinds = {1: "sha1", 2: "sha256"}
    chosen = max(directories, key=lambda d: d[0x25] == 2)
    hash_offset, _, _, slots, limit, size, kind, _, shift = struct.unpack_from(">IIIIIBBBB", chosen, 0x10)
    for page in range(slots):
        stored = chosen[hash_offset + page * size:hash_offset + (page + 1) * size]
        start = page << shift
        if kind not in kinds or hashlib.new(kinds[kind], image[start:min(start + (1 << shift), limit)]).digest() != stored:
            return "page %d of the code does not match its hash (Code Signature Invalid)" % page
    return None


class Process:
    def __init__(self, executable, arch, machine, argv, faults=None, count_instructions=False):
        self.machine, self.argv, self.arch = machine, argv, arch
        self.count_instructions = count_instructions
        self.faults = faults  # a callable(name) -> errno or None: the call fails with that errno
        self.stdout, self.stderr = bytearray(), bytearray()
        self.calls = []       # the imported functions called, in order
        self.own_instructions = 0
        self.cf = {}          # handle -> [kind, value, refcount, constant]
        self.next_cf = CF_HANDLES
        self.heap_next, self.heap_live = HEAP, {}
        self.io = {}          # I/O Kit objects: name -> ["service"|"iterator", value, refcount]
        self.next_io = 0x1003
        self.files = {}       # FILE address -> {"fd", "error", "buffer"}
        self.fds = {}         # emulated descriptor -> ("host", host fd) | ("socket",)
        self.errno_cell = None
        self.umask = 0o022
        self.signal_actions = {}
        self.exit = None
        self._load(executable)

    # memory helpers
    def read(self, address, size):
        return bytes(self.uc.mem_read(address, size))

    def write(self, address, data):
        self.uc.mem_write(address, bytes(data))

    def u64(self, address):
        return struct.unpack("<Q", self.read(address, 8))[0]

    def put64(self, address, value):
        self.write(address, struct.pack("<Q", value & (2 ** 64 - 1)))

    def put32(self, address, value):
        self.write(address, struct.pack("<I", value & 0xffffffff))

    def cstring(self, address, limit=1 << 20):
        out = bytearray()
        while len(out) < limit:
            chunk = self.read(address + len(out), 64)
            end = chunk.find(b"\0")
            if end >= 0:
                return bytes(out + chunk[:end])
            out += chunk
        raise Stop(why="a string without its NUL at 0x%x" % address)

    # loading: segments at their addresses, binds resolved to traps and cells, a stack as the kernel
    # leaves it, main called as dyld calls it
    def _load(self, path):
        image = load_image(path, self.arch)
        self.uc = Uc(UC_ARCH_ARM64, UC_MODE_ARM) if self.arch == "arm64" else Uc(UC_ARCH_X86, UC_MODE_64)
        self.segments = []
        for name, address, size, contents in image["segments"]:
            self.uc.mem_map(address, (size + 0xfff) & ~0xfff, UC_PROT_ALL)
            self.uc.mem_write(address, contents)
            self.segments.append((name, address, size))
        self.text = image["text"]
        self.unsigned = image["unsigned"]
        self.cfstrings = image["cfstrings"]
        self.uc.mem_map(TRAPS, TRAP_SIZE, UC_PROT_ALL)
        self.uc.mem_map(CELLS, CELL_SIZE, UC_PROT_ALL)
        self.uc.mem_map(HEAP, HEAP_SIZE, UC_PROT_ALL)
        self.uc.mem_map(STACK, STACK_SIZE, UC_PROT_ALL)
        self.uc.mem_map(FILES, 0x10000, UC_PROT_ALL)
        trap = b"\xc0\x03\x5f\xd6" if self.arch == "arm64" else b"\xc3\x90\x90\x90"
        self.uc.mem_write(TRAPS, trap * (TRAP_SIZE // 4))
        self.traps, self.trap_names, self.cells = {}, {}, {}
        self.next_cell = CELLS
        for address, symbol, addend in image["binds"]:
            self.put64(address, self._resolve(symbol) + addend)
        # The end of main: a trap of its own.
        self.return_trap = self._trap("<return from main>")
        self._stack(image["main"])
        self.uc.hook_add(UC_HOOK_CODE, self._on_trap, begin=TRAPS, end=TRAPS + TRAP_SIZE - 1)
        self.uc.hook_add(UC_HOOK_MEM_UNMAPPED, self._on_fault)
        if self.count_instructions:
            text = next(s for s in self.segments if s[0] == "__TEXT")
            self.uc.hook_add(UC_HOOK_CODE, self._on_own_instruction, begin=text[1], end=text[1] + text[2] - 1)

    def _on_own_instruction(self, uc, address, size, data):
        self.own_instructions += 1

    @staticmethod
    def _binds(ops):
        """(segment index, offset, symbol, addend) for each bind the opcodes make."""
        i, segment, offset, symbol, addend, out = 0, 0, 0, None, 0, []

        def leb(signed=False):
            nonlocal i
            value, shift = 0, 0
            while True:
                b = ops[i]
                i += 1
                value |= (b & 0x7f) << shift
                shift += 7
                if b < 0x80:
                    return value - (1 << shift) if signed and b & 0x40 else value

        def uleb():
            return leb()

        def sleb():
            return leb(signed=True)

        while i < len(ops):
            byte = ops[i]
            i += 1
            op, imm = byte & 0xf0, byte & 0x0f
            if op == 0x00:          # DONE (lazy binds put one after each)
                continue
            elif op in (0x10, 0x30):  # SET_DYLIB_ORDINAL_IMM, SET_DYLIB_SPECIAL_IMM
                pass
            elif op == 0x20:        # SET_DYLIB_ORDINAL_ULEB
                uleb()
            elif op == 0x40:        # SET_SYMBOL_TRAILING_FLAGS_IMM
                end = ops.index(b"\0", i)
                symbol = ops[i:end].decode()
                i = end + 1
            elif op == 0x50:        # SET_TYPE_IMM
                pass
            elif op == 0x60:        # SET_ADDEND_SLEB
                addend = sleb()
            elif op == 0x70:        # SET_SEGMENT_AND_OFFSET_ULEB
                segment, offset = imm, uleb()
            elif op == 0x80:        # ADD_ADDR_ULEB
                offset = (offset + uleb()) & (2 ** 64 - 1)
            elif op == 0x90:        # DO_BIND
                out.append((segment, offset, symbol, addend))
                offset += 8
            elif op == 0xa0:        # DO_BIND_ADD_ADDR_ULEB
                out.append((segment, offset, symbol, addend))
                offset = (offset + 8 + uleb()) & (2 ** 64 - 1)
            elif op == 0xb0:        # DO_BIND_ADD_ADDR_IMM_SCALED
                out.append((segment, offset, symbol, addend))
                offset += 8 + imm * 8
            elif op == 0xc0:        # DO_BIND_ULEB_TIMES_SKIPPING_ULEB
                count, skip = uleb(), uleb()
                for _ in range(count):
                    out.append((segment, offset, symbol, addend))
                    offset += 8 + skip
            else:
                raise Stop(why="bind opcode 0x%02x" % byte)
        return out

    def _trap(self, name):
        if name not in self.traps:
            address = TRAPS + 4 * len(self.traps)
            self.traps[name] = address
            self.trap_names[address] = name
        return self.traps[name]

    def _cell(self, size, contents=b""):
        address = self.next_cell
        self.next_cell += (size + 15) & ~15
        self.write(address, contents.ljust(size, b"\0"))
        return address

    def _resolve(self, symbol):
        data = {
            "___stdoutp": lambda: self._cell(8, struct.pack("<Q", self._file(1))),
            "_kCFAllocatorDefault": lambda: self._cell(8),  # NULL: the default allocator
            "_mach_task_self_": lambda: self._cell(4, struct.pack("<I", 0x103)),
            "___CFConstantStringClassReference": lambda: self._cell(64),  # the class the constants name
        }
        if symbol in data:
            if symbol not in self.cells:
                self.cells[symbol] = data[symbol]()
            return self.cells[symbol]
        return self._trap(symbol)

    def _file(self, fd):
        address = FILES + 0x100 * len(self.files)
        self.files[address] = {"fd": fd, "error": False, "buffer": bytearray()}
        return address

    def _stack(self, main):
        """argv, envp and apple strings at the top, the pointer arrays below them, as the kernel lays
        them; sp 16-byte aligned; main returns into a trap."""
        top = STACK + STACK_SIZE
        strings = [a.encode() + b"\0" for a in self.argv] + [b"HOME=/var/root\0", b"executable_path=" +
                                                             self.argv[0].encode() + b"\0"]
        at, pointers = top - 4096, []
        for s in strings:
            self.write(at, s)
            pointers.append(at)
            at += len(s)
        argc = len(self.argv)
        argv, envp, apple = pointers[:argc], pointers[argc:argc + 1], pointers[argc + 1:]
        array = (argv + [0]) + (envp + [0]) + (apple + [0])
        table = (top - 8192) & ~15
        for k, p in enumerate(array):
            self.put64(table + 8 * k, p)
        self.argv_address = table
        self.envp_address = table + 8 * (argc + 1)
        self.apple_address = self.envp_address + 8 * 2
        sp = (table - 256) & ~15
        if self.arch == "arm64":
            for reg, value in ((A.UC_ARM64_REG_X0, argc), (A.UC_ARM64_REG_X1, self.argv_address),
                               (A.UC_ARM64_REG_X2, self.envp_address), (A.UC_ARM64_REG_X3, self.apple_address),
                               (A.UC_ARM64_REG_LR, self.return_trap), (A.UC_ARM64_REG_SP, sp),
                               (A.UC_ARM64_REG_FP, 0)):
                self.uc.reg_write(reg, value)
        else:
            sp -= 8
            self.put64(sp, self.return_trap)  # as a call leaves it: rsp + 8 is 16-byte aligned
            for reg, value in ((X.UC_X86_REG_RDI, argc), (X.UC_X86_REG_RSI, self.argv_address),
                               (X.UC_X86_REG_RDX, self.envp_address), (X.UC_X86_REG_RCX, self.apple_address),
                               (X.UC_X86_REG_RSP, sp), (X.UC_X86_REG_RBP, 0)):
                self.uc.reg_write(reg, value)
        self.main = main

    # calling conventions
    def arg(self, i):
        if self.arch == "arm64":
            if i < 8:
                return self.uc.reg_read(A.UC_ARM64_REG_X0 + i)
            return self.u64(self.uc.reg_read(A.UC_ARM64_REG_SP) + 8 * (i - 8))
        regs = (X.UC_X86_REG_RDI, X.UC_X86_REG_RSI, X.UC_X86_REG_RDX, X.UC_X86_REG_RCX, X.UC_X86_REG_R8,
                X.UC_X86_REG_R9)
        if i < 6:
            return self.uc.reg_read(regs[i])
        return self.u64(self.uc.reg_read(X.UC_X86_REG_RSP) + 8 + 8 * (i - 6))

    def varargs(self, fixed):
        """The variadic arguments after fixed named ones: on Darwin arm64 each in an 8-byte stack slot
        from sp; on x86_64 in the registers and stack slots that follow the named ones."""
        if self.arch == "arm64":
            sp = self.uc.reg_read(A.UC_ARM64_REG_SP)
            k = 0
            while True:
                yield self.u64(sp + 8 * k)
                k += 1
        k = fixed
        while True:
            yield self.arg(k)
            k += 1

    def set_result(self, value):
        value = int(value) & (2 ** 64 - 1)
        self.uc.reg_write(A.UC_ARM64_REG_X0 if self.arch == "arm64" else X.UC_X86_REG_RAX, value)

    def set_errno(self, value):
        value = DARWIN_ERRNO.get(value, value)
        if self.errno_cell is None:
            self.errno_cell = self._cell(8)
        self.put32(self.errno_cell, value)

    # running
    def run(self):
        if self.arch == "arm64" and self.unsigned:
            raise Stop(signal=9, why="killed by the kernel: " + self.unsigned)
        try:
            self.uc.emu_start(self.main, 0, timeout=TIME_LIMIT, count=INSTRUCTION_LIMIT)
        except UcError as e:
            if self.exit is None:
                raise Stop(why="emulation stopped: %s at 0x%x" % (e, self.pc()))
        if self.exit is None:
            raise Stop(why="the run took more than %d instructions or %d s" % (INSTRUCTION_LIMIT, TIME_LIMIT // 10 ** 6))
        return self.exit

    def pc(self):
        return self.uc.reg_read(A.UC_ARM64_REG_PC if self.arch == "arm64" else X.UC_X86_REG_RIP)

    def _on_fault(self, uc, access, address, size, value, data):
        self.exit = Stop(why="a %d-byte access to unmapped 0x%x at 0x%x" % (size, address, self.pc()))
        uc.emu_stop()
        return False

    def _on_trap(self, uc, address, size, data):
        name = self.trap_names.get(address)
        if name is None:
            return
        if name == "<return from main>":
            self.exit = Stop(status=self.arg(0) & 0xff)
            uc.emu_stop()
            return
        self.calls.append(name)
        base = name[1:].split("$")[0]
        handler = getattr(self, "f_" + base, None)
        if handler is None:
            self.exit = Stop(why="the import %s is called and not implemented here" % name)
            uc.emu_stop()
            return
        try:
            failure = self.faults(base) if self.faults else None
            result = handler(failure) if failure is not None and base in FALLIBLE else handler(None)
            if result is not None:
                self.set_result(result)
        except Stop as stop:
            self.exit = stop
            uc.emu_stop()

    # --- libSystem -------------------------------------------------------------------------------
    def f_malloc(self, failure):
        return self._alloc(self.arg(0), failure)

    def f_calloc(self, failure):
        return self._alloc(self.arg(0) * self.arg(1), failure)

    def _alloc(self, size, failure=None):
        if failure is not None:
            self.set_errno(host_errno.ENOMEM)
            return 0
        address = self.heap_next
        self.heap_next += (max(size, 1) + 31) & ~15
        if self.heap_next > HEAP + HEAP_SIZE:
            self.set_errno(host_errno.ENOMEM)
            return 0
        self.write(address, bytes(size))
        self.heap_live[address] = size
        return address

    def f_realloc(self, failure):
        block, size = self.arg(0), self.arg(1)
        if failure is not None:
            self.set_errno(host_errno.ENOMEM)
            return 0
        moved = self._alloc(size)
        if block:
            old = self.heap_live.pop(block, None)
            if old is None:
                raise Stop(why="realloc of a block that is not the heap's")
            self.write(moved, self.read(block, min(old, size)))
        return moved

    def f_free(self, failure):
        block = self.arg(0)
        if block and self.heap_live.pop(block, None) is None:
            raise Stop(why="free of 0x%x, no live block" % block)
        return None

    def f_bzero(self, failure):
        self.write(self.arg(0), bytes(self.arg(1)))

    f___bzero = f_bzero  # the x86_64 slice's name for it

    def f_strlen(self, failure):
        return len(self.cstring(self.arg(0)))

    def f_strnlen(self, failure):
        at, n = self.arg(0), self.arg(1)
        data = self.read(at, n) if n else b""
        end = data.find(b"\0")
        return end if end >= 0 else n

    def f_strncmp(self, failure):
        n = self.arg(2)
        a, b = self.cstring(self.arg(0))[:n], self.cstring(self.arg(1))[:n]
        return 0 if a == b else (-1 if a < b else 1) & (2 ** 64 - 1)

    def f_strrchr(self, failure):
        at, c = self.arg(0), self.arg(1) & 0xff
        s = self.cstring(at) + b"\0"
        found = s.rfind(bytes([c]))
        return at + found if found >= 0 else 0

    def f___error(self, failure):
        if self.errno_cell is None:
            self.errno_cell = self._cell(8)
        return self.errno_cell

    def f_exit(self, failure):
        self._flush_all()
        raise Stop(status=self.arg(0) & 0xff)

    def f_raise(self, failure):
        number = self.arg(0)
        action = self.signal_actions.get(number, 0)
        if action in (0,):
            raise Stop(signal=number)
        return 0

    def f_signal(self, failure):
        number, handler = self.arg(0), self.arg(1)
        previous = self.signal_actions.get(number, 0)
        self.signal_actions[number] = handler
        return previous

    def f_sigaction(self, failure):
        number, new, old = self.arg(0), self.arg(1), self.arg(2)
        if old:
            self.write(old, struct.pack("<QIi", self.signal_actions.get(number, 0), 0, 0))
        if new:
            self.signal_actions[number] = self.u64(new)
        return 0

    def f_sigprocmask(self, failure):
        if self.arg(2):
            self.put32(self.arg(2), 0)
        return 0

    def f_umask(self, failure):
        previous, self.umask = self.umask, self.arg(0) & 0o777
        return previous

    def f_geteuid(self, failure):
        return os.geteuid()

    def f__availability_version_check(self, failure):
        return 1

    def f_sys_icache_invalidate(self, failure):
        return None

    def f_mach_port_deallocate(self, failure):
        return KERN_SUCCESS

    # files: paths are the machine's, below its root folder
    def host_path(self, address):
        """The host's path for a path of the emulated process (whose working folder is the root);
        a path that leads out of the root folder is refused."""
        path = self.cstring(address).decode("utf-8", "surrogateescape")
        inside = os.path.normpath("/" + path.lstrip("/"))
        if inside.startswith("/.."):
            raise OSError(host_errno.EACCES, path)
        return os.path.join(self.machine.root, inside.lstrip("/"))

    def _fail(self, error):
        self.set_errno(error)
        return 2 ** 64 - 1  # -1

    def _fallible(self, failure, action):
        if failure is not None:
            return self._fail(failure)
        try:
            return action()
        except OSError as e:
            return self._fail(e.errno)

    def _new_fd(self, kind):
        fd = 3
        while fd in self.fds:
            fd += 1
        self.fds[fd] = kind
        return fd

    def _host_fd(self, fd):
        kind = self.fds.get(fd)
        if kind is None or kind[0] != "host":
            raise OSError(host_errno.EBADF, "bad descriptor")
        return kind[1]

    def f_open(self, failure):
        path, flags = self.host_path(self.arg(0)), self.arg(1)
        mode = next(self.varargs(2)) & 0o7777 if flags & 0x200 else 0
        host = 0
        for darwin, linux in O_FLAGS.items():
            if flags & darwin:
                host |= linux
        if flags & 3 == 0:
            host |= os.O_RDONLY
        return self._fallible(failure, lambda: self._new_fd(("host", os.open(path, host, mode & ~self.umask))))

    def f_close(self, failure):
        fd = self.arg(0)
        kind = self.fds.pop(fd, None)
        if kind is None:
            return self._fail(host_errno.EBADF)
        if kind[0] == "host":
            os.close(kind[1])
        if failure is not None:
            return self._fail(failure)
        return 0

    def f_read(self, failure):
        fd, buffer, size = self.arg(0), self.arg(1), self.arg(2)

        def action():
            data = os.read(self._host_fd(fd), size)
            self.write(buffer, data)
            return len(data)
        return self._fallible(failure, action)

    def f_write(self, failure):
        fd, buffer, size = self.arg(0), self.arg(1), self.arg(2)
        return self._fallible(failure, lambda: os.write(self._host_fd(fd), self.read(buffer, size)))

    def _stat(self, result, address):
        """struct stat as Darwin lays it out (64-bit inodes): 144 bytes."""
        def ts(t):
            return struct.pack("<qq", int(t), int((t - int(t)) * 1e9))
        body = struct.pack("<iHHQIIi4x", result.st_dev & 0x7fffffff, result.st_mode, min(result.st_nlink, 0xffff),
                           result.st_ino, result.st_uid, result.st_gid, result.st_rdev & 0x7fffffff)
        body += ts(result.st_atime) + ts(result.st_mtime) + ts(result.st_ctime) + ts(result.st_ctime)
        body += struct.pack("<qqiIIiqq", result.st_size, result.st_blocks, result.st_blksize, 0, 0, 0, 0, 0)
        assert len(body) == 144
        self.write(address, body)
        return 0

    def f_stat(self, failure):
        path, out = self.host_path(self.arg(0)), self.arg(1)
        return self._fallible(failure, lambda: self._stat(os.stat(path), out))

    def f_lstat(self, failure):
        path, out = self.host_path(self.arg(0)), self.arg(1)
        return self._fallible(failure, lambda: self._stat(os.lstat(path), out))

    def f_fstat(self, failure):
        fd, out = self.arg(0), self.arg(1)
        return self._fallible(failure, lambda: self._stat(os.fstat(self._host_fd(fd)), out))

    def f_faccessat(self, failure):
        directory, path, mode, flags = self.arg(0), self.host_path(self.arg(1)), self.arg(2), self.arg(3)
        if (directory & 0xffffffff) != (AT_FDCWD & 0xffffffff):
            return self._fail(host_errno.EBADF)

        def action():
            if not os.access(path, mode, effective_ids=bool(flags & AT_EACCESS)):
                raise OSError(host_errno.EACCES if os.path.exists(path) else host_errno.ENOENT, path)
            return 0
        return self._fallible(failure, action)

    def f_readlink(self, failure):
        path, buffer, size = self.host_path(self.arg(0)), self.arg(1), self.arg(2)

        def action():
            target = os.readlink(path).encode("utf-8", "surrogateescape")[:size]
            self.write(buffer, target)
            return len(target)
        return self._fallible(failure, action)

    def f_mkstemp(self, failure):
        template = self.arg(0)
        text = self.cstring(template)
        if not text.endswith(b"XXXXXX"):
            return self._fail(host_errno.EINVAL)

        def action():
            for attempt in range(100):
                name = text[:-6] + ("%06d" % ((os.getpid() * 7919 + attempt * 104729) % 1000000)).encode()
                self.write(template, name)
                try:
                    fd = os.open(self.host_path(template), os.O_RDWR | os.O_CREAT | os.O_EXCL, 0o600)
                    return self._new_fd(("host", fd))
                except FileExistsError:
                    continue
            raise OSError(host_errno.EEXIST, "no name")
        return self._fallible(failure, action)

    def f_fchmod(self, failure):
        fd, mode = self.arg(0), self.arg(1) & 0o7777
        return self._fallible(failure, lambda: os.fchmod(self._host_fd(fd), mode) or 0)

    def f_ftruncate(self, failure):
        fd, length = self.arg(0), self.arg(1)
        return self._fallible(failure, lambda: os.ftruncate(self._host_fd(fd), length) or 0)

    def f_fsync(self, failure):
        fd = self.arg(0)
        return self._fallible(failure, lambda: os.fsync(self._host_fd(fd)) or 0)

    def f_rename(self, failure):
        a, b = self.host_path(self.arg(0)), self.host_path(self.arg(1))
        return self._fallible(failure, lambda: os.rename(a, b) or 0)

    def f_unlink(self, failure):
        path = self.host_path(self.arg(0))
        return self._fallible(failure, lambda: os.unlink(path) or 0)

    # stdio over the descriptors above: each FILE keeps its bytes until flushed
    def f_fdopen(self, failure):
        fd = self.arg(0)
        if failure is not None:
            self.set_errno(failure)
            return 0
        if fd not in self.fds:
            self.set_errno(host_errno.EBADF)
            return 0
        return self._file(fd)

    def _stream(self, address):
        stream = self.files.get(address)
        if stream is None:
            raise Stop(why="a FILE that is no stream: 0x%x" % address)
        return stream

    def _put(self, address, data, failure):
        stream = self._stream(address)
        if failure is not None:
            stream["error"] = True
            self.set_errno(failure)
            return False
        stream["buffer"] += data
        if len(stream["buffer"]) >= 4096:
            return self._flush(stream)
        return True

    def _flush(self, stream):
        data, stream["buffer"] = bytes(stream["buffer"]), bytearray()
        if stream["fd"] == 1:
            self.stdout += data
        elif stream["fd"] == 2:
            self.stderr += data
        elif data:
            try:
                os.write(self._host_fd(stream["fd"]), data)
            except OSError as e:
                stream["error"] = True
                self.set_errno(e.errno)
                return False
        return True

    def _flush_all(self):
        for stream in self.files.values():
            if stream.get("open", True):
                self._flush(stream)

    def f_fputs(self, failure):
        text = self.cstring(self.arg(0))
        return 0 if self._put(self.arg(1), text, failure) else 2 ** 64 - 1

    def f_fprintf(self, failure):
        text = self.format(self.cstring(self.arg(1)), self.varargs(2))
        return len(text) if self._put(self.arg(0), text, failure) else 2 ** 64 - 1

    def f_snprintf(self, failure):
        buffer, size = self.arg(0), self.arg(1)
        text = self.format(self.cstring(self.arg(2)), self.varargs(3))
        if size:
            self.write(buffer, text[:size - 1] + b"\0")
        return len(text)

    def f_fflush(self, failure):
        stream = self._stream(self.arg(0))
        if failure is not None:
            stream["error"] = True
            return self._fail(failure)
        return 0 if self._flush(stream) else 2 ** 64 - 1

    def f_ferror(self, failure):
        return 1 if self._stream(self.arg(0))["error"] else 0

    def f_fileno(self, failure):
        return self._stream(self.arg(0))["fd"]

    def f_fclose(self, failure):
        address = self.arg(0)
        stream = self._stream(address)
        ok = self._flush(stream) and not stream["error"]
        fd = stream["fd"]
        del self.files[address]
        kind = self.fds.pop(fd, None)
        if kind is not None and kind[0] == "host":
            os.close(kind[1])
        if failure is not None:
            return self._fail(failure)
        return 0 if ok else 2 ** 64 - 1

    def format(self, fmt, args):
        """printf's conversions that the tool uses, from the argument source given."""
        out, i = bytearray(), 0
        pattern = re.compile(rb"%([-+ #0]*)(\d*|\*)(?:\.(\d+|\*))?(hh|h|ll|l|z|j|t|q)?([diouxXcsp%])")
        while i < len(fmt):
            if fmt[i:i + 1] != b"%":
                out.append(fmt[i])
                i += 1
                continue
            m = pattern.match(fmt, i)
            if not m:
                raise Stop(why="a format this harness does not read: %r" % fmt[i:i + 8])
            i = m.end()
            flags, width, precision, length, conversion = m.groups()
            if conversion == b"%":
                out += b"%"
                continue
            width = str(next(args) & 0xffffffff).encode() if width == b"*" else width
            precision = str(next(args) & 0xffffffff).encode() if precision == b"*" else precision
            value = next(args)
            bits = {b"hh": 8, b"h": 16, None: 32}.get(length, 64)
            if conversion in b"di":
                value &= (1 << bits) - 1
                if value >= 1 << (bits - 1):
                    value -= 1 << bits
            elif conversion in b"ouxX":
                value &= (1 << bits) - 1
            if conversion == b"s":
                text = self.cstring(value) if value else b"(null)"
                if precision is not None:
                    text = text[:int(precision)]
                pad = int(width or b"0") - len(text)
                out += (text + b" " * pad) if b"-" in flags else (b" " * pad + text) if pad > 0 else text
                continue
            if conversion == b"c":
                out.append(value & 0xff)
                continue
            if conversion == b"p":
                conversion, flags = b"x", flags + b"#"
            pyspec = "%" + flags.decode() + width.decode() + ("." + precision.decode() if precision else "") + \
                conversion.decode().replace("u", "d")
            out += (pyspec % value).encode()
        return bytes(out)

    # sockets and the interface list
    def f_socket(self, failure):
        domain, kind = self.arg(0), self.arg(1)
        if failure is not None:
            return self._fail(failure)
        if domain != 2 or kind != 2:
            return self._fail(host_errno.EAFNOSUPPORT)
        return self._new_fd(("socket",))

    def f_ioctl(self, failure):
        fd, request = self.arg(0), self.arg(1) & 0xffffffffffffffff
        argument = next(self.varargs(2))
        kind = self.fds.get(fd)
        if kind is None:
            return self._fail(host_errno.EBADF)
        if failure is not None:
            return self._fail(failure)
        if kind[0] != "socket" or request != SIOCGIFCONF:
            return self._fail(host_errno.ENOTTY)
        length = struct.unpack("<i", self.read(argument, 4))[0]
        buffer = self.u64(argument + 4)
        if length < 0:
            return self._fail(host_errno.EINVAL)
        records = ifconf_records(self.machine.interfaces, length)
        self.write(buffer, records)
        self.write(argument, struct.pack("<i", len(records)))
        return 0

    # --- Core Foundation: objects behind handles the program cannot dereference -------------------
    def cf_new(self, kind, value, constant=False):
        handle = self.next_cf
        self.next_cf += 16
        entry = [kind, value, 1, constant, None]
        if kind == "data":
            entry[4] = self._alloc(len(value))
            self.heap_live.pop(entry[4])  # the object's, released with it
            self.write(entry[4], value)
        self.cf[handle] = entry
        return handle

    def cf_get(self, handle, kind=None):
        entry = self.cf.get(handle)
        if entry is None and any(start <= handle < end for start, end in self.cfstrings):
            entry = self._constant_string(handle)
        if entry is None:
            raise Stop(why="0x%x is no CF object" % handle)
        if kind is not None and entry[0] != kind:
            raise Stop(why="a %s given where a %s is wanted" % (entry[0], kind))
        return entry

    def cf_from_property(self, value):
        kind, v = value
        if kind == "dictionary":
            return self.cf_new("dictionary", [(k, self.cf_from_property(x)) for k, x in v])
        return self.cf_new(kind, v)

    def _constant_string(self, address):
        """A constant string that the compiler made (__DATA,__cfstring), read as Core Foundation reads
        it: its class must be ___CFConstantStringClassReference and its flags 0x7C8 (8-bit bytes)."""
        if (address - next(s for s, e in self.cfstrings if s <= address < e)) % 32:
            raise Stop(why="0x%x is inside a constant string, not at one" % address)
        isa, flags = self.u64(address), struct.unpack("<i", self.read(address + 8, 4))[0]
        data, length = self.u64(address + 16), struct.unpack("<q", self.read(address + 24, 8))[0]
        if isa != self.cells.get("___CFConstantStringClassReference") or flags != 0x7c8:
            raise Stop(why="a constant string at 0x%x with class 0x%x and flags 0x%x" % (address, isa, flags))
        text = self.read(data, length)
        if self.read(data + length, 1) != b"\0":
            raise Stop(why="a constant string at 0x%x whose bytes do not end at its length" % address)
        entry = ["string", text.decode("utf-8"), 1, True, None]
        self.cf[address] = entry
        return entry

    def f_CFRelease(self, failure):
        handle = self.arg(0)
        if not self.cf_get(handle)[3]:  # constants are never released
            self._release(handle)
        return None

    def _release(self, handle):
        entry = self.cf[handle]
        entry[2] -= 1
        if entry[2] == 0:
            if entry[0] == "dictionary":
                for _, child in entry[1]:
                    self._release(child)
            del self.cf[handle]

    def f_CFGetTypeID(self, failure):
        return CF_TYPES[self.cf_get(self.arg(0))[0]]

    def f_CFStringGetTypeID(self, failure):
        return CF_TYPES["string"]

    def f_CFDataGetTypeID(self, failure):
        return CF_TYPES["data"]

    def f_CFDictionaryGetTypeID(self, failure):
        return CF_TYPES["dictionary"]

    def f_CFBooleanGetTypeID(self, failure):
        return CF_TYPES["boolean"]

    def f_CFBooleanGetValue(self, failure):
        return 1 if self.cf_get(self.arg(0), "boolean")[1] else 0

    def f_CFEqual(self, failure):
        a, b = self.cf_get(self.arg(0)), self.cf_get(self.arg(1))
        return 1 if a[0] == b[0] and a[1] == b[1] else 0

    def f_CFDictionaryGetValue(self, failure):
        entries = self.cf_get(self.arg(0), "dictionary")[1]
        key = self.cf_get(self.arg(1), "string")[1]
        for k, v in entries:
            if k == key:
                return v
        return 0

    def f_CFDataGetLength(self, failure):
        return len(self.cf_get(self.arg(0), "data")[1])

    def f_CFDataGetBytePtr(self, failure):
        return self.cf_get(self.arg(0), "data")[4]

    def f_CFDataGetBytes(self, failure):
        data = self.cf_get(self.arg(0), "data")[1]
        location, length, buffer = self.arg(1), self.arg(2), self.arg(3)
        if location + length > len(data):
            raise Stop(why="CFDataGetBytes past the data's end")
        self.write(buffer, data[location:location + length])

    @staticmethod
    def units(text):
        return list(struct.unpack("<%dH" % (len(text.encode("utf-16-le", "surrogatepass")) // 2),
                                  text.encode("utf-16-le", "surrogatepass")))

    def f_CFStringGetLength(self, failure):
        return len(self.units(self.cf_get(self.arg(0), "string")[1]))

    def f_CFStringGetBytes(self, failure):
        units = self.units(self.cf_get(self.arg(0), "string")[1])
        # The loss byte (argument 4) goes unused: Core Foundation's UTF-8 converter never uses it.
        location, length, encoding = self.arg(1), self.arg(2), self.arg(3) & 0xffffffff
        buffer, room, used_out = self.arg(6), self.arg(7), self.arg(8)
        if encoding != UTF8:
            raise Stop(why="CFStringGetBytes in encoding 0x%x" % encoding)
        used = converted = 0
        ascii_only = all(u < 0x80 for u in units)
        if buffer and room == 0 and not ascii_only:
            buffer = 0  # the converter takes a room of 0 as a request to measure
        i, end = location, location + length
        out = bytearray()
        while i < end:
            u = units[i]
            count = 1
            if 0xd800 <= u < 0xdc00 and i + 1 < end and 0xdc00 <= units[i + 1] < 0xe000:
                ch = 0x10000 + ((u - 0xd800) << 10) + (units[i + 1] - 0xdc00)
                count = 2
            elif 0xd800 <= u < 0xe000:
                break  # the UTF-8 converter stops at an unpaired surrogate
            else:
                ch = u
            encoded = chr(ch).encode("utf-8")
            if buffer and used + len(encoded) > room:
                break
            out += encoded
            used += len(encoded)
            i += count
            converted += count
        if buffer:
            self.write(buffer, out)
        if used_out:
            self.put64(used_out, used)
        return converted

    # --- I/O Kit over the registry model ---------------------------------------------------------
    def io_new(self, kind, value):
        name = self.next_io
        self.next_io += 4
        self.io[name] = [kind, value, 1]
        return name

    def f_IOMasterPort(self, failure):
        if failure is not None:
            return KERN_FAILURE
        self.put32(self.arg(1), 0xb03)
        return KERN_SUCCESS

    def f_IOServiceMatching(self, failure):
        if failure is not None:
            return 0
        return self.cf_new("matching", self.cstring(self.arg(0)).decode())

    def _matching(self, handle):
        entry = self.cf_get(handle, "matching")
        name = entry[1]
        self._release(handle)  # consumed, whatever the result
        return [k for k, (klass, supers, _) in enumerate(self.machine.services) if klass == name or name in supers]

    def f_IOServiceGetMatchingServices(self, failure):
        matching, out = self.arg(1), self.arg(2)
        if not matching:
            return KERN_FAILURE
        found = self._matching(matching)
        if failure is not None:
            return KERN_FAILURE
        self.put32(out, self.io_new("iterator", found))
        return KERN_SUCCESS

    def f_IOServiceGetMatchingService(self, failure):
        matching = self.arg(1)
        if not matching:
            return 0
        found = self._matching(matching)
        if failure is not None or not found:
            return 0
        return self.io_new("service", found[0])

    def f_IOIteratorNext(self, failure):
        entry = self.io.get(self.arg(0) & 0xffffffff)
        if entry is None or entry[0] != "iterator":
            return 0
        if not entry[1]:
            return 0
        return self.io_new("service", entry[1].pop(0))

    def f_IOObjectRelease(self, failure):
        name = self.arg(0) & 0xffffffff
        entry = self.io.get(name)
        if entry is None:
            return 0xe00002c2
        del self.io[name]
        return KERN_SUCCESS

    def f_IORegistryEntryCreateCFProperty(self, failure):
        entry = self.io.get(self.arg(0) & 0xffffffff)
        key = self.cf_get(self.arg(1), "string")[1]
        if entry is None or entry[0] != "service" or failure is not None:
            return 0
        for k, value in self.machine.services[entry[1]][2]:
            if k == key:
                return self.cf_from_property(value)
        return 0

    # --- SystemConfiguration ---------------------------------------------------------------------
    def f_SCDynamicStoreCopyComputerName(self, failure):
        if failure is not None or self.machine.computer_name is None:
            return 0
        return self.cf_new("string", self.machine.computer_name)

    # What is left at the end of a run: what the harness counts as leaked.
    def leaks(self):
        objects = [(h, e[0]) for h, e in self.cf.items() if not e[3]]
        services = list(self.io)
        descriptors = [fd for fd in self.fds]
        return objects, list(self.heap_live.items()), services, descriptors


# The imports whose failure a fault walk injects.
FALLIBLE = {"malloc", "calloc", "realloc", "open", "close", "read", "write", "stat", "lstat",
            "fstat", "faccessat", "readlink", "mkstemp", "fchmod", "ftruncate", "fsync", "rename", "unlink",
            "fdopen", "fputs", "fprintf", "fflush", "fclose", "socket", "ioctl",
            "IOMasterPort", "IOServiceMatching", "IOServiceGetMatchingServices", "IOServiceGetMatchingService",
            "IORegistryEntryCreateCFProperty", "SCDynamicStoreCopyComputerName"}


def run(executable, arch, machine, argv, faults=None, count_instructions=False):
    """(the Stop that ended it, the process) of one emulated run."""
    process = Process(executable, arch, machine, argv, faults, count_instructions)
    try:
        stop = process.run()
    except Stop as e:
        stop = e
    process._flush_all()
    return stop, process


def main():
    arguments = sys.argv[1:]
    count = arguments[:1] == ["--count"]
    if count:
        arguments = arguments[1:]
    if len(arguments) < 6:
        print(__doc__.strip().split("\n\n")[2], file=sys.stderr)
        return 2
    executable, arch, ioreg, interfaces, name, root = arguments[:6]
    machine = Machine(read_ioreg(open(ioreg).read()), interface_list(open(interfaces).read()), name, root)
    stop, process = run(executable, arch, machine, ["/usr/local/bin/machineinfo"] + arguments[6:],
                        count_instructions=count)
    sys.stdout.buffer.write(bytes(process.stdout))
    sys.stderr.buffer.write(bytes(process.stderr))
    if count:
        print("instructions: %d, imported calls: %d" % (process.own_instructions, len(process.calls)),
              file=sys.stderr)
    if stop.why:
        print("emulate: " + stop.why, file=sys.stderr)
        return 125
    return stop.status if stop.status is not None else 128 + stop.signal


if __name__ == "__main__":
    sys.exit(main())
