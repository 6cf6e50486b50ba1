"""Speed of the Python package against the C++ interface, in one run.

    python3 bench/python_bench.py BUILD_DIR [RESULTS_DIR]

Builds (in BUILD_DIR, best a Release build) the module and the C++ side
(bench/python_reference.cpp), then on the same 10^6 points of the default
2-D member with 10 minima, D2 kind:
- the batch: Member::values against Member.value(points), one thread and
  all threads, shortest of the repetitions;
- one call at the first point: Member::value against Member.value(x) for x
  a list and a numpy array of shape (2,); the overhead is the difference.
C++ and Python runs alternate, so that both meet the same load.
Prints the results and writes them to RESULTS_DIR/python.json (default
bench/results), which scripts/render_performance.py puts into
docs/performance.md.
"""

import datetime
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
        # C++ and Python alternate, so that both see the same load of a shared machine.
        single = []
        for threads, label in ((1, "one_thread"), (0, "all_threads")):
            cpp_batch, python_batch = [], []
            for _ in range(REPETITIONS):
                cpp = subprocess.run([str(build / "python" / "travo_python_reference"), file.name, "2", "10", "1",
                                      "2", str(threads)], capture_output=True, text=True, check=True)
                times = dict((k, float(v)) for k, v in (line.split() for line in cpp.stdout.splitlines()))
                cpp_batch.append(times["values"])
                single.append(times["value"])
                python_batch.append(min(timeit.repeat(lambda: member.value(points, out=out, threads=threads),
                                                      number=1, repeat=2)))
            report[label] = {"cpp_values": min(cpp_batch), "python_batch": min(python_batch)}
        report["cpp_value"] = min(single)

    x_list, x_array = points[0].tolist(), points[0].copy()
    calls = 200_000
    for name, x in (("python_value_list", x_list), ("python_value_array", x_array)):
        report[name] = min(timeit.repeat(lambda: member.value(x), number=calls, repeat=REPETITIONS)) / calls

    report["date"] = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds")
    report["load_average"] = [round(v, 2) for v in os.getloadavg()]
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
