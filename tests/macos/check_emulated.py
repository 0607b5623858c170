#!/usr/bin/python3
"""The Mac executable's own machine code, run: both slices of the universal file under CPU emulation
(emulate.py), on the real Macs of tests/data (four registries, eight interface lists with their
registry nodes), to each kind of
destination on Darwin's terms, and with every call of every import that can fail made to fail, once
and for good. Each document must equal, byte for byte, the one the Linux build writes from the same
data (PEER, tests/macos/peer.cpp); each run must leave no CF object, registry object, heap block or
descriptor behind.

Usage: check_emulated.py [--machines] EXECUTABLE PEER DATA_DIR   (--machines: the real Macs alone)
Prints a line a check and closes with "N passed, M failed".
"""
import errno
import os
import pwd
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import emulate  # noqa: E402

ARCHES = ("x86_64", "arm64")
REGISTRIES = ("MacBookAir4,1", "MacBookPro15,1", "MacPro5,1", "iMac17,1")
LISTS = "ACEGIKMO"
NAME = "Ann's <Mac> & \"Co\""
EARLIER = b"the earlier document\n"
# The calls that open, write and commit the destination: only their failures may give status 2.
DESTINATION_CALLS = {"open", "close", "read", "write", "stat", "lstat", "fstat", "faccessat", "readlink", "mkstemp",
                     "fchmod", "ftruncate", "fsync", "rename", "unlink", "fdopen", "fputs", "fprintf", "fflush",
                     "fclose"}
ERRORS = {"malloc": errno.ENOMEM, "calloc": errno.ENOMEM, "realloc": errno.ENOMEM, "fputs": errno.ENOSPC,
          "fprintf": errno.ENOSPC, "fflush": errno.ENOSPC, "fsync": errno.EIO, "fclose": errno.EIO,
          "socket": errno.EMFILE, "ioctl": errno.EINVAL}

passed = failed = 0


def check(ok, what):
    global passed, failed
    if ok:
        passed += 1
        print("ok: " + what)
    else:
        failed += 1
        print("FAIL: " + what)
    sys.stdout.flush()


def interface_lists(data):
    blocks, key = {}, None
    for line in open(os.path.join(data, "macos-interfaces.txt")):
        line = line.rstrip("\n")
        if line.startswith("@ "):
            key = line[2:].split(" |")[0]
            blocks[key] = ""
        elif key and line and not line.startswith("#"):
            blocks[key] += line + "\n"
    return blocks


def node_lists(data):
    nodes = {}
    for line in open(os.path.join(data, "macos-interface-nodes.txt")):
        if line[:1].isalpha() and ": " in line:
            key, text = line.rstrip("\n").split(": ", 1)
            nodes[key] = text
    return nodes


def leaks(process):
    objects, blocks, services, descriptors = process.leaks()
    parts = []
    if objects:
        parts.append("%d CF objects (%s)" % (len(objects), ", ".join(sorted({k for _, k in objects}))))
    if blocks:
        parts.append("%d heap blocks" % len(blocks))
    if services:
        parts.append("%d registry objects" % len(services))
    if descriptors:
        parts.append("descriptors %s" % descriptors)
    return "; ".join(parts)


def whole(document):
    return document.count(b"\n") == 38 and document.endswith(b"</QX:data>\n")


