"""The real dialer under Wine, worked through its window as a user would: the
adapter list, Connect with the stored password, the records the remote-access
service receives, the status line, the tray icon, link drops, dial errors, the
companion library's findings, the about box, and how Exit and close end it."""

import re
import struct
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import BIN, ID, TITLE, WINE_BITS, WineEnv, wait_until  # noqa: E402
import dialer_setup as ds  # noqa: E402
import test_installer  # noqa: E402

IDLE_CAPTION = "Connect"
WELCOME = "Welcome to use."
DISCONNECTED = "Connection is disconnected."
CONNECTING = "Connecting, please wait ..."
STATE_TEXTS = ["OpenPort", "PortOpened", "ConnectDevice", "DeviceConnected",
               "AllDevicesConnected", "Authenticate", "Authenticated", "Connected"]
INPUTS = (ID.IDC_USERNAME, ID.IDC_PASSWORD, ID.IDC_SAVEPW, ID.IDC_ADAPTERS)
IDOK = 1  # the system's id of a dialog's OK button
RASCONNA_SIZE = 692 if WINE_BITS == 32 else 696  # the 64-bit test build's handle is wider


def rc4_hex(text, key=b"580317#qam%&+="):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) % 256
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = []
    for byte in text.encode():
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) % 256])
    return bytes(out).hex()


def ras_log(app):
    log = app / "rasapi32-standin.log"
    return log.read_text().splitlines() if log.exists() else []


def calls(app, name):
    return [line for line in ras_log(app) if line.startswith(name + " ")]


def record(line, key):
    return bytes.fromhex(re.search(key + r"=([0-9a-f]*)", line).group(1))


def cstr(data, offset, size):
    return data[offset:offset + size].split(b"\0", 1)[0].decode("latin-1")


def companion_log(app):
    log = app / "companion-standin.log"
    return log.read_text().splitlines() if log.exists() else []


def settings(app, name="kelsupplicant.conf"):
    values = {}
    for line in (app / name).read_text().splitlines():
        line = line.split("#", 1)[0]
        if "=" in line:
            key, value = line.split("=", 1)
            values[key.strip()] = value.strip()
    return values


