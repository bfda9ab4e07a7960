#!/usr/bin/env python3
"""Publish an update folder for the companion library's self-update.

  update_publish.py describe FOLDER --version MAJOR.MINOR.BUILD [--sign PRIVATE_KEY]
      Writes FOLDER/updateFileInfo.ini listing every file of FOLDER (name, size,
      CRC-32), in name order. With --sign it also lists each file's SHA-256 in the
      section "file hashes" and writes FOLDER/updateFileInfo.sig, an RSA PKCS#1 v1.5
      signature with SHA-256 over the exact bytes of the finished description.

  update_publish.py keypair PRIVATE_KEY PUBLIC_KEY [--bits 3072]
      Makes the operator's key pair (PEM). The public key file is what the library
      build embeds (-DOSTREL_UPDATE_KEY=...); the private key never goes to the
      update server.

The version must equal the version stamp of the Ostrel.dll in the folder:
libraries compare their own stamp with it, and a mismatch makes every updated
library fetch the folder again.

Signing and key making use the openssl command line tool.
"""
import argparse
import hashlib
import os
import re
import subprocess
import sys
import zlib

INFO_NAME = "updateFileInfo.ini"
SIG_NAME = "updateFileInfo.sig"
MAX_FILES = 30
MAX_NAME = 63


def fail(message):
    print("update_publish: " + message, file=sys.stderr)
    sys.exit(1)


def check_name(name):
    """Names the library accepts and that read back unchanged through the profile reader."""
    if len(name) > MAX_NAME:
        return "longer than %d characters" % MAX_NAME
    if any(c in name for c in "=:\\/[];\r\n") or name != name.strip() or name.startswith(".."):
        return "holds a character the description cannot carry"
    if name.lower() in (INFO_NAME.lower(), SIG_NAME.lower()):
        return "is the description's own name"
    try:
        name.encode("ascii")
    except UnicodeEncodeError:
        return "is not plain ASCII"
    return None


def update_files(folder):
    names = []
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if name in (INFO_NAME, SIG_NAME) or not os.path.isfile(path):
            continue
        problem = check_name(name)
        if problem:
            fail("%s: the name %s" % (name, problem))
        names.append(name)
    if not names:
        fail("no files to publish in " + folder)
    if len(names) > MAX_FILES:
        fail("%d files; a folder holds at most %d" % (len(names), MAX_FILES))
    return names


def describe(folder, version, private_key):
    m = re.fullmatch(r"(\d+)\.(\d+)\.(\d+)", version)
    if not m or any(int(v) > 65535 for v in m.groups()):
        fail("the version must be MAJOR.MINOR.BUILD, each 0..65535")
    major, minor, build = (int(v) for v in m.groups())
    names = update_files(folder)
    lines = ["[version]", "major Ver=%d" % major, "minor Ver=%d" % minor,
             "build num=%d" % build, "", "[file list]"]
    hashes = []
    for name in names:
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        lines.append("%s=%d,%08X" % (name, len(data), zlib.crc32(data) & 0xFFFFFFFF))
        hashes.append("%s=%s" % (name, hashlib.sha256(data).hexdigest()))
    lines.append("End=OK")
    if private_key:
        lines += ["", "[file hashes]"] + hashes
    text = ("\r\n".join(lines) + "\r\n").encode("ascii")
    info_path = os.path.join(folder, INFO_NAME)
    sig_path = os.path.join(folder, SIG_NAME)
    with open(info_path, "wb") as f:
        f.write(text)
    if private_key:
        subprocess.run(["openssl", "dgst", "-sha256", "-sign", private_key, "-out", sig_path,
                        info_path], check=True)
    elif os.path.exists(sig_path):
        # A signature of an earlier description would now be wrong: drop it.
        os.remove(sig_path)
    print("%s: version %d.%d.%d, %d file(s)%s" % (info_path, major, minor, build, len(names),
                                                 ", signed" if private_key else ""))


def keypair(private_key, public_key, bits):
    if bits < 3072:
        fail("keys have 3072 bits or more")
    if os.path.exists(private_key):
        fail(private_key + " exists; not overwritten")
    old = os.umask(0o077)
    try:
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt",
                        "rsa_keygen_bits:%d" % bits, "-out", private_key],
                       check=True, stderr=subprocess.DEVNULL)
    finally:
        os.umask(old)
    subprocess.run(["openssl", "pkey", "-in", private_key, "-pubout", "-out", public_key],
                   check=True)
    print("private key %s (keep it off the update server), public key %s" %
          (private_key, public_key))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    d = sub.add_parser("describe", help="write updateFileInfo.ini (and .sig) for a folder")
    d.add_argument("folder")
    d.add_argument("--version", required=True, help="MAJOR.MINOR.BUILD of the new library")
    d.add_argument("--sign", metavar="PRIVATE_KEY", help="the operator's private key (PEM)")
    k = sub.add_parser("keypair", help="make the operator's signing key pair")
    k.add_argument("private_key")
    k.add_argument("public_key")
    k.add_argument("--bits", type=int, default=3072)
    args = parser.parse_args()
    if args.command == "describe":
        describe(args.folder, args.version, args.sign)
    else:
        keypair(args.private_key, args.public_key, args.bits)


if __name__ == "__main__":
    main()
