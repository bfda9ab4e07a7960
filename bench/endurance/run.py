#!/usr/bin/env python3
"""Endurance benchmark: long use of the real Ostrel.dll and Pondo.exe under Wine,
with the counters that show slow leaks and busy loops.

    python3 bench/endurance/run.py                 # the full run (about 20 minutes)
    python3 bench/endurance/run.py --short         # the short run the tests use
    python3 bench/endurance/run.py --only library  # one part

Library: endurance_driver.exe loads the real Ostrel.dll in its own process and runs
link up / link request / findings read / link down cycles, with a second
initThread half way; then a quiet stretch with the link down and one with the link
up (capture switched on, no capture adapter), timing the process's CPU.
Dialer: the real Pondo.exe against the rasapi32 stand-in, worked through connect
and hang-up cycles by the same driver, which samples Pondo's counters.

The report compares the end figures with those after the warm-up. Goals: no growth
in handles, threads, GDI objects or windows beyond a small constant; private bytes
within 1 MiB of the warm-up figure; idle CPU with the link up under 0.5% of one
core. The exit code is 0 when every goal is met.
"""

import argparse
import http.server
import json
import os
import platform
import subprocess
import shutil
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
WINE_TESTS = HERE.parents[1] / "tests" / "wine"
sys.path.insert(0, str(WINE_TESTS))
from harness import BIN, TITLE, WINE, WINE_BITS, WineEnv  # noqa: E402

DRIVER = BIN / "drivers" / "endurance_driver.exe"
MIB = 1 << 20

# Counts that may differ by a small constant between warm-up and end (a pass in
# progress holds a snapshot handle, a thread of the system's own comes or goes).
SMALL = {"handles": 8, "threads": 2, "gdi": 4, "windows": 2}
PRIVATE_BOUND = MIB
CPU_BOUND = 0.5  # percent of one core

# hold: every N-th dialer cycle stays connected hold_s, long enough for the
# dialer's findings check (every 30 s) to run.
FULL = {"library_cycles": 1000, "dialer_cycles": 200, "quiet_s": 60, "settle_s": 15,
        "hold_every": 50, "hold_s": 35}
SHORT = {"library_cycles": 60, "dialer_cycles": 20, "quiet_s": 10, "settle_s": 12,
         "hold_every": 10, "hold_s": 32}


def parse(text):
    """The driver's lines: samples by phase, cpu by phase, cycles, failures."""
    out = {"samples": {}, "cpu": {}, "cycles": {}, "fail": [], "ok": False, "order": []}
    for line in text.splitlines():
        words = line.split()
        if not words:
            continue
        fields = dict(w.split("=", 1) for w in words[2:] if "=" in w)
        if words[0] == "sample":
            out["samples"][words[1]] = {k: int(v) for k, v in fields.items()}
            out["order"].append(words[1])
        elif words[0] == "cpu":  # repeated phases add up
            cpu = out["cpu"].setdefault(words[1], {"ms": 0, "cpu_ms": 0})
            for k, v in fields.items():
                cpu[k] = cpu.get(k, 0) + int(v)
        elif words[0] == "cycles":
            out["cycles"][words[1]] = {k: int(v) for k, v in fields.items()}
        elif words[0] == "FAIL":
            out["fail"].append(line)
        elif line.strip() == "RESULT ok":
            out["ok"] = True
    return out


def growth(result, start="warmup", end="end"):
    a, b = result["samples"].get(start), result["samples"].get(end)
    if not a or not b:
        return None
    return {k: b[k] - a[k] for k in a}


def verdicts(result, counters):
    """[(what, value, bound, ok)] for the growth from warm-up to end."""
    g = growth(result)
    if g is None:
        return [("samples", "missing", "-", False)]
    rows = [(f"{k} growth", g[k], f"<= {SMALL[k]}", g[k] <= SMALL[k]) for k in counters]
    rows.append(("private bytes growth", g["private"], f"<= {PRIVATE_BOUND}",
                 g["private"] <= PRIVATE_BOUND))
    return rows


def cpu_percent(cpu):
    return 100.0 * cpu["cpu_ms"] / cpu["ms"] if cpu and cpu.get("ms") else None


