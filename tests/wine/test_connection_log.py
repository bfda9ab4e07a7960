"""The connection log the help desk reads, left by the real dialer under Wine: a
subscriber connects, the link drops, connects again, the companion library's finding
ends the connection, and the dialer exits. The log in the user's application-data
folder names each of those events in order, and no line holds the password or the
user name in full."""

import getpass
import re
import shutil
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import ID, PREFIX, TITLE, WineEnv, wait_until  # noqa: E402
import dialer_setup as ds  # noqa: E402

# %APPDATA%\Pondo of the prefix's user (Wine names the user after the Unix one).
LOG_FOLDER = PREFIX / "drive_c" / "users" / getpass.getuser() / "AppData" / "Roaming" / "Pondo"
LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  (.*)$")


def events(path):
    lines = path.read_bytes().decode("cp1252").split("\r\n")
    assert lines[-1] == "", "the last line ends with CR LF"
    found = []
    for line in lines[:-1]:
        m = LINE.match(line)
        assert m, f"not a log line: {line!r}"
        found.append(m.group(1))
    return found


class ConnectionLog(unittest.TestCase):
    def test_the_log_tells_the_evening_of_a_subscriber(self):
        with WineEnv(self) as env:
            shutil.rmtree(LOG_FOLDER, ignore_errors=True)
            app = env.app(ostrel="standin", standins=("rasapi32", "packet"), files={
                "rasapi32-standin.ini": ds.ACCESS_SERVER,
                "kelsupplicant.conf": "username=\nsavepw=off\npassword=\n",
            })
            _, mac = ds.register_adapters(env, app)
            proc = ds.start_and_connect(self, env, app)

            # The cable is pulled: the link watch notices, the window comes back.
            (app / "rasapi32-standin.drop").write_text("")
            self.assertTrue(env.wait_window(TITLE, timeout=15, main=True))
            self.assertTrue(wait_until(
                lambda: env.control(TITLE, ID.IDC_CONNECT)["enabled"] and
                env.control(TITLE, ID.IDC_USERNAME)["enabled"], timeout=10))
            # Connect again; this time the library finds BitTorrent traffic.
            env.click(TITLE, ID.IDC_CONNECT, main=True)
            self.assertTrue(env.wait_hidden(TITLE, timeout=30), "the second dial did not come up")
            findings = bytearray(22)
            findings[21] = 1
            (app / "companion-standin.ini").write_text(f"[standin]\nfindings={findings.hex()}\n")
            self.assertTrue(env.wait_window(TITLE, timeout=45, msgbox=True), "no findings message")
            env.click(TITLE, "OK", msgbox=True)
            self.assertTrue(env.wait_gone(TITLE, timeout=10, msgbox=True))
            env.click(TITLE, ID.IDC_EXIT, main=True)
            self.assertEqual(env.wait_exit(proc, timeout=30), 0)

            log = LOG_FOLDER / "connection.log"
            self.assertTrue(log.exists(), f"no log in {LOG_FOLDER}")
            found = events(log)
            connect = f'connect: user a***e, adapter "{ds.ADAPTER_DESC}" {mac.lower()}'
            wanted = [
                r"start-up: Pondo \d+\.\d+\.\d+\.\d+, title \"" + re.escape(TITLE) + '"',
                re.escape(f'adapters: 1 listed, PPPoE device "{ds.PPPOE_DEVICE}"'),
                re.escape(connect),
                r"dial state 0: OpenPort",
                r"dial state 8192: Connected",
                r"link up",
                r"link lost: .*",
                re.escape(connect),
                r"dial state 8192: Connected",
                r"link up",
                re.escape("connection ended by the companion library's finding: "
                          "byte 21 (BitTorrent traffic)"),
                r"exit",
            ]
            at = 0
            for pattern in wanted:
                while at < len(found) and not re.fullmatch(pattern, found[at]):
                    at += 1
                self.assertLess(at, len(found), f"{pattern!r} missing or out of order in:\n" +
                                "\n".join(found))
                at += 1
            self.assertEqual(found[-1], "exit")
            text = log.read_bytes()
            for secret in (ds.PASSWORD, ds.USER):
                self.assertNotIn(secret.encode(), text)


if __name__ == "__main__":
    unittest.main()
