"""Runs one Wine test in a network namespace of its own, whose network adapters the
test chooses, so that the IP helper service (and with it the library under test)
lists exactly those adapters, in the order they were made.

    class Capture(unittest.TestCase):
        def test_many_adapters(self):
            if private_network.rerun_inside(self, [("vpn0", "02:5e:00:00:00:01", None),
                                                   ("lan", "02:5e:00:00:00:aa", "192.0.2.2/24")]):
                return                    # the test ran inside and passed there
            ...                           # the test itself, inside the namespace

Wine and everything it starts (its server, services and the drivers behind the IP
helper service) run inside the namespace with the test, as does the test's display.
Making a namespace needs root (or CAP_SYS_ADMIN) and unshare and ip (util-linux,
iproute2); where that is not possible the test fails, naming what is missing: a test
that cannot do its work must not pass.
"""

import inspect
import os
import shlex
import subprocess
import sys

INSIDE = "PONDO_PRIVATE_NETWORK"


def _adapter_commands(name, mac, address):
    # A tap device is a plain Ethernet adapter without a cable; a bridge serves where
    # the tun driver is missing.
    n = shlex.quote(name)
    lines = [f"ip tuntap add {n} mode tap 2>/dev/null || ip link add {n} type bridge",
             f"ip link set {n} address {shlex.quote(mac)}", f"ip link set {n} up"]
    if address:
        lines.append(f"ip addr add {shlex.quote(address)} dev {n}")
    return lines


def rerun_inside(test, adapters, timeout=540):
    """Inside the namespace: False (go on with the test). Outside: runs the test
    again inside a fresh namespace holding `adapters` ((name, mac, address or None),
    in the order the system lists them) and answers True once it passed there;
    fails the test as the inner run did."""
    if os.environ.get(INSIDE) == "1":
        return False
    try:
        probe = subprocess.run(["unshare", "--net", "ip", "link", "set", "lo", "up"],
                               capture_output=True, text=True)
        why = probe.stderr.strip() if probe.returncode != 0 else ""
    except FileNotFoundError as e:
        why = str(e)
    if why:
        test.fail("this test runs in a network namespace of its own, which needs root (or "
                  "CAP_SYS_ADMIN), unshare (util-linux) and ip (iproute2): " + why)
    script = ["set -e", "ip link set lo up"]
    for adapter in adapters:
        script += _adapter_commands(*adapter)
    target = f"{type(test).__name__}.{test._testMethodName}"
    script.append(f"exec {shlex.quote(sys.executable)} {shlex.quote(inspect.getfile(type(test)))} "
                  f"-v {shlex.quote(target)}")
    env = dict(os.environ, **{INSIDE: "1"})
    run = subprocess.run(["unshare", "--net", "bash", "-c", "\n".join(script)], env=env,
                         capture_output=True, text=True, timeout=timeout)
    report = (run.stdout + run.stderr)[-6000:]
    if run.returncode != 0:
        test.fail("inside its own network namespace:\n" + report)
    if "skipped=" in run.stderr:  # unittest's summary: "OK (skipped=1)"
        test.fail("skipped inside its network namespace:\n" + report)
    return True
