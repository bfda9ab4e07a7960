"""The publishing tool keeps release sequences per key, refuses to sign a folder
whose library would break the signed chain, and reads the library's resources
from both PE32 and PE32+ files."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import update_publish as up

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "update_publish.py")


def pe_with_rcdata(resources, plus=False):
    """A minimal DLL image whose only section holds RCDATA `resources` {id: bytes}."""
    ids = sorted(resources)
    # Resource section: root, type directory, one language directory per id, data
    # entries, then the data, all addressed from the section start (RVA 0x1000).
    root = bytearray()

    def directory(entries):
        return struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(entries)) + b"".join(
            struct.pack("<II", i, at) for i, at in entries)

    root_size = 16 + 8
    type_at = root_size
    type_size = 16 + 8 * len(ids)
    lang_at = type_at + type_size
    data_entry_at = lang_at + len(ids) * (16 + 8)
    data_at = data_entry_at + 16 * len(ids)
    root += directory([(10, 0x80000000 | type_at)])
    root += directory([(rid, 0x80000000 | (lang_at + 24 * n)) for n, rid in enumerate(ids)])
    for n in range(len(ids)):
        root += directory([(0x409, data_entry_at + 16 * n)])
    blobs, at = b"", data_at
    for rid in ids:
        root += struct.pack("<IIII", 0x1000 + at + len(blobs), len(resources[rid]), 0, 0)
        blobs += resources[rid] + b"\0" * (-len(resources[rid]) % 8)
    section = bytes(root) + blobs

    optional_size = 240 if plus else 224
    pe = b"PE\0\0" + struct.pack("<HHIIIHH", 0x8664 if plus else 0x14C, 1, 0, 0, 0,
                                 optional_size, 0x2102)
    optional = bytearray(optional_size)
    struct.pack_into("<H", optional, 0, 0x20B if plus else 0x10B)
    directories = 112 if plus else 96
    struct.pack_into("<I", optional, directories - 4, 16)
    struct.pack_into("<II", optional, directories + 16, 0x1000, len(section))
    header = struct.pack("<8sIIIIIIHHI", b".rsrc", len(section), 0x1000, len(section), 0x200,
                         0, 0, 0, 0, 0x40000040)
    image = bytearray(b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x40))
    image += pe + optional + header
    image += b"\0" * (0x200 - len(image)) + section
    return bytes(image)


class Tool(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.keys = tempfile.mkdtemp(prefix="publish-keys-")
        for name in ("op", "other"):
            key = os.path.join(cls.keys, name + ".pem")
            subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt",
                            "rsa_keygen_bits:2048", "-out", key], check=True, capture_output=True)
            subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-out",
                            os.path.join(cls.keys, name + ".pub")], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="publish-")
        self.key = os.path.join(self.dir, "op.pem")  # its sequence file is this test's own
        shutil.copy(os.path.join(self.keys, "op.pem"), self.key)
        self.folder = os.path.join(self.dir, "folder")
        os.mkdir(self.folder)
        with open(os.path.join(self.folder, "a.dll"), "wb") as f:
            f.write(b"library bytes")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def run_tool(self, *args):
        return subprocess.run([sys.executable, TOOL, *args], capture_output=True, text=True)

    def sign(self, *extra):
        return self.run_tool("describe", self.folder, "--version", "1.2.3", "--sign", self.key,
                             *extra)

    def described_sequence(self):
        with open(os.path.join(self.folder, "updateFileInfo.ini"), "rb") as f:
            text = f.read().decode("ascii")
        self.assertIn("[release]\r\nsequence=", text)
        return int(text.split("[release]\r\nsequence=")[1].split("\r\n")[0])

    def put_library(self, resources, plus=False):
        with open(os.path.join(self.folder, "Ostrel.dll"), "wb") as f:
            f.write(pe_with_rcdata(resources, plus))

    def public_pem(self, name="op"):
        with open(os.path.join(self.keys, name + ".pub"), "rb") as f:
            return f.read()

    def test_reads_rcdata_of_pe32_and_pe32_plus(self):
        for plus in (False, True):
            image = pe_with_rcdata({129: b"\xff\xff\1\0", 133: b"key", 134: b"\7\0\0\0"}, plus)
            self.assertEqual(up.rcdata(image), {129: b"\xff\xff\1\0", 133: b"key",
                                                134: b"\7\0\0\0"})
        for bad in (b"", b"MZ", b"MZ" + b"\0" * 100, pe_with_rcdata({133: b"k"})[:0x210]):
            with self.assertRaises(ValueError):
                up.rcdata(bad)

    @unittest.skipUnless(os.environ.get("PONDO_WIN_BUILD"), "configured without a Windows tree")
    def test_reads_the_built_libraries(self):
        bin_dir = os.path.join(os.environ["PONDO_WIN_BUILD"], "bin")
        # Configured with a Windows tree, a missing library fails: the test must not
        # pass without reading one.
        self.assertTrue(os.path.exists(os.path.join(bin_dir, "testkey", "Ostrel.dll")),
                        f"no libraries in {bin_dir}: build the Windows tree first "
                        "(scripts/build win32, or win64 where Wine runs that)")
        with open(os.path.join(bin_dir, "Ostrel.dll"), "rb") as f:
            plain = up.rcdata(f.read())
        with open(os.path.join(bin_dir, "testkey", "Ostrel.dll"), "rb") as f:
            keyed = up.rcdata(f.read())
        for resources in (plain, keyed):
            self.assertEqual(resources[129][:2], b"\xff\xff")  # the version stamp
        self.assertNotIn(up.KEY_RESOURCE, plain)
        self.assertIn(b"-----BEGIN PUBLIC KEY-----", keyed[up.KEY_RESOURCE])
        self.assertEqual(len(keyed[up.SEQUENCE_RESOURCE]), 4)
        # The tool refuses to sign the library without a key into a folder.
        shutil.copy(os.path.join(bin_dir, "Ostrel.dll"), self.folder)
        self.assertNotEqual(self.sign().returncode, 0)
        self.assertEqual(self.sign("--allow-keyless-library").returncode, 0)

    def test_sequences_rise_per_key(self):
        self.assertEqual(self.run_tool("last-sequence", self.key).stdout.strip(), "0")
        self.assertEqual(self.sign().returncode, 0)
        self.assertEqual(self.described_sequence(), 1)
        self.assertEqual(self.sign().returncode, 0)
        self.assertEqual(self.described_sequence(), 2)
        self.assertEqual(self.sign("--sequence", "40").returncode, 0)
        self.assertEqual(self.described_sequence(), 40)
        self.assertEqual(self.run_tool("last-sequence", self.key).stdout.strip(), "40")
        for sequence in ("40", "39", "0", "4294967296"):
            result = self.sign("--sequence", sequence)
            self.assertNotEqual(result.returncode, 0, sequence)
        self.assertEqual(self.described_sequence(), 40)  # nothing was rewritten
        self.assertEqual(self.sign().returncode, 0)
        self.assertEqual(self.described_sequence(), 41)
        # An unsigned description carries no sequence.
        self.assertNotEqual(self.run_tool("describe", self.folder, "--version", "1.2.3",
                                          "--sequence", "50").returncode, 0)

    def test_library_of_the_folder(self):
        cases = [
            # resources, extra options, signs
            ({}, (), False),                                      # no key
            ({}, ("--allow-keyless-library",), True),
            ({133: self.public_pem("other")}, (), False),         # another key
            ({133: self.public_pem("other")}, ("--allow-other-key",), True),
            ({133: self.public_pem()}, (), True),                 # this key
            ({133: self.public_pem(), 134: struct.pack("<I", 4)}, (), True),
            # built at or above the folder's sequence: never, whatever the options
            ({133: self.public_pem(), 134: struct.pack("<I", 5)}, (), False),
            ({133: self.public_pem(), 134: struct.pack("<I", 9)}, ("--allow-other-key",), False),
        ]
        for n, (resources, extra, signs) in enumerate(cases):
            for plus in (False, True):
                with self.subTest(case=n, plus=plus):
                    self.put_library(resources, plus)
                    with open(self.key + ".sequence", "w") as f:
                        f.write("4\n")
                    for name in ("updateFileInfo.ini", "updateFileInfo.sig"):
                        if os.path.exists(os.path.join(self.folder, name)):
                            os.remove(os.path.join(self.folder, name))
                    result = self.sign(*extra)
                    self.assertEqual(result.returncode == 0, signs, result.stderr)
                    self.assertEqual(os.path.exists(os.path.join(self.folder, "updateFileInfo.sig")),
                                     signs)
                    self.assertEqual(up.last_sequence(self.key), 5 if signs else 4)
        with open(os.path.join(self.folder, "Ostrel.dll"), "wb") as f:
            f.write(b"not a library")
        self.assertNotEqual(self.sign().returncode, 0)

    def test_names_the_library_refuses(self):
        for name in ("a.dll.", "a.dll ", "temp", "TEMP", "nul", "nul.txt", "COM1.log",
                     "updateRelease.dat", "updateFileInfoTmp.ini", "a\tb", "a|b", "a?b"):
            with self.subTest(name=name):
                folder = os.path.join(self.dir, "names")
                os.makedirs(folder, exist_ok=True)
                path = os.path.join(folder, name)
                with open(path, "wb") as f:
                    f.write(b"x")
                self.assertIsNotNone(up.check_name(name))
                result = self.run_tool("describe", folder, "--version", "1.2.3")
                self.assertNotEqual(result.returncode, 0)
                os.remove(path)
        for name in ("a.dll", "Ostrel.dll", ".profile", "temp.txt", "com10.dll"):
            self.assertIsNone(up.check_name(name), name)


if __name__ == "__main__":
    unittest.main()
