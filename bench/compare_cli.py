#!/usr/bin/env python3
"""Times `vellumcast-cli index` of several builds side by side.

    bench/compare_cli.py [--runs=21] [--fresh] --args="--style=modern" LABEL=CLI:DIR ...

Each build indexes its own copy DIR of the same tree (so one build's files
never meet the other's), interleaved run by run; prints the median wall
time, the median CPU time (user + system of the child, from wait4) and the
peak resident size per build, and the load average. --fresh copies
DIR.pristine over DIR before every run (a first run each time); without it
the runs are re-runs over what the first run left.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

runs, fresh, args, specs = 21, False, [], []
for arg in sys.argv[1:]:
    if arg.startswith("--runs="):
        runs = int(arg.split("=", 1)[1])
    elif arg == "--fresh":
        fresh = True
    elif arg.startswith("--args="):
        args = arg.split("=", 1)[1].split()
    elif "=" in arg and ":" in arg:
        label, rest = arg.split("=", 1)
        cli, folder = rest.split(":", 1)
        specs.append((label, cli, folder))
    else:
        sys.exit(__doc__)
if not specs:
    sys.exit(__doc__)

results = {label: ([], [], []) for label, _, _ in specs}
for _ in range(runs):
    for label, cli, folder in specs:
        if fresh:
            shutil.rmtree(folder, ignore_errors=True)
            shutil.copytree(folder + ".pristine", folder, symlinks=True)
        start = time.perf_counter()
        child = subprocess.Popen([cli, "index", *args, folder], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        if status != 0:
            print(f"{label}: exit status {status}", file=sys.stderr)
        results[label][0].append(wall)
        results[label][1].append(usage.ru_utime + usage.ru_stime)
        results[label][2].append(usage.ru_maxrss / 1024)
for label, _, _ in specs:
    wall, cpu, peak = results[label]
    print(f"{label:12s} wall {statistics.median(wall):8.3f} s  cpu {statistics.median(cpu):8.3f} s  "
          f"peak RSS {max(peak):7.1f} MiB  (wall min {min(wall):.3f}, max {max(wall):.3f})")
print("load average", " ".join(open("/proc/loadavg").read().split()[:3]))
