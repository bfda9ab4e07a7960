"""The real keyed Ostrel.dll under Wine against a hostile update server on
loopback: endless, oversized, dripping, silent, redirecting and replaying
servers, and hostile names. Each update ends within its deadline, nothing over
the listed sizes is written anywhere (the internet cache included), nothing of a
refused folder stays, and an older signed folder never replaces a newer one."""

import shutil
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import WineEnv  # noqa: E402
from harness import PREFIX  # noqa: E402
from update_fixtures import (CAPTION, MARKER, TEST_KEY, describe_by_hand, file_line,  # noqa: E402
                             hash_line, holding, hostile_server, make_app, prefix_roots, publish,
                             run_updates, serve, snapshot, start_update, test_key_sequence,
                             written_since)

OLD = b"installed library " * 40
NEW = b"operator's new library " * 180  # about 4 KiB: its transfer may take 10.5 s
# The update's own bounds: 10 s for a transfer plus its size at 8 KiB/s, the
# description at most 32 KiB.
DESCRIPTION_DEADLINE = 10 + 32 / 8
FILE_DEADLINE = 10 + len(NEW) / 8192


class HostileServers(unittest.TestCase):
    def assert_untouched(self, app, label):
        self.assertEqual((app / "a.dll").read_bytes(), OLD, label)
        for name in ("a.dllold", "temp", "updateFileInfoTmp.ini", "updateFileInfoTmp.sig",
                     "updateRelease.dat"):
            self.assertFalse((app / name).exists(), (label, name))

    def test_each_hostile_server_ends_its_update_in_time_and_writes_nothing(self):
        with WineEnv(self) as env:
            root = env.root / "web"
            cases = {
                # name: (path to spoil, misbehaviour, its deadline in seconds)
                "endless-info": ("updateFileInfo.ini", ("endless", None), 0),
                "huge-info": ("updateFileInfo.ini", ("endless", 400_000_000), 0),
                "huge-sig": ("updateFileInfo.sig", ("endless", 400_000_000), 0),
                "huge-file": ("a.dll", ("endless", 400_000_000), 0),
                "bad-status": ("a.dll", ("status", 500), 0),
                "drip-info": ("updateFileInfo.ini", ("drip", 2), DESCRIPTION_DEADLINE),
                "silent-info": ("updateFileInfo.ini", ("silent", None), DESCRIPTION_DEADLINE),
                "drip-file": ("a.dll", ("drip-body", 2), FILE_DEADLINE),
                "silent-file": ("a.dll", ("silent", None), FILE_DEADLINE),
                "self-redirect": ("updateFileInfo.ini", ("redirect", None), 0),
            }
            for name in cases:
                publish(root / name, {"a.dll": NEW}, sign=True)
            tweaks = {}
            server = hostile_server(env, root, tweaks)
            for name, (path, (kind, arg), _) in cases.items():
                url = "/%s/%s" % (name, path)
                tweaks[url] = (kind, server.base.rstrip("/") + url if kind == "redirect" else arg)
            server.tweaks = tweaks
            apps = {name: make_app(env, name, keyed=True, files={"a.dll": OLD}) for name in cases}
            roots = [env.root] + prefix_roots()
            before = snapshot(roots)
            results = run_updates(env, [(apps[n], server.base + n + "/") for n in cases],
                                  timeout=60)
            for (name, (path, misbehaviour, deadline)), (rc, out, seconds) in zip(
                    cases.items(), results):
                with self.subTest(name):
                    print("%-14s %5.1f s, %2d requests, %9d bytes sent" % (
                        name, seconds or -1, server.requests.get("/%s/%s" % (name, path), 0),
                        server.sent.get("/%s/%s" % (name, path), 0)), file=sys.stderr)
                    self.assertEqual(rc, 0, out)
                    self.assertEqual(out.splitlines()[-1], "ended")
                    # Bounded by its own deadline (plus the description's and the
                    # signature's quick transfers and Wine's start).
                    self.assertLess(seconds, deadline + 8, name)
                    self.assert_untouched(apps[name], name)
            self.assertLessEqual(server.requests["/self-redirect/updateFileInfo.ini"], 6)
            # Nothing over the listed size written anywhere, and no hostile byte kept:
            # not in the program folders, not in the internet cache.
            written = written_since(before, roots)
            print("written: %s" % sorted((s, str(p)) for p, s in written.items())[-3:],
                  file=sys.stderr)
            self.assertLessEqual(max(written.values(), default=0), len(NEW))
            self.assertEqual(holding(MARKER, written), [])


# Names the library must refuse, each of which fails its whole folder.
HOSTILE_NAMES = [
    b"..\\evil.dll", b"../evil.dll", b"sub\\..\\..\\evil.dll", b"C:\\evil.dll", b"C:evil.dll",
    b"\\evil.dll", b"/evil.dll", b"\\\\127.0.0.1\\c$\\evil.dll", b"a.dll:evil", b"evil.dll.",
    b"evil.dll. ", b"evil\x01.dll", b"..\x00evil", b"temp", b"TEMP",
    # the reader drops blanks around a name: these are a.dll listed a second time
    b"a.dll ", b"a.dll\t", b"A.DLL",
    b"updateFileInfo.ini", b"updateRelease.dat", b"NUL", b"con.txt", b"COM1", b"lpt1.dll",
    b"evil?.dll", b"evil|.dll",
]