class Dialer(unittest.TestCase):
    # -- helpers ------------------------------------------------------------------
    def open(self, env, label="app", script=ds.ACCESS_SERVER, findings=None, files=None,
             more_adapters=()):
        everything = {
            "rasapi32-standin.ini": script,
            "kelsupplicant.conf": "username=\nsavepw=off\npassword=\n",
        }
        if findings is not None:
            everything["companion-standin.ini"] = "[standin]\nfindings=" + findings + "\n"
        everything.update(files or {})
        app = env.app(label=label, ostrel="standin", standins=("rasapi32", "packet"),
                      files=everything)
        self.adapter, self.mac = ds.register_adapters(env, app)
        with open(app / "packet-standin.ini", "a") as names:
            names.writelines(f"adapter {guid}\n" for guid in more_adapters)
        proc = env.start(app, "Pondo.exe")
        self.assertTrue(env.wait_window(TITLE, timeout=60, main=True), "the dialer did not open")
        return app, proc

    def status(self, env):
        return env.control(TITLE, ID.IDC_STATUS)["text"]

    def wait_status(self, env, text, timeout=15):
        return wait_until(lambda: self.status(env) == text, timeout=timeout, interval=0.2)

    def type_and_connect(self, env, user=ds.USER, password=ds.PASSWORD, save=True):
        env.winctl("settext", TITLE, ID.IDC_USERNAME, user, main=True)
        env.winctl("settext", TITLE, ID.IDC_PASSWORD, password, main=True)
        env.winctl("check", TITLE, ID.IDC_SAVEPW, 1 if save else 0, main=True)
        env.click(TITLE, ID.IDC_CONNECT, main=True)

    def connect_until_hidden(self, env, app):
        self.type_and_connect(env)
        self.assertTrue(env.wait_hidden(TITLE, timeout=30), "the window stayed up")
        self.assertTrue(calls(app, "notify"), "no dial state was reported")

    def tray_click(self, env, app):
        # On the real icon: the shell sends the click to the window the icon was
        # added with, as the callback message the icon was added with.
        rc, _, _ = env.run(app, BIN / "drivers" / "traywatch.exe", ["click"])
        self.assertEqual(rc, 0)

    def assert_idle(self, env):
        texts = {c["id"]: c for c in env.texts(TITLE, main=True)["controls"]}
        self.assertEqual(texts[ID.IDC_CONNECT]["text"], IDLE_CAPTION)
        for cid in INPUTS:
            self.assertTrue(texts[cid]["enabled"], cid)

    # -- the whole cycle ----------------------------------------------------------
    def test_connect_dial_hide_restore_and_link_drop(self):
        with WineEnv(self) as env:
            app, proc = self.open(env, script=ds.access_server(delay=1500))
            self.assertEqual(self.status(env), WELCOME)
            items, selected = env.items(TITLE, ID.IDC_ADAPTERS)
            self.assertEqual(items, [ds.ADAPTER_DESC])  # the NdisWan miniport is not listed
            self.assertEqual(selected, 0)
            self.assert_idle(env)
            env.screenshot("dialer-idle")

            self.type_and_connect(env)
            # The status line follows the dial while the window is up.
            seen = []
            deadline = time.time() + 40
            while time.time() < deadline and (not seen or seen[-1] != "Connected"):
                text = self.status(env)
                if not seen or seen[-1] != text:
                    seen.append(text)
            self.assertTrue(env.wait_hidden(TITLE, timeout=10), "the window stayed up")
            states = [t for t in seen if t in STATE_TEXTS]
            self.assertGreaterEqual(len(states), 3, seen)
            self.assertEqual(states, sorted(states, key=STATE_TEXTS.index), seen)

            # The credentials were stored before the dial, the password scrambled.
            conf = settings(app)
            self.assertEqual(conf, {"username": ds.USER, "savepw": "on",
                                    "password": rc4_hex(ds.PASSWORD)})

            # The service got the Windows 2000 entry for the PPPoE device ...
            entry = record(calls(app, "RasSetEntryPropertiesA")[-1], "record")
            self.assertEqual(len(entry), 2088)
            size, options = struct.unpack_from("<II", entry, 0)
            self.assertEqual((size, options), (2088, 0x310))
            self.assertEqual(struct.unpack_from("<II", entry, 184), (4, 1))  # IP, PPP
            self.assertEqual(cstr(entry, 972, 17), "pppoe")
            self.assertEqual(cstr(entry, 989, 129), ds.PPPOE_DEVICE)
            self.assertEqual(struct.unpack_from("<I", entry, 1796)[0], 5)  # broadband
            self.assertIn("size=2088", calls(app, "RasSetEntryPropertiesA")[-1])
            # ... and the typed password followed by the suffix.
            dial = calls(app, "RasDialA")[-1]
            # The entry is written and dialed in the user's own phonebook, never the
            # all-users default that a standard user may not write.
            own = 'phonebook="{}"'.format(env.windows_path(
                env.profile() / "AppData" / "Roaming" / "Microsoft" / "Network" /
                "Connections" / "Pbk" / "rasphone.pbk"))
            self.assertIn(own, dial)
            self.assertIn(own, calls(app, "RasSetEntryPropertiesA")[-1])
            self.assertIn("type=1 notifier=1", dial)
            params = record(dial, "params")
            self.assertEqual(struct.unpack_from("<I", params, 0)[0], 1060)
            self.assertEqual(cstr(params, 4, 257), "PPPOE Connection")
            self.assertEqual(cstr(params, 519, 257), ds.USER)
            self.assertEqual(cstr(params, 776, 257), ds.PASSWORD + "wop736905")

            # Behind the tray icon: a click brings the window back, connected.
            self.tray_click(env, app)
            self.assertTrue(env.wait_window(TITLE, timeout=10, main=True))
            texts = {c["id"]: c for c in env.texts(TITLE, main=True)["controls"]}
            for cid in INPUTS:
                self.assertFalse(texts[cid]["enabled"], cid)
            self.assertEqual(texts[ID.IDC_STATUS]["text"], "Connected")
            env.screenshot("dialer-connected-restored")
            self.tray_click(env, app)
            self.assertTrue(env.wait_hidden(TITLE, timeout=10))

            # The watch enumerates with the service's own record size.
            self.assertTrue(wait_until(lambda: calls(app, "RasEnumConnectionsA"), timeout=10))
            self.assertIn(f"dwSize={RASCONNA_SIZE}", calls(app, "RasEnumConnectionsA")[-1])

            # The cable is pulled: back to Idle within the watch's 3 s, no message box.
            pulled = time.time()
            (app / "rasapi32-standin.drop").write_text("")
            self.assertTrue(env.wait_window(TITLE, timeout=10, main=True))
            self.assertTrue(self.wait_status(env, DISCONNECTED, timeout=5))
            self.assertLess(time.time() - pulled, 3 + 2.5)  # + the driver's own start-up
            self.assert_idle(env)
            self.assertTrue(env.wait_gone(TITLE, timeout=1, msgbox=True))
            self.assertIn("NotifyLinkState 0", companion_log(app))

            # Exit while idle ends the program and removes the entry.
            env.click(TITLE, ID.IDC_EXIT, main=True)
            self.assertEqual(env.wait_exit(proc, timeout=20), 0)
            self.assertTrue(calls(app, "RasDeleteEntryA"))
            self.assertIn(own, calls(app, "RasDeleteEntryA")[-1])
            self.assertEqual((app / "rasapi32-standin.phonebook").read_text().strip(), "")

    # -- dial failures ------------------------------------------------------------
    def test_dial_errors_show_their_text_and_hang_the_dial_up(self):
        cases = [
            (ds.access_server(extra="states 0 1 2\nerror 678\n"), "Server is not respond."),
            (ds.access_server(accept=(ds.USER, "other")),
             "The user name or password was not accepted by the access server."),
            (ds.access_server(extra="states 0 1 2 3 4 5\nerror 720\n"),
             "Unkonwn error, please try again later."),
        ]
        with WineEnv(self) as env:
            app, proc = self.open(env)
            for script, text in cases:
                with self.subTest(text=text):
                    (app / "rasapi32-standin.ini").write_text(script)
                    dials = len(calls(app, "RasDialA"))
                    self.type_and_connect(env, save=False)
                    self.assertTrue(self.wait_status(env, text), self.status(env))
                    handle = re.search(r"handle=(\d+)", calls(app, "RasDialA")[dials]).group(1)
                    # The failed dial was hung up, after the report of its error.
                    log = ras_log(app)
                    failed = max(i for i, l in enumerate(log)
                                 if l.startswith("notify") and not l.endswith("error=0"))
                    self.assertIn(f"RasHangUpA handle={handle} -> 0", log[failed:])
                    self.assert_idle(env)
            # With the box clear the stored password was erased.
            self.assertEqual(settings(app)["savepw"], "off")
            self.assertEqual(settings(app)["password"], "")

    def test_a_late_report_of_a_hung_up_dial_leaves_the_next_dial_alone(self):
        # The service reports once more on the first dial, hung up while it ran, with
        # an error, and only when the second dial is already under way.
        script = ds.access_server(delay=700, extra="late 2 651\n")
        with WineEnv(self) as env:
            app, proc = self.open(env, script=script)
            self.type_and_connect(env)
            self.assertTrue(wait_until(lambda: calls(app, "notify"), timeout=15))
            env.click(TITLE, ID.IDC_CONNECT, main=True)  # Disconnect while dialing: hung up
            first = re.search(r"handle=(\d+)", calls(app, "RasDialA")[0]).group(1)
            self.assertTrue(wait_until(lambda: calls(app, f"RasHangUpA handle={first}"), timeout=10))
            env.click(TITLE, ID.IDC_CONNECT, main=True)  # and Connect again
            self.assertTrue(env.wait_hidden(TITLE, timeout=30), "the second dial did not come up")

            log = ras_log(app)
            second = re.search(r"handle=(\d+)", calls(app, "RasDialA")[1]).group(1)
            late = [i for i, line in enumerate(log) if line.endswith(" late")]
            self.assertEqual(len(late), 1, log)
            self.assertTrue(log[late[0]].startswith(f"notify handle={first} state=2 error=651"))
            # It arrived while the second dial was under way ...
            reports = [i for i, line in enumerate(log) if line.startswith(f"notify handle={second} ")]
            self.assertLess(reports[0], late[0])
            self.assertTrue(log[reports[-1]].endswith("state=8192 error=0"))
            # ... and that dial was neither hung up nor shown the error.
            self.assertFalse(calls(app, f"RasHangUpA handle={second}"), log)
            self.assertFalse(calls(app, "RasGetErrorStringA"), log)
            self.assertEqual(self.status(env), "Connected")

    # -- the stored credentials -----------------------------------------------------
    def test_a_full_disk_leaves_the_stored_credentials_whole(self):
        stored = ("# remembered by the dialer\r\nusername = carol # who\r\nsavepw = on\r\n"
                  f"password = {rc4_hex('carols secret')}\r\n")
        with WineEnv(self) as env:
            # The program's folder on a small volume of its own, filled to the last byte.
            volume = env.root / "volume"
            volume.mkdir()
            mount = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16m", "tmpfs",
                                    str(volume)], capture_output=True, text=True)
            if mount.returncode != 0:
                self.fail("this test mounts a small volume (tmpfs, with mount from util-linux) "
                          "and needs root for it: " + mount.stderr.strip())
            self.addCleanup(subprocess.run, ["umount", "-l", str(volume)], capture_output=True)
            app, proc = self.open(env, label="volume/app",
                                  files={"kelsupplicant.conf": stored.encode()})
            self.assertEqual(env.control(TITLE, ID.IDC_USERNAME)["text"], "carol")
            with open(volume / "filler", "wb", buffering=0) as filler:
                for size in (1 << 16, 1 << 10, 1):
                    try:
                        while filler.write(b"\0" * size):
                            pass
                    except OSError:
                        pass

            self.type_and_connect(env)
            # Nothing could be saved, and the dial goes on all the same.
            self.assertTrue(env.wait_hidden(TITLE, timeout=30), "the connection did not come up")
            self.assertEqual((app / "kelsupplicant.conf").read_bytes(), stored.encode())
            self.assertFalse((app / "kelsupplicant.conf.tmp").exists())

    # -- the companion library's findings -------------------------------------------
    def test_findings_end_the_connection_with_their_message(self):
        findings = bytearray(22)
        for byte in (13, 15, 21):
            findings[byte] = 1
        with WineEnv(self) as env:
            app, proc = self.open(env, findings=findings.hex())
            self.connect_until_hidden(env, app)
            clog = companion_log(app)
            self.assertIn("NotifyLinkState 1", clog)
            self.assertIn("GetAdapterMac 0 " + self.mac.replace(":", ""), clog)
            self.assertEqual([l for l in clog if l.startswith("DeliverRequest")],
                             ["DeliverRequest 010a15001b001c001d002000"])
            # The check runs every 30 s.
            self.assertTrue(env.wait_window(TITLE, timeout=45, msgbox=True), "no findings message")
            self.assertEqual(env.message_text(TITLE),
                             "Windows ICS service is running, violate server's request.\n"
                             "Proxy service is running, violate server's request.\n"
                             "BT software is running, violate server's request.\n"
                             "Connection is disconnected.")
            self.assertTrue(any(l.startswith("RasHangUpA") for l in ras_log(app)))
            self.assertIn("NotifyLinkState 0", companion_log(app))
            env.click(TITLE, "OK", msgbox=True)
            self.assertTrue(env.wait_gone(TITLE, timeout=10, msgbox=True))
            self.assert_idle(env)
            self.assertEqual(self.status(env), DISCONNECTED)

    # -- how the dialog ends --------------------------------------------------------
    def test_exit_and_close_follow_the_state(self):
        with WineEnv(self) as env:
            # Dialing: close is ignored, Exit hangs the dial up and ends the program.
            slow = ds.access_server(delay=1500)
            app, proc = self.open(env, label="dialing", script=slow)
            self.type_and_connect(env)
            self.assertTrue(self.wait_status(env, CONNECTING, timeout=10) or
                            self.status(env) in STATE_TEXTS)
            env.winctl("close", TITLE, main=True)
            time.sleep(1.0)  # a close that were not ignored would end the program at once
            self.assertIsNone(proc.poll())
            self.assertEqual(env.winctl("state", TITLE, main=True)[0].strip(), "visible")
            env.click(TITLE, ID.IDC_EXIT, main=True)
            self.assertEqual(env.wait_exit(proc, timeout=20), 0)
            handle = re.search(r"handle=(\d+)", calls(app, "RasDialA")[-1]).group(1)
            self.assertIn(f"RasHangUpA handle={handle} -> 0", ras_log(app))
            self.assertEqual((app / "rasapi32-standin.phonebook").read_text().strip(), "")

            # Connected and hidden: close hangs up, removes the entry and ends.
            app, proc = self.open(env, label="connected")
            self.connect_until_hidden(env, app)
            env.winctl("close", TITLE, main=True)
            self.assertEqual(env.wait_exit(proc, timeout=20), 0)
            self.assertTrue(any(l.startswith("RasHangUpA") and l.endswith("-> 0")
                                for l in ras_log(app)))
            self.assertIn("NotifyLinkState 0", companion_log(app))
            self.assertEqual((app / "rasapi32-standin.phonebook").read_text().strip(), "")

            # Idle: close ends at once, the entry is deleted all the same.
            app, proc = self.open(env, label="idle")
            env.winctl("close", TITLE, main=True)
            self.assertEqual(env.wait_exit(proc, timeout=20), 0)
            self.assertTrue(calls(app, "RasDeleteEntryA"))
            self.assertFalse(calls(app, "RasDialA"))

    # -- a service without devices ---------------------------------------------------
    def test_without_devices_nothing_is_listed_and_connect_explains(self):
        with WineEnv(self) as env:
            app, proc = self.open(env, script="# no devices at all\n")
            # Asked for its size, the service answers 0 bytes; the list still gets a
            # whole first record to fill.
            enum = calls(app, "RasEnumDevicesA")
            self.assertIn("buffer=0 cb=0 dwSize=- -> 0 count=0", enum[0])
            self.assertIn("buffer=1 cb=152 dwSize=152 -> 0 count=0", enum[1])
            items, selected = env.items(TITLE, ID.IDC_ADAPTERS)
            self.assertEqual((items, selected), (["No available adapter !"], 0))
            self.type_and_connect(env)
            self.assertTrue(env.wait_window(TITLE, timeout=15, msgbox=True))
            self.assertEqual(env.message_text(TITLE),
                             "Cannot create PPPOE connection.\nNo available adapter !")
            env.click(TITLE, "OK", msgbox=True)
            self.assertTrue(env.wait_gone(TITLE, timeout=10, msgbox=True))
            self.assertFalse(calls(app, "RasDialA"))
            self.assert_idle(env)

    # -- adapter descriptions ------------------------------------------------------
    def test_descriptions_arrive_in_the_code_page_and_fit(self):
        with WineEnv(self) as env:
            # Two more adapters the capture driver names (not in the IP helper table):
            # one with a non-ASCII description, one whose description is too long.
            accented = "Contr\u00f4leur r\u00e9seau \u00e9tendu"
            long_desc = "\u00c9" * 140 + " Gigabit"
            extra = {"{7A1C0000-0000-4000-8000-0000000000C1}": ("0102", accented),
                     "{7A1C0000-0000-4000-8000-0000000000C2}": ("0103", long_desc)}
            app = env.app(label="registry", pondo=False, ostrel=None)
            entries = {}
            for guid, (subkey, desc) in extra.items():
                entries[ds.CLASS_KEY + "\\" + subkey] = {"DriverDesc": desc}
                # REG_MULTI_SZ or REG_SZ: the dialer reads the first text either way.
                entries[ds.CLASS_KEY + "\\" + subkey + "\\Linkage"] = {"Export": "\\Device\\" + guid}
            ds.reg_import(env, app, entries)
            app, proc = self.open(env, more_adapters=extra)
            items, selected = env.items(TITLE, ID.IDC_ADAPTERS)
            self.assertEqual(items[:2], [ds.ADAPTER_DESC, accented])
            # 128 bytes of the 8-bit code page: one byte per accented capital here.
            self.assertEqual(items[2], long_desc[:128])
            self.assertEqual(selected, 0)

    # -- about box and keys -----------------------------------------------------------
    def test_about_box_and_swallowed_keys(self):
        about = "About TALVEN PPPOE Client"
        with WineEnv(self) as env:
            app, proc = self.open(env)
            env.winctl("settext", TITLE, ID.IDC_USERNAME, ds.USER, main=True)
            for vk in (13, 27):  # Return and Escape press nothing and end nothing
                env.winctl("key", TITLE, vk, main=True)
            time.sleep(1.0)
            self.assertIsNone(proc.poll())
            self.assertFalse(calls(app, "RasDialA"))
            self.assertEqual(self.status(env), WELCOME)

            env.winctl("syscommand", TITLE, 16, main=True)
            self.assertTrue(env.wait_window(about, timeout=15))
            texts = {c["id"]: c["text"] for c in env.texts(about)["controls"]}
            # Without a texts file: the same name and copyright line as the program's
            # version information and the texts file it is shipped with.
            version, _ = test_installer.version_strings(BIN / "Pondo.exe")
            shipped = test_installer.read_texts(test_installer.TEXTS_EN, "cp1252")
            self.assertEqual(texts[ID.IDC_VERSION_LINE], "TALVEN PPPOE Client")
            self.assertEqual(texts[ID.IDC_VERSION_LINE], version["ProductName"])
            self.assertEqual(texts[ID.IDC_COPYRIGHT_LINE], version["LegalCopyright"])
            self.assertEqual(texts[ID.IDC_COPYRIGHT_LINE], shipped["CopyRight"])
            self.assertEqual((shipped["Version"], shipped["AboutTitle"]),
                             (texts[ID.IDC_VERSION_LINE], about))
            self.assertEqual(texts[IDOK], "OK")
            env.screenshot("dialer-about")
            env.click(about, 1)
            self.assertTrue(env.wait_gone(about, timeout=10))
            self.assertIsNone(proc.poll())


if __name__ == "__main__":
    unittest.main()
