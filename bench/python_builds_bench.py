"""Two builds of the Python module side by side: what a change costs.

    /usr/bin/python3 bench/python_builds_bench.py BEFORE/python AFTER/python

Each build's package (the folder that holds travo/) is timed in its own
process, the two alternating for ROUNDS rounds, so that both meet the same
load of a shared machine; the shortest time of each measure over the rounds
is reported, with the ratio after / before. The measures: one call of an
observed problem (value at a point, n = 2, kind D) and of the bare member,
and batches of values (2-D, 10 minima, D2, one thread) of 100, 10^4 and
10^6 points, on the main thread.
"""

import json
import os
import subprocess
import sys

ROUNDS = int(os.environ.get("ROUNDS", "7"))

MEASURE = r"""
import json, timeit, numpy as np, travo
f = travo.generate(travo.Parameters(num_minima=10))
x = np.random.default_rng(0).uniform(-1, 1, 2)
problem = travo.observe(f, "D")
times = {
    "observed call": min(timeit.repeat(lambda: problem.value(x), number=20000, repeat=5)) / 20000,
    "bare call": min(timeit.repeat(lambda: f.value(x, "D"), number=20000, repeat=5)) / 20000,
}
for count, number in ((100, 2000), (10**4, 200), (10**6, 3)):
    points = np.random.default_rng(1).uniform(-1, 1, (count, 2))
    out = np.empty(count)
    times[f"batch of {count}"] = min(timeit.repeat(lambda: f.value(points, out=out, threads=1), number=number,
                                                   repeat=5)) / number
print(json.dumps(times))
"""


def run(path):
    env = dict(os.environ, PYTHONPATH=path)
    done = subprocess.run([sys.executable, "-c", MEASURE], env=env, capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def main():
    before, after = sys.argv[1], sys.argv[2]
    best = {}
    for _ in range(ROUNDS):
        for side, path in (("before", before), ("after", after)):
            for name, t in run(path).items():
                best[(name, side)] = min(best.get((name, side), t), t)
    print("| measure | before | after | after / before |")
    print("|---|---|---|---|")
    for name in dict.fromkeys(name for name, _ in best):
        b, a = best[(name, "before")], best[(name, "after")]
        print(f"| {name} | {b * 1e6:.3f} µs | {a * 1e6:.3f} µs | {a / b:.3f} |")


if __name__ == "__main__":
    main()
