"""The installer as a subscriber meets it, under Wine: the silent install for the
current user (the default) or for everyone (/ALLUSERS) puts the files, shortcut
and uninstall entry in place, the dialer started in the shortcut's working folder
shows the shipped texts (English, or Chinese under a Chinese locale), and the
silent uninstall leaves nothing behind. Also the version information of both
binaries."""

import re
import shutil
import struct
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import dialer_setup as ds  # noqa: E402
import pe_image  # noqa: E402
from harness import BIN, ID, PREFIX, SHIP_BUILD, TITLE, WIN_BUILD, WineEnv, wait_until  # noqa: E402

SETUP = BIN / "PondoSetup.exe"
TEXTS_EN = WIN_BUILD / "installer" / "KELSupplicant.ini"
TEXTS_ZH = WIN_BUILD / "installer" / "zh_CN" / "KELSupplicant.ini"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Pondo"
START_MENU = PREFIX / "drive_c" / "ProgramData" / "Microsoft" / "Windows" / "Start Menu" / "Programs"
PRODUCT = "TALVEN PPPOE Client"
SETUP_TITLE = PRODUCT + " Setup"
LANGUAGE_TITLE = "Installer Language"  # the language choice before the first page
LANGUAGE_LIST = 1002  # its list of languages
RADIO_ME, RADIO_EVERYONE = 1200, 1202  # the "who" page's choice
FOLDER_EDIT = 1019
DETAILS = 1016  # the progress page's list of what was done
# The finish page (its controls count from 1200 too): picture, title, text, and the
# option to start the dialer.
FINISH_TEXT, FINISH_RUN = 1202, 1203
# The dialer's main window: the Connect button (its caption follows the connection),
# user name and password.
CONNECT, USER_EDIT, PASSWORD_EDIT = ID.IDC_CONNECT, ID.IDC_USERNAME, ID.IDC_PASSWORD
APPDATA_FILES = ("kelsupplicant.conf", "connection.log")  # the dialer's, per user
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
    found = pe_image.resources(path)
    rcdata = sorted({name for kind, name, _ in found if kind == 10})
    blob = next((blob for (kind, _, _), blob in found.items() if kind == 16), b"")
    text = blob.decode("utf-16-le", "replace")
    values = {}
    for key in ("CompanyName", "FileVersion", "LegalCopyright", "ProductName", "ProductVersion",
                "OriginalFilename"):
        at = text.find(key + "\0")
        if at >= 0:
            values[key] = text[at + len(key) + 1:].lstrip("\0").split("\0")[0]
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


