"""The dialer's notification-area icon as the shell sees it: the records that
Shell_NotifyIconA hands over (read back by traywatch, which stands in front of the
real notification area and passes every record on), clicks on the real icon, the
tip of a long title in a double-byte code page, and the icon's removal however the
dialog ends."""

import re
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import BIN, ID, TITLE, WineEnv, wait_until  # noqa: E402
import dialer_setup as ds  # noqa: E402

TRAYWATCH = BIN / "drivers" / "traywatch.exe"
RECORD = re.compile(r"(\w+) hwnd=([0-9a-f]+) id=(\d+) flags=0x([0-9a-f]+) message=0x([0-9a-f]+) "
                    r"icon=(\w+) tip=(.*)$")


class Tray(unittest.TestCase):
    def open(self, env, title=TITLE, texts=None):
        """The dialer with the access server, the tray watched from before it starts;
        answers (app, process, main window handle)."""
        files = {"rasapi32-standin.ini": ds.ACCESS_SERVER,
                 "kelsupplicant.conf": "username=\nsavepw=off\npassword=\n"}
        if texts is not None:
            files["KELSupplicant.ini"] = texts
        app = env.app(ostrel="standin", standins=("rasapi32", "packet"), files=files)
        ds.register_adapters(env, app)
        self.watch = app / "tray-records.txt"
        env.start(app, TRAYWATCH, ["record", self.watch.name, "Pondo.exe"])
        self.assertTrue(wait_until(lambda: self.watch.exists() and
                                   self.watch.read_text().startswith("ready"), timeout=30),
                        "traywatch did not start")
        proc = env.start(app, "Pondo.exe")
        out, rc = env.winctl("wait", title, 60000, main=True, check=False, timeout=90)
        self.assertEqual(rc, 0, "the dialer did not open")
        return app, proc, int(out.strip(), 16)

    def records(self):
        lines = self.watch.read_text(encoding="utf-8").splitlines()[1:]
        parsed = []
        for line in lines:
            m = RECORD.match(line)
            self.assertIsNotNone(m, line)
            action, hwnd, uid, flags, message, icon, tip = m.groups()
            parsed.append({"action": action, "hwnd": int(hwnd, 16), "id": int(uid),
                           "flags": int(flags, 16), "message": int(message, 16), "icon": icon,
                           "tip": tip})
        return parsed

    def wait_records(self, count):
        self.assertTrue(wait_until(lambda: len(self.records()) >= count, timeout=20),
                        self.watch.read_text())
        return self.records()

    def click_icon(self, env, app):
        rc, _, err = env.run(app, TRAYWATCH, ["click"])
        self.assertEqual(rc, 0, err)

    def test_the_icon_follows_the_connection_and_answers_clicks(self):
        with WineEnv(self) as env:
            app, proc, window = self.open(env)
            added = self.wait_records(1)[0]
            self.assertEqual(added, {"action": "add", "hwnd": window, "id": 100, "flags": 7,
                                     "message": 1034, "icon": "idle", "tip": TITLE})

            # A click on the real icon hides the open window, the next one shows it.
            self.click_icon(env, app)
            self.assertTrue(env.wait_hidden(TITLE, timeout=10), "a click did not hide the window")
            self.click_icon(env, app)
            self.assertTrue(env.wait_window(TITLE, timeout=10, main=True))

            env.winctl("settext", TITLE, ID.IDC_USERNAME, ds.USER, main=True)
            env.winctl("settext", TITLE, ID.IDC_PASSWORD, ds.PASSWORD, main=True)
            env.click(TITLE, ID.IDC_CONNECT, main=True)
            self.assertTrue(env.wait_hidden(TITLE, timeout=30), "the connection did not come up")
            connected = self.wait_records(2)[1]
            self.assertEqual(connected, dict(added, action="modify", icon="connected"))
            env.screenshot("tray-connected")
            self.click_icon(env, app)
            self.assertTrue(env.wait_window(TITLE, timeout=10, main=True),
                            "a click on the icon did not bring the window back")

            # Exit while connected: idle icon again, then the icon goes.
            env.click(TITLE, ID.IDC_EXIT, main=True)
            self.assertEqual(env.wait_exit(proc, timeout=30), 0)
            last = self.wait_records(4)[2:]
            self.assertEqual(last[0], dict(added, action="modify"))
            self.assertEqual((last[1]["action"], last[1]["hwnd"], last[1]["id"]),
                             ("delete", window, 100))

    def test_a_long_title_is_cut_on_a_whole_character(self):
        title = "\u4e2d" * 80  # 160 bytes in code page 936; the tip holds 127
        texts = ("MainDlgTitle = " + title + "\r\n").encode("cp936")
        with WineEnv(self) as env:
            env.chinese_locale()
            app, proc, window = self.open(env, title=title, texts=texts)
            added = self.wait_records(1)[0]
            self.assertEqual(added["tip"], "\u4e2d" * 63)
            self.assertEqual(added["icon"], "idle")
            env.winctl("close", title, main=True)
            self.assertEqual(env.wait_exit(proc, timeout=30), 0)

    def test_ending_without_the_dialogs_own_exit_hangs_up_and_removes_the_icon(self):
        with WineEnv(self) as env:
            app, proc, window = self.open(env)
            env.winctl("settext", TITLE, ID.IDC_USERNAME, ds.USER, main=True)
            env.winctl("settext", TITLE, ID.IDC_PASSWORD, ds.PASSWORD, main=True)
            env.click(TITLE, ID.IDC_CONNECT, main=True)
            self.assertTrue(env.wait_hidden(TITLE, timeout=30), "the connection did not come up")
            # The message loop ends without the dialog's own exit.
            env.winctl("quit", TITLE, main=True)
            self.assertEqual(env.wait_exit(proc, timeout=30), 0)
            deleted = self.records()[-1]
            self.assertEqual((deleted["action"], deleted["hwnd"], deleted["id"]),
                             ("delete", window, 100))
            ras = (app / "rasapi32-standin.log").read_text().splitlines()
            self.assertTrue(any(line.startswith("RasHangUpA") and line.endswith("-> 0")
                                for line in ras), "the connection was left up")
            self.assertEqual((app / "rasapi32-standin.phonebook").read_text().strip(), "")


if __name__ == "__main__":
    unittest.main()
