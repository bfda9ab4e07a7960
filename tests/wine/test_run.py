"""scripts/run as a person meets it: with a display the dialer is handed over idle
(nothing typed, nothing dialled, no picture taken of their display); without one
it dials the stand-in access server and keeps a screenshot of the connected
dialer."""

import os
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import ID, SCREENSHOTS, SOURCE, TITLE, WORK, Display, WineEnv, wait_until  # noqa: E402

RUN = SOURCE / "scripts" / "run.py"
APP = WORK / "run" / "app"
SHOT = SCREENSHOTS / "pondo.png"
USER_EDIT, PASSWORD_EDIT, CONNECT, EXIT = ID.IDC_USERNAME, ID.IDC_PASSWORD, ID.IDC_CONNECT, ID.IDC_EXIT


class Run(unittest.TestCase):
    def start_run(self, display):
        env = dict(os.environ, PYTHONUNBUFFERED="1")
        env.pop("DISPLAY", None)
        if display:
            env["DISPLAY"] = display
        log = open(WORK / f"{self.id()}.log", "wb")
        self.addCleanup(log.close)
        proc = subprocess.Popen([sys.executable, str(RUN)], env=env, stdout=log,
                                stderr=subprocess.STDOUT)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return proc, Path(log.name)

    def test_with_a_display_the_dialer_is_handed_over_idle(self):
        WORK.mkdir(parents=True, exist_ok=True)
        SHOT.unlink(missing_ok=True)
        display = Display()
        name = display.start()
        self.addCleanup(display.stop)
        # Drive the person's display from here, as they would.
        env = WineEnv(self)
        env.display.start = lambda: name
        env.display.stop = lambda: None
        with env:
            proc, log = self.start_run(name)
            self.assertTrue(wait_until(lambda: b"close it" in log.read_bytes(), timeout=180),
                            log.read_text(errors="replace")[-2000:])
            fields = {c["id"]: c["text"] for c in env.texts(TITLE, main=True)["controls"]}
            self.assertEqual((fields[USER_EDIT], fields[PASSWORD_EDIT]), ("", ""))
            self.assertTrue(env.control(TITLE, CONNECT)["enabled"])
            calls = APP / "rasapi32-standin.log"
            self.assertNotIn("RasDialA", calls.read_text() if calls.exists() else "")
            self.assertFalse(SHOT.exists(), "the person's display was captured")
            # The stand-in access server takes whatever the person types.
            env.winctl("settext", TITLE, USER_EDIT, "anyone", main=True)
            env.winctl("settext", TITLE, PASSWORD_EDIT, "anything", main=True)
            env.click(TITLE, CONNECT, main=True)
            self.assertTrue(env.wait_hidden(TITLE, timeout=60), "the dial did not connect")
            env.winctl("show", TITLE, main=True)
            env.click(TITLE, EXIT, main=True)
            self.assertEqual(proc.wait(timeout=120), 0)
            self.assertFalse(SHOT.exists(), "the person's display was captured")

    def test_without_a_display_a_connected_dialer_is_shown(self):
        WORK.mkdir(parents=True, exist_ok=True)
        SHOT.unlink(missing_ok=True)
        proc, log = self.start_run(None)
        self.assertEqual(proc.wait(timeout=300), 0, log.read_text(errors="replace")[-2000:])
        self.assertIn("connected;", log.read_text(errors="replace"))
        self.assertTrue(SHOT.is_file(), "no screenshot")


if __name__ == "__main__":
    unittest.main()
