"""The installer as a subscriber meets it, under Wine: the silent install for the
current user (the default) or for everyone (/ALLUSERS) puts the files, shortcut
and uninstall entry in place, the dialer started in the shortcut's working folder
shows the shipped texts (English, or Chinese under a Chinese locale), and the
silent uninstall leaves nothing behind. Also the version information of both
binaries."""

import shutil
import struct
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import BIN, PREFIX, SHIP_BUILD, TITLE, WIN_BUILD, WineEnv, wait_until  # noqa: E402

SETUP = BIN / "PondoSetup.exe"
TEXTS_EN = WIN_BUILD / "installer" / "KELSupplicant.ini"
TEXTS_ZH = WIN_BUILD / "installer" / "zh_CN" / "KELSupplicant.ini"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Pondo"
START_MENU = PREFIX / "drive_c" / "ProgramData" / "Microsoft" / "Windows" / "Start Menu" / "Programs"
PRODUCT = "TALVEN PPPOE Client"
SETUP_TITLE = PRODUCT + " Setup"
RADIO_ME, RADIO_EVERYONE = 1200, 1202  # the first page's choice
FOLDER_EDIT = 1019
FINISH_TEXT = 1202  # the finish page's text (its controls count from 1200 too)
# The labels of the main dialog, by texts file key; "300" is the status line.
LABEL_KEYS = ["Username", "Password", "Adapters", "Connect", "Exit", "SavePw", "300"]


def read_texts(path, encoding):
    """key -> text of a texts file, read as the dialer reads it (first line wins)."""
    texts = {}
    for raw in path.read_bytes().split(b"\n"):
        line = raw.rstrip(b"\r").decode(encoding)
        if not line or line.startswith("#") or "=" not in line:
            continue
        key, _, value = line.partition("=")
        texts.setdefault(key.strip(), value.split("#")[0].strip(" "))
    return texts


def shortcut(path):
    """Target and working folder of a .lnk file (shell link binary format)."""
    data = path.read_bytes()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x1:  # item id list
        at += 2 + struct.unpack_from("<H", data, at)[0]
    target = None
    if flags & 0x2:  # link info: local base path
        size = struct.unpack_from("<I", data, at)[0]
        info = data[at:at + size]
        base = struct.unpack_from("<I", info, 0x10)[0]
        target = info[base:info.index(b"\0", base)].decode("latin-1")
        at += size
    wide = bool(flags & 0x80)
    strings = {}
    for bit, name in ((0x4, "name"), (0x8, "relative"), (0x10, "workdir"), (0x20, "args"),
                      (0x40, "icon")):
        if flags & bit:
            count = struct.unpack_from("<H", data, at)[0]
            at += 2
            size = count * 2 if wide else count
            strings[name] = data[at:at + size].decode("utf-16-le" if wide else "latin-1")
            strings[name] = strings[name].rstrip("\0")
            at += size
    return target, strings.get("workdir")


def version_strings(path):
    """The StringFileInfo values of a PE image's version resource, and the ids of its
    RCDATA resources."""
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    dirs = pe + 24 + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, dirs + 2 * 8)[0]
    table = pe + 24 + opt_size
    for i in range(sections):
        va, raw_size, raw = struct.unpack_from("<III", data, table + 40 * i + 12)
        vsize = struct.unpack_from("<I", data, table + 40 * i + 8)[0]
        if va <= rsrc_rva < va + max(vsize, raw_size):
            base = raw + (rsrc_rva - va)
            delta = va - raw
            break
    else:
        return {}, []

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for k in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * k)
            yield name, target

    def leaf(target):
        while target & 0x80000000:
            target = next(entries(target & 0x7FFFFFFF))[1]
        rva, size = struct.unpack_from("<II", data, base + target)
        return data[rva - delta:rva - delta + size]

    values, rcdata = {}, []
    for type_id, type_target in entries(0):
        if type_id == 10:
            rcdata = [name for name, _ in entries(type_target & 0x7FFFFFFF)]
        if type_id == 16:
            blob = leaf(next(entries(type_target & 0x7FFFFFFF))[1])
            text = blob.decode("utf-16-le", "replace")
            for key in ("CompanyName", "FileVersion", "LegalCopyright", "ProductName",
                        "ProductVersion", "OriginalFilename"):
                at = text.find(key + "\0")
                if at >= 0:
                    rest = text[at + len(key) + 1:].lstrip("\0")
                    values[key] = rest.split("\0")[0]
    return values, rcdata


