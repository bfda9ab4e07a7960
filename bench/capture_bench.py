#!/usr/bin/env python3
"""Capture throughput benchmark: the batch walk with the relay analysis, against
ndpiReader over the same traffic and against a copy-and-walk floor.

    python3 bench/capture_bench.py [--seed N] [--runs N] [--core N] [--mixed N] [--small N]

Profiles: mixed (60 to 1514 bytes of ordinary traffic with planted findings), pppoe
(the same traffic, every frame a PPPoE session frame as on the access adapter of a
PPPoE link; ndpiReader decodes PPPoE too) and small (64-byte frames only).

Builds bench_capture optimised and without sanitizers (build/bench), generates each
profile from the seed as a pcap and as driver batches, and runs everything pinned to
one core (taskset), each figure the median of the runs after a warm-up. Fails when
the detections differ from what the generator planted. Goals, for every profile in
one run: at least 10 times faster than ndpiReader per frame, within 2 times of the
floor; the last line says whether all were met (exit status 1 if not).
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(os.environ.get("PONDO_BUILD_DIR", os.path.join(ROOT, "build")), "bench")


def build():
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "--target", "bench_capture"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(BUILD, "bench", "bench_capture")


def pinned(core, args):
    return ["taskset", "-c", str(core)] + args


def time_ndpi(core, pcap, runs):
    ndpi = shutil.which("ndpiReader")
    if not ndpi:
        return None
    times = []
    for i in range(runs + 1):  # the first run warms the page cache and is dropped
        start = time.perf_counter()
        subprocess.run(pinned(core, [ndpi, "-i", pcap, "-q"]), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if i:
            times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--seed", type=int, default=20261210)
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("--core", type=int, default=(os.cpu_count() or 1) - 1)
    p.add_argument("--mixed", type=int, default=200000,
                   help="frames of the mixed and pppoe profiles")
    p.add_argument("--small", type=int, default=1000000, help="frames of the 64-byte profile")
    a = p.parse_args()
    runs = max(5, a.runs)
    exe = build()
    failed = False
    missed = []
    for profile, frames in (("mixed", a.mixed), ("pppoe", a.mixed), ("small", a.small)):
        pcap = os.path.join(BUILD, "capture-%s.pcap" % profile)
        subprocess.run([exe, "write", profile, str(a.seed), str(frames), pcap], check=True)
        out = subprocess.run(pinned(a.core, [exe, "run", profile, str(a.seed), str(frames), str(runs)]),
                             capture_output=True, text=True)
        print(out.stdout, end="")
        if out.returncode != 0:
            failed = True
            continue
        count = int(re.search(r"frames (\d+)", out.stdout).group(1))
        ours = float(re.search(r"scan ns_per_frame ([\d.]+)", out.stdout).group(1))
        floor = float(re.search(r"floor ns_per_frame ([\d.]+)", out.stdout).group(1))
        ndpi_s = time_ndpi(a.core, pcap, runs)
        if ndpi_s is None:
            print("ndpiReader not installed (libndpi-bin): no comparison")
        else:
            ndpi = ndpi_s * 1e9 / count
            print("ndpiReader ns_per_frame %.1f (median of %d, wall time incl. start-up)" % (ndpi, runs))
            print("ratio ndpiReader/scan %.1f (goal >= 10: %s)" % (ndpi / ours,
                                                                  "met" if ndpi / ours >= 10 else "missed"))
            if ndpi / ours < 10:
                missed.append("%s ndpiReader/scan" % profile)
        print("ratio scan/floor %.2f (goal <= 2: %s)" % (ours / floor,
                                                       "met" if ours / floor <= 2 else "missed"))
        if ours / floor > 2:
            missed.append("%s scan/floor" % profile)
        print()
        os.remove(pcap)
    if failed:
        print("FAIL: detections differ from the generated traffic")
    print("goals: " + ("missed: " + ", ".join(missed) if missed else "all met in this run"))
    return 1 if failed or missed else 0


if __name__ == "__main__":
    sys.exit(main())
