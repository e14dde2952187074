#!/usr/bin/env python3
"""Makes the certificates of the refused-package cases that openssl's command line cannot
express: a common name with a NUL inside, two common names, a 1024-bit leaf, an authority limited to server authentication above a code-signing leaf, a leaf whose
revocation list never answers, and a good chain through an intermediate.
Signed by the root that make_certs.sh made in the same folder. Existing files are kept.

Usage: make_attack_certs.py OUT_DIR PUBLISHER_NAME STALL_PORT
"""
import datetime
import os
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

out, publisher, stall_port = sys.argv[1], sys.argv[2], int(sys.argv[3])
os.chdir(out)
# The stalled case names the build folder's port: a folder given another port makes them anew.
port_stamp = "stall_port.txt"
if (os.path.exists("under_intermediate.crt") and os.path.exists(port_stamp)
        and open(port_stamp).read().strip() == str(stall_port)):
    sys.exit(0)

now = datetime.datetime.now(datetime.timezone.utc)
root_key = serialization.load_pem_private_key(open("root.key", "rb").read(), None)
root = x509.load_pem_x509_certificate(open("root.crt", "rb").read())


def write(name, certificate, key):
    open(name + ".crt", "wb").write(certificate.public_bytes(serialization.Encoding.PEM))
    open(name + ".key", "wb").write(key.private_bytes(
        serialization.Encoding.PEM, serialization.PrivateFormat.TraditionalOpenSSL,
        serialization.NoEncryption()))


def issue(name, subject, usages=(ExtendedKeyUsageOID.CODE_SIGNING,), ca=False, key=None,
          issuer=root, issuer_key=None, digest=hashes.SHA256(), extra=()):
    key = key or rsa.generate_private_key(public_exponent=65537, key_size=2048)
    builder = (x509.CertificateBuilder()
               .subject_name(subject if isinstance(subject, x509.Name) else
                             x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, subject)]))
               .issuer_name(issuer.subject)
               .public_key(key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(now - datetime.timedelta(days=1))
               .not_valid_after(now + datetime.timedelta(days=3650))
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True)
               .add_extension(x509.KeyUsage(
                   digital_signature=not ca, key_cert_sign=ca, crl_sign=ca,
                   content_commitment=False, key_encipherment=False, data_encipherment=False,
                   key_agreement=False, encipher_only=False, decipher_only=False), critical=True)
               .add_extension(x509.SubjectKeyIdentifier.from_public_key(key.public_key()),
                              critical=False)
               .add_extension(x509.AuthorityKeyIdentifier.from_issuer_public_key(
                   issuer.public_key()), critical=False))
    if usages:
        builder = builder.add_extension(x509.ExtendedKeyUsage(list(usages)), critical=False)
    for extension in extra:
        builder = builder.add_extension(extension, critical=False)
    certificate = builder.sign(issuer_key or root_key, digest)
    write(name, certificate, key)
    return certificate, key


cn = NameOID.COMMON_NAME
issue("nul_name", publisher + "\0.attacker")
issue("two_names", x509.Name([x509.RelativeDistinguishedName([x509.NameAttribute(cn, publisher)]),
                              x509.RelativeDistinguishedName([x509.NameAttribute(cn, "Attacker")])]))
issue("rsa1024", publisher, key=rsa.generate_private_key(public_exponent=65537, key_size=1024))
server_ca, server_ca_key = issue("server_ca", "Server Only Authority", ca=True,
                                 usages=(ExtendedKeyUsageOID.SERVER_AUTH,))
issue("under_server_ca", publisher, issuer=server_ca, issuer_key=server_ca_key)
# A distribution point that accepts the connection and never answers.
issue("stalled_revocation", publisher, extra=(x509.CRLDistributionPoints([x509.DistributionPoint(
    full_name=[x509.UniformResourceIdentifier(f"http://127.0.0.1:{stall_port}/stall.crl")],
    relative_name=None, reasons=None, crl_issuer=None)]),))
intermediate, intermediate_key = issue("intermediate", "Demo Package Signing Intermediate",
                                       ca=True, usages=(ExtendedKeyUsageOID.CODE_SIGNING,))
issue("under_intermediate", publisher, issuer=intermediate, issuer_key=intermediate_key)
open(port_stamp, "w").write(str(stall_port))