class SignedFolders(unittest.TestCase):
    def confirm_box(self, env, proc):
        self.assertTrue(env.wait_window(CAPTION, timeout=60, msgbox=True), "no message box")
        env.click(CAPTION, "1", msgbox=True)  # IDOK
        self.assertEqual(env.wait_exit(proc, timeout=30), 0)

    def test_older_signed_folders_are_refused_and_newer_ones_install(self):
        built = test_key_sequence()
        with WineEnv(self) as env:
            root = env.root / "web"
            first, second = b"first release " * 200, b"second release " * 200
            publish(root / "first", {"a.dll": first}, version="1.2.3", sign=True)
            publish(root / "second", {"a.dll": second}, version="1.2.4", sign=True)
            # Signed, but at a sequence the library was built past.
            stale = root / "stale"
            stale.mkdir(parents=True)
            shutil.copy(TEST_KEY, stale / "signer.pem")
            (stale / "signer.pem.sequence").write_text("%d\n" % (built - 1))
            publish(stale / "folder", {"a.dll": b"stale " * 100}, version="1.2.5", sign=True)
            # The newer folder's file comes with endless bytes behind its length.
            server = hostile_server(env, root, {"/second/a.dll": ("longer", None)})
            base = server.base

            app = make_app(env, "app", keyed=True, files={"a.dll": OLD})
            out = run_updates(env, [(app, base + "stale/folder/")])[0]
            self.assertEqual(out[0], 0, out[1])
            self.assertEqual((app / "a.dll").read_bytes(), OLD)
            self.assertNotIn("/stale/folder/a.dll", server.requests)

            self.confirm_box(env, start_update(env, app, base + "second/"))
            self.assertEqual((app / "a.dll").read_bytes(), second)  # the listed bytes only
            self.assertEqual((app / "a.dllold").read_bytes(), OLD)
            record = (app / "updateRelease.dat").read_text().strip()
            self.assertEqual(int(record), built + 2)

            # Whoever holds the server replays the older folder, and the same one
            # again, as often as it likes: nothing changes, no message is shown.
            server.requests.clear()
            results = run_updates(env, [(app, base + "first/,%ssecond/" % base)] * 1)
            results += run_updates(env, [(app, base + "first/")])
            for rc, out, _ in results:
                self.assertEqual((rc, out.splitlines()[-1]), (0, "ended"), out)
            self.assertFalse(env.wait_window(CAPTION, timeout=1, msgbox=True))
            self.assertEqual((app / "a.dll").read_bytes(), second)
            self.assertEqual((app / "a.dllold").read_bytes(), OLD)
            self.assertEqual((app / "updateRelease.dat").read_text().strip(), record)
            self.assertEqual([p for p in server.requests if p.endswith("a.dll")], [])
            self.assertEqual(holding(MARKER, [p for p in app.iterdir() if p.is_file()]), [])

    def test_every_hostile_name_fails_its_folder_with_nothing_written(self):
        sequence = test_key_sequence() + 1
        with WineEnv(self) as env:
            root = env.root / "web"
            jobs, apps = [], []
            for n, name in enumerate(HOSTILE_NAMES):
                folder = root / ("f%d" % n)
                names = [b"a.dll", name]
                describe_by_hand(folder, "1.2.3", [file_line(x, NEW) for x in names],
                                 b"[file hashes]\r\n" +
                                 b"".join(hash_line(x, NEW) + b"\r\n" for x in names) +
                                 b"[release]\r\nsequence=%d\r\n" % sequence, sign=True)
                (folder / "a.dll").write_bytes(NEW)
                apps.append(make_app(env, "app%d" % n, keyed=True, files={"a.dll": OLD}))
                jobs.append((apps[-1], "http://127.0.0.1:%d/f%d/"))
            (root / "evil.dll").write_bytes(NEW)
            base, log = serve(env, root)
            port = int(base.rsplit(":", 1)[1].strip("/"))
            roots = [env.root, PREFIX / "drive_c"]
            before = snapshot(roots)
            results = run_updates(env, [(app, url % (port, n)) for n, (app, url) in
                                        enumerate(jobs)])
            for name, app, (rc, out, seconds) in zip(HOSTILE_NAMES, apps, results):
                with self.subTest(name=name):
                    self.assertEqual((rc, out.splitlines()[-1]), (0, "ended"), out)
                    self.assert_untouched(app, name)
            # Only descriptions and signatures were fetched; nothing was written.
            self.assertEqual([p for p in log if not p.endswith((".ini", ".sig"))], [])
            self.assertEqual({p for p in written_since(before, roots)
                              if p.suffix != ".out" and p.suffix != ".err"}, set())

    assert_untouched = HostileServers.assert_untouched


if __name__ == "__main__":
    unittest.main()