def main():
    arguments = sys.argv[1:]
    machines_only = arguments[:1] == ["--machines"]
    if machines_only:
        arguments = arguments[1:]
    if len(arguments) != 3:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    executable, peer, data = arguments
    work = tempfile.mkdtemp()
    try:
        lists, nodes = interface_lists(data), node_lists(data)
        machines = {}
        for key in LISTS:
            with open(os.path.join(work, key + ".txt"), "w") as f:
                f.write(lists[key])
        for registry in REGISTRIES:
            ioreg = os.path.join(data, "macos-registries", registry + ".ioreg")
            text = open(ioreg).read()
            # As the Linux tests have them: the registry with each Mac's list and nodes; then with one
            # list and no nodes, and with the serial number left to the serial-number data.
            without_serial = os.path.join(work, registry + "-data.ioreg")
            with open(without_serial, "w") as f:
                f.write("".join(line for line in text.splitlines(True) if '"IOPlatformSerialNumber"' not in line))
            cases = [(key, ioreg, nodes[key]) for key in LISTS] + [("C, no nodes", ioreg, None),
                                                                  ("C, serial from the data", without_serial, None)]
            for key, registry_file, node_text in cases:
                list_file = os.path.join(work, key[0] + ".txt")
                command = [peer, registry_file, list_file, NAME] + ([node_text] if node_text else [])
                expected = subprocess.run(command, stdout=subprocess.PIPE).stdout
                services = emulate.read_ioreg(open(registry_file).read()) + emulate.network_nodes(node_text or "")
                machines[registry, key] = (services, emulate.interface_list(lists[key[0]]), expected)

        # Every real Mac's registry with every real Mac's interface list, both slices.
        for arch in ARCHES:
            wrong = []
            for (registry, key), (services, interfaces, expected) in machines.items():
                root = os.path.join(work, "root")
                os.makedirs(root, exist_ok=True)
                stop, process = emulate.run(executable, arch, emulate.Machine(services, interfaces, NAME, root),
                                            ["machineinfo", "-"])
                left = leaks(process)
                if stop.why or stop.status != 0 or bytes(process.stdout) != expected or left:
                    wrong.append("%s with list %s: %s %s%s" % (registry, key, stop.why or "status %s" % stop.status,
                                                               "document differs" if bytes(process.stdout) != expected
                                                               else "", left))
            check(not wrong and len(machines) == len(REGISTRIES) * (len(LISTS) + 2),
                  "%s: %d real-Mac machines write the Linux build's documents byte for byte, leaving "
                  "nothing behind%s" % (arch, len(machines), "".join("\n  " + w for w in wrong)))

        # A list longer than the first request holds (1,804 bytes), so that the regrown request is made.
        services, interfaces, expected = machines["iMac17,1", "A"]
        for arch in ARCHES if not machines_only else ():
            destinations(executable, arch, services, interfaces, expected, work)
        for arch in ARCHES if not machines_only else ():
            fault_walk(executable, arch, services, interfaces, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


def fresh_root(work):
    root = os.path.join(work, "root")
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "tmp"))
    return root


