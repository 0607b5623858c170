#!/usr/bin/python3
"""The macOS installer package checked with readers of its own, written apart from the writer, and
cross-read with the installed readers (7-Zip, GNU cpio, npm's lsbom): the xar's header, the table of
contents' SHA-1 and every member's checksums; PackageInfo's counts against the payload; the
Distribution's reference to the component; every Bom entry against the payload entry by entry; the
payload's executable, folders and LaunchDaemon; the scripts, run with a stub launchctl.

Usage: check_package.py BUILD_DIR IDENTIFIER LSBOM_DIR
"""
import gzip
import hashlib
import os
import plistlib
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zlib

from macholib.MachO import MachO

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
HOME = "./usr/local/machineinfo"
results = []


def check(name, condition, detail=""):
    results.append(bool(condition))
    print("%s: %s%s" % ("ok" if condition else "FAIL", name, "" if condition else " (%s)" % (detail,)))


def read_xar(blob):
    """({member path: bytes}, [problems]) of a xar whose members are stored as they are."""
    magic, header_size, version, toc_length, toc_size, algorithm = struct.unpack(">4sHHQQI", blob[:28])
    problems = []
    if (magic, header_size, version, algorithm) != (b"xar!", 28, 1, 1):
        problems.append("header %r" % ((magic, header_size, version, algorithm),))
    compressed = blob[header_size:header_size + toc_length]
    toc = zlib.decompress(compressed)
    if len(toc) != toc_size:
        problems.append("the TOC is %d bytes, the header says %d" % (len(toc), toc_size))
    heap = blob[header_size + toc_length:]
    root = ET.fromstring(toc).find("toc")
    own = root.find("checksum")
    start, size = int(own.find("offset").text), int(own.find("size").text)
    if own.get("style") != "sha1" or heap[start:start + size] != hashlib.sha1(compressed).digest():
        problems.append("the TOC's SHA-1 does not match")
    members = {}

    def walk(element, prefix):
        for f in element.findall("file"):
            path = prefix + f.find("name").text
            if f.find("type").text == "directory":
                walk(f, path + "/")
                continue
            data = f.find("data")
            offset, length = int(data.find("offset").text), int(data.find("length").text)
            stored = heap[offset:offset + length]
            if data.find("encoding").get("style") != "application/octet-stream" or int(data.find("size").text) != length:
                problems.append(path + ": not stored as it is")
            for kind in ("archived-checksum", "extracted-checksum"):
                if data.find(kind).text != hashlib.sha1(stored).hexdigest():
                    problems.append("%s: its %s does not verify" % (path, kind))
            members[path] = stored

    walk(root, "")
    return members, problems


def read_cpio(blob):
    """[(name, mode, uid, gid, data)] of an odc cpio archive, up to its trailer."""
    entries, at = [], 0
    while True:
        head = blob[at:at + 76].decode("ascii")
        if head[:6] != "070707":
            raise ValueError("no odc header at %d" % at)
        mode, uid, gid = (int(head[6 * i:6 * i + 6], 8) for i in (3, 4, 5))
        name_size, file_size = int(head[59:65], 8), int(head[65:76], 8)
        name = blob[at + 76:at + 76 + name_size - 1].decode()
        data = blob[at + 76 + name_size:at + 76 + name_size + file_size]
        at += 76 + name_size + file_size
        if name == "TRAILER!!!":
            return entries
        entries.append((name, mode, uid, gid, data))


def read_bom(blob):
    """{path: (mode, uid, gid, size, crc, [(cpu type, size)])} of a Bom's Paths tree."""
    if blob[:8] != b"BOMStore":
        raise ValueError("no BOMStore")
    _, _, index_offset, _, vars_offset, _ = struct.unpack(">IIIIII", blob[8:32])
    count = struct.unpack(">I", blob[index_offset:index_offset + 4])[0]
    table = [struct.unpack(">II", blob[index_offset + 4 + 8 * i:index_offset + 12 + 8 * i]) for i in range(count)]

    def block(i):
        address, length = table[i]
        return blob[address:address + length]

    named, at = {}, vars_offset + 4
    for _ in range(struct.unpack(">I", blob[vars_offset:vars_offset + 4])[0]):
        index, length = struct.unpack(">IB", blob[at:at + 5])
        named[blob[at + 5:at + 5 + length].decode()] = index
        at += 5 + length
    tree = block(named["Paths"])
    if tree[:4] != b"tree":
        raise ValueError("Paths is no tree")
    node = block(struct.unpack(">I", tree[8:12])[0])
    while struct.unpack(">H", node[:2])[0] == 0:  # down to the first leaf
        node = block(struct.unpack(">I", node[12:16])[0])
    names, parents, entries = {}, {}, {}
    while True:
        leaf, pairs, forward = struct.unpack(">HHI", node[:8])
        for k in range(pairs):
            key, value = struct.unpack(">II", node[12 + 8 * k:20 + 8 * k])
            number, info = struct.unpack(">II", block(key))
            parent_block = block(value)
            parents[number] = struct.unpack(">I", parent_block[:4])[0]
            names[number] = parent_block[4:].split(b"\0")[0].decode()
            meta = block(info)
            kind, _, flags, mode, uid, gid, _, size, _ = struct.unpack(">BBHHIIIIB", meta[:23])
            crc, archs = None, []
            if kind == 1:
                crc, _, arch_count = struct.unpack(">III", meta[23:35])
                if flags & 0x2000:
                    archs = [struct.unpack(">iI", meta[35 + 8 * i:43 + 8 * i]) for i in range(arch_count)]
            path, up = names[number], parents[number]
            while up:
                path, up = names[up] + "/" + path, parents[up]
            entries[path] = (mode, uid, gid, size if kind == 1 else 0, crc, archs)
        if forward == 0:
            return entries
        node = block(forward)


