"""Update folders on a real HTTP server on loopback, and the update driver that
runs the real Ostrel.dll's self-update under Wine."""

import functools
import hashlib
import http.server
import os
import shutil
import socket
import socketserver
import subprocess
import sys
import threading
import time
import zlib
from pathlib import Path

from harness import BIN, PREFIX, SOURCE, WIN_BUILD

sys.path.insert(0, str(SOURCE / "tools"))
import update_publish  # noqa: E402

CAPTION = "认证客户端"
TEXT = "认证客户端已完成自动更新,请退出以运行新版本"
TOOL = SOURCE / "tools" / "update_publish.py"
TEST_KEY = WIN_BUILD / "testkey" / "private.pem"


class UpdateHandler(http.server.SimpleHTTPRequestHandler):
    """Serves the folder tree; `log` records every request path; `tweaks` maps a
    path to a misbehaviour: "nolength" (no Content-Length), "slow" (2 s before the
    answer), "truncate" (announces the whole file, sends half, closes), "close"
    (closes without answering)."""

    protocol_version = "HTTP/1.0"

    def __init__(self, *args, log=None, tweaks=None, **kwargs):
        self.log, self.tweaks = log, tweaks or {}
        super().__init__(*args, **kwargs)

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.log.append(self.path)
        tweak = self.tweaks.get(self.path)
        if tweak == "close":
            self.close_connection = True
            return
        if tweak == "slow":
            time.sleep(2)
        path = Path(self.translate_path(self.path))
        if not path.is_file():
            self.send_error(404)
            return
        body = path.read_bytes()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if tweak != "nolength":
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body[: len(body) // 2] if tweak == "truncate" else body)
        self.wfile.flush()
        self.close_connection = True


def serve(env, root, tweaks=None):
    """Starts a server for `root`; returns (base URL, request log)."""
    log = []
    handler = functools.partial(UpdateHandler, directory=str(root), log=log, tweaks=tweaks)
    return env.http_server(root, handler), log


def test_key_sequence():
    """The release sequence the test-key library was built at."""
    resources = update_publish.rcdata((BIN / "testkey" / "Ostrel.dll").read_bytes())
    return int.from_bytes(resources[update_publish.SEQUENCE_RESOURCE], "little")


def signer(folder):
    """The operator's key for the folders published under `folder`'s parent: a copy
    of the test key whose release sequences start just above the test library's."""
    key = folder.parent / "signer.pem"
    if not key.exists():
        folder.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(TEST_KEY, key)
        Path(str(key) + ".sequence").write_text("%d\n" % test_key_sequence())
    return key


def publish(folder, files, version="1.2.3", sign=False, sequence=None, extra=()):
    """Writes the files and describes the folder with the operator's tool; with
    `sign`, signs it with the next release sequence (or `sequence`)."""
    folder.mkdir(parents=True, exist_ok=True)
    for name, content in files.items():
        (folder / name).write_bytes(content)
    args = [sys.executable, str(TOOL), "describe", str(folder), "--version", version, *extra]
    if sign:
        args += ["--sign", str(signer(folder))]
        if sequence is not None:
            args += ["--sequence", str(sequence)]
    subprocess.run(args, check=True, capture_output=True, timeout=60)


def describe_by_hand(folder, version, lines, extra=b"", sign=False):
    """A description the tool would refuse to write (hostile names and the like);
    `lines` and `extra` (further sections) may be bytes. With `sign`, signed with
    the test key as the tool would."""
    major, minor, build = version.split(".")
    text = (f"[version]\r\nmajor Ver={major}\r\nminor Ver={minor}\r\nbuild num={build}\r\n"
            "[file list]\r\n").encode("ascii")
    for line in lines:
        text += (line if isinstance(line, bytes) else line.encode("ascii")) + b"\r\n"
    text += b"End=OK\r\n" + extra
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "updateFileInfo.ini").write_bytes(text)
    if sign:
        subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(TEST_KEY), "-out",
                        str(folder / "updateFileInfo.sig"), str(folder / "updateFileInfo.ini")],
                       check=True, capture_output=True, timeout=60)