def run(env, cwd, exe, args=(), timeout=120):
    """(exit code, output) of a Windows program run to its end."""
    rc, out, err = env.run(cwd, exe, args, timeout=timeout)
    return rc, out + err


class VersionInformation(unittest.TestCase):
    def test_both_binaries_carry_our_version_information(self):
        self.assertTrue((SHIP_BUILD / "bin" / "Pondo.exe").exists(), "Pondo.exe is not built")
        for name in ("Pondo.exe", "Ostrel.dll"):
            path = SHIP_BUILD / "bin" / name
            if not path.exists():  # the library's build comes with its own engineer's work
                continue
            with self.subTest(binary=name):
                values, rcdata = version_strings(path)
                self.assertEqual(values.get("ProductName"), PRODUCT)
                self.assertEqual(values.get("OriginalFilename"), name)
                self.assertRegex(values.get("FileVersion", ""), r"^\d+\.\d+\.\d+\.\d+$")
                self.assertEqual(values.get("ProductVersion"), values.get("FileVersion"))
                self.assertIn("Copyright", values.get("LegalCopyright", ""))
                if name == "Ostrel.dll":
                    # The library's own version stamp stays beside it.
                    self.assertIn(129, rcdata)
        if SETUP.exists():
            values, _ = version_strings(SETUP)
            self.assertEqual(values.get("ProductName"), PRODUCT)
            self.assertEqual(values.get("ProductVersion"),
                             version_strings(SHIP_BUILD / "bin" / "Pondo.exe")[0].get("ProductVersion"))