def posix_cksum(path):
    return int(subprocess.run(["cksum", path], capture_output=True, text=True, check=True).stdout.split()[0])


def run_script(script, args, stub, mount_usr_local):
    """Runs a package script as Installer would, with launchctl a stub that records its arguments;
    with mount_usr_local, inside a private mount namespace whose /usr/local is an empty tmpfs."""
    env = dict(os.environ, PATH=stub + ":/usr/bin:/bin", LAUNCHCTL_LOG=os.path.join(stub, "calls"))
    command = ["sh", script] + args
    if mount_usr_local:
        command = ["unshare", "-m", "sh", "-c", 'mount -t tmpfs tmpfs /usr/local && mkdir -p /usr/local/share/man/man1 '
                   '&& echo other > /usr/local/share/man/man1/machineinfo.1.gz && "$@" && '
                   'readlink /usr/local/bin/machineinfo && cat /usr/local/share/man/man1/machineinfo.1.gz', "sh"] + command
    done = subprocess.run(command, env=env, capture_output=True, text=True)
    log = os.path.join(stub, "calls")
    calls = open(log).read() if os.path.exists(log) else ""
    if os.path.exists(log):
        os.remove(log)
    return done.returncode, done.stdout, calls


def check_manifest(package, blob, identifier):
    """The MDM manifest beside the package: one item whose asset is the package (its kind, an https URL,
    the SHA-256 of each chunk recomputed here) and whose metadata names it."""
    try:
        with open(package + ".plist", "rb") as f:
            manifest = plistlib.load(f)
        item, = manifest["items"]
        asset, = item["assets"]
        size = asset["sha256-size"]
        chunks = [hashlib.sha256(blob[at:at + size]).hexdigest() for at in range(0, len(blob), size)]
        metadata = item["metadata"]
        ok = (asset["kind"] == "software-package" and asset["url"].startswith("https://")
              and asset["url"].endswith("/" + os.path.basename(package)) and asset["sha256s"] == chunks
              and metadata == {"bundle-identifier": identifier, "bundle-version": re.search(r"-([0-9.]+)\.pkg$",
                               package).group(1), "kind": "software", "title": "machineinfo"})
        detail = (asset, metadata)
    except (OSError, KeyError, ValueError, TypeError, plistlib.InvalidFileException) as e:
        ok, detail = False, e
    check("the MDM manifest beside the package: its asset's chunk hashes and its metadata", ok, detail)


