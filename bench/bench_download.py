#!/usr/bin/env python3
"""Runs each downloader against the nginx that download.sh started and
prints, per scenario, medians of wall time, CPU time (user + system, the
tool and its children) and peak resident memory, with ratios to aria2c -x4
(the same four connections websetup-get opens on two CPUs) and to curl,
and whether websetup-get met its goals."""

import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import time

LABELS = {
    "unlimited": "unlimited",
    "slow": "100 KiB/s per connection",
    "delay": "50 ms before each response",
    "rate8000": "8000 KiB/s per connection",
}

# websetup-get's goals, as (ratio name, peer, measure, at most).
GOALS = {
    "unlimited": [("wall", "curl", "wall", 1.0), ("CPU", "curl", "cpu", 1.0)],
    "slow": [("wall", "aria2c -x4", "wall", 1.1)],
    "delay": [("wall", "aria2c -x4", "wall", 1.0), ("wall", "curl", "wall", 1.3)],
    "rate8000": [("wall", "aria2c -x4", "wall", 1.0)],
}
RSS_GOAL_MIB = 64


def commands(args, url, path):
    cmds = {}
    if args.websetup_get:
        cmd = [args.websetup_get]
        if args.threads:
            cmd += ["--threads", args.threads]
        cmds["websetup-get"] = cmd + [url, path]
    for n in (4, 16):
        cmds[f"aria2c -x{n}"] = ["aria2c", f"-x{n}", f"-s{n}", "-k4M", "-q",
                                 "--allow-overwrite=true", "--auto-file-renaming=false",
                                 "-d", os.path.dirname(path), "-o", os.path.basename(path), url]
    cmds["curl"] = ["curl", "-s", "-f", "-o", path, url]
    cmds["axel -n4"] = ["axel", "-q", "-n", "4", "-o", path, url]
    return cmds


def md5_of(path):
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def vm_hwm_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run_once(cmd, out_dir, path, expected_md5):
    """One measured run in a clean output folder. wait4 gives the child's
    CPU time (its threads and the children it waited for). Its ru_maxrss is
    no use: a forked child starts with this Python's resident pages. The
    peak is read instead from VmHWM of the program after exec (Popen
    returns once exec has happened), sampled until it exits."""
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    start = time.monotonic()
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    peak_kib = 0
    while True:
        pid, status, usage = os.wait4(child.pid, os.WNOHANG)
        if pid == child.pid:
            break
        peak_kib = max(peak_kib, vm_hwm_kib(child.pid))
        time.sleep(0.005)
    wall = time.monotonic() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    err = child.stderr.read().decode(errors="replace").strip()
    ok = child.returncode == 0 and os.path.exists(path) and md5_of(path) == expected_md5
    if not ok:
        why = f"exit {child.returncode}" if child.returncode != 0 else "wrong or missing output"
        print(f"    FAILED ({why}): {' '.join(cmd)} {err[-300:]}", file=sys.stderr)
    return {"ok": ok, "wall": wall, "cpu": usage.ru_utime + usage.ru_stime,
            "rss_mib": peak_kib / 1024.0}


def measure(args, sc):
    path = os.path.join(args.out, os.path.basename(sc["path"]))
    results = {}
    for tool, cmd in commands(args, f"{args.base}/{sc['path']}", path).items():
        runs = []
        for i in range(sc["runs"]):
            r = run_once(cmd, args.out, path, sc["md5"])
            print(f"  {sc['name']:<9} {tool:<13} run {i + 1}: {r['wall']:7.2f} s wall, "
                  f"{r['cpu']:6.2f} s CPU, {r['rss_mib']:5.1f} MiB, {'ok' if r['ok'] else 'FAILED'}",
                  flush=True)
            runs.append(r)
        results[tool] = {
            "ok": all(r["ok"] for r in runs),
            "wall": statistics.median(r["wall"] for r in runs),
            "cpu": statistics.median(r["cpu"] for r in runs),
            "rss_mib": statistics.median(r["rss_mib"] for r in runs),
        }
    shutil.rmtree(args.out, ignore_errors=True)
    return results


def ratio(results, tool, peer, key):
    if peer not in results or not results[peer]["ok"] or results[peer][key] == 0:
        return None
    return results[tool][key] / results[peer][key]


def print_table(sc, results):
    size = sc["size"]
    gib = size / float(1 << 30)
    print(f"\n{LABELS[sc['name']]}: {size / (1 << 20):.0f} MiB, medians of {sc['runs']}")
    print("| tool | wall s | MB/s | CPU s | CPU s/GiB | RSS MiB | md5 | wall/aria2c-x4 | "
          "wall/curl | CPU/curl |")
    print("| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |")
    for tool, r in results.items():
        cells = [ratio(results, tool, p, k) for p, k in
                 (("aria2c -x4", "wall"), ("curl", "wall"), ("curl", "cpu"))]
        shown = " | ".join("-" if c is None else f"{c:.2f}" for c in cells)
        print(f"| {tool} | {r['wall']:.2f} | {size / r['wall'] / 1e6:.1f} | {r['cpu']:.2f} | "
              f"{r['cpu'] / gib:.2f} | {r['rss_mib']:.1f} | {'ok' if r['ok'] else 'BAD'} | {shown} |")
    if "websetup-get" not in results:
        return
    verdicts = []
    for what, peer, key, limit in GOALS[sc["name"]]:
        got = ratio(results, "websetup-get", peer, key)
        mark = "?" if got is None else ("met" if got <= limit else "MISSED")
        verdicts.append(f"{what} vs {peer} {'-' if got is None else f'{got:.2f}'} "
                        f"(goal <= {limit}) {mark}")
    rss = results["websetup-get"]["rss_mib"]
    verdicts.append(f"RSS {rss:.1f} MiB (goal < {RSS_GOAL_MIB}) "
                    f"{'met' if rss < RSS_GOAL_MIB else 'MISSED'}")
    print("goals: " + "; ".join(verdicts))


def parse_scenario(text):
    name, path, md5, size, runs = text.split(",")
    if name not in LABELS:
        raise argparse.ArgumentTypeError(f"unknown scenario {name}")
    return {"name": name, "path": path, "md5": md5, "size": int(size), "runs": int(runs)}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--base", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--scenario", action="append", type=parse_scenario, required=True,
                   help="NAME,PATH,MD5,SIZE,RUNS; NAME one of " + ", ".join(LABELS))
    p.add_argument("--websetup-get", default="")
    p.add_argument("--threads", default="")
    args = p.parse_args()

    tables = [(sc, measure(args, sc)) for sc in args.scenario]
    print("\nratios: lower is better; MB = 10^6 bytes")
    failed = False
    for sc, results in tables:
        print_table(sc, results)
        failed |= not all(r["ok"] for r in results.values())
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
