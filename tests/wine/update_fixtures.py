"""Update folders on a real HTTP server on loopback, and the update driver that
runs the real Ostrel.dll's self-update under Wine."""

import functools
import http.server
import shutil
import subprocess
import sys
import time
import zlib
from pathlib import Path

from harness import BIN, SOURCE, WIN_BUILD

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


def publish(folder, files, version="1.2.3", sign=False):
    """Writes the files and describes the folder with the operator's tool."""
    folder.mkdir(parents=True, exist_ok=True)
    for name, content in files.items():
        (folder / name).write_bytes(content)
    args = [sys.executable, str(TOOL), "describe", str(folder), "--version", version]
    if sign:
        args += ["--sign", str(TEST_KEY)]
    subprocess.run(args, check=True, capture_output=True, timeout=60)


def describe_by_hand(folder, version, lines):
    """A description the tool would refuse to write (hostile names and the like)."""
    major, minor, build = version.split(".")
    text = (f"[version]\r\nmajor Ver={major}\r\nminor Ver={minor}\r\nbuild num={build}\r\n"
            "[file list]\r\n" + "".join(line + "\r\n" for line in lines) + "End=OK\r\n")
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "updateFileInfo.ini").write_bytes(text.encode("ascii"))


def file_line(name, content):
    return f"{name}={len(content)},{zlib.crc32(content) & 0xFFFFFFFF:08X}"


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


def start_update(env, app, urls, timeout=60):
    return env.start(app, "update_driver.exe", [urls, timeout * 1000])
