#!/usr/bin/env python3
"""Times `dawnstep-analyze metrics`, `snapshot` and `compare` on a root that
holds the boot of COUNT JSON plugins: each plugin requires the tag of one
before it, every one has an activation record and an outcome record, and
every tenth failed. Each command runs RUNS times; the median wall-clock and
processor seconds are printed, with the size of what it wrote.
usage: fleet_cost.py ANALYZER [COUNT [RUNS]]"""
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

DAY = "2026-12-06 06:00:"


def stamp(micros):
    return f"{DAY}{micros // 1000000:02d}.{micros % 1000000:06d}"


def node_record(text):
    return json.dumps({"time": "2026-12-06T06:00:00.000000Z", "pid": 1, "text": text + "\n"}) + "\n"


def make_root(root, count):
    plugins = os.path.join(root, "usr/libexec/dawnstep/plugins")
    os.makedirs(plugins)
    os.makedirs(os.path.join(root, "var/log"))
    os.makedirs(os.path.join(root, "run/hkn"))
    profile = ["HVKernel Initialization Time: 12000000"]
    log, alerts = [node_record("Activating Dawnstep Plugins: ")], []
    for i in range(count):
        name = f"plugin-{i:05d}"
        meta = {"provides": [f"t{i}"], "requires": [f"t{i // 2}"] if i else [], "version": 5,
                "run_once": False, "preemptive_provider": False}
        with open(os.path.join(plugins, name + ".json"), "w") as f:
            json.dump({"metadata": meta, "operations": {"start": []}}, f)
        start = (i % 100) * 500000 // 100
        profile.append(f"[{stamp(start)} - {stamp(start + 1000 + i % 997)}] sysboot: {name}")
        log.append(node_record(f"Activating Dawnstep plugin {name}."))
        if i % 10 == 9:
            alerts.append(node_record(f"Dawnstep plugin {name} activation failed."))
        else:
            log.append(node_record(f"Dawnstep plugin {name} activated."))
    profile += ["=== Dawnstep configuration info ===", f" Start: {stamp(0)}", f" End: {stamp(600000)}"]
    with open(os.path.join(root, "var/log/sysboot.log"), "w") as f:
        f.write("\n".join(profile) + "\n")
    with open(os.path.join(root, "run/hkn/system.log"), "w") as f:
        f.writelines(log)
    with open(os.path.join(root, "run/hkn/system.progressTerm.progressText"), "w") as f:
        f.write(log[0])
    with open(os.path.join(root, "run/hkn/system.sysAlert"), "w") as f:
        f.writelines(alerts)


def measure(args, root, runs):
    walls, cpus, size = [], [], 0
    for _ in range(runs):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        began = time.perf_counter()
        done = subprocess.run(args, capture_output=True, env=dict(os.environ, DAWNSTEP_ROOT=root))
        walls.append(time.perf_counter() - began)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpus.append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
        if done.returncode != 0:
            sys.exit(f"{args}: exit status {done.returncode}\n{done.stderr.decode()}")
        size = len(done.stdout)
    return statistics.median(walls), statistics.median(cpus), size


def main():
    analyzer = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    with tempfile.TemporaryDirectory() as root:
        make_root(root, count)
        snapshot = os.path.join(root, "snapshot.json")
        subprocess.run([analyzer, "snapshot", "-o", snapshot], check=True,
                       env=dict(os.environ, DAWNSTEP_ROOT=root))
        for command in (["metrics"], ["snapshot"], ["compare", snapshot, snapshot],
                        ["compare", snapshot], ["time"]):
            wall, cpu, size = measure([analyzer, *command], root, runs)
            label = " ".join("SNAPSHOT" if word == snapshot else word for word in command)
            print(f"{label:28} {count} plugins: median {wall:.3f} s wall clock, {cpu:.3f} s "
                  f"processor, {size} bytes out")


if __name__ == "__main__":
    main()
