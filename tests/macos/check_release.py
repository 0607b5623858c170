#!/usr/bin/python3
"""The macOS release checked as a Mac would take it, with no Mac at hand.

The universal executable: both slices PIE executables for macOS 11.0 with an entry point; only
libSystem, the three frameworks and at most libc++ loaded; every import bound to one of them by
two-level namespace; the framework stubs listing exactly what the tool imports; a valid code
signature on the arm64 slice (Apple silicon kills a process whose pages do not match their hashes);
each slice under 1 MiB; CFSTR's constants made by the compiler, as Core Foundation reads them. The tarball: its files, modes and owners, the LaunchDaemon a valid property
list, and the same bytes from a second build.

Usage: check_release.py BUILD_DIR [SECOND_BUILD_DIR]
"""
import gzip
import io
import os
import plistlib
import re
import struct
import subprocess
import sys
import tarfile

from macholib import mach_o
from macholib.MachO import MachO

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import emulate  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FRAMEWORKS = ("CoreFoundation", "IOKit", "SystemConfiguration")
ALLOWED_LIBRARIES = {
    "/usr/lib/libSystem.B.dylib": "libSystem",
    "/usr/lib/libc++.1.dylib": "libc++",
    **{"/System/Library/Frameworks/%s.framework/Versions/A/%s" % (f, f): f for f in FRAMEWORKS},
}
CPU_NAMES = {mach_o.CPU_TYPE_NAMES.get(t, t): t for t in mach_o.CPU_TYPE_NAMES}
MIB = 1 << 20

results = []


def check(name, condition, detail=""):
    results.append(bool(condition))
    print("%s: %s%s" % ("ok" if condition else "FAIL", name, "" if condition else " (%s)" % detail))


def slices(path):
    """(architecture, header) for each slice of a universal file."""
    return [(mach_o.CPU_TYPE_NAMES.get(h.header.cputype, h.header.cputype), h) for h in MachO(path).headers]


def commands(header, kind):
    return [(cmd, data) for lc, cmd, data in header.commands if lc.cmd == kind]


def c_string(data):
    return data.split(b"\0", 1)[0].decode()


def verify_code_signature(image):
    """Checks an ad-hoc signature's page hashes against the slice's bytes; returns what is wrong, or ''.

    The signature is a big-endian SuperBlob at LC_CODE_SIGNATURE's offset; its CodeDirectory holds one
    hash a page of the bytes before the signature (codeLimit).
    """
    magic, = struct.unpack_from("<I", image, 0)
    if magic != mach_o.MH_MAGIC_64:
        return "not a 64-bit Mach-O image"
    signature = emulate.code_signature_place(image)
    if signature is None:
        return "no LC_CODE_SIGNATURE"
    offset, size = signature
    if offset + size > len(image):
        return "the signature lies beyond the file"
    blob_magic, = struct.unpack_from(">I", image, offset)
    if blob_magic != 0xFADE0CC0:
        return "no embedded signature SuperBlob (magic %#x)" % blob_magic
    directory = emulate.signature_blobs(image, offset).get(0, b"")
    if directory[:4] != b"\xfa\xde\x0c\x02":
        return "no CodeDirectory"
    (_, _, _, flags, _, ident_offset, _, code_slots, code_limit, hash_size, hash_type, _,
     page_shift) = struct.unpack_from(">IIIIIIIIIBBBB", directory)
    if {1: 20, 2: 32}.get(hash_type) != hash_size:
        return "hash type %d of %d bytes" % (hash_type, hash_size)
    if code_limit != offset:
        return "the hashes cover %d bytes, the signature starts at %d" % (code_limit, offset)
    page = 1 << page_shift
    if code_slots != (code_limit + page - 1) // page:
        return "%d page hashes for %d bytes" % (code_slots, code_limit)
    identifier = c_string(directory[ident_offset:ident_offset + 256])
    if identifier != "machineinfo" or not flags & 0x2:
        return "identifier %r, flags %#x (not ad hoc)" % (identifier, flags)
    return emulate.code_signature_problem(image) or ""


def stub_symbols(framework):
    text = open(os.path.join(ROOT, "platform", "frameworks", framework + ".framework", framework + ".tbd")).read()
    return set(re.findall(r"[\[,]\s*(_[A-Za-z0-9_$]+)", text))


