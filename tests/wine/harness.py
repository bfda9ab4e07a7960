"""Harness for the tests that run the real deliverables under Wine.

One 32-bit Wine prefix per i686 build tree (created on first use, under a lock),
one Xvfb display per test process, a fresh application folder per test, and a
driver program (winctl.exe) that works real windows from outside.

    from harness import WineEnv

    class Startup(unittest.TestCase):
        def test_something(self):
            with WineEnv(self) as env:
                app = env.app(ostrel="standin")            # folder with Pondo.exe & co.
                proc = env.start(app, "Pondo.exe")         # runs under Wine, cwd = app
                self.assertTrue(env.wait_window("TALVEN PPPOE Client", msgbox=True))
                box = env.texts("TALVEN PPPOE Client", msgbox=True)
                env.click("TALVEN PPPOE Client", "OK", msgbox=True)
                env.wait_exit(proc)
                env.screenshot("name")                     # PNG under wine-work/screenshots

32 or 64 bits: the shipped deliverables are the i686 build, but Wine's 32-bit loader
needs a kernel that executes 32-bit programs, and some machines (this project's CI
among them) have that switched off. scripts/build then also builds the same sources
for x86_64 (build/win64) and the Wine tests run that tree under wine64; WINE_BITS
says which. Record sizes that differ between the two (RASENTRYA, RASCONNA, ...)
must be checked against the layout of the tree under test: use WINE_BITS.

Environment: PONDO_WIN_BUILD (the tree Wine runs; default build/<scripts/wine-tree>),
PONDO_SOURCE_DIR, PONDO_HOST_BUILD. Everything a test leaves is under
<win build>/wine-work/<test id>/. Programs a test starts are killed at the end
(wineserver -k), the display is stopped, servers are shut down.
"""

import fcntl
import functools
import http.server
import os
import re
import shutil
import socket
import subprocess
import threading
import time
from pathlib import Path

SOURCE = Path(os.environ.get("PONDO_SOURCE_DIR") or Path(__file__).resolve().parents[2])
def _default_tree():
    return subprocess.run(["bash", str(SOURCE / "scripts" / "wine-tree")], capture_output=True,
                          text=True).stdout.strip() or "win32"


WIN_BUILD = Path(os.environ.get("PONDO_WIN_BUILD") or SOURCE / "build" / _default_tree())
# The shipped (i686) tree, whatever tree Wine runs.
SHIP_BUILD = Path(os.environ.get("PONDO_SHIP_BUILD") or SOURCE / "build" / "win32")
HOST_BUILD = Path(os.environ.get("PONDO_HOST_BUILD") or SOURCE / "build" / "host")
BIN = WIN_BUILD / "bin"
PREFIX = WIN_BUILD / "wineprefix"
WORK = WIN_BUILD / "wine-work"
SCREENSHOTS = WORK / "screenshots"
WINCTL = BIN / "drivers" / "winctl.exe"
TITLE = "TALVEN PPPOE Client"
FONT_REPLACEMENTS = r"HKCU\Software\Wine\Fonts\Replacements"


def _pe_bits(path):
    data = Path(path).read_bytes()[:4096]
    pe = int.from_bytes(data[0x3C:0x40], "little")
    return 64 if int.from_bytes(data[pe + 4:pe + 6], "little") == 0x8664 else 32


WINE_BITS = _pe_bits(WINCTL) if WINCTL.exists() else 32
if WINE_BITS == 64:
    # Straight to the 64-bit loader: the "wine" wrapper prefers the 32-bit one
    # whenever it is installed, even where it cannot run.
    WINE = "/usr/lib/wine/wine64"
    WINESERVER = "/usr/lib/wine/wineserver64"
else:
    WINE = "wine"
    WINESERVER = "wineserver"


def wine_env(display=None):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": str(PREFIX),
        "WINEARCH": "win64" if WINE_BITS == 64 else "win32",
        "WINELOADER": shutil.which(WINE) or WINE,
        "WINESERVER": shutil.which(WINESERVER) or WINESERVER,
        "WINEDEBUG": env.get("PONDO_WINEDEBUG", "-all"),
        # No Mono/Gecko installers; our stand-ins in the app folder win over Wine's
        # built-in remote-access DLL.
        "WINEDLLOVERRIDES": "mscoree,mshtml=;rasapi32=n,b;packet=n",
        "LC_ALL": env.get("LC_ALL", "C.UTF-8"),
    })
    if display:
        env["DISPLAY"] = display
    return env