def file_line(name, content):
    """The description's line for a file; `name` may be bytes (then so is the line)."""
    if isinstance(name, bytes):
        return name + b"=" + file_line("", content)[1:].encode("ascii")
    return f"{name}={len(content)},{zlib.crc32(content) & 0xFFFFFFFF:08X}"


def hash_line(name, content):
    line = "=" + hashlib.sha256(content).hexdigest()
    return name + line.encode("ascii") if isinstance(name, bytes) else name + line


def forge_crc(data, target):
    """`data` with its last 4 bytes replaced so that its CRC-32 is `target`."""
    table = []
    for i in range(256):
        c = i
        for _ in range(8):
            c = (0xEDB88320 ^ (c >> 1)) if c & 1 else c >> 1
        table.append(c)
    by_top = {t >> 24: i for i, t in enumerate(table)}
    reg = target ^ 0xFFFFFFFF
    for _ in range(4):
        i = by_top[reg >> 24]
        reg = (((reg ^ table[i]) << 8) & 0xFFFFFFFF) | i
    state = zlib.crc32(data[:-4]) ^ 0xFFFFFFFF
    return data[:-4] + (reg ^ state).to_bytes(4, "little")


# Bytes no update ever carries: a hostile body is made of them, so a search of the
# prefix for them finds any copy of one, wherever the system may have put it.
MARKER = b"<hostile body, never to be kept>"


