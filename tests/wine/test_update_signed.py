"""Signed updates under Wine: the real Ostrel.dll built with the test key installs
only folders that the key's owner signed; the library without a key installs
unsigned folders as before."""

import sys
import unittest
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import WineEnv  # noqa: E402
from update_fixtures import (CAPTION, TEXT, forge_crc, make_app, publish, run_update,  # noqa: E402
                             serve, start_update)

OLD = b"installed library " * 40
NEW = b"operator's new library " * 300


class SignedUpdate(unittest.TestCase):
    def confirm_box(self, env, proc):
        self.assertTrue(env.wait_window(CAPTION, timeout=60, msgbox=True), "no message box")
        self.assertEqual(env.message_text(CAPTION), TEXT)
        env.click(CAPTION, "1", msgbox=True)  # IDOK
        self.assertEqual(env.wait_exit(proc, timeout=30), 0)

    def refused(self, env, base, folder, label):
        app = make_app(env, label, keyed=True, files={"a.dll": OLD})
        out, rc = run_update(env, app, base + folder + "/")
        self.assertEqual((rc, out.splitlines()[-1]), (0, "ended"), label)
        self.assertEqual((app / "a.dll").read_bytes(), OLD, label)
        self.assertFalse((app / "a.dllold").exists(), label)
        self.assertFalse((app / "temp").exists(), label)
        self.assertFalse((app / "updateFileInfoTmp.ini").exists(), label)
        self.assertFalse(env.wait_window(CAPTION, timeout=1, msgbox=True), label)

    def test_keyed_library_installs_only_what_was_signed(self):
        with WineEnv(self) as env:
            root = env.root / "web"
            publish(root / "signed", {"a.dll": NEW}, sign=True)

            # The update file altered, its size and CRC-32 kept (the CRC forged).
            publish(root / "forged", {"a.dll": NEW}, sign=True)
            evil = bytearray(NEW)
            evil[:4] = b"EVIL"
            evil = forge_crc(bytes(evil), zlib.crc32(NEW))
            self.assertEqual((len(evil), zlib.crc32(evil)), (len(NEW), zlib.crc32(NEW)))
            (root / "forged" / "a.dll").write_bytes(evil)

            # The description changed after signing.
            publish(root / "edited", {"a.dll": NEW}, sign=True)
            info = root / "edited" / "updateFileInfo.ini"
            info.write_bytes(info.read_bytes().replace(b"build num=3", b"build num=4"))

            # No signature, a garbled one, and an unsigned description.
            publish(root / "nosig", {"a.dll": NEW}, sign=True)
            (root / "nosig" / "updateFileInfo.sig").unlink()
            publish(root / "garbled", {"a.dll": NEW}, sign=True)
            sig = bytearray((root / "garbled" / "updateFileInfo.sig").read_bytes())
            sig[100] ^= 0x01
            (root / "garbled" / "updateFileInfo.sig").write_bytes(bytes(sig))
            publish(root / "unsigned", {"a.dll": NEW})

            base, log = serve(env, root)
            for folder in ("forged", "edited", "nosig", "garbled", "unsigned"):
                with self.subTest(folder):
                    self.refused(env, base, folder, folder)
            self.assertIn("/forged/a.dll", log)  # refused after the download, on its hash

            app = make_app(env, "signed", keyed=True, files={"a.dll": OLD})
            self.confirm_box(env, start_update(env, app, f"{base}garbled/,{base}signed/"))
            self.assertEqual((app / "a.dll").read_bytes(), NEW)
            self.assertEqual((app / "a.dllold").read_bytes(), OLD)
            self.assertFalse((app / "updateFileInfoTmp.sig").exists())

    def test_keyless_library_installs_unsigned_and_signed_folders(self):
        with WineEnv(self) as env:
            root = env.root / "web"
            publish(root / "unsigned", {"a.dll": NEW})
            publish(root / "signed", {"a.dll": NEW}, sign=True)
            base, log = serve(env, root)
            for folder in ("unsigned", "signed"):
                with self.subTest(folder):
                    app = make_app(env, folder, files={"a.dll": OLD})
                    self.confirm_box(env, start_update(env, app, base + folder + "/"))
                    self.assertEqual((app / "a.dll").read_bytes(), NEW)
            self.assertFalse(any(p.endswith(".sig") for p in log), log)


if __name__ == "__main__":
    unittest.main()
