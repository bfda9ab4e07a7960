"""The real Ostrel.dll behind the host interface, driven by contract_driver.exe
(a Windows program that plays the dialer's side): the byte examples of the
contract answered through SendReply, findings before and after link up, a
detection pass within a turn of the loop after a request, the window pass over a
real window, and a host that unloads the library while its threads run."""

import re
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import BIN, WineEnv  # noqa: E402

DRIVER = BIN / "drivers" / "contract_driver.exe"


def access_adapter():
    """(mac, ipv4) of a machine interface that Wine lists as an adapter, or None."""
    for net in sorted(Path("/sys/class/net").glob("*")):
        if net.name == "lo" or not (net / "address").exists():
            continue
        mac = (net / "address").read_text().strip()
        try:
            out = subprocess.run(["ip", "-4", "-o", "addr", "show", net.name], capture_output=True,
                                 text=True, timeout=10).stdout
        except (OSError, subprocess.SubprocessError):
            continue
        m = re.search(r"inet (\d+\.\d+\.\d+\.\d+)/", out)
        if m and mac and mac != "00:00:00:00:00:00":
            return mac, m.group(1)
    return None


class Contract(unittest.TestCase):
    def run_driver(self, env, *args, timeout=180, library_name="Ostrel.dll"):
        app = env.app(pondo=False, ostrel=None)
        shutil.copy(DRIVER, app)
        shutil.copy(BIN / "Ostrel.dll", app / library_name)
        rc, out, err = env.run(app, "contract_driver.exe", args, timeout=timeout)
        out = out.replace("\r\n", "\n")
        print(out)
        failures = [l for l in out.splitlines() if l.startswith("FAIL")]
        self.assertEqual(failures, [], out)
        self.assertIn("RESULT ok", out, out + err[-2000:])
        self.assertEqual(rc, 0)
        return out

    def test_contract_examples_findings_and_passes(self):
        args = ["contract"]
        adapter = access_adapter()
        if adapter:
            args += [f"--mac={adapter[0]}", f"--ip={adapter[1]}"]
        with WineEnv(self) as env:
            out = self.run_driver(env, *args)
        # The byte examples, the address reply and both passes were checked.
        self.assertIn("ok request 01 0A 15 00 1B 00 1C 00 1D 00 20 00 -> 0, replies [ {02 02 14 00 } ]",
                      out)
        self.assertRegex(out, r"ok a pass ran \d+ ms after the request")
        self.assertIn("ok the window pass finds the listed program", out)
        if adapter:
            self.assertRegex(out, r"ok address reply .* \(expected")

    def test_free_library_while_threads_run_leaves_the_host_alive(self):
        with WineEnv(self) as env:
            out = self.run_driver(env, "unload")
        self.assertIn("ok the process survived 25 s after FreeLibrary", out)

    def test_under_another_file_name_the_library_refuses(self):
        with WineEnv(self) as env:
            out = self.run_driver(env, "renamed", library_name="Renamed.dll")
        self.assertIn("ok initThread refuses without its list (65535)", out)


if __name__ == "__main__":
    unittest.main()
