"""A test certificate hierarchy made the way Apple's Developer ID one is made: a root, a Developer ID
Certification Authority (marked 1.2.840.113635.100.6.2.6), and Application and Installer leaves with
Apple's critical private extensions and extended key usages, the team ID as the organisational unit;
exported as PKCS#12 the way Keychain Access exports them (key with its chain; the Installer one with
AES, the others with the legacy 3DES and RC2). Also
the wrong inputs that signing must refuse, and a time-stamp authority for `openssl ts -reply`.

make(DIR, PASSWORD) writes DIR/NAME.p12 for each identity, DIR/password, the root (root.pem, root.der),
the CA (ca.der), the Installer leaf (installer.der, its public key installer.pub), and the time-stamp
authority (tsa.pem, tsa.key, tsa.cnf, issued by the same root); it returns {name: the .p12's path}.
"""
import datetime
import os
import subprocess

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

TEAM = "TEST4TEAM1"
NULL = b"\x05\x00"
START = datetime.datetime(2020, 1, 1)
END = datetime.datetime.utcnow() + datetime.timedelta(days=3650)


def name(*parts):
    return x509.Name([x509.NameAttribute(oid, value) for oid, value in parts])


def certificate(subject, key, issuer, issuer_key, extensions, start=START, end=END):
    builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer).public_key(key.public_key())
               .serial_number(x509.random_serial_number()).not_valid_before(start).not_valid_after(end))
    for extension, critical in extensions:
        builder = builder.add_extension(extension, critical)
    return builder.sign(issuer_key, hashes.SHA256())


def private(oid, critical):
    return x509.UnrecognizedExtension(x509.ObjectIdentifier(oid), NULL), critical


def authority(signing):
    return [(x509.BasicConstraints(ca=True, path_length=None), True),
            (x509.KeyUsage(signing, False, False, False, False, True, True, False, False), True)]


def leaf_extensions(usage, marker):
    return [(x509.BasicConstraints(ca=False, path_length=None), True),
            (x509.KeyUsage(True, False, False, False, False, False, False, False, False), True),
            (x509.ExtendedKeyUsage([usage]), True)] + ([private(marker, True)] if marker else [])


def pem(path, *items):
    with open(path, "wb") as f:
        for item in items:
            f.write(item.public_bytes(serialization.Encoding.PEM) if hasattr(item, "public_bytes") else
                    item.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                       serialization.NoEncryption()))
    os.chmod(path, 0o600)


def make(directory, password):
    def key():
        return rsa.generate_private_key(public_exponent=65537, key_size=2048)

    root_key, ca_key, tsa_key = key(), key(), key()
    root_name = name((NameOID.COMMON_NAME, "Test Root CA"), (NameOID.ORGANIZATIONAL_UNIT_NAME,
                     "Test Certification Authority"), (NameOID.ORGANIZATION_NAME, "Test Inc."),
                     (NameOID.COUNTRY_NAME, "US"))
    root = certificate(root_name, root_key, root_name, root_key, authority(False))
    ca_name = name((NameOID.COMMON_NAME, "Developer ID Certification Authority"),
                   (NameOID.ORGANIZATIONAL_UNIT_NAME, "Test Certification Authority"),
                   (NameOID.ORGANIZATION_NAME, "Test Inc."), (NameOID.COUNTRY_NAME, "US"))
    ca = certificate(ca_name, ca_key, root_name, root_key,
                     authority(True) + [private("1.2.840.113635.100.6.2.6", False)])
    # The time-stamp authority has a hierarchy of its own, as Apple's does.
    tsa_name = name((NameOID.COMMON_NAME, "Test Timestamp Authority"), (NameOID.COUNTRY_NAME, "US"))
    tsa = certificate(tsa_name, tsa_key, root_name, root_key,
                      [(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.TIME_STAMPING]), True)])

    def leaf(kind, usage, marker, end=END):
        leaf_key = key()
        subject = name((NameOID.USER_ID, TEAM), (NameOID.COMMON_NAME, "Developer ID %s: Test Org (%s)" % (kind, TEAM)),
                       (NameOID.ORGANIZATIONAL_UNIT_NAME, TEAM), (NameOID.ORGANIZATION_NAME, "Test Org"),
                       (NameOID.COUNTRY_NAME, "US"))
        return leaf_key, certificate(subject, leaf_key, ca_name, ca_key, leaf_extensions(usage, marker), end=end)

    code = x509.ObjectIdentifier("1.3.6.1.5.5.7.3.3")
    installer = x509.ObjectIdentifier("1.2.840.113635.100.4.13")
    identities = {
        "application": leaf("Application", code, "1.2.840.113635.100.6.1.13"),
        "installer": leaf("Installer", installer, "1.2.840.113635.100.6.1.14"),
        "plain": leaf("Application", code, None),
        "expired": leaf("Application", code, "1.2.840.113635.100.6.1.13", datetime.datetime(2021, 1, 1)),
        "usage": leaf("Application", installer, "1.2.840.113635.100.6.1.13"),
    }
    password_file = os.path.join(directory, "password")
    with open(password_file, "wb") as f:
        f.write(password + b"\n")
    os.chmod(password_file, 0o600)
    paths = {}
    for label, (leaf_key, leaf_certificate) in list(identities.items()) + [("lone", identities["application"])]:
        pem(os.path.join(directory, label + ".key"), leaf_key)
        pem(os.path.join(directory, label + ".pem"), leaf_certificate)
        pem(os.path.join(directory, label + "-chain.pem"), ca, root)
        paths[label] = os.path.join(directory, label + ".p12")
        chain = [] if label == "lone" else ["-certfile", os.path.join(directory, label + "-chain.pem")]
        # The legacy encryption that Keychain Access has long used (3DES and RC2), and AES, which newer
        # exporters use: both must load.
        legacy = ["-legacy"] if label != "installer" else []
        subprocess.run(["openssl", "pkcs12", "-export"] + legacy + ["-inkey", os.path.join(directory, label + ".key"),
                        "-in", os.path.join(directory, label + ".pem"), "-out", paths[label],
                        "-passout", "file:" + password_file] + chain, check=True)
        os.remove(os.path.join(directory, label + ".key"))
    pem(os.path.join(directory, "root.pem"), root)
    for label, item in (("root", root), ("ca", ca), ("installer", identities["installer"][1])):
        with open(os.path.join(directory, label + ".der"), "wb") as f:
            f.write(item.public_bytes(serialization.Encoding.DER))
    with open(os.path.join(directory, "installer.pub"), "wb") as f:
        f.write(identities["installer"][1].public_key().public_bytes(serialization.Encoding.PEM,
                serialization.PublicFormat.SubjectPublicKeyInfo))
    pem(os.path.join(directory, "tsa.pem"), tsa)
    pem(os.path.join(directory, "tsa.key"), tsa_key)
    with open(os.path.join(directory, "tsa.cnf"), "w") as f:
        f.write("[ tsa ]\ndefault_tsa = test\n[ test ]\nserial = %s\ncrypto_device = builtin\n"
                "default_policy = 1.2.3.4.1\ndigests = sha1, sha256\naccuracy = secs:1\n"
                "ess_cert_id_alg = sha256\nsigner_digest = sha256\n" % os.path.join(directory, "tsa.serial"))
    with open(os.path.join(directory, "tsa.serial"), "w") as f:
        f.write("01\n")
    return paths