@unittest.skipUnless(SETUP.exists(), "PondoSetup.exe is built once Ostrel.dll is")
class Installer(unittest.TestCase):
    """Run as root in the shared prefix: both install models. The standard user's
    side of them is in test_standard_user.py."""

    @staticmethod
    def key(everyone):
        return ("HKLM\\" if everyone else "HKCU\\") + UNINSTALL_KEY

    @staticmethod
    def start_menu(env, everyone):
        if everyone:
            return START_MENU
        return env.profile() / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" / \
            "Programs"

    def reg_value(self, env, name, everyone):
        value = env.reg_query(self.key(everyone), name)
        return value[1] if value else None

    def unix_path(self, env, windows_path):
        rc, out = run(env, BIN, "winepath", ["-u", windows_path])
        self.assertEqual(rc, 0, out)
        return Path(out.strip().splitlines()[0])

    def remove_leftovers(self, env):
        """The prefix is shared: a test that failed half-way must not leave its install."""
        for everyone in (False, True):
            location = self.reg_value(env, "InstallLocation", everyone)
            if location is not None:
                folder = self.unix_path(env, location)
                if (folder / "Uninstall.exe").exists():
                    run(env, folder, "Uninstall.exe", ["/S"])
                    wait_until(lambda: not folder.exists(), timeout=60)
                shutil.rmtree(folder, ignore_errors=True)
                run(env, BIN, "reg", ["delete", self.key(everyone), "/f"])
            shutil.rmtree(self.start_menu(env, everyone) / PRODUCT, ignore_errors=True)
        # Files an earlier run left in the default folders would be taken for ours.
        for program_files in ("Program Files", "Program Files (x86)"):
            shutil.rmtree(PREFIX / "drive_c" / program_files / PRODUCT, ignore_errors=True)
        shutil.rmtree(env.profile() / "AppData" / "Local" / "Programs" / PRODUCT,
                      ignore_errors=True)

    def install(self, env, *options):
        everyone = "/ALLUSERS" in options
        rc, out = run(env, BIN, SETUP, ["/S", *options], timeout=180)
        self.assertEqual(rc, 0, out[-500:])
        location = self.reg_value(env, "InstallLocation", everyone)
        self.assertIsNotNone(location, "no uninstall entry")
        self.assertIsNone(self.reg_value(env, "InstallLocation", not everyone),
                          "an uninstall entry for the other model")
        folder = self.unix_path(env, location)
        self.assertTrue(folder.is_dir(), folder)
        return location, folder

    def check_installed(self, env, location, folder, texts, everyone):
        # The default folders: the user's own programs folder, or Program Files.
        expected = ("C:\\Program Files\\" if everyone else
                    f"C:\\users\\{env.profile().name}\\AppData\\Local\\Programs\\") + PRODUCT
        self.assertEqual(location.lower(), expected.lower())
        self.assertEqual((folder / "Pondo.exe").read_bytes(), (BIN / "Pondo.exe").read_bytes())
        self.assertEqual((folder / "Ostrel.dll").read_bytes(), (BIN / "Ostrel.dll").read_bytes())
        self.assertEqual((folder / "KELSupplicant.ini").read_bytes(), texts.read_bytes())
        if everyone:
            # Each user keeps their own, in their profile.
            self.assertFalse((folder / "kelsupplicant.conf").exists())
        else:
            conf = read_texts(folder / "kelsupplicant.conf", "ascii")
            self.assertEqual(conf, {"username": "", "savepw": "off", "password": ""})
        self.assertTrue((folder / "Uninstall.exe").is_file())
        log = (folder / "setup.log").read_text()
        self.assertIn("installed for: " + ("everyone" if everyone else "current user"), log)
        self.assertIn("capture driver: not found", log)
        link = self.start_menu(env, everyone) / PRODUCT / f"{PRODUCT}.lnk"
        self.assertTrue(link.is_file(), "no Start-menu shortcut")
        target, workdir = shortcut(link)
        self.assertEqual(target.lower(), (location + "\\Pondo.exe").lower())
        self.assertEqual(workdir.lower(), location.lower())
        self.assertEqual(self.reg_value(env, "QuietUninstallString", everyone),
                         f'"{location}\\Uninstall.exe" /S')
        return self.unix_path(env, workdir)

    def run_dialer(self, env, workdir, texts, shot):
        """Starts the dialer as the shortcut does and checks its labels."""
        title = texts.get("MainDlgTitle", TITLE)
        proc = env.start(workdir, "Pondo.exe")
        if not env.wait_window(title, timeout=30, main=True):
            env.screenshot(shot)
            self.fail(f"no main window titled {title!r}")
        window = env.texts(title, main=True)
        shown = {c["text"] for c in window["controls"] if c["visible"]}
        expected = {key: texts[key] for key in LABEL_KEYS}
        # Nothing moves the status line on from the welcome text before the user acts.
        missing = {k: v for k, v in expected.items() if v not in shown}
        env.screenshot(shot)
        self.assertEqual(missing, {}, f"labels not shown; the window shows {sorted(shown)}")
        # By its id: a text argument would have to survive the locale's code page.
        exit_id = next(c["id"] for c in window["controls"] if c["text"] == texts["Exit"])
        env.click(title, exit_id, main=True)
        self.assertIsNotNone(env.wait_exit(proc, timeout=30), "the dialer did not end on Exit")

    def uninstall(self, env, location, folder, everyone):
        rc, out = run(env, folder, "Uninstall.exe", ["/S"])
        self.assertEqual(rc, 0, out[-500:])
        # The uninstaller hands over to a copy of itself in the temporary folder.
        self.assertTrue(wait_until(lambda: not folder.exists(), timeout=60),
                        f"left behind: {sorted(p.name for p in folder.iterdir())}"
                        if folder.exists() else "")
        self.assertFalse((self.start_menu(env, everyone) / PRODUCT).exists(),
                         "Start-menu folder left behind")
        self.assertIsNone(self.reg_value(env, "InstallLocation", everyone),
                          "uninstall entry left behind")

    def test_english_install_for_the_user_run_and_uninstall(self):
        with WineEnv(self) as env:
            self.remove_leftovers(env)
            location, folder = self.install(env)
            workdir = self.check_installed(env, location, folder, TEXTS_EN, everyone=False)
            self.run_dialer(env, workdir, read_texts(TEXTS_EN, "ascii"), "installer-english")
            # A second install keeps what the user's settings file remembers.
            conf = folder / "kelsupplicant.conf"
            conf.write_bytes(conf.read_bytes().replace(b"username = ", b"username = bob"))
            self.install(env, "/TEXTS=en")
            self.assertEqual(read_texts(conf, "ascii")["username"], "bob")
            # The library's self-update leaves these beside the program.
            (folder / "Ostrel.dllold").write_bytes(b"previous")
            (folder / "temp").mkdir()
            (folder / "temp" / "Ostrel.dll").write_bytes(b"download")
            self.uninstall(env, location, folder, everyone=False)

    def test_chinese_texts_for_everyone_under_chinese_locale(self):
        with WineEnv(self) as env:
            self.remove_leftovers(env)
            env.chinese_locale()
            location, folder = self.install(env, "/ALLUSERS", "/TEXTS=zh_CN")
            workdir = self.check_installed(env, location, folder, TEXTS_ZH, everyone=True)
            texts = read_texts(TEXTS_ZH, "cp936")
            self.assertEqual(texts["Connect"], "连接")
            self.run_dialer(env, workdir, texts, "installer-chinese")
            # The credentials file of this user, not one in the program folder.
            own = env.profile() / "AppData" / "Roaming" / "Pondo" / "kelsupplicant.conf"
            self.assertEqual(read_texts(own, "ascii"),
                             {"username": "", "savepw": "off", "password": ""})
            self.assertFalse((folder / "kelsupplicant.conf").exists())
            self.uninstall(env, location, folder, everyone=True)
            self.assertFalse(own.exists(), "the uninstalling user's credentials file was left")

    def test_interactive_install_for_everyone_names_the_capture_driver(self):
        with WineEnv(self) as env:
            self.remove_leftovers(env)
            npcap = env.system32() / "Npcap"
            shutil.rmtree(npcap, ignore_errors=True)
            npcap.mkdir()
            shutil.copy(BIN / "standins" / "packet" / "packet.dll", npcap)
            try:
                proc = env.start(env.root, SETUP)
                self.assertTrue(env.wait_window(SETUP_TITLE, timeout=60), "no setup window")
                page = self.page(env)
                self.assertTrue(page[RADIO_ME]["checked"], "not for the current user by default")
                self.assertFalse(page[RADIO_EVERYONE]["checked"])
                env.screenshot("installer-page-who")
                env.winctl("check", SETUP_TITLE, RADIO_ME, 0)
                env.winctl("check", SETUP_TITLE, RADIO_EVERYONE, 1)
                self.next_page(env)  # to the components
                self.next_page(env)  # to the folder: Program Files, for everyone
                self.assertEqual(self.page(env)[FOLDER_EDIT]["text"].lower(),
                                 ("C:\\Program Files\\" + PRODUCT).lower())
                self.next_page(env)  # install, then the finish page
                self.assertTrue(wait_until(lambda: FINISH_TEXT in self.page(env), timeout=60))
                text = self.page(env)[FINISH_TEXT]["text"]
                self.assertIn("The packet capture driver it needs was found", text)
                self.assertIn("\\Npcap\\packet.dll", text)
                env.screenshot("installer-page-finish")
                env.click(SETUP_TITLE + " ", 1)
                self.assertEqual(env.wait_exit(proc, timeout=30), 0)
                location = self.reg_value(env, "InstallLocation", True)
                self.assertIsNotNone(location, "not installed for everyone")
                self.uninstall(env, location, self.unix_path(env, location), everyone=True)
            finally:
                shutil.rmtree(npcap, ignore_errors=True)

    def page(self, env):
        """{control id: control} of the setup's window and its current page."""
        title = SETUP_TITLE if env.wait_window(SETUP_TITLE, timeout=1) else SETUP_TITLE + " "
        return {c["id"]: c for c in env.texts(title, nested=True)["controls"] if c["visible"]}

    def next_page(self, env):
        # The first page's caption is the setup's name; later ones add a blank.
        before = self.page(env)
        title = SETUP_TITLE if env.wait_window(SETUP_TITLE, timeout=1) else SETUP_TITLE + " "
        env.click(title, 1)
        self.assertTrue(wait_until(lambda: self.page(env) != before, timeout=30), "no next page")

    def test_unknown_texts_option_installs_nothing(self):
        with WineEnv(self) as env:
            self.remove_leftovers(env)
            rc, out = run(env, BIN, SETUP, ["/S", "/TEXTS=fr"])
            self.assertEqual(rc, 2, out)
            for everyone in (False, True):
                self.assertIsNone(self.reg_value(env, "InstallLocation", everyone))
                self.assertFalse((self.start_menu(env, everyone) / PRODUCT).exists())


if __name__ == "__main__":
    unittest.main()
