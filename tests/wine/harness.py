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

A standard user: WineEnv(test, user=StandardUser()) runs every Windows program as
an unprivileged Unix user with a Wine prefix of its own, so what root owns (a
machine-wide program folder, the all-users phonebook folder) is really read-only
to it. Its files are under <win build>/wine-work/standard-user/ (owned by it).

Environment: PONDO_WIN_BUILD (the tree Wine runs; default build/<scripts/wine-tree>),
PONDO_SOURCE_DIR, PONDO_HOST_BUILD. Everything a test leaves is under
<win build>/wine-work/<test id>/. Programs a test starts are killed at the end
(wineserver -k), the display is stopped, servers are shut down.
"""

import fcntl
import functools
import hashlib
import http.server
import os
import pwd
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


def resource_ids(path):
    """The numbers a resource.h #defines, by name."""
    return {name: int(value) for name, value in
            re.findall(r"^#define\s+(\w+)\s+(\d+)\b", Path(path).read_text(), re.M)}


class _Ids:
    def __init__(self, ids):
        self.__dict__.update(ids)


# The dialer's resource and control ids, from the header the program is built with
# (ID.IDC_CONNECT, ...).
ID = _Ids(resource_ids(SOURCE / "dialer" / "resource.h"))
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


def wine_env(display=None, prefix=PREFIX, user=None):
    env = dict(os.environ)
    if user is not None:
        # The user's own home and name: Wine takes the Windows user's name and
        # profile folder from them.
        env.update({"HOME": str(user.home), "USER": user.name, "LOGNAME": user.name})
        env.pop("XAUTHORITY", None)
    env.update({
        "WINEPREFIX": str(prefix),
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


def _init_prefix(prefix, env, as_user):
    """Makes a fresh prefix: Wine's own set-up, a virtual desktop and the fonts."""
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **as_user)
    subprocess.run([WINE, "wineboot", "--init"], env=env, check=True, timeout=300, **quiet)
    # A virtual desktop: without a window manager on the X display Wine would
    # draw windows with no title bar or frame, unlike what a user sees.
    for key, name, value in (("HKCU\\Software\\Wine\\Explorer", "Desktop", "Default"),
                             ("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default",
                              "1024x768")):
        subprocess.run([WINE, "reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"],
                       env=env, check=True, timeout=120, **quiet)
    # Wine's own fonts (Tahoma for dialogs, Marlett for the caption buttons)
    # where Windows keeps fonts: this Wine build does not find them in its
    # data folder, and windows would otherwise show "0 1 r" for their buttons.
    fonts = prefix / "drive_c" / "windows" / "Fonts"
    fonts.mkdir(parents=True, exist_ok=True)
    for font in Path("/usr/share/wine/fonts").glob("*.ttf"):
        shutil.copy(font, fonts)
    subprocess.run([WINESERVER, "-w"], env=env, timeout=120, **as_user)


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
        _init_prefix(PREFIX, wine_env(), {})
        ready.write_text("ok\n")


class StandardUser:
    """An unprivileged Unix user (made on first use; needs root) with its own Wine
    prefix. In that prefix the all-users phonebook folder belongs to root, as the
    system's folders do on Windows, so the user cannot write it."""

    NAME = "pondo-subscriber"

    def __init__(self):
        if os.geteuid() != 0:
            raise RuntimeError("the standard-user tests make and switch to a Unix user: run as root")
        try:
            entry = pwd.getpwnam(self.NAME)
        except KeyError:
            subprocess.run(["useradd", "--system", "--user-group", "--no-create-home",
                            "--home-dir", "/nonexistent", "--shell", "/usr/sbin/nologin",
                            self.NAME], check=True, timeout=60)
            entry = pwd.getpwnam(self.NAME)
        self.name, self.uid, self.gid = self.NAME, entry.pw_uid, entry.pw_gid
        self.base = WORK / "standard-user"
        self.base.mkdir(parents=True, exist_ok=True)
        os.chown(self.base, self.uid, self.gid)
        if not self.can_write(self.base):
            # The build tree is not reachable for other users (a checkout under
            # /root, say): work from a folder of the user's own instead.
            tag = hashlib.sha1(str(WIN_BUILD).encode()).hexdigest()[:10]
            self.base = Path("/var/tmp") / f"pondo-standard-user-{tag}"
            self.base.mkdir(parents=True, exist_ok=True)
            os.chown(self.base, self.uid, self.gid)
        self.home = self.base / "home"
        self.prefix = self.base / "prefix"
        self.work = self.base / "work"
        for folder in (self.home, self.work):
            folder.mkdir(exist_ok=True)
            os.chown(folder, self.uid, self.gid)
        # The Windows programs the tests run, where the user can read them.
        self.bin = BIN if self.can_read(WINCTL) else self._copy_bin()

    @property
    def popen(self):
        """Keyword arguments that run a subprocess as this user."""
        return {"user": self.uid, "group": self.gid, "extra_groups": []}

    def give(self, path):
        """Makes a path (and everything in it) the user's own."""
        path = Path(path)
        for item in [path, *path.rglob("*")] if path.is_dir() else [path]:
            os.lchown(item, self.uid, self.gid)

    def can_write(self, path):
        return subprocess.run(["test", "-w", str(path)], timeout=30, **self.popen).returncode == 0

    def can_read(self, path):
        return subprocess.run(["test", "-r", str(path)], timeout=30, **self.popen).returncode == 0

    def _copy_bin(self):
        copy = self.base / "bin"
        if copy.exists():
            shutil.rmtree(copy)
        shutil.copytree(BIN, copy)
        self.give(copy)
        return copy

    def profile(self):
        """The user's Windows profile folder, as a Unix path."""
        return self.prefix / "drive_c" / "users" / self.name

    def ensure_prefix(self):
        ready = self.prefix / ".pondo-ready-3"
        with open(str(self.base / "prefix.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if ready.exists():
                return
            if self.prefix.exists():
                shutil.rmtree(self.prefix)
            _init_prefix(self.prefix, wine_env(prefix=self.prefix, user=self), self.popen)
            # The all-users phonebook's folder: the system's, not the user's.
            pbk = self.prefix / "drive_c" / "ProgramData" / "Microsoft" / "Network" / \
                "Connections" / "Pbk"
            pbk.mkdir(parents=True, exist_ok=True)
            for folder in (pbk, pbk.parent, pbk.parent.parent):
                os.chown(folder, 0, 0)
                folder.chmod(0o755)
            ready.write_text("ok\n")
            self.give(ready)


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
    def __init__(self, test=None, name=None, user=None):
        """user: a StandardUser to run every Windows program as (with its own
        prefix), or None for root's shared prefix."""
        tid = name or (test.id() if test is not None else "manual")
        self.id = re.sub(r"[^A-Za-z0-9_.-]", "_", tid)
        self.user = user
        self.root = (user.work if user else WORK) / self.id
        self.prefix = user.prefix if user else PREFIX
        self.bin = user.bin if user else BIN
        self.as_user = user.popen if user else {}
        self.display = Display()
        self.procs = []
        self.servers = []
        self.font_replacements = False
        self.restore_registry = []  # (key, name, previous value or None), undone at exit

    # -- lifetime ---------------------------------------------------------------
    def __enter__(self):
        if self.root.exists():
            shutil.rmtree(self.root)
        self.root.mkdir(parents=True)
        if self.user:
            self.user.give(self.root)
            self.user.ensure_prefix()
        else:
            ensure_prefix()
        self.env = wine_env(self.display.start(), self.prefix, self.user)
        # The dialer's own files in the user's profile (credentials of a
        # machine-wide install) belong to the test that made them: the prefix is
        # shared, and they would fill the next test's fields.
        shutil.rmtree(self.profile() / "AppData" / "Roaming" / "Pondo", ignore_errors=True)
        # One persistent wineserver for the test keeps each program start fast.
        subprocess.run([WINESERVER, "-p"], env=self.env, timeout=30, **self.as_user)
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
        for key, name, previous in reversed(self.restore_registry):
            try:
                if previous is None:
                    self.run(self.root, "reg", ["delete", key, "/v", name, "/f"], timeout=60)
                else:
                    self.reg_add(key, name, previous[1], previous[0])
            except Exception:
                pass
        subprocess.run([WINESERVER, "-k"], env=self.env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **self.as_user)
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=30, **self.as_user)
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
        self.write_files(folder, files or {})
        return folder

    def write_files(self, folder, files):
        """Writes {relative name: str or bytes} into folder (the test user's own)."""
        for name, content in files.items():
            path = folder / name
            path.parent.mkdir(parents=True, exist_ok=True)
            if isinstance(content, bytes):
                path.write_bytes(content)
            else:
                path.write_text(content)
        if self.user:
            self.user.give(folder)

    def windows_path(self, unix_path):
        """The Windows path of a file of this prefix's drive C:."""
        relative = Path(unix_path).relative_to(self.prefix / "drive_c")
        return "C:\\" + str(relative).replace("/", "\\")

    def profile(self):
        """The Windows profile folder of the user the programs run as."""
        name = self.user.name if self.user else (os.environ.get("USER") or
                                                 pwd.getpwuid(os.geteuid()).pw_name)
        return self.prefix / "drive_c" / "users" / name

    def system32(self):
        """The prefix's system folder as the programs under test see it (their
        GetSystemDirectory): the one of their own bitness."""
        return self.prefix / "drive_c" / "windows" / "system32"

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
                                    env=self.env, **self.as_user, **popen)
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

    def reg_query(self, key, name):
        """(type, data text) of a registry value, or None when it is missing."""
        rc, out, _ = self.run(self.root, "reg", ["query", key, "/v", name])
        if rc != 0:
            return None
        for line in out.splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0] == name:
                return parts[1], parts[2].strip() if len(parts) == 3 else ""
        return None

    def reg_set_for_test(self, key, name, value, kind="REG_SZ"):
        """Sets a value for this test only: the old one comes back at the end."""
        previous = self.reg_query(key, name)
        if previous is not None and previous[0] == "REG_DWORD":
            previous = (previous[0], str(int(previous[1], 0)))
        self.restore_registry.append((key, name, previous))
        self.reg_add(key, name, value, kind)

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
        winctl = self.bin / "drivers" / "winctl.exe"
        rc, out, err = self.run(self.root, winctl, [*flags, *map(str, args)], timeout=timeout)
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

    def texts(self, title, msgbox=False, main=False, nested=False):
        """{"text", "owner", "controls": [{"id", "cls", "visible", "enabled", "checked", "text"}]}
        nested: every descendant, the controls of pages inside the window too."""
        out, _ = self.winctl("alltexts" if nested else "texts", title, msgbox=msgbox, main=main)
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

    def listview(self, title, cid):
        """(first column's width, client width, [(width the text needs, text)]) of a
        list view, in pixels."""
        out, _ = self.winctl("listview", title, cid)
        lines = out.split("\n")
        column = int(lines[0].split()[1])
        client = int(lines[1].split()[1])
        items = [(int(w), t) for w, _, t in (l.partition("\t") for l in lines[2:] if l)]
        return column, client, items

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
