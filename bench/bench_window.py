#!/usr/bin/env python3
"""The window's weight and speed: the real websetup under Xvfb against
maker-services, one person's happy road per run (bench/window.sh runs it).

    bench_window.py --build DIR [--runs N] [--keep] [--carousel SECONDS]

Per run: time from exec to the first frame on the screen (the window's
probe file appears right after its first frame is presented), resident
memory one second after that on the setting page, the peak resident
memory from Install to the end (the download at full speed, verification,
install, the product started), the longest stall of the window thread over
the whole run (the message loop's own measure, from the probe's
loop.json) and what it was doing. Then the medians and maxima of N runs,
and the size of the executable stripped.

With --carousel, one more run downloads slowly and stays on the running
page for SECONDS while the carousel slides every 7 s: its resident memory
must not grow with the slides.
"""

import argparse
import glob
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import driver  # noqa: E402

GOALS = {  # what the window must stay within on a 2-CPU machine under Xvfb
    "first_frame_ms": ("median", 150, "max", 250),
    "rss_setting_mib": ("median", 40, None, None),
    "rss_peak_mib": ("median", 48, None, None),
    "stall_ms": ("max", 50, None, None),
}


def status_kib(pid, field):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except (OSError, ValueError, IndexError):
        pass
    return None


class Sampler:
    """Samples VmRSS of `pid` every 5 ms from start() to stop(); keeps the peak.

    With `smaps_path`, the process's memory map at the peak goes there, to
    show what the peak is made of."""

    def __init__(self, pid, smaps_path=None):
        self.pid = pid
        self.peak_kib = 0
        self.smaps_path = smaps_path
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self._stop.is_set():
            rss = status_kib(self.pid, "VmRSS")
            if rss is None:
                return
            if rss > self.peak_kib:
                self.peak_kib = rss
                if self.smaps_path:
                    try:
                        with open(f"/proc/{self.pid}/smaps") as src:
                            text = src.read()
                        with open(self.smaps_path, "w") as dst:
                            dst.write(text)
                    except OSError:
                        pass
            time.sleep(0.005)

    def start(self):
        self._thread.start()
        return self

    def stop(self):
        self._stop.set()
        self._thread.join()
        return self.peak_kib


def one_run(index, artifacts, keep=False):
    road = driver.Road(f"run-{index}", artifacts, variant="websetup")
    try:
        env = road.env()
        log = open(os.path.join(road.root, "websetup.out"), "w")
        started = time.monotonic()
        proc = subprocess.Popen([road.exe], env=env, stdout=log, stderr=subprocess.STDOUT,
                                cwd=os.path.join(road.root, "setup"))
        road.setups.append(proc)
        first = None
        deadline = started + 30
        while first is None and time.monotonic() < deadline and proc.poll() is None:
            if glob.glob(os.path.join(road.probe_dir, "window-*.json")):
                first = time.monotonic()
                break
            time.sleep(0.001)
        if first is None:
            raise driver.RoadFailed("no window within 30 s")
        road.wait_page("setting")
        time.sleep(max(0.0, first + 1.0 - time.monotonic()))
        rss_setting = status_kib(proc.pid, "VmRSS")
        smaps = os.path.join(road.root, "smaps-at-peak.txt") if keep else None
        sampler = Sampler(proc.pid, smaps).start()
        road.click("license_checkbox", what="ticked the licence box")
        road.wait(lambda: road.control("license_checkbox")["selected"], 5, "the licence box")
        road.click("install_btn", what="clicked Install")
        road.wait_page("running")
        road.wait(road.product_pid, 120, "the product to start")
        road.wait_exit(proc, 60)
        rss_peak = sampler.stop()
        if not road.installed_exe():
            raise driver.RoadFailed("the product was not installed")
        with open(os.path.join(road.probe_dir, "loop.json")) as f:
            loop = json.load(f)
        return {
            "first_frame_ms": (first - started) * 1000,
            "rss_setting_mib": rss_setting / 1024,
            "rss_peak_mib": rss_peak / 1024,
            "stall_ms": loop["longest_stall_ms"],
            "stall_what": loop["what"],
        }
    finally:
        road.close()


CAROUSEL_GROWTH_MIB = 1.0  # what a run of slides may add at most
DOTS = ("image_play_option1", "image_play_option2", "image_play_option3")


