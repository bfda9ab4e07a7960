"""The real Ostrel.dll's local proxy probe under Wine, with nothing leaving the
machine: the test runs in a private network and mount namespace (unshare) where
the probe page's host resolves to loopback through a bind-mounted hosts file and
a local web server plays the page's origin. A real HTTP proxy (tinyproxy) on a
local port is found (findings byte 15); a plain local web server is not."""

import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

INSIDE = "PONDO_PROBE_NAMESPACE"
PROBE_HOST = "www.example.com"
PAGE = (b"<!doctype html><html><head><title>Example Domain</title></head>"
        b"<body>the probe page</body></html>")


def enter_namespace():
    """Runs this file again inside a fresh network and mount namespace."""
    if os.environ.get(INSIDE):
        return None
    if os.geteuid() != 0 or not shutil.which("unshare"):
        print("the probe tests need root and unshare for a private namespace", file=sys.stderr)
        return 1
    env = dict(os.environ, **{INSIDE: "1"})
    return subprocess.run(["unshare", "--net", "--mount", "--", sys.executable, __file__,
                           *sys.argv[1:]], env=env, timeout=900).returncode


def prepare_namespace(scratch):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    hosts = scratch / "hosts"
    hosts.write_text(f"127.0.0.1 localhost {PROBE_HOST}\n")
    subprocess.run(["mount", "--bind", str(hosts), "/etc/hosts"], check=True)
    # A wineserver of our own: its socket folder is private to this namespace.
    wine_dir = Path(f"/tmp/.wine-{os.geteuid()}")
    wine_dir.mkdir(mode=0o700, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0700", "tmpfs", str(wine_dir)], check=True)


class Origin(http.server.BaseHTTPRequestHandler):
    """The probe page's origin: the page for "/" only. Asked as if it were a proxy
    (an absolute URL), it answers with a page of its own."""

    def log_message(self, *args):
        pass

    def do_GET(self):
        body = PAGE if self.path == "/" else b"<html>not a proxy here</html>"
        self.send_response(200 if self.path == "/" else 404)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class PlainSite(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        body = b"<html><title>It works</title></html>"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def start_server(port, handler):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


class Probe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="probe-"))
        prepare_namespace(cls.scratch)
        cls.origin = start_server(80, Origin)

    @classmethod
    def tearDownClass(cls):
        cls.origin.shutdown()
        cls.origin.server_close()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def run_probe(self, env, wait_ms):
        from harness import BIN
        app = env.app("app", pondo=False, ostrel="real")
        shutil.copy(BIN / "drivers" / "probe_driver.exe", app)
        _, out, _ = env.run(app, "probe_driver.exe", [wait_ms], timeout=wait_ms // 1000 + 60)
        return out.strip().splitlines()[-1:] == ["found"]

    def test_working_proxy_is_found(self):
        from harness import WineEnv, free_port
        port = free_port()
        conf = self.scratch / "tinyproxy.conf"
        conf.write_text(f"Port {port}\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 30\n"
                        "MaxClients 20\nLogLevel Error\n")
        proxy = subprocess.Popen(["tinyproxy", "-d", "-c", str(conf)],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            with WineEnv(self) as env:
                self.assertTrue(self.run_probe(env, 90000))
        finally:
            proxy.kill()
            proxy.wait(10)

    def test_plain_web_server_is_not_a_proxy(self):
        from harness import WineEnv, free_port
        site = start_server(free_port(), PlainSite)
        try:
            with WineEnv(self) as env:
                # Long enough for the probe to start and sweep, and for later passes.
                self.assertFalse(self.run_probe(env, 45000))
        finally:
            site.shutdown()
            site.server_close()


if __name__ == "__main__":
    code = enter_namespace()
    if code is not None:
        sys.exit(code)
    unittest.main()
