"""A short endurance run of the real deliverables (bench/endurance/run.py has the
full one): tens of library and dialer cycles with the process counters taken after
a warm-up and at the end. Bounds are generous: they catch what grows with every
cycle (a handle, a thread, a window or a GDI object per cycle) and a thread that
spins while nothing happens, not the benchmark's figures."""

import sys
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parents[1] / "bench" / "endurance"))
from harness import WineEnv  # noqa: E402
import run as endurance  # noqa: E402

MIB = 1 << 20
# Growth allowed over the short run's cycles: a few objects for a pass that is
# under way at the end sample, far less than one per cycle.
BOUNDS = {"handles": 10, "threads": 2, "gdi": 10, "windows": 2, "private": 2 * MIB}
# A spinning thread takes a whole core; an idle library takes next to nothing.
IDLE_CPU_PERCENT = 25


class Endurance(unittest.TestCase):
    def check_growth(self, result, counters):
        self.assertEqual(result["fail"], [], result["text"] + result.get("stderr", ""))
        self.assertTrue(result["ok"], result["text"] + result.get("stderr", ""))
        g = endurance.growth(result)
        self.assertIsNotNone(g, result["text"])
        for key in counters + ("private",):
            self.assertLessEqual(g[key], BOUNDS[key], f"{key} grew by {g[key]}:\n" + result["text"])
        # The counters were really read (a zero would hide any growth).
        warm = result["samples"]["warmup"]
        for key in ("handles", "threads", "private"):
            self.assertGreater(warm[key], 0, result["text"])

    def test_library_cycles_leave_no_growth_and_no_spinning(self):
        with WineEnv(self) as env:
            result = endurance.run_library(env, cycles=60, quiet_s=10, settle_s=12)
        print(endurance.report(result, None, "short")[0])
        self.check_growth(result, ("handles", "threads", "gdi"))
        self.assertEqual(result["cycles"]["library"]["n"], 50)
        for phase in ("quiet-down", "quiet-up"):
            self.assertLess(endurance.cpu_percent(result["cpu"][phase]), IDLE_CPU_PERCENT,
                            result["text"])

    def test_a_library_that_leaks_per_cycle_fails_the_bounds(self):
        # The scriptable stand-in keeps a handle and 64 KiB at every link up.
        with WineEnv(self) as env:
            result = endurance.run_library(env, cycles=60, quiet_s=0, settle_s=1,
                                           ostrel="standin",
                                           files={"companion-standin.ini": "[standin]\nleak=1\n"})
        self.assertTrue(result["ok"], result["text"])
        g = endurance.growth(result)
        self.assertGreater(g["handles"], BOUNDS["handles"], result["text"])
        self.assertGreater(g["private"], BOUNDS["private"], result["text"])
        self.assertFalse(endurance.report(result, None, "short")[1])

    def test_dialer_connect_cycles_leave_no_growth(self):
        with WineEnv(self) as env:
            # One cycle stays connected past a findings check of the dialer.
            result = endurance.run_dialer(env, cycles=20, hold_every=10, hold_s=32)
        print(endurance.report(None, result, "short")[0])
        self.check_growth(result, ("handles", "threads", "gdi", "windows"))
        self.assertEqual(result["cycles"]["dialer"]["n"], 15)
        self.assertGreaterEqual(result["cpu"]["connected"]["ms"], 32000)
        self.assertEqual(result["exit"], 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