class Installer(unittest.TestCase):
    """Run as root in the shared prefix: both install models. The standard user's
    side of them is in test_standard_user.py."""

    @classmethod
    def setUpClass(cls):
        # Never a skip: a run without the setup would pass without testing it.
        if not shutil.which("makensis"):
            raise AssertionError("PondoSetup.exe cannot be built: makensis is missing "
                                 "(Debian package nsis; scripts/setup installs it)")
        if not SETUP.exists():
            raise AssertionError(f"{SETUP} was not built (it needs Pondo.exe and Ostrel.dll)")

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

    def access_network(self, env, folder, npcap):
        """The stand-ins of the access network for an installed dialer: the capture
        driver's library where Npcap puts it, listing the test adapter, and the
        access server beside the program (as root the test may write there)."""
        npcap.mkdir(exist_ok=True)
        shutil.copy(BIN / "standins" / "packet" / "packet.dll", npcap)
        ds.register_adapters(env, env.root, standin_folder=npcap)
        for dll in (BIN / "standins" / "rasapi32").glob("*.dll"):
            shutil.copy(dll, folder)
        (folder / "rasapi32-standin.ini").write_text(ds.access_server(accept=None))

    def npcap(self, env):
        """System32\\Npcap of the prefix, removed again when the test ends."""
        npcap = env.system32() / "Npcap"
        shutil.rmtree(npcap, ignore_errors=True)
        self.addCleanup(shutil.rmtree, npcap, ignore_errors=True)
        return npcap

    def connect(self, env, texts, disconnect, shot):
        """Dials from the open dialer, brings its window back from the icon and checks
        that the button that hangs up says so, as the installed texts file has it."""
        title = texts.get("MainDlgTitle", TITLE)
        env.winctl("settext", title, USER_EDIT, ds.USER, main=True)
        env.winctl("settext", title, PASSWORD_EDIT, ds.PASSWORD, main=True)
        env.click(title, CONNECT, main=True)
        self.assertTrue(env.wait_hidden(title, timeout=30), "the connection did not come up")
        rc, _, _ = env.run(env.root, BIN / "drivers" / "trayclick.exe", [title])
        self.assertEqual(rc, 0, "no window took the icon's click")
        self.assertTrue(env.wait_window(title, timeout=10, main=True), "the window stayed hidden")
        self.assertEqual(texts["Disconnect"], disconnect)
        self.assertEqual(env.control(title, CONNECT)["text"], disconnect)
        env.screenshot(shot)

    def run_dialer(self, env, workdir, texts, shot, disconnect=None):
        """Starts the dialer as the shortcut does and checks its labels; with
        `disconnect`, connects and checks the button's caption while connected."""
        title = texts.get("MainDlgTitle", TITLE)
        proc = env.start(workdir, "Pondo.exe")
        if not env.wait_window(title, timeout=30, main=True):
            env.screenshot(shot)
            self.fail(f"no main window titled {title!r}")
        self.check_labels(env, texts, shot)
        if disconnect is not None:
            self.connect(env, texts, disconnect, shot + "-connected")
        self.exit_dialer(env, proc, texts)

    def check_labels(self, env, texts, shot):
        title = texts.get("MainDlgTitle", TITLE)
        window = env.texts(title, main=True)
        shown = {c["text"] for c in window["controls"] if c["visible"]}
        expected = {key: texts[key] for key in LABEL_KEYS}
        # Nothing moves the status line on from the welcome text before the user acts.
        missing = {k: v for k, v in expected.items() if v not in shown}
        env.screenshot(shot)
        self.assertEqual(missing, {}, f"labels not shown; the window shows {sorted(shown)}")

    def exit_dialer(self, env, proc, texts):
        """Ends the dialer with its Exit button (proc: None for one the setup started)."""
        title = texts.get("MainDlgTitle", TITLE)
        window = env.texts(title, main=True)
        # By its id: a text argument would have to survive the locale's code page.
        exit_id = next(c["id"] for c in window["controls"] if c["text"] == texts["Exit"])
        env.click(title, exit_id, main=True)
        if proc is None:
            self.assertTrue(env.wait_gone(title, main=True), "the dialer did not end on Exit")
        else:
            self.assertIsNotNone(env.wait_exit(proc, timeout=30), "the dialer did not end on Exit")

    @staticmethod
    def remove_access_server(folder):
        """The access server's stand-in is the test's, not the product's."""
        for path in folder.glob("rasapi32*"):
            path.unlink()

    def assert_only_access_server_left(self, folder):
        """After an uninstall with the access server's stand-in beside the program:
        nothing but the stand-in's files is left (the folder stays for them)."""
        left = lambda: sorted(p.name for p in folder.iterdir()  # noqa: E731
                              if not p.name.startswith("rasapi32"))
        self.assertTrue(wait_until(lambda: left() == [], timeout=60), f"left behind: {left()}")

    def uninstall(self, env, location, folder, everyone):
        rc, out = run(env, folder, "Uninstall.exe", ["/S"])
        self.assertEqual(rc, 0, out[-500:])
        # The uninstaller hands over to a copy of itself in the temporary folder and
        # ends at once; the copy removes the uninstall entry last.
        wait_until(lambda: self.reg_value(env, "InstallLocation", everyone) is None, timeout=60)
        self.assertFalse(folder.exists(), f"left behind: {sorted(p.name for p in folder.iterdir())}"
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
            self.access_network(env, folder, self.npcap(env))
            self.run_dialer(env, workdir, read_texts(TEXTS_EN, "ascii"), "installed-dialer-english",
                            disconnect="Disconnect")
            self.remove_access_server(folder)
            # A second install keeps what the user's settings file remembers.
            conf = folder / "kelsupplicant.conf"
            conf.write_bytes(re.sub(rb"(?m)^username *=[^\r\n]*", b"username = bob",
                                    conf.read_bytes()))
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
            self.access_network(env, folder, self.npcap(env))
            self.run_dialer(env, workdir, texts, "installed-dialer-chinese", disconnect="断开")
            self.remove_access_server(folder)
            # The credentials file of this user (the name it dialled with), not one in
            # the program folder.
            own = env.profile() / "AppData" / "Roaming" / "Pondo" / "kelsupplicant.conf"
            self.assertEqual(read_texts(own, "ascii"),
                             {"username": ds.USER, "savepw": "off", "password": ""})
            self.assertFalse((folder / "kelsupplicant.conf").exists())
            self.uninstall(env, location, folder, everyone=True)
            self.assertFalse(own.exists(), "the uninstalling user's credentials file was left")

    # -- interactive: the pages, driven by their controls --------------------------
    @staticmethod
    def title(env, base=SETUP_TITLE):
        """The setup's (or uninstaller's) caption: some pages add a blank to it."""
        for title in (base, base + " "):
            if env.wait_window(title, timeout=1):
                return title
        raise AssertionError(f"no window titled {base!r}")

    def page(self, env, base=SETUP_TITLE):
        """{control id: control} of the setup's window and its current page."""
        for _ in range(20):  # the caption may change while it is read
            try:
                title = self.title(env, base)
                controls = env.texts(title, nested=True)["controls"]
                return {c["id"]: c for c in controls if c["visible"]}
            except AssertionError:
                pass
        raise AssertionError(f"no window titled {base!r}")

    def next_page(self, env, base=SETUP_TITLE):
        before = self.page(env, base)
        env.click(self.title(env, base), 1)
        self.assertTrue(wait_until(lambda: self.page(env, base) != before, timeout=30),
                        "no next page")

    def wait_done(self, env, base=SETUP_TITLE):
        """Waits until the progress page is done (its Next button enabled again)."""
        self.assertTrue(wait_until(lambda: self.page(env, base)[1]["enabled"], timeout=120),
                        "the progress page never ended")

    def choose_language(self, env, expected, english=False, setup_title=SETUP_TITLE):
        """The language choice before the first page: the system's language is
        preselected; `english` picks English instead."""
        self.assertTrue(env.wait_window(LANGUAGE_TITLE, timeout=60), "no language choice")
        items, selected = env.items(LANGUAGE_TITLE, LANGUAGE_LIST)
        self.assertIn("English", items)
        self.assertEqual(len(items), 2, items)
        self.assertEqual(items[selected], expected)
        if english:
            env.winctl("select", LANGUAGE_TITLE, LANGUAGE_LIST, items.index("English"))
        env.screenshot("installer-language")
        env.click(LANGUAGE_TITLE, 1)
        self.assertTrue(env.wait_window(setup_title, timeout=60), "no setup window")

    def check_details_fit(self, env):
        """Every line of the progress page's details shows whole: the column is as
        wide as its longest line (the folder's long path among them)."""
        column, _, items = env.listview(self.title(env), DETAILS)
        self.assertTrue(items, "no details")
        self.assertTrue(any(PRODUCT in text for _, text in items), items)
        widest = max(width for width, _ in items)
        self.assertGreaterEqual(column, widest, f"lines cut off: {items}")

    def test_interactive_install_through_every_page_starts_the_dialer(self):
        with WineEnv(self) as env:
            self.remove_leftovers(env)
            npcap = self.npcap(env)
            npcap.mkdir()
            shutil.copy(BIN / "standins" / "packet" / "packet.dll", npcap)
            proc = env.start(env.root, SETUP)
            self.choose_language(env, "English")
            page = self.page(env)
            self.assertIn(PRODUCT, " ".join(c["text"] for c in page.values()))
            self.assertEqual(page[1]["text"], "&Next >")
            env.screenshot("installer-welcome")
            self.next_page(env)  # who: the current user by default
            page = self.page(env)
            self.assertTrue(page[RADIO_ME]["checked"], "not for the current user by default")
            self.assertFalse(page[RADIO_EVERYONE]["checked"])
            env.screenshot("installer-who")
            self.next_page(env)
            env.screenshot("installer-components")
            self.next_page(env)  # the folder: the user's own programs folder
            folder_text = self.page(env)[FOLDER_EDIT]["text"]
            self.assertEqual(folder_text.lower(), (f"C:\\users\\{env.profile().name}\\AppData"
                                                   f"\\Local\\Programs\\{PRODUCT}").lower())
            env.screenshot("installer-folder")
            self.next_page(env)  # install: the progress page stays until Next
            self.wait_done(env)
            self.check_details_fit(env)
            env.screenshot("installer-progress")
            self.next_page(env)
            page = self.page(env)
            self.assertIn("The packet capture driver it needs was found", page[FINISH_TEXT]["text"])
            self.assertIn("\\Npcap\\packet.dll", page[FINISH_TEXT]["text"])
            self.assertEqual(page[FINISH_RUN]["text"], f"&Start {PRODUCT} now")
            self.assertTrue(page[FINISH_RUN]["checked"], "the dialer is not started by default")
            env.screenshot("installer-finish")
            location = self.reg_value(env, "InstallLocation", False)
            self.assertEqual(location.lower(), folder_text.lower())
            folder = self.unix_path(env, location)
            self.access_network(env, folder, npcap)
            env.click(self.title(env), 1)  # Finish, with the option to start the dialer
            self.assertEqual(env.wait_exit(proc, timeout=30), 0)
            self.assertTrue(env.wait_window(TITLE, timeout=60, main=True),
                            "the finish page did not start the dialer")
            texts = read_texts(folder / "KELSupplicant.ini", "ascii")
            self.check_labels(env, texts, "dialer-started-by-setup")
            self.connect(env, texts, "Disconnect", "dialer-started-by-setup-connected")
            self.exit_dialer(env, None, texts)
            self.remove_access_server(folder)
            self.uninstall(env, location, folder, everyone=False)

    def test_interactive_install_for_everyone_names_the_capture_driver(self):
        with WineEnv(self) as env:
            self.remove_leftovers(env)
            npcap = self.npcap(env)
            npcap.mkdir()
            shutil.copy(BIN / "standins" / "packet" / "packet.dll", npcap)
            proc = env.start(env.root, SETUP)
            self.choose_language(env, "English")
            self.next_page(env)  # from the welcome page to whom it is for
            env.winctl("check", self.title(env), RADIO_ME, 0)
            env.winctl("check", self.title(env), RADIO_EVERYONE, 1)
            self.next_page(env)  # to the components
            self.next_page(env)  # to the folder: Program Files, for everyone
            self.assertEqual(self.page(env)[FOLDER_EDIT]["text"].lower(),
                             ("C:\\Program Files\\" + PRODUCT).lower())
            self.next_page(env)
            self.wait_done(env)
            self.next_page(env)  # the finish page
            page = self.page(env)
            text = page[FINISH_TEXT]["text"]
            self.assertIn("The packet capture driver it needs was found", text)
            self.assertIn("\\Npcap\\packet.dll", text)
            # Set up for everyone, it may run as another account: it starts no dialer.
            self.assertNotIn(FINISH_RUN, page, "an option to start the dialer")
            env.screenshot("installer-finish-everyone")
            env.click(self.title(env), 1)
            self.assertEqual(env.wait_exit(proc, timeout=30), 0)
            self.assertFalse(env.wait_window(TITLE, timeout=3, main=True), "a dialer was started")
            location = self.reg_value(env, "InstallLocation", True)
            self.assertIsNotNone(location, "not installed for everyone")
            self.uninstall(env, location, self.unix_path(env, location), everyone=True)

    def test_setup_pages_speak_the_systems_language(self):
        # (locale, the language preselected, the setup's caption, its Next button)
        cases = [("en", "English", SETUP_TITLE, "&Next >"),
                 ("zh_CN", "中文(简体)", f"{PRODUCT} 安装", "下一步(&N) >")]
        for locale, language, caption, next_button in cases:
            with self.subTest(locale=locale), WineEnv(self, name=f"{self.id()}.{locale}") as env:
                self.remove_leftovers(env)
                if locale == "zh_CN":
                    env.chinese_locale()
                proc = env.start(env.root, SETUP)
                self.choose_language(env, language, setup_title=caption)
                self.assertEqual(self.page(env, caption)[1]["text"], next_button)
                env.screenshot(f"installer-welcome-{locale}")
                env.click(self.title(env, caption), 2)  # Cancel, and yes, leave
                self.assertTrue(env.wait_window(caption, timeout=30, msgbox=True))
                env.click(caption, 6, msgbox=True)
                self.assertIsNotNone(env.wait_exit(proc, timeout=30))
                self.assertIsNone(self.reg_value(env, "InstallLocation", False))

    def test_english_pages_chosen_on_a_chinese_system_leave_the_texts_choice_alone(self):
        # The setup's language is changed on the first page; the dialer's texts are
        # a separate choice (English unless asked for).
        with WineEnv(self) as env:
            self.remove_leftovers(env)
            env.chinese_locale()
            proc = env.start(env.root, SETUP)
            self.choose_language(env, "中文(简体)", english=True)
            self.assertEqual(self.page(env)[1]["text"], "&Next >")
            for _ in range(3):  # welcome, who, components
                self.next_page(env)
            self.next_page(env)  # the folder: install
            self.wait_done(env)
            self.next_page(env)
            env.winctl("check", self.title(env), FINISH_RUN, 0)
            env.click(self.title(env), 1)
            self.assertEqual(env.wait_exit(proc, timeout=30), 0)
            location = self.reg_value(env, "InstallLocation", False)
            folder = self.unix_path(env, location)
            self.assertEqual((folder / "KELSupplicant.ini").read_bytes(), TEXTS_EN.read_bytes())
            # The uninstaller speaks the language chosen.
            _, out = run(env, BIN, "reg", ["query", self.key(False), "/v", "Installer Language"])
            self.assertRegex(out, r"Installer Language\s+REG_SZ\s+1033\b")
            self.uninstall(env, location, folder, everyone=False)

    # -- a running dialer ----------------------------------------------------------
    def start_installed_dialer(self, env, folder):
        """The installed dialer, connected, with the log and a credentials file in the
        user's %APPDATA%\\Pondo; answers (process, that folder)."""
        self.access_network(env, folder, self.npcap(env))
        texts = read_texts(folder / "KELSupplicant.ini", "ascii")
        proc = env.start(folder, "Pondo.exe")
        self.assertTrue(env.wait_window(TITLE, timeout=60, main=True), "the dialer did not open")
        self.connect(env, texts, "Disconnect", "installed-dialer-before-uninstall")
        own = env.profile() / "AppData" / "Roaming" / "Pondo"
        # Where an earlier install for everyone kept this user's credentials.
        (own / "kelsupplicant.conf").write_text("username=bob\r\nsavepw=off\r\npassword=\r\n")
        for name in APPDATA_FILES:
            self.assertTrue((own / name).is_file(), name)
        return proc, own

    def test_silent_uninstall_closes_a_running_dialer_and_leaves_nothing(self):
        with WineEnv(self) as env:
            self.remove_leftovers(env)
            location, folder = self.install(env)
            proc, own = self.start_installed_dialer(env, folder)
            rc, out = run(env, folder, "Uninstall.exe", ["/S"])
            self.assertEqual(rc, 0, out[-500:])
            # Closed through its own Exit, which hangs up first.
            self.assertIsNotNone(env.wait_exit(proc, timeout=30), "the dialer still runs")
            self.assertIn("RasHangUpA", (folder / "rasapi32-standin.log").read_text())
            # The uninstaller's copy in the temporary folder removes its entry last.
            wait_until(lambda: self.reg_value(env, "InstallLocation", False) is None, timeout=60)
            self.assert_only_access_server_left(folder)
            self.assertFalse(own.exists(), f"left: {sorted(p.name for p in own.iterdir())}"
                             if own.exists() else "")
            self.assertFalse((self.start_menu(env, False) / PRODUCT).exists(),
                             "Start-menu folder left behind")
            self.assertIsNone(self.reg_value(env, "InstallLocation", False),
                              "uninstall entry left behind")

    def test_silent_install_over_a_running_dialer_closes_it_first(self):
        with WineEnv(self) as env:
            self.remove_leftovers(env)
            location, folder = self.install(env)
            proc, _ = self.start_installed_dialer(env, folder)
            self.install(env)
            self.assertIsNotNone(env.wait_exit(proc, timeout=30), "the dialer still runs")
            self.assertEqual((folder / "Pondo.exe").read_bytes(), (BIN / "Pondo.exe").read_bytes())
            self.remove_access_server(folder)
            self.uninstall(env, location, folder, everyone=False)

    def test_a_dialer_that_will_not_close_fails_setup_and_uninstall(self):
        # Something holds the dialer's single-instance mutex and has no window to
        # close: neither the setup nor the uninstaller may report success.
        with WineEnv(self) as env:
            self.remove_leftovers(env)
            # A folder without blanks: the uninstaller's "_?=" takes it unquoted.
            location, folder = self.install(env, "/D=C:\\PondoHeld")
            self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
            holder = env.start(env.root, BIN / "drivers" / "winctl.exe",
                               ["holdmutex", TITLE, "180000"])
            self.addCleanup(holder.kill)
            # (what, folder, program, options); the uninstaller runs in place (_?=) so
            # that its own exit code comes back.
            cases = [("setup", BIN, SETUP, ["/S"]),
                     ("uninstall", folder, "Uninstall.exe", ["/S", f"_?={location}"])]
            (folder / "Pondo.exe").write_bytes(b"the running one")
            for what, cwd, program, options in cases:
                with self.subTest(what):
                    rc, out = run(env, cwd, program, options, timeout=180)
                    self.assertEqual(rc, 32, out[-500:])
                    self.assertEqual((folder / "Pondo.exe").read_bytes(), b"the running one")
                    self.assertTrue((folder / "Uninstall.exe").exists())
                    self.assertEqual(self.reg_value(env, "InstallLocation", False), location)
            holder.kill()
            self.assertIsNotNone(env.wait_exit(holder, timeout=30))
            self.uninstall(env, location, folder, everyone=False)

    def test_interactive_uninstall_asks_to_close_the_running_dialer(self):
        uninstall_title = f"{PRODUCT} Uninstall"
        with WineEnv(self) as env:
            self.remove_leftovers(env)
            location, folder = self.install(env)
            proc, own = self.start_installed_dialer(env, folder)
            env.start(folder, "Uninstall.exe")
            self.assertTrue(wait_until(lambda: self.title(env, uninstall_title), timeout=60))
            env.screenshot("uninstaller-confirm")
            env.click(self.title(env, uninstall_title), 1)  # Uninstall
            box = wait_until(lambda: next((t for t in (uninstall_title, uninstall_title + " ")
                                           if env.wait_window(t, timeout=1, msgbox=True)), None),
                             timeout=30)
            self.assertTrue(box, "not asked to close the dialer")
            self.assertIn("is running", env.message_text(box))
            env.screenshot("uninstaller-dialer-running")
            env.click(box, 2, msgbox=True)  # Cancel: nothing is removed
            self.assertTrue(env.wait_gone(box, timeout=10, msgbox=True))
            self.assertTrue((folder / "Pondo.exe").exists())
            self.assertIsNone(proc.poll(), "the dialer was closed without asking")
            # The user closes it, and goes on.
            self.exit_dialer(env, proc, read_texts(folder / "KELSupplicant.ini", "ascii"))
            env.click(self.title(env, uninstall_title), 1)
            self.wait_done(env, uninstall_title)
            env.screenshot("uninstaller-done")
            env.click(self.title(env, uninstall_title), 1)  # Finish
            self.assert_only_access_server_left(folder)
            self.assertFalse(own.exists(), "the user's credentials and log were left")
            self.assertIsNone(self.reg_value(env, "InstallLocation", False))

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