def check_executable(build):
    path = os.path.join(build, "machineinfo")
    data = open(path, "rb").read()
    found = slices(path)
    check("the executable is universal with x86_64 and arm64 slices",
          sorted(a for a, _ in found) == ["ARM64", "x86_64"], [a for a, _ in found])
    imported = {}
    for arch, header in found:
        h = header.header
        check("%s: a position-independent executable, two-level namespace" % arch,
              h.filetype == mach_o.MH_EXECUTE and h.flags & mach_o.MH_PIE and h.flags & mach_o.MH_TWOLEVEL
              and not h.flags & mach_o.MH_FORCE_FLAT, "filetype %d, flags %#x" % (h.filetype, h.flags))
        versions = [(c.platform, c.minos) for c, _ in commands(header, mach_o.LC_BUILD_VERSION)]
        check("%s: for macOS 11.0 and later" % arch, versions == [(1, 0x000B0000)], versions)
        mains = [c.entryoff for c, _ in commands(header, mach_o.LC_MAIN)]
        text = [c for c, _ in commands(header, mach_o.LC_SEGMENT_64) if c.segname.rstrip(b"\0") == b"__TEXT"]
        check("%s: an entry point inside its code" % arch,
              len(mains) == 1 and len(text) == 1 and 0 < mains[0] < text[0].filesize, (mains, text))
        loads = [c_string(d) for kind in (mach_o.LC_LOAD_DYLIB, mach_o.LC_LOAD_WEAK_DYLIB, mach_o.LC_REEXPORT_DYLIB,
                                          mach_o.LC_LAZY_LOAD_DYLIB, mach_o.LC_LOAD_UPWARD_DYLIB)
                 for _, d in commands(header, kind)]
        wanted = {"/usr/lib/libSystem.B.dylib"} | {p for p, n in ALLOWED_LIBRARIES.items() if n in FRAMEWORKS}
        check("%s: loads libSystem, the three frameworks and at most libc++" % arch,
              set(loads) <= set(ALLOWED_LIBRARIES) and wanted <= set(loads) and len(loads) == len(set(loads)), loads)
        check("%s: under 1 MiB" % arch, header.size < MIB, header.size)
        nm = subprocess.run(["llvm-nm", "-m", "-u", "--arch=" + ("arm64" if arch == "ARM64" else arch), path],
                            capture_output=True, text=True, check=True).stdout.splitlines()
        unbound = [line for line in nm if not re.search(r"\(from (\S+)\)$", line)]
        check("%s: every import bound to a library by name" % arch, nm and not unbound, unbound[:5])
        for line in nm:
            m = re.search(r" (\S+) \(from (\S+)\)$", line)
            if m:
                imported.setdefault(m.group(2), set()).add(m.group(1))
        if arch == "ARM64":
            image = data[header.offset:header.offset + header.size]
            check("arm64: the code signature's page hashes match the bytes", verify_code_signature(image) == "",
                  verify_code_signature(image))
            broken = bytearray(image)
            broken[mains[0]] ^= 0x01
            check("arm64: the signature check finds a changed byte of code",
                  "does not match" in verify_code_signature(bytes(broken)), verify_code_signature(bytes(broken)))
    check("imports come only from the allowed libraries",
          set(imported) <= set(ALLOWED_LIBRARIES.values()), sorted(imported))
    for framework in FRAMEWORKS:
        stub, used = stub_symbols(framework), imported.get(framework, set())
        check("%s's stub lists exactly what the tool imports from it" % framework, stub == used,
              "not in the stub: %s; never imported: %s" % (sorted(used - stub), sorted(stub - used)))