def main():
    build, identifier, lsbom = sys.argv[1:4]
    names = [n for n in os.listdir(build) if re.fullmatch(r"machineinfo-[0-9.]+\.pkg", n)]
    check("one installer package named for the version", len(names) == 1, names)
    if len(names) != 1:
        return 1
    package = os.path.join(build, names[0])
    blob = open(package, "rb").read()
    check_manifest(package, blob, identifier)
    members, problems = read_xar(blob)
    check("the xar's header, its TOC's SHA-1 and every member's checksums verify", not problems, problems)
    tampered = bytearray(blob)
    tampered[-100] ^= 1
    check("the xar reader finds a changed byte of a member", read_xar(bytes(tampered))[1])
    expected = {"Distribution", "machineinfo.pkg/PackageInfo", "machineinfo.pkg/Bom", "machineinfo.pkg/Payload",
                "machineinfo.pkg/Scripts"}
    check("a product archive: the Distribution and the component's four members", set(members) == expected,
          sorted(members))
    if set(members) != expected:
        return 1

    payload = read_cpio(gzip.decompress(members["machineinfo.pkg/Payload"]))
    scripts = {n.lstrip("./"): (m, d) for n, m, _, _, d in read_cpio(gzip.decompress(members["machineinfo.pkg/Scripts"]))}
    entries = {n: (m, u, g, d) for n, m, u, g, d in payload}
    info = ET.fromstring(members["machineinfo.pkg/PackageInfo"])
    counts = info.find("payload")
    kbytes = sum((len(d) + 4095) // 4096 * 4 for _, _, _, _, d in payload)
    check("PackageInfo names the identifier, version and install location",
          (info.get("identifier"), info.get("install-location"), info.get("format-version"), info.get("auth")) ==
          (identifier, "/", "2", "root") and names[0] == "machineinfo-%s.pkg" % info.get("version"), info.attrib)
    check("PackageInfo's counts are the payload's", (int(counts.get("numberOfFiles")), int(counts.get("installKBytes")))
          == (len(payload), kbytes), (counts.attrib, len(payload), kbytes))
    check("PackageInfo's scripts are in Scripts, mode 755",
          all(scripts.get(s.get("file").lstrip("./"), (0,))[0] == 0o100755 for s in info.find("scripts")) and
          {s.tag for s in info.find("scripts")} == {"preinstall", "postinstall"},
          sorted(scripts))
    dist = ET.fromstring(members["Distribution"])
    refs = dist.findall("pkg-ref")
    check("the Distribution's choice installs the component by reference",
          any(r.get("id") == identifier and (r.text or "").strip() == "#machineinfo.pkg" and
              r.get("version") == info.get("version") for r in refs) and
          any(c.get("id") == identifier and c.find("pkg-ref") is not None for c in dist.findall("choice")),
          members["Distribution"][:400])

    check("every payload entry belongs to root:wheel", all(u == 0 and g == 0 for _, u, g, _ in entries.values()))
    shared = {".": 0o40755, "./usr": 0o40755, "./usr/local": 0o40755, "./Library": 0o40755,
              "./Library/LaunchDaemons": 0o40755}
    check("folders that others share carry what macOS ships (root:wheel 0755); none of Homebrew's is there",
          all(entries.get(f, (0,))[0] == m for f, m in shared.items()) and
          not any(n.startswith(("./usr/local/bin", "./usr/local/share", "./usr/local/lib")) for n in entries),
          sorted(entries))
    executable = open(os.path.join(build, "machineinfo"), "rb").read()
    tool = entries.get(HOME + "/bin/machineinfo", (0, 0, 0, b""))
    check("the payload's executable is build-macos/machineinfo, mode 755", tool[0] == 0o100755 and tool[3] == executable,
          oct(tool[0]))
    daemon_name = "./Library/LaunchDaemons/%s.plist" % identifier
    try:
        daemon = plistlib.loads(entries[daemon_name][3])
    except Exception as error:  # a missing file or a parse failure is the finding
        daemon = {"error": str(error)}
    check("the LaunchDaemon is a valid property list, mode 644, whose Label is its file name's",
          entries.get(daemon_name, (0,))[0] == 0o100644 and daemon.get("Label") == identifier and
          daemon.get("ProgramArguments") == [HOME[1:] + "/bin/machineinfo"], daemon)
    check("the manual, documents, schema and uninstall script are in the package's folder",
          {HOME + p for p in ("/share/man/man1/machineinfo.1.gz", "/share/machineinfo/README.md",
                              "/share/machineinfo/LICENSE", "/share/machineinfo/machineinfo.xsd",
                              "/share/machineinfo/uninstall", "/share/machineinfo/%s.plist" % identifier)}
          <= set(entries), sorted(entries))

    work = tempfile.mkdtemp()
    bom = read_bom(members["machineinfo.pkg/Bom"])
    mismatches = []
    for name, (mode, uid, gid, data) in entries.items():
        path = os.path.join(work, "file")
        open(path, "wb").write(data)
        regular = mode & 0o170000 == 0o100000
        archs = []
        if data[:4] == b"\xca\xfe\xba\xbe":
            archs = [(h.header.cputype, h.size) for h in MachO(path).headers]
        want = (mode, uid, gid, len(data) if regular else 0, posix_cksum(path) if regular else None, archs)
        if bom.get(name) != want:
            mismatches.append((name, bom.get(name), want))
    check("every Bom entry is its payload entry: path, mode, owner, size, cksum CRC, architectures",
          not mismatches and set(bom) == set(entries), mismatches or sorted(set(bom) ^ set(entries)))
    check("the Bom lists the universal executable's two slices", len(bom.get(HOME + "/bin/machineinfo", [()])[-1]) == 2)

    # Cross-reads: each installed reader lists what ours does.
    with open(os.path.join(work, "Payload.cpio"), "wb") as f:
        f.write(gzip.decompress(members["machineinfo.pkg/Payload"]))
    seven = subprocess.run(["7zz", "l", "-slt", "-txar", package], capture_output=True, text=True).stdout
    listed = {p for p in re.findall(r"^Path = (.+)$", seven, re.M) if p != package and not p.startswith("[TOC]")}
    check("7-Zip lists the xar's members as ours does", listed == set(members) | {"machineinfo.pkg"}, sorted(listed))
    seven = subprocess.run(["7zz", "l", "-slt", "-tcpio", os.path.join(work, "Payload.cpio")], capture_output=True,
                           text=True).stdout
    listed = set(re.findall(r"^Path = (.+)$", seven, re.M)[1:])  # after the archive's own path
    check("7-Zip lists the payload as ours does", listed == set(entries), sorted(listed ^ set(entries)))
    gnu = subprocess.run(["cpio", "-itv", "--quiet"], stdin=open(os.path.join(work, "Payload.cpio"), "rb"),
                         capture_output=True, text=True).stdout.splitlines()
    gnu_entries = {line.split()[-1]: (line.split()[0], int(line.split()[4])) for line in gnu}
    ours = {n: ("d" if m & 0o40000 else "-") for n, (m, _, _, _) in entries.items()}
    check("GNU cpio lists the payload as ours does: names, kinds and sizes",
          {n: v[0][0] for n, v in gnu_entries.items()} == ours and
          all(gnu_entries[n][1] == len(d) for n, (m, _, _, d) in entries.items() if not m & 0o40000), gnu[:3])
    with open(os.path.join(work, "Bom"), "wb") as f:
        f.write(members["machineinfo.pkg/Bom"])
    listing = subprocess.run(
        ["node", "-e", "const l = require(process.argv[1]); for (const f of l(require('fs').readFileSync(process.argv[2])))"
         " console.log([f.filename, f.mode.toString(8), f.user + '/' + f.group, f.size, f.checksum].join('\\t'))",
         os.path.join(lsbom, "index.js"), os.path.join(work, "Bom")], capture_output=True, text=True).stdout.splitlines()
    ours = ["\t".join([n, "%o" % m, "%d/%d" % (u, g), str(s) if c is not None else "", str(c) if c is not None else ""])
            for n, (m, u, g, s, c, _) in bom.items()]
    check("npm's lsbom lists the Bom as ours does", sorted(listing) == sorted(ours) and listing,
          (listing[:2], ours[:2]))

    # The scripts: POSIX sh, and what they do with a stub launchctl.
    stub = os.path.join(work, "stub")
    os.makedirs(stub)
    with open(os.path.join(stub, "launchctl"), "w") as f:
        f.write('#!/bin/sh\necho "$*" >> "$LAUNCHCTL_LOG"\n')
    os.chmod(os.path.join(stub, "launchctl"), 0o755)
    for name, data in [(n, d) for n, (_, d) in scripts.items() if n] + [
            ("uninstall", entries.get(HOME + "/share/machineinfo/uninstall", (0, 0, 0, b""))[3])]:
        open(os.path.join(work, name), "wb").write(data)
        check("%s is valid POSIX sh" % name, subprocess.run(["sh", "-n", os.path.join(work, name)]).returncode == 0)
    plist_path = "/Library/LaunchDaemons/%s.plist" % identifier
    volume = os.path.join(work, "Volume")
    status, out, calls = run_script(os.path.join(work, "postinstall"), [package, "/", volume + "/"], stub, False)
    check("postinstall onto another volume links the tool there and starts nothing",
          status == 0 and calls == "" and os.readlink(os.path.join(volume, "usr/local/bin/machineinfo")) ==
          HOME[1:] + "/bin/machineinfo", (status, out, calls))
    status, out, calls = run_script(os.path.join(work, "preinstall"), [package, "/", volume], stub, False)
    check("preinstall onto another volume stops nothing", status == 0 and calls == "", (status, out, calls))
    if os.geteuid() == 0 and subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode == 0:
        status, out, calls = run_script(os.path.join(work, "postinstall"), [package, "/", "/"], stub, True)
        check("postinstall onto / links the tool, leaves another's manual alone and bootstraps the daemon",
              status == 0 and calls == "bootstrap system %s\n" % plist_path and
              out.splitlines()[-2:] == [HOME[1:] + "/bin/machineinfo", "other"], (status, out, calls))
        status, out, calls = run_script(os.path.join(work, "preinstall"), [package, "/", "/"], stub, False)
        check("preinstall onto / boots the running daemon out", status == 0 and
              calls == "bootout system/%s\n" % identifier, (status, out, calls))
    else:
        print("skipped: postinstall onto / (needs root and a private mount namespace for /usr/local)")
    failed = results.count(False)
    print("%d passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
