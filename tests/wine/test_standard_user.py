"""The product on a standard user's machine, under Wine: every Windows program of
these tests runs as an unprivileged Unix user with a Wine prefix of its own, so
what root owns is really read-only to it (a machine-wide program folder, the
all-users phonebook's folder).

- A per-user install by that user: credentials saved and read back beside the
  program, the phonebook entry written, dialed and deleted in the user's own
  phonebook, a self-update installed, nothing written outside the user's folders.
- A machine-wide install made by root: the dialer starts, keeps the user's
  credentials in the user's application-data folder (carried over from what an
  earlier, virtualised dialer left in the VirtualStore), and the self-update
  changes nothing in the program folder while the dialer keeps working.

The stand-ins sit where the system keeps the real components: the remote-access
service's library in the system folder, the capture driver's in its own
System32\\Npcap."""

import os
import shutil
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import dialer_setup as ds  # noqa: E402
from harness import BIN, ID, TITLE, StandardUser, WineEnv, wait_until  # noqa: E402
from test_dialer import rc4_hex, settings  # noqa: E402
from test_installer import shortcut  # noqa: E402
from update_fixtures import CAPTION, publish, serve  # noqa: E402

PRODUCT = "TALVEN PPPOE Client"
UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Pondo"
PBK = Path("Microsoft") / "Network" / "Connections" / "Pbk" / "rasphone.pbk"
ENTRY = "[PPPOE Connection]"
STANDIN_FILES = ("rasapi32-standin.", "packet-standin.")


def unix_path(env, windows_path):
    """A Windows path of the prefix's drive C: as a Unix path."""
    assert windows_path[1:3] == ":\\", windows_path
    return env.prefix / "drive_c" / windows_path[3:].replace("\\", "/")


def drive_c_state(env, skip):
    """{relative path: (size, mtime)} of every file on drive C: outside `skip`
    (folders relative to drive C:), leaving out the stand-ins' own logs and scripts."""
    root = env.prefix / "drive_c"
    state = {}
    for dirpath, dirnames, filenames in os.walk(root):
        here = Path(dirpath)
        dirnames[:] = [d for d in dirnames if (here / d).relative_to(root) not in skip]
        for name in filenames:
            if name.startswith(STANDIN_FILES):
                continue
            path = here / name
            info = path.lstat()
            state[str(path.relative_to(root))] = (info.st_size, info.st_mtime_ns)
    return state


def tree_state(folder):
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*"))
            if p.is_file()}


