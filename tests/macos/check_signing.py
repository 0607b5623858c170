#!/usr/bin/python3
"""The Developer ID signing of the macOS release, checked with a test hierarchy made here
(signing_pki.py) and a time-stamp authority of our own on 127.0.0.1 (`openssl ts -reply` behind a small
HTTP server). BUILD_DIR is a built release (the second build of tests/macos/run), signed here in place.

Readers of our own recompute every page hash, the special slots and the CDHashes and decode the
designated requirement; OpenSSL verifies the CMS signatures, the time stamps and the package's RSA
signature. A changed byte of code, CodeDirectory, table of contents or signature must fail them.
Bad inputs must stop the build with a message naming the problem and leave the release as it was.

Usage: check_signing.py BUILD_DIR IDENTIFIER LSBOM_DIR PEER DATA_DIR
"""
import base64
import hashlib
import http.server
import os
import plistlib
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import xml.etree.ElementTree as ET
import zlib

from asn1crypto import cms

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import emulate  # noqa: E402
import signing_pki  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PASSWORD = b"Keychain export 1"
EPOCH = "1765000000"
results = []


def check(name, condition, detail=""):
    results.append(bool(condition))
    print("%s: %s%s" % ("ok" if condition else "FAIL", name, "" if condition else " (%s)" % (detail,)))
    sys.stdout.flush()


def openssl(*arguments, data=None):
    return subprocess.run(["openssl"] + list(arguments), input=data, capture_output=True)


def padded_der(blob):
    """The DER value at the start of BLOB, without the zero padding after it."""
    return cms.ContentInfo.load(blob).dump()


# --- the time-stamp authority -------------------------------------------------------------------

def time_stamp_authority(pki):
    """An RFC 3161 server on 127.0.0.1 that answers each query with `openssl ts -reply`; its URL."""
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers["Content-Length"]))
            done = openssl("ts", "-reply", "-config", os.path.join(pki, "tsa.cnf"), "-section", "test",
                           "-queryfile", "/dev/stdin", "-signer", os.path.join(pki, "tsa.pem"),
                           "-inkey", os.path.join(pki, "tsa.key"), "-out", "/dev/stdout", data=query)
            self.send_response(200 if done.returncode == 0 else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(done.stdout)))
            self.end_headers()
            self.wfile.write(done.stdout)

        def log_message(self, *arguments):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return "http://127.0.0.1:%d/ts" % server.server_address[1]


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# --- readers ------------------------------------------------------------------------------------

def fat_slices(data):
    count = struct.unpack(">I", data[4:8])[0]
    return {cpu: data[offset:offset + size] for cpu, _, offset, size, _ in
            (struct.unpack(">iiIII", data[8 + 20 * k:28 + 20 * k]) for k in range(count))}