def destinations(executable, arch, services, interfaces, expected, work):
    """The README's destination cases, with Darwin's flags and error numbers."""
    def go(argv, setup=None):
        root = fresh_root(work)
        if setup:
            setup(root)
        stop, process = emulate.run(executable, arch, emulate.Machine(services, interfaces, NAME, root),
                                    ["machineinfo"] + argv)
        return root, stop, process

    def read(path):
        with open(path, "rb") as f:
            return f.read()

    root, stop, process = go(["/out.xml"])
    check(stop.status == 0 and read(os.path.join(root, "out.xml")) == expected
          and sorted(os.listdir(root)) == ["out.xml", "tmp"],
          "%s: a new file is written whole, nothing else left" % arch)

    def earlier(mode, owner=None):
        def setup(root):
            path = os.path.join(root, "out.xml")
            with open(path, "wb") as f:
                f.write(EARLIER)
            os.chmod(path, mode)
            if owner is not None:
                os.chown(path, owner, owner)
        return setup

    before = {}

    def remember(root):
        earlier(0o640)(root)
        before["inode"] = os.stat(os.path.join(root, "out.xml")).st_ino

    root, stop, process = go(["/out.xml"], remember)
    info = os.stat(os.path.join(root, "out.xml"))
    check(stop.status == 0 and read(os.path.join(root, "out.xml")) == expected and info.st_ino != before["inode"]
          and info.st_mode & 0o7777 == 0o640 and sorted(os.listdir(root)) == ["out.xml", "tmp"],
          "%s: the runner's own file is replaced whole by a rename, its mode kept" % arch)

    nobody = pwd.getpwnam("nobody").pw_uid if os.geteuid() == 0 else None
    if nobody is not None:
        def shared(root):
            earlier(0o666, nobody)(root)
            before["inode"] = os.stat(os.path.join(root, "out.xml")).st_ino
        root, stop, process = go(["/out.xml"], shared)
        info = os.stat(os.path.join(root, "out.xml"))
        check(stop.status == 0 and read(os.path.join(root, "out.xml")) == expected and info.st_ino == before["inode"]
              and info.st_uid == nobody, "%s: another owner's file is written in place" % arch)

    root, stop, process = go(["/tmp"])
    check(stop.status == 2 and os.listdir(os.path.join(root, "tmp")) == [], "%s: a directory gives status 2" % arch)
    root, stop, process = go(["/missing/out.xml"])
    check(stop.status == 2 and sorted(os.listdir(root)) == ["tmp"], "%s: a missing folder gives status 2" % arch)
    root, stop, process = go(["-"])
    check(stop.status == 0 and bytes(process.stdout) == expected, "%s: - writes to standard output" % arch)
    root, stop, process = go([])
    check(stop.status == 0 and read(os.path.join(root, "tmp", "inventory.xml")) == expected
          and os.listdir(os.path.join(root, "tmp")) == ["inventory.xml"],
          "%s: no argument writes /tmp/inventory.xml" % arch)
    root, stop, process = go(["/" + "n" * 300 + ".xml"])
    check(stop.status == 2 and sorted(os.listdir(root)) == ["tmp"], "%s: a name too long gives status 2" % arch)


def fault_walk(executable, arch, services, interfaces, work):
    """Every call of every import that can fail, failing once and then for good, onto the runner's own
    earlier document: status 2 only where the destination failed, then the earlier document kept byte
    for byte; otherwise a whole document; never a temporary file left or anything leaked."""
    trials, wrong = 0, []
    for persistent in (False, True):
        nth = 1
        while nth < 2000:
            state = {"count": 0, "fired": None}

            def faults(name):
                if state["fired"] is not None and persistent and name == state["fired"]:
                    return ERRORS.get(name, errno.EIO)
                if name not in emulate.FALLIBLE:
                    return None
                state["count"] += 1
                if state["count"] == nth:
                    state["fired"] = name
                    return ERRORS.get(name, errno.EIO)
                return None

            root = fresh_root(work)
            path = os.path.join(root, "out.xml")
            with open(path, "wb") as f:
                f.write(EARLIER)
            stop, process = emulate.run(executable, arch, emulate.Machine(services, interfaces, NAME, root),
                                        ["machineinfo", "/out.xml"], faults)
            trials += 1
            if state["fired"] is None:
                break
            where = "call %d (%s) failing %s" % (nth, state["fired"], "for good" if persistent else "once")
            with open(path, "rb") as f:
                text = f.read()
            left = sorted(os.listdir(root))
            problem = None
            if stop.why:
                problem = stop.why
            elif stop.status == 0:
                if not whole(text):
                    problem = "status 0 without a whole document"
            elif stop.status == 2:
                if state["fired"] not in DESTINATION_CALLS:
                    problem = "status 2 for a failure outside the destination"
                elif text != EARLIER:
                    problem = "the earlier document was not kept"
            else:
                problem = "status %s" % stop.status
            if problem is None and left != ["out.xml", "tmp"]:
                problem = "left %s" % left
            if problem is None and leaks(process):
                problem = "leaked " + leaks(process)
            if problem:
                wrong.append(where + ": " + problem)
            nth += 1
    check(not wrong, "%s: %d runs, each fallible call failing once and for good, end with a whole document or "
          "status 2 and the earlier one, nothing left or leaked%s" % (arch, trials, "".join("\n  " + w for w in wrong[:20])))


if __name__ == "__main__":
    sys.exit(main())
