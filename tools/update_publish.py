#!/usr/bin/env python3
"""Publish an update folder for the companion library's self-update.

  update_publish.py describe FOLDER --version MAJOR.MINOR.BUILD
                    [--sign PRIVATE_KEY [--sequence N] [--allow-keyless-library]
                     [--allow-other-key]]
      Writes FOLDER/updateFileInfo.ini listing every file of FOLDER (name, size,
      CRC-32), in name order. With --sign it also lists each file's SHA-256 in the
      section "file hashes", gives the folder the next release sequence of that
      key in the section "release", and writes FOLDER/updateFileInfo.sig, an RSA
      PKCS#1 v1.5 signature with SHA-256 over the exact bytes of the finished
      description.

  update_publish.py last-sequence PRIVATE_KEY
      Prints the last release sequence signed with that key (0 before the first);
      a library built now is built at this sequence (OSTREL_UPDATE_SEQUENCE).

  update_publish.py keypair PRIVATE_KEY PUBLIC_KEY [--bits 3072]
      Makes the operator's key pair (PEM). The public key file is what the library
      build embeds (-DOSTREL_UPDATE_KEY=...); the private key never goes to the
      update server.

Release sequences: a library built with a key installs a signed folder only when
its sequence is above the sequence the library was built at and above every
folder installed before, so an old signed folder replayed by whoever holds the
server is refused. The tool keeps the last sequence it signed beside the private
key (PRIVATE_KEY.sequence) and signs each folder with the next one; --sequence
sets it explicitly, and must still be above the last. To roll back, sign a new
folder (a new sequence) that carries the old files.

A folder whose Ostrel.dll holds no key (it would install unsigned folders once
installed) or another key than the signing one (it would refuse this key's next
folders) is refused unless --allow-keyless-library or --allow-other-key says so;
one built at a sequence not below the folder's is refused always.

The version must equal the version stamp of the Ostrel.dll in the folder:
libraries compare their own stamp with it, and a mismatch makes every updated
library fetch the folder again.

Signing and key making use the openssl command line tool.
"""
import argparse
import base64
import hashlib
import os
import re
import struct
import subprocess
import sys
import zlib

INFO_NAME = "updateFileInfo.ini"
SIG_NAME = "updateFileInfo.sig"
LIBRARY_NAME = "Ostrel.dll"
MAX_FILES = 30
MAX_NAME = 63
MAX_SEQUENCE = 0xFFFFFFFF


def _library_resource_ids():
    """Ostrel.dll's resource ids, from the header the library is built with."""
    header = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "companion",
                          "ResourceIds.h")
    with open(header, encoding="ascii") as f:
        return {name: int(value) for name, value in
                re.findall(r"^#define\s+(IDR_\w+)\s+(\d+)\s*$", f.read(), re.MULTILINE)}


_IDS = _library_resource_ids()
KEY_RESOURCE = _IDS["IDR_UPDATE_KEY"]
SEQUENCE_RESOURCE = _IDS["IDR_RELEASE_SEQUENCE"]

RT_RCDATA = 10
# Files of the update itself in the program folder: no update may carry them.
OWN_NAMES = ("temp", INFO_NAME, SIG_NAME, "updateFileInfoTmp.ini", "updateFileInfoTmp.sig",
             "updateRelease.dat", "updateRelease.tmp")
DEVICES = ("con", "prn", "aux", "nul", "conin$", "conout$")


def fail(message):
    print("update_publish: " + message, file=sys.stderr)
    sys.exit(1)


def check_name(name):
    """The library's name rule, plus what the description's format cannot carry."""
    if len(name) > MAX_NAME:
        return "longer than %d characters" % MAX_NAME
    if any(c in name for c in '=:\\/[];<>"|?*') or any(ord(c) < 0x20 for c in name) \
            or name != name.strip() or name.endswith("."):
        return "holds a character the description cannot carry or Windows would change"
    base = name.split(".")[0].rstrip(" ").lower()
    if base in DEVICES or (len(base) == 4 and base[:3] in ("com", "lpt") and base[3].isdigit()):
        return "is a device name"
    if name.lower() in (n.lower() for n in OWN_NAMES):
        return "is a file of the update itself"
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


def rcdata(data):
    """{id: bytes} of the RCDATA resources with numeric ids of a PE file (the
    first language of each); ValueError when it is no PE file."""
    def u16(at):
        return struct.unpack_from("<H", data, at)[0]

    def u32(at):
        return struct.unpack_from("<I", data, at)[0]

    try:
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        sections, optional_size = u16(pe + 6), u16(pe + 20)
        optional = pe + 24
        magic = u16(optional)
        directories = optional + {0x10B: 96, 0x20B: 112}[magic]
        if u32(directories - 4) <= 2:
            return {}
        rsrc_rva = u32(directories + 16)
        table = []
        for i in range(sections):
            s = optional + optional_size + 40 * i
            table.append((u32(s + 12), max(u32(s + 8), u32(s + 16)), u32(s + 20)))

        def offset(rva):
            for va, size, raw in table:
                if va <= rva < va + size:
                    return raw + rva - va
            raise ValueError("address outside the sections")

        root = offset(rsrc_rva)

        def entries(directory):
            count = u16(directory + 12) + u16(directory + 14)
            return [(u32(directory + 16 + 8 * i), u32(directory + 20 + 8 * i))
                    for i in range(count)]

        found = {}
        for type_id, type_at in entries(root):
            if type_id != RT_RCDATA or not type_at & 0x80000000:
                continue
            for res_id, res_at in entries(root + (type_at & 0x7FFFFFFF)):
                if res_id & 0x80000000 or not res_at & 0x80000000:
                    continue
                languages = entries(root + (res_at & 0x7FFFFFFF))
                if not languages or languages[0][1] & 0x80000000:
                    continue
                entry = root + languages[0][1]
                start = offset(u32(entry))
                found[res_id] = data[start:start + u32(entry + 4)]
        return found
    except (struct.error, KeyError, IndexError) as e:
        raise ValueError("malformed PE file (%s)" % e)