def oid_text(contents):
    parts, value = [], 0
    for byte in contents:
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            parts.append(value)
            value = 0
    return ".".join(str(p) for p in [min(parts[0] // 40, 2), parts[0] - 40 * min(parts[0] // 40, 2)] + parts[1:])


def requirement_text(expression):
    """Apple's requirement language for a compiled expression (the opcodes a Developer ID one uses)."""
    at = [0]

    def word():
        at[0] += 4
        return struct.unpack_from(">i", expression, at[0] - 4)[0]

    def data():
        size = word()
        value = expression[at[0]:at[0] + size]
        at[0] += size + (-size % 4)
        return value

    def slot(value):
        return {0: "leaf", -1: "anchor"}.get(value, str(value))

    def node():
        op = word()
        if op in (6, 7):
            left = node()
            return "%s %s %s" % (left, "and" if op == 6 else "or", node())
        if op == 2:
            return 'identifier "%s"' % data().decode()
        if op == 15:
            return "anchor apple generic"
        if op == 14:
            where, oid, match = slot(word()), oid_text(data()), word()
            return "certificate %s[field.%s] %s" % (where, oid, {0: "exists"}.get(match, "?"))
        if op == 11:
            where, field, match = slot(word()), data().decode(), word()
            return "certificate %s[%s] %s %s" % (where, field, {1: "="}.get(match, "?"), data().decode())
        return "<opcode %d>" % op

    text = node()
    return text if at[0] == len(expression) else text + " <%d bytes more>" % (len(expression) - at[0])


def signed_attributes(cms_der):
    signer = cms.ContentInfo.load(cms_der)["content"]["signer_infos"][0]
    values = {a["type"].dotted: a["values"] for a in signer["signed_attrs"]}
    return signer, values


def verify_cms(cms_der, content, work, pki):
    """What `openssl cms -verify` says of a detached CMS over CONTENT, against the test root."""
    with open(os.path.join(work, "cms.der"), "wb") as f:
        f.write(cms_der)
    with open(os.path.join(work, "content"), "wb") as f:
        f.write(content)
    done = openssl("cms", "-verify", "-binary", "-inform", "DER", "-in", os.path.join(work, "cms.der"),
                   "-content", os.path.join(work, "content"), "-CAfile", os.path.join(pki, "root.pem"),
                   "-purpose", "any", "-ignore_critical", "-out", "/dev/null")
    return "" if done.returncode == 0 else "CMS: " + done.stderr.decode(errors="replace").strip().splitlines()[0]


def verify_stamp(signer, work, pki, stamped):
    """Problems of the time stamp among the signer's unsigned attributes: present exactly when STAMPED,
    and verified by `openssl ts -verify` over the signature's SHA-256."""
    unsigned = signer["unsigned_attrs"]
    tokens = [a["values"][0] for a in (unsigned if unsigned.native else [])
              if a["type"].dotted == "1.2.840.113549.1.9.16.2.14"]
    if not stamped:
        return [] if not tokens else ["a time stamp that was not asked for"]
    if len(tokens) != 1:
        return ["no time stamp"]
    with open(os.path.join(work, "token.der"), "wb") as f:
        f.write(tokens[0].dump())
    done = openssl("ts", "-verify", "-token_in", "-in", os.path.join(work, "token.der"), "-digest",
                   hashlib.sha256(signer["signature"].native).hexdigest(), "-CAfile", os.path.join(pki, "root.pem"),
                   "-untrusted", os.path.join(pki, "tsa.pem"))
    return [] if done.returncode == 0 else ["time stamp: " + done.stderr.decode(errors="replace").strip()[:200]]


def code_problems(image, arm64, identifier, work, pki, stamped):
    """What is wrong with a slice's Developer ID signature, recomputed from its bytes ([] if nothing)."""
    ncmds, at = struct.unpack_from("<I", image, 16)[0], 32
    segments, signature, sdk = {}, None, None
    for _ in range(ncmds):
        cmd, size = struct.unpack_from("<II", image, at)
        if cmd == 0x19:
            segments[image[at + 8:at + 24].rstrip(b"\0")] = struct.unpack_from("<QQQQ", image, at + 24)
        elif cmd == 0x1D:
            signature = struct.unpack_from("<II", image, at + 8)
        elif cmd == 0x32:
            sdk = struct.unpack_from("<I", image, at + 16)[0]
        at += size
    if signature is None:
        return ["no LC_CODE_SIGNATURE"]
    offset, size = signature
    _, link_size, link_off, link_file = segments[b"__LINKEDIT"]
    problems = []
    if offset % 16 or offset + size != len(image) or link_off + link_file != len(image) or link_size < link_file:
        problems.append("the signature does not end __LINKEDIT and the file")
    found = emulate.signature_blobs(image, offset)
    directory, requirements, wrapper = found.get(0, b""), found.get(2, b""), found.get(0x10000, b"")
    if sorted(found) != [0, 2, 0x10000] or directory[:4] != b"\xfa\xde\x0c\x02":
        return problems + ["blobs %s" % sorted(found)]
    (version, flags, hash_offset, ident_offset, special, slots, limit, hash_size, hash_type, platform, shift, _, _,
     team_offset, _, _, exec_base, exec_limit, exec_flags, runtime) = struct.unpack_from(">IIIIIIIBBBBIIIIQQQQI",
                                                                                        directory, 8)
    text_off, text_size = segments[b"__TEXT"][2:4]
    wanted = (0x20500, 0x10000, 2, 32, 2, 14 if arm64 else 12, offset, text_off, text_size, 1, sdk)
    have = (version, flags, special, hash_size, hash_type, shift, limit, exec_base, exec_limit, exec_flags, runtime)
    if have != wanted:
        problems.append("CodeDirectory fields %s, not %s" % (have, wanted))

    def name(at):
        return directory[at:directory.index(b"\0", at)].decode()

    if name(ident_offset) != identifier or name(team_offset) != signing_pki.TEAM:
        problems.append("identifier %r, team %r" % (name(ident_offset), name(team_offset)))
    page = 1 << shift
    if slots != (limit + page - 1) // page:
        problems.append("%d code slots for %d bytes" % (slots, limit))
    problems += [p for p in [emulate.code_signature_problem(image)] if p]
    if (directory[hash_offset - 64:hash_offset - 32], directory[hash_offset - 32:hash_offset]) != (
            hashlib.sha256(requirements).digest(), bytes(32)):
        problems.append("the special slots are not the requirements' hash and an empty Info.plist slot")
    expected = ('identifier "%s" and anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] exists '
                "and certificate leaf[field.1.2.840.113635.100.6.1.13] exists and certificate leaf[subject.OU] = %s"
                % (identifier, signing_pki.TEAM))
    kinds = emulate.signature_blobs(requirements, 0)
    text = requirement_text(kinds.get(3, b"")[12:]) if list(kinds) == [3] else "types %s" % list(kinds)
    if text != expected:
        problems.append("designated requirement %r" % text)
    cms_der = wrapper[8:]
    problems += [p for p in [verify_cms(cms_der, directory, work, pki)] if p]
    try:
        signer, values = signed_attributes(cms_der)
        cdhash = hashlib.sha256(directory).digest()
        plist = plistlib.loads(values["1.2.840.113635.100.9.1"][0].native)
        agility = values["1.2.840.113635.100.9.2"][0].dump()
        if values["1.2.840.113549.1.9.4"][0].native != cdhash or plist != {"cdhashes": [cdhash[:20]]} or \
                agility != b"\x30\x2d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x04\x20" + cdhash:
            problems.append("the messageDigest or the CDHashes attributes are not the CodeDirectory's hash")
        problems += verify_stamp(signer, work, pki, stamped)
    except (KeyError, ValueError, TypeError) as error:
        problems.append("CMS attributes: %s" % error)
    return problems


def read_toc(blob):
    magic, size, version, compressed_size, toc_size, algorithm = struct.unpack(">4sHHQQI", blob[:28])
    compressed = blob[28:28 + compressed_size]
    return algorithm, compressed, ET.fromstring(zlib.decompress(compressed)).find("toc"), blob[28 + compressed_size:]


def package_problems(blob, work, pki, stamped):
    """What is wrong with the package's signatures: the TOC's SHA-1, the RSA signature of it, the CMS over
    it, each with the chain leaf, Developer ID CA, root in its KeyInfo ([] if nothing)."""
    try:
        algorithm, compressed, toc, heap = read_toc(blob)
    except (zlib.error, ET.ParseError, struct.error) as error:
        return ["the TOC cannot be read: %s" % error]
    problems = []
    checksum = heap[:20]
    if algorithm != 1 or checksum != hashlib.sha1(compressed).digest():
        problems.append("the TOC's SHA-1 checksum does not match")
    namespace = "{http://www.w3.org/2000/09/xmldsig#}"
    expected = [open(os.path.join(pki, "installer.der"), "rb").read()] + [
        open(os.path.join(pki, n), "rb").read() for n in ("ca.der", "root.der")]
    found = {}
    for tag, style in (("signature", "RSA"), ("x-signature", "CMS")):
        element = toc.find(tag)
        if element is None or element.get("style") != style:
            problems.append("no %s %s" % (style, tag))
            continue
        start, size = int(element.find("offset").text), int(element.find("size").text)
        certificates = [base64.b64decode(c.text) for c in element.iter(namespace + "X509Certificate")]
        if certificates != expected:
            problems.append("the %s KeyInfo does not hold the chain leaf, CA, root" % style)
        found[style] = heap[start:start + size]
    if problems:
        return problems
    with open(os.path.join(work, "checksum"), "wb") as f:
        f.write(checksum)
    with open(os.path.join(work, "rsa.sig"), "wb") as f:
        f.write(found["RSA"])
    done = openssl("pkeyutl", "-verify", "-pubin", "-inkey", os.path.join(pki, "installer.pub"), "-in",
                   os.path.join(work, "checksum"), "-sigfile", os.path.join(work, "rsa.sig"), "-pkeyopt", "digest:sha1")
    if done.returncode != 0:
        problems.append("RSA: the signature does not verify")
    try:
        cms_der = padded_der(found["CMS"])
        problems += [p for p in [verify_cms(cms_der, checksum, work, pki)] if p]
        signer, _ = signed_attributes(cms_der)
        problems += verify_stamp(signer, work, pki, stamped)
    except (KeyError, ValueError, TypeError) as error:
        problems.append("CMS attributes: %s" % error)
    return problems


# --- the runs -----------------------------------------------------------------------------------

FINAL = ("machineinfo", "machineinfo-1.11-macos.tar.gz", "machineinfo-1.11.pkg", "machineinfo-1.11.pkg.plist")


def release(build):
    """The release's files and the build folder's top level, as they stand."""
    return sorted(os.listdir(build)), {n: open(os.path.join(build, n), "rb").read()
                                       for n in FINAL if os.path.exists(os.path.join(build, n))}


def make_release(build, identifier, env):
    done = subprocess.run([os.path.join(ROOT, "scripts", "macos-release"), build, "Release", identifier], env=env,
                          capture_output=True)
    return done.returncode, done.stdout + done.stderr


def main():
    build, identifier, lsbom, peer, data = sys.argv[1:6]
    work = tempfile.mkdtemp()
    try:
        pki = os.path.join(work, "pki")
        os.makedirs(pki)
        p12 = signing_pki.make(pki, PASSWORD)
        url = time_stamp_authority(pki)
        base = {k: v for k, v in os.environ.items() if not k.startswith(("MACOS_SIGN", "MACOS_TIMESTAMP"))}
        env = dict(base, MACOS_SIGN_APPLICATION=p12["application"], MACOS_SIGN_INSTALLER=p12["installer"],
                   MACOS_SIGN_PASSWORD_FILE=os.path.join(pki, "password"), SOURCE_DATE_EPOCH=EPOCH)
        wrong_password = os.path.join(pki, "wrong")
        with open(wrong_password, "wb") as f:
            f.write(b"not it\n")

        # Bad inputs: each stops the build with its message and leaves the unsigned release as it was.
        unsigned = release(build)
        dead = "http://127.0.0.1:%d/ts" % closed_port()
        cases = [
            ("a wrong password", dict(env, MACOS_SIGN_PASSWORD_FILE=wrong_password), "the password does not open it"),
            ("the Application certificate given as the Installer one", dict(env, MACOS_SIGN_INSTALLER=p12["application"]),
             "is a Developer ID Application certificate, given as the Installer one"),
            ("the Installer certificate given as the Application one", dict(env, MACOS_SIGN_APPLICATION=p12["installer"]),
             "is a Developer ID Installer certificate, given as the Application one"),
            ("a certificate whose key usage is another's", dict(env, MACOS_SIGN_APPLICATION=p12["usage"]),
             "may not sign code (its extended key usage lacks 1.3.6.1.5.5.7.3.3)"),
            ("a certificate without the Developer ID extension", dict(env, MACOS_SIGN_APPLICATION=p12["plain"]),
             "has no Developer ID Application extension (1.2.840.113635.100.6.1.13)"),
            ("an expired certificate", dict(env, MACOS_SIGN_APPLICATION=p12["expired"]), "expired on 2021-01-01"),
            ("an identity without its chain", dict(env, MACOS_SIGN_APPLICATION=p12["lone"]),
             "export the identity with its chain"),
            ("an unreachable time-stamp server, for the executable", dict(env, MACOS_TIMESTAMP_URL=dead),
             "the time-stamp server %s (MACOS_TIMESTAMP_URL) cannot be reached" % dead),
            ("an unreachable time-stamp server, for the package alone",
             dict({k: v for k, v in env.items() if k != "MACOS_SIGN_APPLICATION"}, MACOS_TIMESTAMP_URL=dead),
             "macos-package: the time-stamp server %s (MACOS_TIMESTAMP_URL) cannot be reached" % dead),
        ]
        for what, case_env, message in cases:
            status, said = make_release(build, identifier, case_env)
            said = said.decode(errors="replace")
            check("%s stops the build, says so, and leaves the release as it was" % what,
                  status != 0 and message in said and release(build) == unsigned and PASSWORD.decode() not in said,
                  (status, said[-300:]))

        # Signed twice with the same signing time: the same bytes.
        status, said = make_release(build, identifier, env)
        check("the release is signed", status == 0, said[-500:])
        first = release(build)
        status, said = make_release(build, identifier, env)
        check("a second signed build with the same SOURCE_DATE_EPOCH gives the same bytes",
              status == 0 and release(build) == first, [n for n in FINAL if release(build)[1].get(n) != first[1].get(n)])
        leaked = [os.path.join(d, f) for d, _, files in os.walk(build) if "/zig" not in d + "/" for f in files
                  if PASSWORD in open(os.path.join(d, f), "rb").read()]
        check("the password is in no file of the build folder, and was never printed",
              not leaked and PASSWORD not in said, leaked)
        signed = first[1]
        verify_release(signed, identifier, work, pki, stamped=False)
        tamper(signed, identifier, work, pki)

        # The package's cross-readers, and the signed slices run under emulation.
        done = subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "tests", "macos", "check_package.py"), build,
                               identifier, lsbom], capture_output=True, text=True)
        check("the signed package reads as the unsigned one (ours, 7-Zip, GNU cpio, lsbom)", done.returncode == 0,
              [line for line in done.stdout.splitlines() if line.startswith("FAIL")])
        done = subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "tests", "macos", "check_emulated.py"),
                               "--machines", os.path.join(build, "machineinfo"), peer, data],
                              capture_output=True, text=True)
        check("both signed slices run under emulation on the real Macs as the unsigned ones do",
              done.returncode == 0 and "ok: arm64" in done.stdout,
              [line for line in done.stdout.splitlines() if not line.startswith("ok")])

        # With a time stamp from the server, on the executable's slices and the package.
        status, said = make_release(build, identifier, dict(env, MACOS_TIMESTAMP_URL=url))
        check("the release is signed with time stamps", status == 0, said[-500:])
        verify_release(release(build)[1], identifier, work, pki, stamped=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    failed = results.count(False)
    print("%d passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


def verify_release(files, identifier, work, pki, stamped):
    how = "with a time stamp" if stamped else "with no time stamp"
    slices = fat_slices(files["machineinfo"])
    for cpu, arch in ((0x01000007, "x86_64"), (0x0100000C, "arm64")):
        problems = code_problems(slices.get(cpu, b"\0" * 32), cpu == 0x0100000C, identifier, work, pki, stamped)
        check("%s: Developer ID signature, hardened runtime, every page hash, the designated requirement, the "
              "CMS and its CDHashes, %s" % (arch, how), not problems, problems)
    problems = package_problems(files["machineinfo-1.11.pkg"], work, pki, stamped)
    check("the package: the TOC checksum, the RSA signature and the CMS with the chain, %s" % how, not problems,
          problems)
    tarball = subprocess.run(["tar", "-xOzf", "-", "bin/machineinfo"], input=files["machineinfo-1.11-macos.tar.gz"],
                             capture_output=True).stdout
    check("the tarball holds the signed executable (%s)" % how, tarball == files["machineinfo"])


def tamper(files, identifier, work, pki):
    """One changed byte in a code page, the CodeDirectory, the TOC or a signature fails a check."""
    image = fat_slices(files["machineinfo"])[0x0100000C]
    offset, _ = emulate.code_signature_place(image)
    directory = offset + struct.unpack_from(">I", image, offset + 16)[0]
    wrapper = emulate.signature_blobs(image, offset)[0x10000]
    signature = cms.ContentInfo.load(wrapper[8:])["content"]["signer_infos"][0]["signature"]
    cases = [("a byte of code", 0x2000, "page"), ("the CodeDirectory's platform byte", directory + 0x26, "CMS"),
             ("a byte of the CMS signature", image.index(signature.native) + 7, "CMS")]
    for what, at, kind in cases:
        broken = bytearray(image)
        broken[at] ^= 0x01
        problems = code_problems(bytes(broken), True, identifier, work, pki, False)
        check("arm64: %s changed fails the check of the %s" % (what, kind),
              any(p.startswith(kind) for p in problems), problems)
    blob = files["machineinfo-1.11.pkg"]
    _, compressed, toc, heap = read_toc(blob)
    cms_der = heap[int(toc.find("x-signature").find("offset").text):]
    cms_signature = cms.ContentInfo.load(cms_der)["content"]["signer_infos"][0]["signature"]
    rsa_at = 28 + len(compressed) + int(toc.find("signature").find("offset").text)
    cases = [("a byte of the TOC", 28 + len(compressed) // 2, "the TOC"),
             ("a byte of the RSA signature", rsa_at + 10, "RSA"),
             ("a byte of the CMS signature", blob.index(cms_signature.native) + 7, "CMS")]
    for what, at, kind in cases:
        broken = bytearray(blob)
        broken[at] ^= 0x01
        problems = package_problems(bytes(broken), work, pki, False)
        check("the package: %s changed fails the check of %s" % (what, kind),
              any(p.startswith(kind) for p in problems), problems)


if __name__ == "__main__":
    sys.exit(main())
