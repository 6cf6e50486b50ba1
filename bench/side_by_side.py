#!/usr/bin/env python3
"""Times benchmarks of two builds side by side, in one run.

usage: side_by_side.py OLD_BUILD NEW_BUILD OUT_JSON [--label TEXT] [--rounds R]
                       [--once REGEX] [--min-time SECONDS] BENCH:FILTER...

Each BENCH:FILTER names a Google Benchmark program of bench/ (generation,
batch, evaluation) and a regular expression of the benchmarks to run
(names may end in /real_time on one side and not on the other: end the
expression with (/|$) rather than $).
The two builds' programs run alternately, old then new, R rounds (3 by
default; benchmarks matching --once run in the first round only, for
those that take minutes), and the shortest real time of each benchmark on
each side is kept: on a machine shared with other work the shortest is the
one least disturbed. Times are per run, or per point for benchmarks that
count points; beside each real time (old, new) the shortest processor time
of the benchmark's own thread (old_cpu, new_cpu), which on a machine busy
with other work is the fairer measure of one thread's work. The load
average before, at the start of each round and after is recorded, and for
each selection and side the largest resident memory of its program's runs
(in MiB: the memory of the benchmarks of one selection, plus the program's
own few MiB).
"""
import argparse
import datetime
import json
import os
import subprocess
import sys


def load_average():
    return list(os.getloadavg())


def run(program, pattern, min_time):
    """({benchmark name: (seconds of real time, of the calling thread's processor time), per point where
    counted}, MiB resident at most) of one run of `program`."""
    child = subprocess.Popen([program, f"--benchmark_filter={pattern}", f"--benchmark_min_time={min_time}",
                              "--benchmark_format=json"], stdout=subprocess.PIPE, text=True)
    out = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise subprocess.CalledProcessError(child.returncode, child.args)
    rss = usage.ru_maxrss / 1024.0
    if not out.strip():  # nothing matched
        return {}, rss
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    return ({b["name"].removesuffix("/real_time"): (b["real_time"] * scale[b["time_unit"]] / b.get("points", 1.0),
                                                    b["cpu_time"] * scale[b["time_unit"]] / b.get("points", 1.0))
             for b in json.loads(out)["benchmarks"] if b.get("run_type", "iteration") == "iteration"}, rss)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("out")
    parser.add_argument("selections", nargs="+", metavar="BENCH:FILTER")
    parser.add_argument("--label", default="before")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--once", default=None)
    parser.add_argument("--min-time", default="0.3")
    args = parser.parse_args()

    result = {"date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
              "label": args.label, "rounds": args.rounds, "load_before": load_average(), "benchmarks": {},
              "max_rss_mib": {}, "load_by_round": []}
    best, memory = result["benchmarks"], result["max_rss_mib"]
    for r in range(args.rounds):
        result["load_by_round"].append(load_average())
        for selection in args.selections:
            bench, _, pattern = selection.partition(":")
            if r > 0 and args.once:
                pattern = f"(?!.*({args.once}))({pattern})"
            for side, build in (("old", args.old), ("new", args.new)):
                program = os.path.join(build, "bench", f"travo_{bench}_bench")
                times, rss = run(program, pattern, args.min_time)
                for name, (seconds, cpu) in times.items():
                    entry = best.setdefault(name, {})
                    entry[side] = min(seconds, entry.get(side, seconds))
                    entry[side + "_cpu"] = min(cpu, entry.get(side + "_cpu", cpu))
                used = memory.setdefault(selection, {})
                used[side] = max(rss, used.get(side, rss))
                print(f"round {r + 1}: {bench} {side} done", file=sys.stderr)
    result["load_after"] = load_average()
    with open(args.out, "w") as f:
        json.dump(result, f, indent=1)


if __name__ == "__main__":
    main()
