"""The whole system under Wine: the real Pondo.exe connects through the access-server
stand-in with the real Ostrel.dll, the packet stand-in replays BitTorrent traffic on
the access adapter as a PPPoE link carries it (inside the PPPoE session, after its
discovery), and the connection ends with the BitTorrent message."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import dialer_setup as ds  # noqa: E402
import make_captures  # noqa: E402
from harness import TITLE, WineEnv  # noqa: E402


class WholeSystem(unittest.TestCase):
    def test_bittorrent_on_the_adapter_ends_the_connection(self):
        with WineEnv(self) as env:
            app = env.app(ostrel="real", standins=("rasapi32", "packet"), files={
                "rasapi32-standin.ini": ds.ACCESS_SERVER,
                "kelsupplicant.conf": "username=\nsavepw=off\npassword=\n",
            })
            name, _ = ds.register_adapters(env, app)
            capture = "bittorrent-pppoe.pcap"
            make_captures.write_pcap(str(app / capture), make_captures.CAPTURES[capture]())
            # The access adapter carries the traffic; any other adapter the library
            # opens stays quiet. The traffic repeats, as a running client's would.
            with open(app / "packet-standin.ini", "a") as ini:
                ini.write("adapter * \nloop\ninterval 50\n")
            ini_text = (app / "packet-standin.ini").read_text().replace(
                f"adapter {name}\n", f"adapter {name} {capture}\n")
            (app / "packet-standin.ini").write_text(ini_text)

            proc = ds.start_and_connect(self, env, app)

            # A pass starts the capture, a later pass reports it, and the dialer's
            # 30-second check ends the connection.
            self.assertTrue(env.wait_window(TITLE, timeout=150, msgbox=True), "no findings message")
            env.screenshot("capture-bittorrent-ends-connection")
            self.assertEqual(env.message_text(TITLE),
                             "BT software is running, violate server's request.\n"
                             "Connection is disconnected.")
            log = (app / "packet-standin.log").read_text().splitlines()
            self.assertTrue(any(line.startswith(f"PacketOpenAdapter \\Device\\NPF_{name} -> ok")
                                for line in log), "the access adapter was not opened")
            self.assertTrue(any(line.startswith(f"PacketReceivePacket {name} ") and "bytes=0" not in line
                                for line in log), "the access adapter's traffic was not read")
            env.click(TITLE, "OK", msgbox=True)
            self.assertTrue(env.wait_gone(TITLE, timeout=10, msgbox=True))
            # Closing ends the program within a bound, with the library's capture and
            # probe threads still running when it is asked to.
            env.winctl("close", TITLE, main=True)
            self.assertEqual(env.wait_exit(proc, timeout=30), 0, "Pondo.exe did not end")


if __name__ == "__main__":
    unittest.main()