def run_library(env, cycles, quiet_s, settle_s, ostrel="real", files=None, update_every=10,
                timeout=None):
    app = env.app("library", pondo=False, ostrel=ostrel, standins=("packet",), files=files)
    shutil.copy(DRIVER, app)
    # No packet-standin.ini: the capture finds no adapter of its own to open.
    args = ["library", f"--cycles={cycles}", f"--warmup={max(10, cycles // 20)}",
            f"--second-init={cycles // 2}", f"--settle-ms={settle_s * 1000}",
            f"--quiet-ms={quiet_s * 1000}"]
    if ostrel != "real":
        args.append("--replies=0")
    if update_every:
        # Every update client the run starts finds an empty folder on a loopback
        # server (no description), ends, and is forgotten at the next link down.
        base = env.http_server(None, handler=_CountingHandler)
        args += [f"--update-url={base}updates/", f"--update-every={update_every}"]
    mac = access_mac(env, app)
    if mac:
        args.append(f"--mac={mac}")
    bound = timeout or (120 + cycles * 0.5 + 3 * settle_s + 2 * quiet_s)
    _CountingHandler.requests = 0
    rc, out, err = env.run(app, DRIVER.name, args, timeout=bound)
    result = parse(out)
    result.update({"rc": rc, "text": out, "stderr": err[-2000:], "args": args,
                   "update_requests": _CountingHandler.requests})
    return result


class _CountingHandler(http.server.BaseHTTPRequestHandler):
    """An update server with nothing to offer: every request gets 404."""
    requests = 0

    def do_GET(self):
        type(self).requests += 1
        self.send_error(404)

    def log_message(self, *args):
        pass


def access_mac(env, app):
    """The hardware address of an Ethernet adapter Wine lists, so the library finds
    an access address as it would on a subscriber's machine."""
    rc, out, _ = env.run(app, DRIVER.name, ["adapters"], timeout=60)
    if rc != 0:
        return None
    for line in out.splitlines():
        parts = line.split(" ", 3)
        if len(parts) >= 3 and parts[1] == "6" and parts[2] != "00:00:00:00:00:00":
            return parts[2]
    return None


def run_dialer(env, cycles, hold_every=0, hold_s=35, timeout=None):
    from dialer_setup import register_adapters  # lands with the dialer's Wine tests
    app = env.app("dialer", ostrel="real", standins=("rasapi32", "packet"))
    register_adapters(env, app)
    # The access server: the PPPoE device, quick dial states, any credentials.
    (app / "rasapi32-standin.ini").write_text(
        "device pppoe WAN Miniport (PPPOE)\ndelay 20\n")
    shutil.copy(DRIVER, app)
    pondo = env.start(app, "Pondo.exe")
    if not env.wait_window(TITLE, main=True, timeout=60):
        return {"rc": -1, "fail": ["FAIL the dialer's window did not open"], "samples": {},
                "cpu": {}, "cycles": {}, "ok": False, "text": "", "order": []}
    holds = cycles // hold_every if hold_every else 0
    bound = timeout or (120 + cycles * 10 + holds * hold_s)
    rc, out, err = env.run(app, DRIVER.name,
                           ["dialer", f"--cycles={cycles}", f"--warmup={max(5, cycles // 20)}",
                            f"--hold-every={hold_every}", f"--hold-ms={hold_s * 1000}"],
                           timeout=bound)
    result = parse(out)
    result.update({"rc": rc, "text": out, "stderr": err[-2000:]})
    env.winctl("close", TITLE, main=True, check=False)
    result["exit"] = env.wait_exit(pondo, timeout=30)
    return result


def machine():
    cpu = ""
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    wine = ""
    try:
        wine = subprocess.run([WINE, "--version"], capture_output=True, text=True,
                              timeout=30).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        pass
    return (f"{platform.node()}: {cpu}, {os.cpu_count()} cores, {platform.system()} "
            f"{platform.release()}, {wine}, {WINE_BITS}-bit build")


def table(result, counters):
    keys = ["handles", "threads", "private"] + [k for k in counters if k not in
                                                ("handles", "threads")]
    lines = ["  phase      " + "".join(f"{k:>12}" for k in keys)]
    for phase in result["order"]:
        s = result["samples"][phase]
        lines.append(f"  {phase:<10} " + "".join(f"{s.get(k, 0):>12}" for k in keys))
    return lines


