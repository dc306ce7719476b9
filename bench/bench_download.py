#!/usr/bin/env python3
"""Runs each downloader against the nginx that download.sh started and
prints medians of wall time, CPU time (user + system, the tool and its
children) and peak resident memory, with ratios to the best peer."""

import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import time

PEERS = ("aria2c", "curl", "axel")


def commands(args, url, path):
    cmds = {}
    if args.websetup_get:
        cmd = [args.websetup_get]
        if args.threads:
            cmd += ["--threads", args.threads]
        cmds["websetup-get"] = cmd + [url, path]
    cmds["aria2c"] = ["aria2c", "-x16", "-s16", "-k4M", "-q", "--allow-overwrite=true",
                      "--auto-file-renaming=false", "-d", os.path.dirname(path),
                      "-o", os.path.basename(path), url]
    cmds["curl"] = ["curl", "-s", "-f", "-o", path, url]
    cmds["axel"] = ["axel", "-q", "-n", "8", "-o", path, url]
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


def measure(args, label, url):
    path = os.path.join(args.out, args.name)
    results = {}
    for tool, cmd in commands(args, url, path).items():
        runs = []
        for i in range(args.runs):
            r = run_once(cmd, args.out, path, args.md5)
            print(f"  {label:<12} {tool:<13} run {i + 1}: {r['wall']:7.2f} s wall, "
                  f"{r['cpu']:6.2f} s CPU, {'ok' if r['ok'] else 'FAILED'}", flush=True)
            runs.append(r)
        results[tool] = {
            "ok": all(r["ok"] for r in runs),
            "wall": statistics.median(r["wall"] for r in runs),
            "cpu": statistics.median(r["cpu"] for r in runs),
            "rss_mib": statistics.median(r["rss_mib"] for r in runs),
        }
    shutil.rmtree(args.out, ignore_errors=True)
    return results


def print_table(label, results, size):
    gib = size / float(1 << 30)
    good = {t: r for t, r in results.items() if r["ok"] and t in PEERS}
    best_wall = min((r["wall"] for r in good.values()), default=None)
    best_cpu = min((r["cpu"] for r in good.values()), default=None)
    print(f"\n{label}")
    print(f"{'tool':<13} {'wall s':>8} {'MB/s':>8} {'CPU s':>7} {'CPU s/GiB':>9} "
          f"{'RSS MiB':>8} {'md5':>5} {'wall/best':>9} {'CPU/best':>8}")
    for tool, r in results.items():
        wall_ratio = f"{r['wall'] / best_wall:.2f}" if best_wall else "-"
        cpu_ratio = f"{r['cpu'] / best_cpu:.2f}" if best_cpu else "-"
        print(f"{tool:<13} {r['wall']:8.2f} {size / r['wall'] / 1e6:8.1f} {r['cpu']:7.2f} "
              f"{r['cpu'] / gib:9.2f} {r['rss_mib']:8.1f} {'ok' if r['ok'] else 'BAD':>5} "
              f"{wall_ratio:>9} {cpu_ratio:>8}")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--base", required=True)
    p.add_argument("--name", required=True)
    p.add_argument("--md5", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--size", type=int, required=True)
    p.add_argument("--rate", default="")
    p.add_argument("--websetup-get", default="")
    p.add_argument("--threads", default="")
    args = p.parse_args()

    scenarios = [("unlimited", f"{args.base}/{args.name}"),
                 (f"limit {args.rate}", f"{args.base}/limited/{args.name}")]
    tables = [(label, measure(args, label, url)) for label, url in scenarios]
    print("\nmedians of", args.runs, "runs; ratios are to the best of", ", ".join(PEERS),
          "(lower is better); MB = 10^6 bytes")
    failed = False
    for label, results in tables:
        print_table(f"{label} (per connection)" if label != "unlimited" else label, results,
                    args.size)
        failed |= not all(r["ok"] for r in results.values())
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
