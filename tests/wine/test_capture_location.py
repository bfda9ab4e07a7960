"""Where the dialer and its library find the capture driver's packet.dll, under
Wine: current capture drivers (Npcap) install it in their own folder under the
system folder, System32\\Npcap, unless their compatibility mode is chosen.

Each copy of the packet stand-in reads its script and writes its log beside
itself, so the log that grows tells which copy a program loaded."""

import re
import shutil
import sys
import unittest
from contextlib import contextmanager
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import dialer_setup as ds  # noqa: E402
import make_captures  # noqa: E402
from harness import BIN, ID, TITLE, WineEnv  # noqa: E402

STANDIN = BIN / "standins" / "packet" / "packet.dll"
CAPTURE_DRIVER = BIN / "drivers" / "capture_driver.exe"
BITTORRENT = 32


def log_of(folder):
    log = folder / "packet-standin.log"
    return log.read_text().splitlines() if log.exists() else []


@contextmanager
def system_copies(env):
    """Clears the shared prefix's system folders of packet stand-ins before and
    after the test: later tests find the driver beside their program."""
    system = env.system32()

    def clear():
        shutil.rmtree(system / "Npcap", ignore_errors=True)
        for name in ("packet.dll", "packet-standin.ini", "packet-standin.log", "bittorrent.pcap"):
            (system / name).unlink(missing_ok=True)
    clear()
    try:
        yield system
    finally:
        clear()


class CaptureDriverLocation(unittest.TestCase):
    def driver_copy(self, env, folder, listed=True, replay=False):
        """A packet stand-in in folder: listing the test adapter (or failing to list
        any), and replaying BitTorrent traffic on every adapter the library opens."""
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy(STANDIN, folder)
        if listed:
            self.adapter, _ = ds.register_adapters(env, env.root, standin_folder=folder)
        else:
            (folder / "packet-standin.ini").write_text("names fail\n")
        if replay:
            make_captures.write_pcap(str(folder / "bittorrent.pcap"),
                                     make_captures.CAPTURES["bittorrent.pcap"]())
            with open(folder / "packet-standin.ini", "a") as ini:
                ini.write("adapter * bittorrent.pcap\ninterval 10\n")
        return folder

    def listed_adapters(self, env, app, cwd=None):
        """The dialer's adapter list, started in cwd (default: its own folder)."""
        proc = env.start(cwd or app, app / "Pondo.exe")
        self.assertTrue(env.wait_window(TITLE, timeout=60, main=True), "the dialer did not open")
        items, _ = env.items(TITLE, ID.IDC_ADAPTERS)
        env.winctl("close", TITLE, main=True)
        self.assertIsNotNone(env.wait_exit(proc, timeout=30))
        return items

    def captured_bittorrent(self, env, app):
        """Whether the real library, driven from app, captured the BitTorrent replay."""
        rc, out, _ = env.run(app, CAPTURE_DRIVER, [BITTORRENT, 40], timeout=130)
        self.assertEqual(rc, 0, out)
        return re.search(r"^result \d+ (\d+)$", out, re.M).group(1) == "1"

    def test_found_in_its_own_system_subfolder_and_preferred_there(self):
        with WineEnv(self) as env, system_copies(env) as system:
            npcap = self.driver_copy(env, system / "Npcap", replay=True)
            app = env.app(ostrel="standin", standins=("rasapi32",),
                          files={"rasapi32-standin.ini": ds.ACCESS_SERVER})
            library = env.app("library", pondo=False, ostrel="real")

            # Only in the driver's own folder: both deliverables find it.
            self.assertEqual(self.listed_adapters(env, app), [ds.ADAPTER_DESC])
            self.assertTrue(any(line.startswith("PacketGetAdapterNames") for line in log_of(npcap)))
            self.assertTrue(self.captured_bittorrent(env, library))
            self.assertTrue(any(line.startswith("PacketOpenAdapter") for line in log_of(npcap)))

            # A copy beside the program too (one that lists nothing and replays
            # nothing): the driver's own is still the one loaded.
            for folder in (app, library):
                self.driver_copy(env, folder, listed=False)
            (npcap / "packet-standin.log").unlink()
            self.assertEqual(self.listed_adapters(env, app), [ds.ADAPTER_DESC])
            self.assertTrue(self.captured_bittorrent(env, library))
            self.assertEqual(log_of(app) + log_of(library), [], "the copy beside the program was used")
            self.assertTrue(log_of(npcap))

    def test_never_from_the_current_folder(self):
        with WineEnv(self) as env, system_copies(env) as system:
            # The compatible install: packet.dll in the system folder itself. A copy
            # in the folder the dialer is started from (not its own) lists nothing.
            self.driver_copy(env, system)
            app = env.app(ostrel="standin", standins=("rasapi32",),
                          files={"rasapi32-standin.ini": ds.ACCESS_SERVER})
            elsewhere = self.driver_copy(env, env.root / "elsewhere", listed=False)
            self.assertEqual(self.listed_adapters(env, app, cwd=elsewhere), [ds.ADAPTER_DESC])
            self.assertEqual(log_of(elsewhere), [])
            self.assertTrue(log_of(system))
            # Nor after it: the dialer takes the current folder out of the search,
            # so a library planted where it is started is never loaded.
            (system / "packet.dll").unlink()
            self.assertEqual(self.listed_adapters(env, app, cwd=elsewhere),
                             ["No available adapter !"])
            self.assertEqual(log_of(elsewhere), [])


if __name__ == "__main__":
    unittest.main()