def carousel_run(artifacts, seconds):
    """RSS once a second on the running page while the carousel slides, the
    download held slow (50 kB/s a connection) so the page stays."""
    road = driver.Road("carousel", artifacts, variant="websetup")
    try:
        road.mode("files-faults", "rate=50000")
        proc = road.start_setup()
        road.wait_page("setting")
        road.click("license_checkbox", what="ticked the licence box")
        road.wait(lambda: road.control("license_checkbox")["selected"], 5, "the licence box")
        road.click("install_btn", what="clicked Install")
        road.wait_page("running")
        time.sleep(1.0)  # the banners arrive and take their place
        samples, frames, slides = [], [], 0
        end = time.monotonic() + seconds
        while time.monotonic() < end and proc.poll() is None:
            samples.append(status_kib(proc.pid, "VmRSS") / 1024)
            shown = [d for d in DOTS if (road.control(d) or {}).get("selected")]
            if shown and frames and shown[0] != frames[-1]:
                slides += 1
            frames.extend(shown[:1])
            time.sleep(1.0)
        if road.page() != "running":
            raise driver.RoadFailed("the download ended before the carousel run did")
        return {"first": samples[0], "last": samples[-1], "max": max(samples), "slides": slides}
    finally:
        road.close()


def stripped_size(exe):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "websetup")
        subprocess.run(["strip", "-o", out, exe], check=True)
        return os.path.getsize(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--keep", action="store_true", help="keep each run's folder (logs, probe)")
    ap.add_argument("--carousel", type=int, default=0, metavar="SECONDS",
                    help="also stay SECONDS on the running page while the carousel slides")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    driver.BUILD, driver.BIN = build, os.path.join(build, "bin")
    driver.SAMPLE = os.path.join(build, "sample-installer")
    artifacts = os.path.join(build, "bench", "window")
    shutil.rmtree(artifacts, ignore_errors=True)
    os.makedirs(artifacts)

    # The road's own chatter goes to a file; the tables go to the terminal.
    runs = []
    chatter = open(os.path.join(artifacts, "roads.log"), "w")
    for i in range(1, args.runs + 1):
        real_stdout, sys.stdout = sys.stdout, chatter
        try:
            r = one_run(i, artifacts, args.keep)
        finally:
            sys.stdout = real_stdout
        runs.append(r)
        print(f"run {i}: first frame {r['first_frame_ms']:6.1f} ms, RSS setting "
              f"{r['rss_setting_mib']:5.1f} MiB, peak {r['rss_peak_mib']:5.1f} MiB, longest stall "
              f"{r['stall_ms']:6.1f} ms ({r['stall_what']})", flush=True)
        if not args.keep:
            shutil.rmtree(os.path.join(artifacts, f"run-{i}"), ignore_errors=True)

    exe = os.path.join(build, "bin", "websetup")
    size = stripped_size(exe)
    print()
    print(f"websetup under Xvfb, {len(runs)} runs, {os.cpu_count()} CPUs, "
          f"load {' '.join(open('/proc/loadavg').read().split()[:3])}")
    print()
    print("| measure | median | max | goal |")
    print("| --- | --- | --- | --- |")
    names = {
        "first_frame_ms": ("first frame", "ms"),
        "rss_setting_mib": ("RSS at the setting page", "MiB"),
        "rss_peak_mib": ("RSS peak, Install to the end", "MiB"),
        "stall_ms": ("longest window-thread stall", "ms"),
    }
    met = []
    for key, (label, unit) in names.items():
        values = [r[key] for r in runs]
        med, top = statistics.median(values), max(values)
        kind, limit, kind2, limit2 = GOALS[key]
        goal = f"{kind} ≤ {limit}" + (f", {kind2} ≤ {limit2}" if kind2 else "")
        ok = ({"median": med, "max": top}[kind] <= limit and
              (kind2 is None or {"median": med, "max": top}[kind2] <= limit2))
        met.append(ok)
        print(f"| {label} ({unit}) | {med:.1f} | {top:.1f} | {goal} {'met' if ok else 'MISSED'} |")
    print(f"| executable, stripped (KiB) | {size / 1024:.0f} | | |")
    worst = max(runs, key=lambda r: r["stall_ms"])
    print()
    print(f"longest stall: {worst['stall_ms']:.1f} ms in {worst['stall_what']}")
    if args.carousel > 0:
        real_stdout, sys.stdout = sys.stdout, chatter
        try:
            c = carousel_run(artifacts, args.carousel)
        finally:
            sys.stdout = real_stdout
        growth = c["last"] - c["first"]
        ok = growth <= CAROUSEL_GROWTH_MIB
        met.append(ok)
        print(f"carousel, {args.carousel} s on the running page, {c['slides']} slides: RSS "
              f"{c['first']:.1f} MiB at the start, {c['last']:.1f} at the end, {c['max']:.1f} "
              f"at most; growth {growth:+.1f} MiB (goal ≤ {CAROUSEL_GROWTH_MIB:.0f}) "
              f"{'met' if ok else 'MISSED'}")
    return 0 if all(met) else 1


if __name__ == "__main__":
    sys.exit(main())