def ensure_prefix():
    """Creates the shared prefix once; later callers wait for the first."""
    PREFIX.parent.mkdir(parents=True, exist_ok=True)
    ready = PREFIX / ".pondo-ready-3"
    with open(str(PREFIX) + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if ready.exists():
            return
        if PREFIX.exists():
            shutil.rmtree(PREFIX)
        subprocess.run([WINE, "wineboot", "--init"], env=wine_env(), check=True, timeout=300,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A virtual desktop: without a window manager on the X display Wine would
        # draw windows with no title bar or frame, unlike what a user sees.
        for key, name, value in (("HKCU\\Software\\Wine\\Explorer", "Desktop", "Default"),
                                 ("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default",
                                  "1024x768")):
            subprocess.run([WINE, "reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"],
                           env=wine_env(), check=True, timeout=120, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        # Wine's own fonts (Tahoma for dialogs, Marlett for the caption buttons)
        # where Windows keeps fonts: this Wine build does not find them in its
        # data folder, and windows would otherwise show "0 1 r" for their buttons.
        fonts = PREFIX / "drive_c" / "windows" / "Fonts"
        fonts.mkdir(parents=True, exist_ok=True)
        for font in Path("/usr/share/wine/fonts").glob("*.ttf"):
            shutil.copy(font, fonts)
        subprocess.run([WINESERVER, "-w"], env=wine_env(), timeout=120)
        ready.write_text("ok\n")


class Display:
    """A private Xvfb display."""

    def __init__(self):
        self.proc = None
        self.name = None

    def start(self):
        for n in range(90, 500):
            if Path(f"/tmp/.X{n}-lock").exists():
                continue
            proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-nolisten",
                                     "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            sock = Path(f"/tmp/.X11-unix/X{n}")
            deadline = time.time() + 10
            while time.time() < deadline and proc.poll() is None and not sock.exists():
                time.sleep(0.05)
            if proc.poll() is None and sock.exists():
                self.proc, self.name = proc, f":{n}"
                return self.name
            proc.kill()
            proc.wait()
        raise RuntimeError("no free X display")

    def stop(self):
        if self.proc:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
            self.proc = None


class _QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class WineEnv:
    def __init__(self, test=None, name=None):
        tid = name or (test.id() if test is not None else "manual")
        self.id = re.sub(r"[^A-Za-z0-9_.-]", "_", tid)
        self.root = WORK / self.id
        self.display = Display()
        self.procs = []
        self.servers = []
        self.font_replacements = False

    # -- lifetime ---------------------------------------------------------------
    def __enter__(self):
        if self.root.exists():
            shutil.rmtree(self.root)
        self.root.mkdir(parents=True)
        ensure_prefix()
        self.env = wine_env(self.display.start())
        # One persistent wineserver for the test keeps each program start fast.
        subprocess.run([WINESERVER, "-p"], env=self.env, timeout=30)
        return self

    def __exit__(self, *exc):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
        if self.font_replacements:
            # The prefix is shared: later programs in other locales keep their fonts.
            try:
                self.run(self.root, "reg", ["delete", FONT_REPLACEMENTS, "/f"], timeout=60)
            except Exception:
                pass
        subprocess.run([WINESERVER, "-k"], env=self.env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=30)
        for proc in self.procs:
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                pass
        for server in self.servers:
            server.shutdown()
            server.server_close()
        self.display.stop()
        return False

    # -- application folders ----------------------------------------------------
    def app(self, label="app", pondo=True, ostrel="real", standins=(), files=None):
        """A fresh folder with the deliverables and the chosen stand-ins.

        ostrel: "real" (the built Ostrel.dll), "standin" (the scriptable one) or None.
        standins: names of folders under bin/standins to copy (e.g. "rasapi32", "packet").
        files: {relative name: str or bytes} written into the folder.
        """
        folder = self.root / label
        folder.mkdir(parents=True, exist_ok=False)
        if pondo:
            shutil.copy(BIN / "Pondo.exe", folder)
        if ostrel == "real":
            shutil.copy(BIN / "Ostrel.dll", folder)
        elif ostrel == "standin":
            shutil.copy(BIN / "standins" / "companion" / "Ostrel.dll", folder)
        for name in standins:
            for dll in (BIN / "standins" / name).glob("*.dll"):
                shutil.copy(dll, folder)
        for name, content in (files or {}).items():
            path = folder / name
            path.parent.mkdir(parents=True, exist_ok=True)
            if isinstance(content, bytes):
                path.write_bytes(content)
            else:
                path.write_text(content)
        return folder

    # -- programs ---------------------------------------------------------------
    def start(self, cwd, exe, args=(), **popen):
        """Starts a Windows program (path relative to cwd, or absolute) under Wine.

        Its output goes to files (proc.out_path, proc.err_path), never to pipes: Wine's
        own background programs, started by whichever program comes first, inherit the
        handles and would hold a pipe open long after the program ended.
        """
        n = len(self.procs)
        out_path, err_path = self.root / f"proc{n}.out", self.root / f"proc{n}.err"
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            popen.setdefault("stdout", out)
            popen.setdefault("stderr", err)
            proc = subprocess.Popen([WINE, str(exe), *map(str, args)], cwd=str(cwd),
                                    env=self.env, **popen)
        proc.out_path, proc.err_path = out_path, err_path
        self.procs.append(proc)
        return proc

    def output(self, proc):
        return proc.out_path.read_text(encoding="utf-8", errors="replace").replace("\r\n", "\n")

    def run(self, cwd, exe, args=(), timeout=60):
        """Runs a Windows program to its end; returns (exit code, stdout text, stderr text)."""
        proc = self.start(cwd, exe, args)
        try:
            rc = proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            raise
        return rc, self.output(proc), proc.err_path.read_text(errors="replace")

    def wait_exit(self, proc, timeout=20):
        try:
            return proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def reg_add(self, key, name, value, kind="REG_SZ"):
        rc, _, err = self.run(self.root, "reg", ["add", key, "/v", name, "/t", kind, "/d",
                                                 str(value), "/f"])
        if rc != 0:
            raise AssertionError(f"reg add {key} {name} failed: {err[-300:]}")

    def chinese_locale(self):
        """Programs started from now on run under a Simplified Chinese locale (code
        page 936), with Debian's WenQuanYi standing in for the fonts a Chinese
        Windows has (SimSun is the dialog font), so Chinese texts show."""
        if self.font_replacements:
            return
        self.font_replacements = True
        for font in ("SimSun", "NSimSun", "Microsoft YaHei"):
            self.reg_add(FONT_REPLACEMENTS, font, "WenQuanYi Micro Hei")
        self.env.update({"LC_ALL": "zh_CN.UTF-8", "LANG": "zh_CN.UTF-8"})

    # -- windows ----------------------------------------------------------------
    def winctl(self, *args, msgbox=False, main=False, check=True, timeout=60):
        """Runs winctl.exe; returns (stdout text, exit code)."""
        flags = (["--msgbox"] if msgbox else []) + (["--main"] if main else [])
        rc, out, err = self.run(self.root, WINCTL, [*flags, *map(str, args)], timeout=timeout)
        if check and rc != 0:
            raise AssertionError(f"winctl {' '.join(map(str, args))} failed ({rc}): {err[-500:]}")
        return out, rc

    def wait_window(self, title, timeout=30, msgbox=False, main=False):
        _, rc = self.winctl("wait", title, int(timeout * 1000), msgbox=msgbox, main=main,
                            check=False, timeout=timeout + 30)
        return rc == 0

    def wait_hidden(self, title, timeout=30, main=True):
        _, rc = self.winctl("waithidden", title, int(timeout * 1000), main=main, check=False,
                            timeout=timeout + 30)
        return rc == 0

    def wait_gone(self, title, timeout=30, msgbox=False, main=False):
        _, rc = self.winctl("gone", title, int(timeout * 1000), msgbox=msgbox, main=main,
                            check=False, timeout=timeout + 30)
        return rc == 0

    def texts(self, title, msgbox=False, main=False):
        """{"text", "owner", "controls": [{"id", "cls", "visible", "enabled", "checked", "text"}]}"""
        out, _ = self.winctl("texts", title, msgbox=msgbox, main=main)
        lines = out.split("\n")
        controls = []
        for line in lines[2:]:
            if not line:
                continue
            cid, cls, vis, ena, chk, text = (line.split("\t", 5) + [""] * 6)[:6]
            controls.append({"id": int(cid), "cls": cls, "visible": vis == "1",
                             "enabled": ena == "1", "checked": chk == "1",
                             "text": _unescape(text)})
        return {"text": lines[0] if lines else "", "owner": lines[1] if len(lines) > 1 else "",
                "controls": controls}

    def control(self, title, cid, main=True):
        for c in self.texts(title, main=main)["controls"]:
            if c["id"] == cid:
                return c
        raise AssertionError(f"no control {cid} in {title!r}")

    def message_text(self, title):
        """The text of a message box (its static control 0xFFFF)."""
        for c in self.texts(title, msgbox=True)["controls"]:
            if c["id"] == 0xFFFF:
                return c["text"]
        raise AssertionError(f"no message box text in {title!r}")

    def click(self, title, control, msgbox=False, main=False):
        self.winctl("click", title, control, msgbox=msgbox, main=main)

    def items(self, title, cid):
        out, _ = self.winctl("items", title, cid, main=True)
        lines = [l for l in out.split("\n") if l]
        selected = int(lines[-1].split("\t")[1])
        return lines[:-1], selected

    def screenshot(self, name):
        SCREENSHOTS.mkdir(parents=True, exist_ok=True)
        path = SCREENSHOTS / f"{name}.png"
        subprocess.run(["import", "-display", self.env["DISPLAY"], "-window", "root", str(path)],
                       check=True, timeout=30, capture_output=True)
        return path

    # -- servers ----------------------------------------------------------------
    def http_server(self, root, handler=None):
        """Serves folder `root` on 127.0.0.1; returns the base URL ("http://127.0.0.1:N/")."""
        handler = handler or functools.partial(_QuietHandler, directory=str(root))
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.servers.append(server)
        return f"http://127.0.0.1:{server.server_address[1]}/"


def _unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), text)


def wait_until(predicate, timeout=10.0, interval=0.1):
    """Polls predicate until it is true or the time is up; returns its last value."""
    deadline = time.time() + timeout
    while True:
        value = predicate()
        if value or time.time() >= deadline:
            return value
        time.sleep(interval)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
