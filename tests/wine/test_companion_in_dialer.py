"""The real Pondo.exe with the real Ostrel.dll: after a connection against the
stand-in access server, the library gets the dialer's link request, runs its
detection pass at the next turn and finds a listed program by its window; the
dialer's findings check then ends the connection with the finding's message."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import BIN, TITLE, WineEnv, wait_until  # noqa: E402
import dialer_setup as ds  # noqa: E402

PROXY_FOUND = "Proxy service is running, violate server's request."
DISCONNECTED = "Connection is disconnected."


class DialerWithCompanion(unittest.TestCase):
    def test_a_listed_program_ends_the_connection(self):
        with WineEnv(self) as env:
            app = env.app(ostrel="real", standins=("rasapi32", "packet"), files={
                "rasapi32-standin.ini": ds.ACCESS_SERVER,
                "kelsupplicant.conf": "username=\nsavepw=off\npassword=\n",
            })
            ds.register_adapters(env, app)
            window = env.start(app, BIN / "drivers" / "contract_driver.exe", ["window", "180000"])
            self.assertTrue(env.wait_window("CCProxy 7.2 - 3 users", timeout=60))
            ds.start_and_connect(self, env, app)

            # A pass within about 10 s of the link request, then the dialer's
            # check within 30 s: the message box names the finding.
            self.assertTrue(env.wait_window(TITLE, timeout=75, msgbox=True), "no findings message")
            text = env.message_text(TITLE)
            self.assertEqual(text.splitlines(), [PROXY_FOUND, DISCONNECTED])
            env.screenshot("dialer-with-companion-finding")
            env.click(TITLE, "OK", msgbox=True)
            self.assertTrue(env.wait_gone(TITLE, timeout=10, msgbox=True))
            self.assertIsNone(window.poll(), "the window's owner ended early")


if __name__ == "__main__":
    unittest.main()