class StandardUserMachine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.user = StandardUser()

    # -- the machine around the dialer ------------------------------------------------
    def place_standins(self, env, script=ds.ACCESS_SERVER):
        """The remote-access stand-in in the system folder, the capture driver's in
        its own subfolder; the test adapter registered. Answers the driver folder."""
        system = env.system32()
        for name in os.listdir(system):
            if name.startswith(STANDIN_FILES[0]):
                (system / name).unlink()
        shutil.copy(BIN / "standins" / "rasapi32" / "rasapi32.dll", system / "rasapi32.dll")
        npcap = system / "Npcap"
        if npcap.exists():
            shutil.rmtree(npcap)
        npcap.mkdir()
        shutil.copy(BIN / "standins" / "packet" / "packet.dll", npcap)
        env.write_files(system, {"rasapi32-standin.ini": script})
        self.adapter, self.mac = ds.register_adapters(env, env.root, standin_folder=npcap)
        self.user.give(npcap)
        self.user.give(system / "rasapi32.dll")
        return npcap

    def ras_calls(self, env, name):
        log = env.system32() / "rasapi32-standin.log"
        lines = log.read_text().splitlines() if log.exists() else []
        return [line for line in lines if line.startswith(name + " ")]

    def own_phonebook(self):
        return self.user.profile() / "AppData" / "Roaming" / PBK

    def all_users_phonebook(self, env):
        return env.prefix / "drive_c" / "ProgramData" / PBK

    # -- the dialer ---------------------------------------------------------------------
    def start_dialer(self, env, folder):
        proc = env.start(folder, "Pondo.exe")
        self.assertTrue(env.wait_window(TITLE, timeout=60, main=True),
                        f"the dialer did not open: {proc.err_path.read_text()[-400:]}")
        return proc

    def fields(self, env):
        controls = {c["id"]: c for c in env.texts(TITLE, main=True)["controls"]}
        return controls[ID.IDC_USERNAME]["text"], controls[ID.IDC_PASSWORD]["text"], controls[ID.IDC_SAVEPW]["checked"]

    def connect(self, env, user, password):
        env.winctl("settext", TITLE, ID.IDC_USERNAME, user, main=True)
        env.winctl("settext", TITLE, ID.IDC_PASSWORD, password, main=True)
        env.winctl("check", TITLE, ID.IDC_SAVEPW, 1, main=True)
        env.click(TITLE, ID.IDC_CONNECT, main=True)
        self.assertTrue(env.wait_hidden(TITLE, timeout=30), "the connection did not come up")

    def close(self, env, proc):
        env.winctl("close", TITLE, main=True)
        self.assertEqual(env.wait_exit(proc, timeout=30), 0, "the dialer did not end")

    def dial_and_check_the_phonebook(self, env, folder):
        """Connects as ds.USER and closes; the entry lives in the user's phonebook."""
        proc = self.start_dialer(env, folder)
        items, _ = env.items(TITLE, ID.IDC_ADAPTERS)
        self.assertEqual(items, [ds.ADAPTER_DESC], "the capture driver's adapters were not listed")
        self.connect(env, ds.USER, ds.PASSWORD)
        own = env.windows_path(self.own_phonebook())
        for call in ("RasSetEntryPropertiesA", "RasDialA"):
            self.assertIn(f'phonebook="{own}"', self.ras_calls(env, call)[-1])
        self.assertIn(ENTRY, self.own_phonebook().read_text())
        self.assertFalse(self.all_users_phonebook(env).exists())
        self.close(env, proc)
        self.assertIn(f'phonebook="{own}"', self.ras_calls(env, "RasDeleteEntryA")[-1])
        self.assertTrue(self.ras_calls(env, "RasDeleteEntryA")[-1].endswith("-> 0"))
        self.assertNotIn(ENTRY, self.own_phonebook().read_text())

    def updated_library(self, env, folder):
        """A web folder offering a new Ostrel.dll (the built one with bytes appended
        past its image, so it still loads); answers (URL, old bytes, new bytes)."""
        old = (folder / "Ostrel.dll").read_bytes()
        new = old + b"\0update 9.9.9\0" * 64
        publish(env.root / "web" / "u", {"Ostrel.dll": new}, version="9.9.9")
        base, log = serve(env, env.root / "web")
        return base + "u/", old, new, log

    def update(self, env, folder, url):
        env.chinese_locale()  # the update's message box is in code page 936
        return env.start(folder, env.bin / "drivers" / "update_driver.exe", [url, 60000])

    # -- the installs ---------------------------------------------------------------------
    def test_per_user_install_by_a_standard_user(self):
        with WineEnv(self, user=self.user) as env:
            # A previous run's install would be taken for this one.
            leftover = env.reg_query("HKCU\\" + UNINSTALL, "InstallLocation")
            if leftover:
                shutil.rmtree(unix_path(env, leftover[1]), ignore_errors=True)
                env.run(env.root, "reg", ["delete", "HKCU\\" + UNINSTALL, "/f"])
            self.place_standins(env)
            profile = self.user.profile().relative_to(env.prefix / "drive_c")
            before = drive_c_state(env, {profile})

            rc, out, err = env.run(env.root, env.bin / "PondoSetup.exe", ["/S"], timeout=180)
            self.assertEqual(rc, 0, (out + err)[-500:])
            location = env.reg_query("HKCU\\" + UNINSTALL, "InstallLocation")[1]
            self.assertEqual(location.lower(), (env.windows_path(self.user.profile()) +
                                                "\\AppData\\Local\\Programs\\" + PRODUCT).lower())
            self.assertIsNone(env.reg_query("HKLM\\" + UNINSTALL, "InstallLocation"))
            folder = unix_path(env, location)
            log = (folder / "setup.log").read_text()
            self.assertIn("installed for: current user", log)
            self.assertIn("capture driver: C:\\windows\\system32\\Npcap\\packet.dll", log.replace(
                "C:\\Windows", "C:\\windows"))
            link = (self.user.profile() / "AppData" / "Roaming" / "Microsoft" / "Windows" /
                    "Start Menu" / "Programs" / PRODUCT / f"{PRODUCT}.lnk")
            self.assertTrue(link.is_file(), "no Start-menu shortcut of the user's own")
            self.assertEqual(shortcut(link)[1].lower(), location.lower())

            # Credentials beside the program, the entry in the user's own phonebook.
            self.dial_and_check_the_phonebook(env, folder)
            self.assertEqual(settings(folder), {"username": ds.USER, "savepw": "on",
                                                "password": rc4_hex(ds.PASSWORD)})
            # None in the profile (where the connection log goes).
            self.assertFalse((self.user.profile() / "AppData" / "Roaming" / "Pondo" /
                              "kelsupplicant.conf").exists())
            proc = self.start_dialer(env, folder)
            user, password, saved = self.fields(env)
            self.assertEqual((user, saved), (ds.USER, True))
            self.assertIn(password, (ds.PASSWORD, ""))  # "" where the field hides its text
            self.close(env, proc)

            # A phonebook the user may not write: the refusal shows its number.
            pbk = self.own_phonebook().parent
            for path in (pbk, self.own_phonebook()):
                os.chown(path, 0, 0)
            try:
                dials = len(self.ras_calls(env, "RasDialA"))
                proc = self.start_dialer(env, folder)
                env.click(TITLE, ID.IDC_CONNECT, main=True)
                self.assertTrue(env.wait_window(TITLE, timeout=30, msgbox=True))
                self.assertEqual(env.message_text(TITLE), "Cannot create PPPOE connection.\nError 5")
                self.assertTrue(self.ras_calls(env, "RasSetEntryPropertiesA")[-1].endswith("-> 5"))
                env.click(TITLE, "1", msgbox=True)
                self.assertEqual(len(self.ras_calls(env, "RasDialA")), dials, "dialed all the same")
                self.close(env, proc)
            finally:
                self.user.give(pbk)

            # The library updates itself in the user's own folder.
            url, old, new, _ = self.updated_library(env, folder)
            proc = self.update(env, folder, url)
            self.assertTrue(env.wait_window(CAPTION, timeout=60, msgbox=True), "no update message")
            env.click(CAPTION, "1", msgbox=True)
            self.assertEqual(env.wait_exit(proc, timeout=30), 0)
            self.assertEqual((folder / "Ostrel.dll").read_bytes(), new)
            self.assertEqual((folder / "Ostrel.dllold").read_bytes(), old)
            self.close(env, self.start_dialer(env, folder))  # the new library loads

            # Nothing of all this went outside the user's own folders.
            after = drive_c_state(env, {profile})
            changed = sorted(k for k in set(before) | set(after) if before.get(k) != after.get(k))
            self.assertEqual(changed, [], "written outside the user's folders")

            rc, out, err = env.run(folder, "Uninstall.exe", ["/S"])
            self.assertEqual(rc, 0, (out + err)[-300:])
            self.assertTrue(wait_until(lambda: not folder.exists(), timeout=60),
                            sorted(p.name for p in folder.iterdir()) if folder.exists() else "")
            self.assertIsNone(env.reg_query("HKCU\\" + UNINSTALL, "InstallLocation"))
            self.assertFalse(link.exists())

    def test_machine_wide_install_by_root_used_by_a_standard_user(self):
        # Root installs for everyone straight into the user's drive C: (through its
        # Z: path), so the folder the user runs is the one root made and owns. (The
        # setup takes /D= only unquoted, so the folder's path has no blank; the
        # default folder for everyone is checked by the installer's own tests.)
        self.user.ensure_prefix()
        folder = self.user.prefix / "drive_c" / "PondoForEveryone"
        shutil.rmtree(folder, ignore_errors=True)
        with WineEnv(self, name=self.id() + ".admin") as admin:
            leftover = admin.reg_query("HKLM\\" + UNINSTALL, "InstallLocation")
            if leftover:
                admin.run(admin.root, "reg", ["delete", "HKLM\\" + UNINSTALL, "/f"])
            target = "Z:" + str(folder).replace("/", "\\")
            rc, out, err = admin.run(admin.root, BIN / "PondoSetup.exe",
                                     ["/S", "/ALLUSERS", "/D=" + target], timeout=180)
            self.assertEqual(rc, 0, (out + err)[-500:])
            try:
                self.assertEqual(admin.reg_query("HKLM\\" + UNINSTALL, "InstallLocation")[1],
                                 target)
                self.assertIsNone(admin.reg_query("HKCU\\" + UNINSTALL, "InstallLocation"))
                self.assertEqual(folder.stat().st_uid, 0)
                self.assertFalse((folder / "kelsupplicant.conf").exists(),
                                 "a credentials file every user would share")
                log = (folder / "setup.log").read_text()
                self.assertIn("installed for: everyone", log)
                self.assertIn("capture driver: not found", log)
                self.assertIn("Install Npcap (https://npcap.com)", log)
                self.used_by_a_standard_user(folder)
            finally:
                if (folder / "Uninstall.exe").exists():
                    admin.run(admin.root, folder / "Uninstall.exe", ["/S"])
                self.assertTrue(wait_until(lambda: not folder.exists(), timeout=60))
                self.assertIsNone(admin.reg_query("HKLM\\" + UNINSTALL, "InstallLocation"))

    def used_by_a_standard_user(self, folder):
        with WineEnv(self, user=self.user) as env:
            location = env.windows_path(folder)
            self.assertFalse(self.user.can_write(folder), "the program folder is the user's")
            self.place_standins(env)
            # What an earlier dialer without a manifest saved, virtualised.
            virtualised = (Path("AppData") / "Local" / "VirtualStore" /
                           location[3:].replace("\\", "/") / "kelsupplicant.conf")
            env.write_files(self.user.profile(), {str(virtualised): f"username = carol\n"
                            f"savepw = on\npassword = {rc4_hex('old')}\n"})
            own = self.user.profile() / "AppData" / "Roaming" / "Pondo" / "kelsupplicant.conf"
            if own.exists():
                own.unlink()
            program_before = tree_state(folder)

            proc = self.start_dialer(env, folder)
            user, password, saved = self.fields(env)
            self.assertEqual((user, saved), ("carol", True), "the virtualised credentials were lost")
            self.assertIn(password, ("old", ""))
            self.close(env, proc)
            self.dial_and_check_the_phonebook(env, folder)
            self.assertEqual(settings(own.parent, own.name),
                             {"username": ds.USER, "savepw": "on", "password": rc4_hex(ds.PASSWORD)})
            proc = self.start_dialer(env, folder)
            self.assertEqual(self.fields(env)[0], ds.USER)
            self.close(env, proc)

            # The self-update cannot write the program folder: it fails, changing
            # nothing, and says nothing.
            url, _, _, _ = self.updated_library(env, folder)
            proc = self.update(env, folder, url)
            self.assertEqual(env.wait_exit(proc, timeout=90), 0)
            self.assertEqual(env.output(proc).split()[-1], "ended")
            self.assertTrue(env.wait_gone(CAPTION, timeout=1, msgbox=True))
            self.assertEqual(tree_state(folder), program_before, "the program folder changed")
            self.assertEqual(list(self.user.profile().rglob("updateFileInfoTmp.ini")), [])

            # And the dialer keeps working.
            self.dial_and_check_the_phonebook(env, folder)


if __name__ == "__main__":
    unittest.main()
