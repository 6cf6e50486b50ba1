"""Cost of an observed single-point call against a bare one, side by side.

    PYTHONPATH=build/python /usr/bin/python3 bench/observed_bench.py [--markdown]

For each member, the bare call ``member.value(x, kind)`` and the observed call
``problem.value(x)`` (counters, budget, best point, box rule and value
targets) are timed alternately at the same points, in rounds; the minimum
per call over the rounds is reported, since the machine is shared.
"""

import argparse
import sys
import timeit

import numpy as np

import travo
from travo.observed import observe

CASES = [(2, 10, "D"), (5, 10, "D"), (10, 100, "D2")]


def measure(dim, minima, kind, number=20000, rounds=15):
    f = travo.generate(travo.Parameters(dim=dim, num_minima=minima))
    x = np.random.default_rng(0).uniform(-1, 1, dim)
    problem = observe(f, kind)  # no budget: the timing loop would exhaust it
    bare, observed = [], []
    for _ in range(rounds):
        bare.append(timeit.timeit(lambda: f.value(x, kind), number=number) / number)
        observed.append(timeit.timeit(lambda: problem.value(x), number=number) / number)
    return min(bare), min(observed)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--markdown", action="store_true", help="a table for docs/performance.md")
    args = parser.parse_args()
    rows = [(d, m, k) + measure(d, m, k) for d, m, k in CASES]
    if args.markdown:
        print("| n | m | kind | bare call | observed call | ratio |")
        print("|---|---|---|---|---|---|")
        for d, m, k, b, o in rows:
            print(f"| {d} | {m} | {k} | {b * 1e9:.0f} ns | {o * 1e9:.0f} ns | {o / b:.2f}× |")
    else:
        for d, m, k, b, o in rows:
            print(f"n={d} m={m} {k}: bare {b * 1e9:.0f} ns, observed {o * 1e9:.0f} ns, ratio {o / b:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