class HostileServer(socketserver.ThreadingTCPServer):
    """A loopback HTTP/1.0 server for the folders under `root` that misbehaves on
    the paths in `tweaks`, path -> (kind, argument):
      ("endless", length)  headers announcing `length` (None: no Content-Length),
                           then MARKER bytes without end
      ("longer", None)     the file as announced, then MARKER bytes without end
      ("drip", seconds)    the whole answer, headers included, one byte per `seconds`
      ("drip-body", s)     headers at once, then the body one byte per `s` seconds
      ("silent", None)     reads the request, then says nothing and keeps the line
      ("redirect", url)    302 to `url`
      ("status", code)     answers `code` with a MARKER body and its length
    `requests` counts the requests per path, `sent` the bytes sent per path."""

    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, root, tweaks=None):
        self.root, self.tweaks = Path(root), dict(tweaks or {})
        self.requests, self.sent = {}, {}
        self.stopping = threading.Event()
        self.lock = threading.Lock()
        super().__init__(("127.0.0.1", 0), _HostileHandler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    @property
    def base(self):
        return "http://127.0.0.1:%d/" % self.server_address[1]

    def count(self, path, sent=0, request=False):
        with self.lock:
            if request:
                self.requests[path] = self.requests.get(path, 0) + 1
            self.sent[path] = self.sent.get(path, 0) + sent

    def server_close(self):
        self.stopping.set()
        super().server_close()


class _HostileHandler(socketserver.BaseRequestHandler):
    def handle(self):
        server, conn = self.server, self.request
        conn.settimeout(5)
        data = b""
        try:
            while b"\r\n\r\n" not in data and len(data) < 65536:
                chunk = conn.recv(4096)
                if not chunk:
                    return
                data += chunk
        except OSError:
            return
        path = data.split(b" ")[1].decode("latin-1") if data.count(b" ") >= 2 else "/"
        server.count(path, request=True)
        conn.settimeout(None)
        kind, arg = server.tweaks.get(path, (None, None))
        file = server.root / path.lstrip("/")
        body = file.read_bytes() if file.is_file() else None

        def send(payload):
            conn.sendall(payload)
            server.count(path, len(payload))

        def endless():
            block = MARKER * 2048
            while not server.stopping.is_set():
                send(block)

        def head(status, length, extra=""):
            text = "HTTP/1.0 %s\r\nContent-Type: application/octet-stream\r\n" % status
            if length is not None:
                text += "Content-Length: %d\r\n" % length
            return (text + extra + "\r\n").encode("latin-1")

        try:
            if kind == "silent":
                server.stopping.wait()
            elif kind == "endless":
                send(head("200 OK", arg))
                endless()
            elif kind == "longer":
                send(head("200 OK", len(body)) + body)
                endless()
            elif kind in ("drip", "drip-body"):
                answer = head("200 OK", len(body)) + body
                if kind == "drip-body":
                    send(answer[:-len(body)])
                    answer = body
                for byte in answer:
                    if server.stopping.wait(arg):
                        break
                    send(bytes([byte]))
            elif kind == "redirect":
                send(head("302 Found", 0, "Location: %s\r\n" % arg))
            elif kind == "status":
                send(head("%d Oops" % arg, len(MARKER)) + MARKER)
            elif body is None:
                send(head("404 Not Found", 0))
            else:
                send(head("200 OK", len(body)) + body)
        except OSError:
            pass
        finally:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def hostile_server(env, root, tweaks=None):
    server = HostileServer(root, tweaks)
    env.servers.append(server)
    return server


def snapshot(roots):
    """{path: (size, mtime)} of every file under `roots`."""
    files = {}
    for root in roots:
        for dirpath, _, names in os.walk(root):
            for name in names:
                path = Path(dirpath) / name
                try:
                    st = path.stat()
                except OSError:
                    continue
                files[path] = (st.st_size, st.st_mtime_ns)
    return files


def written_since(before, roots):
    """Files under `roots` made or changed since the snapshot `before`, with sizes."""
    return {path: size for path, (size, mtime) in snapshot(roots).items()
            if before.get(path) != (size, mtime)}


def holding(marker, paths):
    found = []
    for path in paths:
        try:
            with open(path, "rb") as f:
                if marker in f.read():
                    found.append(path)
        except OSError:
            continue
    return found


def prefix_roots():
    """Where Wine writes for a program: drive C (the internet cache among it)."""
    return [PREFIX / "drive_c"]


def make_app(env, label, keyed=False, files=None):
    """An application folder with the real library (with the test key if
    `keyed`) and the update driver."""
    env.chinese_locale()  # MessageBoxA takes the library's texts in code page 936
    app = env.app(label, pondo=False, ostrel="real", files=files)
    if keyed:
        shutil.copy(BIN / "testkey" / "Ostrel.dll", app / "Ostrel.dll")
    shutil.copy(BIN / "drivers" / "update_driver.exe", app)
    return app


def run_update(env, app, urls, timeout=60):
    """Runs an update that must not end in the message box; returns stdout."""
    rc, out, _ = env.run(app, "update_driver.exe", [urls, timeout * 1000], timeout=timeout + 30)
    return out.replace("\r\n", "\n"), rc


def start_update(env, app, urls, timeout=180):
    """Starts an update that ends in the message box: the driver holds the box up
    to `timeout` seconds, long enough for a loaded machine to find and click it."""
    return env.start(app, "update_driver.exe", [urls, timeout * 1000])


def run_updates(env, jobs, timeout=60):
    """Runs one update driver per (app, urls) job at the same time; returns, per
    job, (exit code or None when still running at `timeout`, output, seconds)."""
    t0 = time.time()
    procs = [env.start(app, "update_driver.exe", [urls, timeout * 1000]) for app, urls in jobs]
    ended = [None] * len(procs)
    while time.time() < t0 + timeout + 30 and None in ended:
        for i, proc in enumerate(procs):
            if ended[i] is None and proc.poll() is not None:
                ended[i] = time.time() - t0
        time.sleep(0.1)
    return [(proc.poll(), env.output(proc), seconds) for proc, seconds in zip(procs, ended)]
