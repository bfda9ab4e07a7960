"""Start-up of the real Pondo.exe under Wine: the companion library check, the
texts file, and the single-instance guard."""

import struct
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import BIN, SHIP_BUILD, TITLE, WineEnv, wait_until  # noqa: E402

BROKEN = "Client program is broken, please exit."
RUNNING = "Client is running !"


def read_log(app):
    log = app / "companion-standin.log"
    return log.read_text().splitlines() if log.exists() else []


class Image(unittest.TestCase):
    def test_pondo_is_a_32_bit_pe_image(self):
        data = (SHIP_BUILD / "bin" / "Pondo.exe").read_bytes()
        self.assertEqual(data[:2], b"MZ")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        self.assertEqual(data[pe:pe + 4], b"PE\0\0")
        self.assertEqual(struct.unpack_from("<H", data, pe + 4)[0], 0x14C)  # i386
        self.assertEqual(struct.unpack_from("<H", data, pe + 24)[0], 0x10B)  # PE32


class Startup(unittest.TestCase):
    def expect_broken(self, env, app, caption, text, shot=None):
        proc = env.start(app, "Pondo.exe")
        self.assertTrue(env.wait_window(caption, msgbox=True), "no message box")
        box = env.texts(caption, msgbox=True)
        self.assertEqual(env.message_text(caption), text)
        self.assertEqual(box["owner"], "")
        if shot:  # while the box is up
            env.screenshot(shot)
        env.click(caption, "OK", msgbox=True)
        self.assertEqual(env.wait_exit(proc), 0)
        # No main dialog was ever shown.
        self.assertTrue(env.wait_gone(caption, timeout=2))

    def test_missing_library_shows_broken_and_ends(self):
        with WineEnv(self) as env:
            app = env.app(ostrel=None)
            self.expect_broken(env, app, TITLE, BROKEN, shot="startup-missing-library")

    def test_texts_file_sets_caption_and_message(self):
        with WineEnv(self) as env:
            ini = "# texts\nMainDlgTitle = Campus Dialer\n202 = Reinstall the client please.\n"
            app = env.app(ostrel=None, files={"KELSupplicant.ini": ini})
            self.expect_broken(env, app, "Campus Dialer", "Reinstall the client please.")

    def test_library_that_refuses_is_broken(self):
        with WineEnv(self) as env:
            app = env.app(ostrel="standin",
                          files={"companion-standin.ini": "[standin]\nanswer=65535\n"})
            self.expect_broken(env, app, TITLE, BROKEN)
            log = read_log(app)
            self.assertEqual(log[0], "initThread 65535 slots 11")

    def test_library_without_init_thread_is_broken(self):
        with WineEnv(self) as env:
            app = env.app(ostrel=None)
            # Any DLL without the export will do: the window driver's own kernel32
            # forwarders are not at hand, so use a copy of an unrelated stand-in.
            (app / "Ostrel.dll").write_bytes(
                (BIN / "standins" / "companion" / "Ostrel.dll").read_bytes().replace(
                    b"initThread", b"initThreaX"))
            self.expect_broken(env, app, TITLE, BROKEN)

    def test_ready_library_runs_the_main_dialog(self):
        with WineEnv(self) as env:
            app = env.app(ostrel="standin")
            proc = env.start(app, "Pondo.exe")
            self.assertTrue(env.wait_window(TITLE, main=True))
            self.assertEqual(read_log(app)[0], "initThread 0 slots 11")
            env.winctl("close", TITLE, main=True)
            self.assertEqual(env.wait_exit(proc), 0)


class SingleInstance(unittest.TestCase):
    def test_second_start_raises_first_window_and_shows_running(self):
        with WineEnv(self) as env:
            app = env.app(ostrel="standin")
            first = env.start(app, "Pondo.exe")
            self.assertTrue(env.wait_window(TITLE, main=True))
            second = env.start(app, "Pondo.exe")
            self.assertTrue(env.wait_window(TITLE, msgbox=True))
            box = env.texts(TITLE, msgbox=True)
            self.assertEqual(env.message_text(TITLE), RUNNING)
            self.assertEqual(box["owner"], TITLE)  # owned by the first instance's window
            env.screenshot("startup-second-instance")
            env.click(TITLE, "OK", msgbox=True)
            self.assertEqual(env.wait_exit(second), 0)
            self.assertIsNone(first.poll())
            # The second instance never bound the library.
            self.assertEqual(sum(1 for l in read_log(app) if l.startswith("initThread")), 1)

    def test_texts_file_decides_the_running_message(self):
        with WineEnv(self) as env:
            app = env.app(ostrel="standin", files={"KELSupplicant.ini": "201=Already here\n"})
            env.start(app, "Pondo.exe")
            self.assertTrue(env.wait_window(TITLE, main=True))
            second = env.start(app, "Pondo.exe")
            self.assertTrue(env.wait_window(TITLE, msgbox=True))
            self.assertEqual(env.message_text(TITLE), "Already here")
            env.click(TITLE, "OK", msgbox=True)
            self.assertEqual(env.wait_exit(second), 0)

    def test_mutex_without_window_gives_unowned_box_named_after_program(self):
        with WineEnv(self) as env:
            app = env.app(ostrel="standin")
            holder = env.start(app, BIN / "drivers" / "winctl.exe",
                               ["holdmutex", TITLE, 60000])
            self.assertTrue(wait_until(lambda: "holding" in env.output(holder)))
            proc = env.start(app, "Pondo.exe")
            self.assertTrue(env.wait_window("Pondo", msgbox=True))
            self.assertEqual(env.message_text("Pondo"), RUNNING)
            self.assertEqual(env.texts("Pondo", msgbox=True)["owner"], "")
            env.click("Pondo", "OK", msgbox=True)
            self.assertEqual(env.wait_exit(proc), 0)
            self.assertEqual(read_log(app), [])

    def test_different_titles_run_side_by_side(self):
        with WineEnv(self) as env:
            one = env.app("one", ostrel="standin")
            two = env.app("two", ostrel="standin", files={"KELSupplicant.ini": "MainDlgTitle=Other\n"})
            env.start(one, "Pondo.exe")
            env.start(two, "Pondo.exe")
            self.assertTrue(env.wait_window(TITLE, main=True))
            self.assertTrue(env.wait_window("Other", main=True))
            self.assertFalse(env.wait_window(TITLE, msgbox=True, timeout=2))


if __name__ == "__main__":
    unittest.main(verbosity=2)