def pem_der(pem):
    """The DER bytes of the first PEM block of `pem` (bytes)."""
    m = re.search(rb"-----BEGIN [A-Z ]+-----(.*?)-----END [A-Z ]+-----", pem, re.S)
    if not m:
        raise ValueError("no PEM block")
    return base64.b64decode(b"".join(m.group(1).split()))


def public_der(private_key):
    return subprocess.run(["openssl", "pkey", "-in", private_key, "-pubout", "-outform", "DER"],
                          check=True, capture_output=True).stdout


def sequence_file(private_key):
    return private_key + ".sequence"


def last_sequence(private_key):
    path = sequence_file(private_key)
    if not os.path.exists(path):
        return 0
    with open(path) as f:
        text = f.read().strip()
    if not text.isdigit() or int(text) > MAX_SEQUENCE:
        fail("%s does not hold a release sequence" % path)
    return int(text)


def record_sequence(private_key, sequence):
    path = sequence_file(private_key)
    with open(path + ".tmp", "w") as f:
        f.write("%d\n" % sequence)
        f.flush()
        os.fsync(f.fileno())
    os.replace(path + ".tmp", path)


def check_library(folder, names, private_key, sequence, allow_keyless, allow_other_key):
    """Refuses a folder whose library would break the signed chain of updates."""
    library = next((n for n in names if n.lower() == LIBRARY_NAME.lower()), None)
    if library is None:
        return
    with open(os.path.join(folder, library), "rb") as f:
        data = f.read()
    try:
        resources = rcdata(data)
    except ValueError as e:
        fail("%s: %s" % (library, e))
    key = resources.get(KEY_RESOURCE)
    if key is None:
        if not allow_keyless:
            fail("%s holds no update key: once installed it would install unsigned folders "
                 "from anyone (--allow-keyless-library if that is meant)" % library)
    else:
        try:
            same = pem_der(key) == public_der(private_key)
        except ValueError:
            same = False
        if not same and not allow_other_key:
            fail("%s holds another update key than %s: once installed it would refuse the "
                 "folders this key signs (--allow-other-key for a new key)" % (library, private_key))
    built = resources.get(SEQUENCE_RESOURCE)
    if key is not None and built is not None and len(built) == 4:
        built_at = struct.unpack("<I", built)[0]
        if built_at >= sequence:
            fail("%s was built at release sequence %d; the folder that carries it needs a higher "
                 "one than that (this folder would get %d)" % (library, built_at, sequence))


def describe(folder, version, private_key, sequence=None, allow_keyless=False,
             allow_other_key=False):
    m = re.fullmatch(r"(\d+)\.(\d+)\.(\d+)", version)
    if not m or any(int(v) > 65535 for v in m.groups()):
        fail("the version must be MAJOR.MINOR.BUILD, each 0..65535")
    major, minor, build = (int(v) for v in m.groups())
    names = update_files(folder)
    if private_key:
        last = last_sequence(private_key)
        if sequence is None:
            sequence = last + 1
        if sequence <= last:
            fail("release sequence %d is not above %d, the last one signed with %s" %
                 (sequence, last, private_key))
        if sequence > MAX_SEQUENCE:
            fail("release sequences end at %d" % MAX_SEQUENCE)
        check_library(folder, names, private_key, sequence, allow_keyless, allow_other_key)
    elif sequence is not None:
        fail("--sequence only goes with --sign")
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
        lines += ["", "[file hashes]"] + hashes + ["", "[release]", "sequence=%d" % sequence]
    text = ("\r\n".join(lines) + "\r\n").encode("ascii")
    info_path = os.path.join(folder, INFO_NAME)
    sig_path = os.path.join(folder, SIG_NAME)
    with open(info_path, "wb") as f:
        f.write(text)
    if private_key:
        subprocess.run(["openssl", "dgst", "-sha256", "-sign", private_key, "-out", sig_path,
                        info_path], check=True)
        record_sequence(private_key, sequence)
    elif os.path.exists(sig_path):
        # A signature of an earlier description would now be wrong: drop it.
        os.remove(sig_path)
    print("%s: version %d.%d.%d, %d file(s)%s" % (
        info_path, major, minor, build, len(names),
        ", signed, release sequence %d" % sequence if private_key else ""))


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
    d.add_argument("--sequence", type=int, help="release sequence (default: the key's next)")
    d.add_argument("--allow-keyless-library", action="store_true",
                   help="sign even though the folder's Ostrel.dll holds no key")
    d.add_argument("--allow-other-key", action="store_true",
                   help="sign even though the folder's Ostrel.dll holds another key")
    s = sub.add_parser("last-sequence", help="the last release sequence signed with a key")
    s.add_argument("private_key")
    k = sub.add_parser("keypair", help="make the operator's signing key pair")
    k.add_argument("private_key")
    k.add_argument("public_key")
    k.add_argument("--bits", type=int, default=3072)
    args = parser.parse_args()
    if args.command == "describe":
        describe(args.folder, args.version, args.sign, args.sequence,
                 args.allow_keyless_library, args.allow_other_key)
    elif args.command == "last-sequence":
        print(last_sequence(args.private_key))
    else:
        keypair(args.private_key, args.public_key, args.bits)


if __name__ == "__main__":
    main()
