"""Speed of the Python package against the C++ interface, in one run.

    python3 bench/python_bench.py BUILD_DIR [RESULTS_DIR]

Builds (in BUILD_DIR, best a Release build) the module and the C++ side
(bench/python_reference.cpp), then on the same 10^6 points of the default
2-D member with 10 minima, D2 kind:
- the batch: Member::values against Member.value(points), one thread and
  all threads, shortest of the repetitions;
- one call: Member::value against Member.value(x) for x a list and a numpy
  array of shape (2,); the overhead is the difference.
Prints the results and writes them to RESULTS_DIR/python.json (default
bench/results), which scripts/render_performance.py puts into
docs/performance.md.
"""

import json
import os
import pathlib
import subprocess
import sys
import tempfile
import timeit

import numpy as np

COUNT = 1_000_000
REPETITIONS = int(os.environ.get("REPETITIONS", "7"))


def main() -> None:
    build = pathlib.Path(sys.argv[1]).resolve()
    results = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else "bench/results")
    subprocess.run(["cmake", "--build", str(build), "-j", "2", "--target", "travo_python",
                    "travo_python_reference"], check=True, stdout=subprocess.DEVNULL)
    sys.path.insert(0, str(build / "python"))
    import travo

    member = travo.generate(travo.Parameters(num_minima=10, test_number=1))
    points = np.random.default_rng(12).uniform(-1.0, 1.0, size=(COUNT, 2))
    out = np.empty(COUNT)
    report = {"points": COUNT, "dim": 2, "num_minima": 10, "kind": "D2"}
    with tempfile.NamedTemporaryFile(suffix=".f64") as file:
        file.write(points.tobytes())
        file.flush()
        for threads, label in ((1, "one_thread"), (0, "all_threads")):
            cpp = subprocess.run([str(build / "python" / "travo_python_reference"), file.name, "2", "10", "1",
                                  str(REPETITIONS), str(threads)], capture_output=True, text=True, check=True)
            cpp_times = dict((k, float(v)) for k, v in (line.split() for line in cpp.stdout.splitlines()))
            python = min(timeit.repeat(lambda: member.value(points, out=out, threads=threads), number=1,
                                       repeat=REPETITIONS))
            report[label] = {"cpp_values": cpp_times["values"], "python_batch": python}
            report["cpp_value"] = cpp_times["value"]

    x_list, x_array = [0.1, -0.2], np.array([0.1, -0.2])
    calls = 200_000
    for name, x in (("python_value_list", x_list), ("python_value_array", x_array)):
        report[name] = min(timeit.repeat(lambda: member.value(x), number=calls, repeat=REPETITIONS)) / calls

    results.mkdir(parents=True, exist_ok=True)
    (results / "python.json").write_text(json.dumps(report, indent=2) + "\n")
    for label in ("one_thread", "all_threads"):
        r = report[label]
        print(f"batch of {COUNT:,} points, {label}: C++ {r['cpp_values'] * 1e3:.2f} ms, "
              f"Python {r['python_batch'] * 1e3:.2f} ms ({r['python_batch'] / r['cpp_values']:.3f}x)")
    for name in ("python_value_list", "python_value_array"):
        print(f"one call, {name[13:]}: {report[name] * 1e9:.0f} ns, C++ {report['cpp_value'] * 1e9:.0f} ns, "
              f"overhead {(report[name] - report['cpp_value']) * 1e9:.0f} ns")


if __name__ == "__main__":
    main()
