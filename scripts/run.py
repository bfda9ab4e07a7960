"""Starts the dialer under Wine for a person to look at (see scripts/run).

The application folder gets Pondo.exe, the real Ostrel.dll, the stand-ins that
play the access network where Wine has none, and every file in scripts/run-app/
(their scripts). scripts/run-app/prepare.py, when present, runs before the dialer
starts, with `env` (the harness) and `app` (the folder), and sets up the machine
around the dialer.

With a display (DISPLAY set) the dialer opens there idle, for the person to drive:
nothing is typed or dialled for them and their display is never captured. Without
one it runs on a private Xvfb, where scripts/run-app/demo.py signs in and dials,
and a screenshot of the connected dialer is saved.
"""

import os
import sys
from pathlib import Path

root = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(root / "tests" / "wine"))
import harness  # noqa: E402

APP_FILES = root / "scripts" / "run-app"


def main():
    headless = not os.environ.get("DISPLAY")
    env = harness.WineEnv(name="run")
    if not headless:  # use the person's display
        env.display.start = lambda: os.environ["DISPLAY"]
        env.display.stop = lambda: None
    with env:
        files = {}
        if APP_FILES.is_dir():
            files = {f.name: f.read_bytes() for f in APP_FILES.iterdir()
                     if f.is_file() and f.suffix != ".py"}
        ostrel = "real" if (harness.BIN / "Ostrel.dll").exists() else "standin"
        app = env.app(ostrel=ostrel, standins=("rasapi32", "packet"), files=files)
        prepare = APP_FILES / "prepare.py"
        if prepare.exists():
            exec(compile(prepare.read_text(), str(prepare), "exec"), {"env": env, "app": app})
        proc = env.start(app, "Pondo.exe")
        if not env.wait_window(harness.TITLE, timeout=60, main=True):
            print("the dialer did not open its window; see", proc.err_path, file=sys.stderr)
            return 1
        if not headless:
            print("the dialer is open on your display; close it (Exit) to end")
            proc.wait()
            return 0
        demo = APP_FILES / "demo.py"
        if demo.exists():
            exec(compile(demo.read_text(), str(demo), "exec"), {"env": env, "app": app})
        shot = env.screenshot("pondo")
        print(f"screenshot: {shot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