def check_constant_strings(build):
    """Each slice's CFSTR constants as Apple's compiler makes them: 32-byte entries of __cfstring whose
    class is bound to ___CFConstantStringClassReference, with the flags 0x7C8 and a length that is the
    length of the NUL-terminated bytes they point at; and no call that makes constants at run time."""
    path = os.path.join(build, "machineinfo")
    for arch in ("x86_64", "arm64"):
        image = emulate.load_image(path, arch)
        bound = {address: symbol for address, symbol, _ in image["binds"]}

        def read(address, size):
            for _, start, length, contents in image["segments"]:
                if start <= address and address + size <= start + len(contents):
                    return contents[address - start:address - start + size]
            return None

        wrong, count = [], 0
        for start, end in image["cfstrings"]:
            for entry in range(start, end, 32):
                count += 1
                fields = read(entry, 32)
                flags, pointer, length = struct.unpack("<i4xQq", fields[8:32])
                text = read(pointer, length + 1)
                if bound.get(entry) != "___CFConstantStringClassReference" or flags != 0x7C8 or text is None \
                        or text[-1:] != b"\0" or b"\0" in text[:-1]:
                    wrong.append("0x%x: class %s, flags %#x, %r" % (entry, bound.get(entry), flags, text))
        check("%s: %d CFSTR constants made at build time, as Core Foundation reads them" % (arch, count),
              count > 0 and not wrong and (end - start) % 32 == 0, wrong[:3])
        check("%s: no constant string made at run time" % arch,
              "___CFStringMakeConstantString" not in bound.values(), "___CFStringMakeConstantString is imported")


def check_tarball(build):
    names = [n for n in os.listdir(build) if re.fullmatch(r"machineinfo-[0-9.]+-macos\.tar\.gz", n)]
    check("one tarball named for the version", len(names) == 1, names)
    if len(names) != 1:
        return
    blob = open(os.path.join(build, names[0]), "rb").read()
    files = {}
    with tarfile.open(fileobj=io.BytesIO(blob), mode="r:gz") as tar:
        members = tar.getmembers()
        for m in members:
            if m.isfile():
                files[m.name] = (m.mode, tar.extractfile(m).read())
    owners = {(m.uid, m.gid, m.uname, m.gname) for m in members}
    check("the tarball's entries belong to root", owners <= {(0, 0, "", ""), (0, 0, "root", "root")}, owners)
    share = "share/machineinfo/"
    expected = {"bin/machineinfo", "share/man/man1/machineinfo.1.gz", share + "README.md", share + "LICENSE",
                share + "machineinfo.xsd", share + "com.example.machineinfo.plist"}
    check("the tarball holds the executable, man page, documents, schema and LaunchDaemon",
          set(files) == expected, sorted(set(files) ^ expected))
    if set(files) != expected:
        return
    executable = open(os.path.join(build, "machineinfo"), "rb").read()
    check("its executable is the universal file, mode 755",
          files["bin/machineinfo"] == (0o755, executable), oct(files["bin/machineinfo"][0]))
    check("its man page is the manual",
          gzip.decompress(files["share/man/man1/machineinfo.1.gz"][1]) ==
          open(os.path.join(ROOT, "docs", "machineinfo.1"), "rb").read())
    sources = {"README.md": "README.md", "LICENSE": "LICENSE", "machineinfo.xsd": "schema/machineinfo.xsd",
               "com.example.machineinfo.plist": "docs/examples/com.example.machineinfo.plist"}
    same = all(files[share + n] == (0o644, open(os.path.join(ROOT, s), "rb").read()) for n, s in sources.items())
    check("its documents are the sources', mode 644", same)
    try:
        daemon = plistlib.loads(files[share + "com.example.machineinfo.plist"][1])
    except Exception as error:  # any parse failure is the finding
        daemon = {"error": str(error)}
    check("the LaunchDaemon is a valid property list that runs the installed tool",
          daemon.get("Label") == "com.example.machineinfo"
          and daemon.get("ProgramArguments") == ["/usr/local/bin/machineinfo"]
          and isinstance(daemon.get("StartInterval"), int), daemon)


def check_reproducible(build, second):
    for name in sorted(n for n in os.listdir(build) if n == "machineinfo" or n.endswith((".tar.gz", ".pkg", ".pkg.plist"))):
        first = open(os.path.join(build, name), "rb").read()
        other = os.path.join(second, name)
        check("a second build gives the same %s" % name,
              os.path.exists(other) and open(other, "rb").read() == first, other)


def main():
    build = sys.argv[1]
    check_executable(build)
    check_constant_strings(build)
    check_tarball(build)
    if len(sys.argv) > 2:
        check_reproducible(build, sys.argv[2])
    failed = results.count(False)
    print("%d passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
