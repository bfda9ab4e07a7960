"""The real Ostrel.dll updates itself under Wine from a real HTTP server on
loopback: folder order, version comparison, the checks of size and CRC-32,
broken transfers, hostile names, the all-or-nothing install and the message box."""

import stat
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import PREFIX, WineEnv  # noqa: E402
from update_fixtures import (CAPTION, TEXT, describe_by_hand, file_line, make_app,  # noqa: E402
                             publish, run_update, run_updates, serve, start_update)

OLD_A = b"old a.dll " * 50
NEW_A = b"new a.dll " * 700  # more than one read block of the HTTP client


class Update(unittest.TestCase):
    def confirm_box(self, env, proc):
        """The update message box is up: check it, click OK, the driver ends."""
        self.assertTrue(env.wait_window(CAPTION, timeout=60, msgbox=True), "no message box")
        self.assertEqual(env.message_text(CAPTION), TEXT)
        box = env.texts(CAPTION, msgbox=True)
        self.assertEqual(box["owner"], "")
        # One button only, OK (its label is the system's: "确定" in a Chinese locale).
        self.assertEqual([c["id"] for c in box["controls"] if c["cls"] == "Button"], [1])
        env.click(CAPTION, "1", msgbox=True)
        self.assertEqual(env.wait_exit(proc, timeout=30), 0)

    def assert_clean(self, app):
        self.assertFalse((app / "temp").exists())
        self.assertFalse((app / "updateFileInfoTmp.ini").exists())

    def test_one_folder_installs_and_tells_the_user(self):
        with WineEnv(self) as env:
            root = env.root / "web"
            publish(root / "u1", {"a.dll": NEW_A, "b.txt": b"new b"})
            base, log = serve(env, root)
            app = make_app(env, "app", files={"a.dll": OLD_A})
            proc = start_update(env, app, base + "u1")  # no trailing slash
            self.assertTrue(env.wait_window(CAPTION, timeout=60, msgbox=True))
            env.screenshot("update-message-box")
            self.confirm_box(env, proc)
            self.assertEqual(log[0], "/u1/updateFileInfo.ini")
            self.assertEqual((app / "a.dll").read_bytes(), NEW_A)
            self.assertEqual((app / "a.dllold").read_bytes(), OLD_A)
            self.assertEqual((app / "b.txt").read_bytes(), b"new b")
            self.assertFalse((app / "b.txtold").exists())
            self.assert_clean(app)

    def test_folder_order_and_versions(self):
        with WineEnv(self) as env:
            root = env.root / "web"
            publish(root / "current", {"a.dll": b"same version"}, version="1.2.2")
            publish(root / "newer", {"a.dll": NEW_A}, version="1.2.3")
            publish(root / "lower", {"a.dll": NEW_A}, version="1.0.0")
            base, log = serve(env, root)

            # The first folder offers the library's own version: the second is not tried.
            app = make_app(env, "current-first")
            out, rc = run_update(env, app, f"{base}current/,{base}newer/")
            self.assertEqual((rc, out.splitlines()[-1]), (0, "ended"))
            self.assertFalse(any(p.startswith("/newer/") for p in log), log)
            self.assertFalse((app / "a.dll").exists())

            # A first folder without a description: the second is tried.
            log.clear()
            app = make_app(env, "missing-first")
            self.confirm_box(env, start_update(env, app, f"{base}missing,{base}newer"))
            self.assertIn("/missing/updateFileInfo.ini", log)
            self.assertEqual((app / "a.dll").read_bytes(), NEW_A)

            # A lower version updates too; a read-only old copy is replaced.
            app = make_app(env, "lower", files={"a.dll": OLD_A, "a.dllold": b"older"})
            (app / "a.dllold").chmod(stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
            self.confirm_box(env, start_update(env, app, base + "lower/"))
            self.assertEqual((app / "a.dll").read_bytes(), NEW_A)
            self.assertEqual((app / "a.dllold").read_bytes(), OLD_A)
            self.assert_clean(app)

    def test_bad_transfers_install_nothing(self):
        with WineEnv(self) as env:
            root = env.root / "web"
            for name in ("short", "nolength", "truncate", "close", "slow"):
                publish(root / name, {"a.dll": NEW_A})
            # A file one byte shorter than listed.
            (root / "short" / "a.dll").write_bytes(NEW_A[:-1])
            base, log = serve(env, root, tweaks={
                "/nolength/updateFileInfo.ini": "nolength",
                "/truncate/a.dll": "truncate",
                "/close/updateFileInfo.ini": "close",
                "/slow/a.dll": "slow",
            })
            for name in ("short", "nolength", "truncate", "close"):
                with self.subTest(name):
                    app = make_app(env, name, files={"a.dll": OLD_A})
                    out, rc = run_update(env, app, base + name + "/")
                    self.assertEqual((rc, out.splitlines()[-1]), (0, "ended"))
                    self.assertEqual((app / "a.dll").read_bytes(), OLD_A)
                    self.assertFalse((app / "a.dllold").exists())
                    self.assertFalse((app / "temp").exists())
                    self.assertFalse(env.wait_window(CAPTION, timeout=1, msgbox=True))
            # A slow answer is waited for.
            app = make_app(env, "slow", files={"a.dll": OLD_A})
            self.confirm_box(env, start_update(env, app, base + "slow/"))
            self.assertEqual((app / "a.dll").read_bytes(), NEW_A)

    def test_non_numeric_value_ends_the_run_and_the_host_lives(self):
        with WineEnv(self) as env:
            root = env.root / "web"
            describe_by_hand(root / "bad", "1.x.3", [file_line("a.dll", NEW_A)])
            (root / "bad" / "a.dll").write_bytes(NEW_A)
            publish(root / "good", {"a.dll": NEW_A})
            base, log = serve(env, root)
            app = make_app(env, "app")
            out, rc = run_update(env, app, f"{base}bad/,{base}good/")
            self.assertEqual((rc, out.splitlines()[-1]), (0, "ended"))  # the process lives on
            self.assertTrue((app / "updateFileInfoTmp.ini").exists())
            self.assertFalse(any(p.startswith("/good/") for p in log), log)
            self.assertFalse((app / "a.dll").exists())

    def test_a_hostile_name_fails_its_whole_folder(self):
        # The system's profile reader reads this library's descriptions: each name
        # that it passes on and that breaks the rule fails its folder, the good
        # row beside it included, with nothing fetched or written.
        names = [b"..\\evil.dll", b"../evil.dll", b"C:\\evil.dll", b"\\evil.dll",
                 b"\\\\127.0.0.1\\c$\\evil.dll", b"sub\\..\\..\\evil.dll", b"a.dll:evil",
                 b"evil.dll.", b"evil.dll\t.", b"a.dll\t", b"temp", b"nul.txt", b"COM1",
                 b"updateFileInfoTmp.ini", b"evil*.dll"]
        with WineEnv(self) as env:
            root = env.root / "web"
            apps = []
            for n, name in enumerate(names):
                describe_by_hand(root / ("u%d" % n), "1.2.3",
                                 [file_line("a.dll", NEW_A), file_line(name, b"evil")])
                (root / ("u%d" % n) / "a.dll").write_bytes(NEW_A)
                apps.append(make_app(env, "app%d" % n))
            (root / "evil.dll").write_bytes(b"evil")
            base, log = serve(env, root)
            results = run_updates(env, [(app, base + "u%d/" % n) for n, app in enumerate(apps)])
            for name, app, (rc, out, _) in zip(names, apps, results):
                with self.subTest(name=name):
                    self.assertEqual((rc, out.splitlines()[-1]), (0, "ended"), out)
                    self.assertFalse((app / "a.dll").exists())
                    self.assert_clean(app)
            self.assertFalse(env.wait_window(CAPTION, timeout=1, msgbox=True))
            self.assertEqual([p for p in log if not p.endswith("updateFileInfo.ini")], [])
            self.assertEqual(list(env.root.rglob("evil.dll")), [root / "evil.dll"])
            self.assertEqual(list((PREFIX / "drive_c").rglob("evil.dll")), [])

    def test_failed_install_is_undone_and_temp_keeps_other_files(self):
        with WineEnv(self) as env:
            root = env.root / "web"
            publish(root / "u", {"a.dll": NEW_A, "b.dll": b"new b"})
            base, _ = serve(env, root)
            # b.dll's previous copy cannot be cleared (a folder with a file in it).
            app = make_app(env, "undo", files={"a.dll": OLD_A, "b.dll": b"old b",
                                               "b.dllold/keep.txt": "x",
                                               "temp/notes.txt": "mine"})
            out, rc = run_update(env, app, base + "u/")
            self.assertEqual((rc, out.splitlines()[-1]), (0, "ended"))
            self.assertEqual((app / "a.dll").read_bytes(), OLD_A)
            self.assertFalse((app / "a.dllold").exists())
            self.assertEqual((app / "b.dll").read_bytes(), b"old b")
            self.assertFalse(env.wait_window(CAPTION, timeout=1, msgbox=True))

            # The same folder installs where nothing is in the way; files in "temp\"
            # that the update did not put there stay.
            app = make_app(env, "temp", files={"temp/notes.txt": "mine"})
            (app / "temp" / "notes.txt").chmod(stat.S_IRUSR)
            self.confirm_box(env, start_update(env, app, base + "u/"))
            self.assertEqual((app / "b.dll").read_bytes(), b"new b")
            self.assertEqual((app / "temp" / "notes.txt").read_text(), "mine")
            self.assertFalse((app / "temp" / "a.dll").exists())


if __name__ == "__main__":
    unittest.main()