def report(library, dialer, settings):
    lines = [f"Endurance run, {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}",
             f"Machine: {machine()}", f"Settings: {settings}", ""]
    met = True
    if library is not None:
        c = library["cycles"].get("library", {})
        lines.append(f"Library: {c.get('n', '?')} cycles after warm-up in "
                     f"{c.get('ms', 0) / 1000:.1f} s (process CPU {c.get('cpu_ms', 0) / 1000:.1f} s:"
                     f" the detection passes they ask for), second initThread half way")
        if library.get("update_requests") is not None:
            lines.append(f"  update clients started by UpdateUrl requests fetched "
                         f"{library['update_requests']} descriptions (all 404)")
        lines += table(library, ("gdi",))
        for what, value, bound, ok in verdicts(library, ("handles", "threads", "gdi")):
            lines.append(f"  {what:<24} {value:>12}  {bound:<12} {'ok' if ok else 'NOT MET'}")
            met &= ok
        for phase, label in (("quiet-down", "link down"), ("quiet-up", "link up")):
            pct = cpu_percent(library["cpu"].get(phase))
            if pct is None:
                continue
            cpu = library["cpu"][phase]
            ok = phase != "quiet-up" or pct < CPU_BOUND
            lines.append(f"  idle CPU, {label:<13} {cpu['cpu_ms']:>8} ms in {cpu['ms'] / 1000:.0f} s"
                         f" = {pct:.3f}% of a core  {'< 0.5%' if phase == 'quiet-up' else ''}"
                         f" {'ok' if ok else 'NOT MET'}")
            met &= ok
        for f in library["fail"]:
            lines.append("  " + f)
        met &= library["ok"]
        lines.append("")
    if dialer is not None:
        c = dialer["cycles"].get("dialer", {})
        lines.append(f"Dialer: {c.get('n', '?')} connect and hang-up cycles after warm-up in "
                     f"{c.get('ms', 0) / 1000:.1f} s")
        lines += table(dialer, ("gdi", "user", "windows"))
        for what, value, bound, ok in verdicts(dialer, ("handles", "threads", "gdi", "windows")):
            lines.append(f"  {what:<24} {value:>12}  {bound:<12} {'ok' if ok else 'NOT MET'}")
            met &= ok
        held = dialer["cpu"].get("connected")
        if held:
            lines.append(f"  connected and left alone {held['ms'] / 1000:.0f} s in all: Pondo's CPU "
                         f"{held['cpu_ms']} ms = {cpu_percent(held):.3f}% of a core")
        for f in dialer["fail"]:
            lines.append("  " + f)
        met &= dialer["ok"]
        lines.append("")
    lines.append("All goals met." if met else "Some goals NOT met.")
    return "\n".join(lines), met


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--short", action="store_true", help="the short run of the tests")
    ap.add_argument("--only", choices=("library", "dialer"))
    ap.add_argument("--library-cycles", type=int)
    ap.add_argument("--dialer-cycles", type=int)
    ap.add_argument("--quiet-s", type=int, help="length of each quiet stretch")
    ap.add_argument("--ostrel", choices=("real", "standin"), default="real")
    ap.add_argument("--json", type=Path, help="also write the parsed figures here")
    args = ap.parse_args()
    settings = dict(SHORT if args.short else FULL)
    for key in ("library_cycles", "dialer_cycles", "quiet_s"):
        if getattr(args, key) is not None:
            settings[key] = getattr(args, key)
    if not DRIVER.exists():
        sys.exit(f"{DRIVER} is missing: build the Windows tree first (scripts/build)")
    library = dialer = None
    with WineEnv(name="endurance-bench") as env:
        if args.only in (None, "library"):
            library = run_library(env, settings["library_cycles"], settings["quiet_s"],
                                  settings["settle_s"], ostrel=args.ostrel)
        if args.only in (None, "dialer"):
            dialer = run_dialer(env, settings["dialer_cycles"], settings["hold_every"],
                                settings["hold_s"])
    text, met = report(library, dialer, settings)
    print(text)
    if args.json:
        args.json.write_text(json.dumps({"library": library, "dialer": dialer,
                                         "settings": settings, "met": met}, indent=1))
    sys.exit(0 if met else 1)


if __name__ == "__main__":
    main()
