"""Traffic capture of the real Ostrel.dll under Wine, over the packet stand-in.

A small driver program (drivers/capture_driver.exe) plays the dialer: initThread, link
up, a request that switches the capture on, the findings read once a second. The
packet stand-in replays a capture made by make_captures.py on every adapter the
library opens and logs every call.
"""

import re
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import make_captures  # noqa: E402
from harness import BIN, WineEnv  # noqa: E402

DRIVER = BIN / "drivers" / "capture_driver.exe"
RELAYED, BITTORRENT = 30, 32


class Run:
    def __init__(self, rc, out, log):
        self.rc, self.out, self.log = rc, out, log
        m = re.search(r"^result (\d+) (\d+)$", out, re.M)
        self.relayed, self.bittorrent = (int(m.group(1)), int(m.group(2))) if m else (None, None)

    def calls(self, name):
        return [line for line in self.log if line.startswith(name + " ")]


def capture_run(test, capture, items, seconds, standin_lines=(), packet=True, reinit=None):
    with WineEnv(test) as env:
        app = env.app(pondo=False, ostrel="real", standins=("packet",) if packet else ())
        if capture:
            make_captures.write_pcap(str(app / capture), make_captures.CAPTURES[capture]())
        ini = [f"adapter * {capture}" if capture else "adapter * ", "interval 10"]
        (app / "packet-standin.ini").write_text("\n".join(ini + list(standin_lines)) + "\n")
        args = [",".join(map(str, items)), seconds] + ([reinit] if reinit else [])
        rc, out, _ = env.run(app, DRIVER, args, timeout=seconds + 90)
        log_path = app / "packet-standin.log"
        log = log_path.read_text().splitlines() if log_path.exists() else []
        return Run(rc, out, log)


class Capture(unittest.TestCase):
    def assert_opened_as_specified(self, run):
        opens = run.calls("PacketOpenAdapter")
        self.assertTrue(opens, "the library opened no adapter")
        self.assertTrue(all(o.startswith("PacketOpenAdapter \\Device\\NPF_") for o in opens), opens)
        self.assertTrue(all(re.search(r" 0x20 -> 1$", c) for c in run.calls("PacketSetHwFilter")))
        self.assertTrue(all(c.endswith(" 512000 -> 1") for c in run.calls("PacketSetBuff")))
        self.assertTrue(all(c.endswith(" 0 -> 1") for c in run.calls("PacketSetReadTimeout")))
        self.assertEqual(len(run.calls("PacketSetHwFilter")), len(opens))
        self.assertIn("PacketInitPacket length=256000", run.log)
        reads = [re.search(r" sync=1 bytes=(\d+) -> 1$", c) for c in run.calls("PacketReceivePacket")]
        self.assertTrue(reads and all(reads), run.calls("PacketReceivePacket")[:5])
        self.assertTrue(any(int(m.group(1)) for m in reads), "no batch was read")

    def test_bittorrent_capture_sets_byte_21(self):
        run = capture_run(self, "bittorrent.pcap", [BITTORRENT], 60)
        self.assertEqual(run.rc, 0, run.out)
        self.assertEqual((run.relayed, run.bittorrent), (0, 1), run.out)
        self.assert_opened_as_specified(run)
        # Reported only from a pass after the capture started: the first reading is clear.
        first = re.search(r"^findings \d+((?: [0-9a-f]{2}){22})$", run.out, re.M).group(1).split()
        self.assertEqual(first[21], "00")

    def test_relayed_request_sets_byte_16(self):
        run = capture_run(self, "relayed.pcap", [RELAYED], 60)
        self.assertEqual(run.rc, 0, run.out)
        self.assertEqual((run.relayed, run.bittorrent), (1, 0), run.out)
        self.assert_opened_as_specified(run)

    def test_file_sharing_traffic_counts_as_neither(self):
        run = capture_run(self, "smb.pcap", [RELAYED, BITTORRENT], 30)
        self.assertEqual(run.rc, 0, run.out)
        self.assertEqual((run.relayed, run.bittorrent), (0, 0), run.out)
        self.assert_opened_as_specified(run)

    def test_results_reach_the_newer_detection_thread(self):
        # The traffic only begins 40 s after the open; meanwhile a second initThread
        # replaces the detection thread. Whether the old thread ends before or after
        # the new one takes the capture over, the finding must reach the new
        # thread's findings, and the capture must be open for it at the end.
        run = capture_run(self, "bittorrent.pcap", [BITTORRENT], 100, ["start 40000"], reinit=15)
        self.assertEqual(run.rc, 0, run.out)
        self.assertIn("reinit", run.out)
        self.assertEqual(run.bittorrent, 1, run.out)
        last_open = max(i for i, line in enumerate(run.log) if line.startswith("PacketOpenAdapter"))
        closes = [i for i, line in enumerate(run.log) if line.startswith("PacketCloseAdapter")]
        self.assertTrue(all(i < last_open for i in closes), run.log)

    def test_failing_reads_are_paced(self):
        # Every read fails while the read event stays signalled: the receive thread
        # pauses after each failure instead of spinning.
        run = capture_run(self, "bittorrent.pcap", [BITTORRENT], 20, ["fail * receive"])
        self.assertEqual(run.rc, 0, run.out)
        self.assertEqual(run.bittorrent, 0, run.out)
        failures = run.calls("PacketReceivePacket")
        self.assertTrue(failures, "no read was tried")
        self.assertLess(len(failures), 400, "reads were retried without a pause")

    def test_missing_capture_library_means_no_capture(self):
        run = capture_run(self, None, [BITTORRENT, RELAYED], 20, packet=False)
        self.assertEqual(run.rc, 0, run.out)
        self.assertEqual((run.relayed, run.bittorrent), (0, 0), run.out)


if __name__ == "__main__":
    unittest.main()
