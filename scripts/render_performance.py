#!/usr/bin/env python3
"""Renders docs/performance.md from the JSON of scripts/bench.sh.

usage: render_performance.py RESULTS_DIR DOCS_DIR
"""
import json
import os
import re
import shutil
import subprocess
import sys
from datetime import date

NAME = re.compile(r"^(?P<op>[^/]+)/(?P<path>[^/]+)/n:(?P<n>\d+)/m:(?P<m>\d+)")


def load(path):
    """{(op, path, n, m): seconds} from the 'min' aggregate (or single runs)."""
    if not os.path.exists(path):
        return {}, {}
    with open(path) as f:
        data = json.load(f)
    times = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "min":
            continue
        mt = NAME.match(b.get("run_name", b["name"]))
        if not mt:
            continue
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        key = (mt["op"], mt["path"], int(mt["n"]), int(mt["m"]))
        t = b["real_time"] * scale
        times[key] = min(t, times.get(key, t))
    return times, data.get("context", {})


BATCH = re.compile(r"^batch_(?P<op>[^/]+)/(?P<path>[^/]+)/n:(?P<n>\d+)/m:(?P<m>\d+)")
HOST = re.compile(r"^host_D2/(?P<path>[^/]+)/points:(?P<k>\d+)")


def load_batch(path):
    """({(op, path, n, m): seconds per point}, {(path, points): seconds per call})."""
    if not os.path.exists(path):
        return {}, {}
    with open(path) as f:
        data = json.load(f)
    per_point, host = {}, {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "min":
            continue
        name = b.get("run_name", b["name"])
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        t = b["real_time"] * scale
        mt = BATCH.match(name)
        if mt:
            key = (mt["op"], mt["path"], int(mt["n"]), int(mt["m"]))
            t /= b.get("points", 1.0)
            per_point[key] = min(t, per_point.get(key, t))
            continue
        mt = HOST.match(name)
        if mt:
            key = (mt["path"], int(mt["k"]))
            host[key] = min(t, host.get(key, t))
    return per_point, host


def load_octave(path):
    """{points: seconds} from bench/octave_host.m."""
    times = {}
    if os.path.exists(path):
        for line in open(path):
            parts = line.split()
            if len(parts) == 2:
                times[int(parts[0])] = float(parts[1])
    return times


def load_octave_cache(path):
    """{m: (travo, trivial_xy, trivial_all)} seconds per call from bench/octave_cache.m."""
    times = {}
    if os.path.exists(path):
        for line in open(path):
            parts = line.split()
            if len(parts) == 4 and parts[0] == "load":
                times["load"] = ", ".join(parts[1:])
            elif len(parts) == 4:
                times[int(parts[0])] = tuple(float(p) for p in parts[1:])
    return times
def load_python(path):
    """The measurements of bench/python_bench.py, or {}."""
    return json.load(open(path)) if os.path.exists(path) else {}


def fmt_time(t):
    if t is None:
        return "–"
    if t >= 1:
        return f"{t:.2f} s"
    if t >= 1e-3:
        return f"{t * 1e3:.3g} ms"
    if t >= 1e-6:
        return f"{t * 1e6:.3g} µs"
    return f"{t * 1e9:.3g} ns"


def ratio(a, b):
    return f"{a / b:.1f}×" if a and b else "–"


def main():
    results, docs = sys.argv[1], sys.argv[2]
    os.makedirs(docs, exist_ok=True)
    gen, ctx = load(os.path.join(results, "generation.json"))
    ev, _ = load(os.path.join(results, "evaluation.json"))
    batch, host = load_batch(os.path.join(results, "batch.json"))
    simd = {k: v for k, v in batch.items() if k[1] in SIMD_PATHS}
    octave = load_octave(os.path.join(results, "octave.txt"))
    kept = load_octave_cache(os.path.join(results, "octave_cache.txt"))
    python = load_python(os.path.join(results, "python.json"))
    machine = ["unknown"] * 4
    mpath = os.path.join(results, "machine.txt")
    if os.path.exists(mpath):
        machine = (open(mpath).read().splitlines() + ["?"] * 4)[:4]

    out = []
    w = out.append
    w("# Performance")
    w("")
    w("Measured with `scripts/bench.sh` (Google Benchmark, Release build, ")
    w("`-ffp-contract=off`, no `-march=native`). Each benchmark is repeated and the")
    w("minimum wall time is reported, since the machine is shared and timings")
    w("taken while other work runs are noisy.")
    w("")
    w(f"- Machine: {machine[0]}, {machine[1]} cores")
    w(f"- Compiler: {machine[2]}")
    w(f"- Load average at the end of the run: {machine[3]}")
    w(f"- Date: {ctx.get('date', str(date.today()))}")
    w("")
    w("Every fast path gives the same bits as the straightforward one it")
    w("replaces; the tests in `tests/generator/fast_generation_test.cpp`,")
    w("`tests/evaluation/fast_lookup_test.cpp` and `tests/cpp/batch_test.cpp`")
    w("compare them bit for bit.")
    w("")
    render_targets(w, gen, ev, batch, host, octave, kept, python)
    render_round_two(w, batch, simd)

    # Generation.
    w("## Generation")
    w("")
    w("Time to generate one member (placement, coincidence test, region sizing,")
    w("peaks), box [-1, 1]^n, d = 2/3, R = 1/3. *reference*: the pairwise scans")
    w("(m² n); *automatic*: what `arg_generate` runs, the k-d tree and the")
    w("sort-and-sweep where they pay off; *fast*: the tree at every size. The")
    w("ratio is reference / automatic.")
    w("")
    w("| n | m | reference | automatic | ratio | fast (forced) |")
    w("|---|---|---|---|---|---|")
    sizes = sorted({(k[2], k[3]) for k in gen})
    for n, m in sizes:
        ref = gen.get(("generate", "reference", n, m))
        auto = gen.get(("generate", "automatic", n, m))
        fast = gen.get(("generate", "fast", n, m))
        w(f"| {n} | {m:,} | {fmt_time(ref)} | {fmt_time(auto)} | {ratio(ref, auto)} | {fmt_time(fast)} |")
    w("")
    skipped = [f"n = {n}, m = {m:,}" for n, m in sizes if ("generate", "reference", n, m) not in gen]
    if skipped:
        w("The reference is not run where m² n exceeds 10¹⁰ (minutes per run): " + "; ".join(skipped) + ".")
        w("Nor is anything where m n exceeds 2·10⁶ (n = 10 with m = 10⁶, n = 100 with m ≥ 10⁵), and")
        w("the forced fast form only up to m = 10⁴ and m n = 10⁵. At n = 100 the automatic choice")
        w("sizes regions with the scans (a k-d tree cannot prune in 100 dimensions at these m) and")
        w("gains only the sort-and-sweep coincidence test.")
        w("")
    targets = [((2, 1000000), 5.0), ((10, 100000), 10.0)]
    w("| target | measured | met |")
    w("|---|---|---|")
    for (n, m), limit in targets:
        t = gen.get(("generate", "automatic", n, m))
        met = "yes" if t is not None and t < limit else ("not measured" if t is None else "**no**")
        w(f"| m = {m:,}, n = {n}: under {limit:g} s | {fmt_time(t)} | {met} |")
    w("")

    plot = render_plot(gen, docs)
    if plot:
        w(f"![Generation time against m]({plot})")
        w("")

    # Evaluation.
    w("## Evaluation at one point")
    w("")
    w("Per point, cycling over 512 points (half uniform in the box, half inside")
    w("regions). Lookups: *reference* scans every region with a square root")
    w("each; *scan* decides from the squared sums and takes square roots only")
    w("at the boundary (the module-wide C interface uses it); *index* is a")
    w("`core::RegionIndex` built once per member (a uniform grid in up to three")
    w("dimensions, a k-d tree in a few more, or a row scan that leaves each sum")
    w("early in high dimension); *tree*, *rows*, *grid*: each layout imposed;")
    w("*components* computes the")
    w("gradient or Hessian as n or n² separate operations, each with its own")
    w("reference lookup, as a caller of the per-entry operations would; along")
    w("the other lookups they come from one lookup, with the terms that do not")
    w("depend on the index computed once (`first_derivatives`,")
    w("`second_derivatives`).")
    w("")
    for m in sorted({k[3] for k in ev}):
        w(f"### m = {m:,}")
        w("")
        w("| operation | lookup | " + " | ".join(f"n = {n}" for n in sorted({k[2] for k in ev if k[3] == m})) + " |")
        dims = sorted({k[2] for k in ev if k[3] == m})
        w("|---|---|" + "---|" * len(dims))
        rows = [("value_ND", "reference"), ("value_ND", "index"), ("value_D", "reference"), ("value_D", "index"),
                ("value_D2", "reference"), ("value_D2", "scan"), ("value_D2", "index"), ("value_D2", "tree"),
                ("value_D2", "rows"), ("value_D2", "grid"), ("gradient_D2", "components"), ("gradient_D2", "reference"),
                ("gradient_D2", "index"), ("hessian", "components"), ("hessian", "reference"),
                ("hessian", "index")]
        for op, lk in rows:
            cells = [fmt_time(ev.get((op, lk, n, m))) for n in dims]
            if all(c == "–" for c in cells):
                continue
            w(f"| {op} | {lk} | " + " | ".join(cells) + " |")
        w("")
    w("| target | measured | met |")
    w("|---|---|---|")
    for m in sorted({k[3] for k in ev}):
        h = ev.get(("hessian", "index", 100, m))
        if h is not None:
            w(f"| Hessian, n = 100, m = {m:,}: under 1 ms | {fmt_time(h)} | {'yes' if h < 1e-3 else '**no**'} |")
    for m in sorted({k[3] for k in ev}):
        g = ev.get(("gradient_D2", "index", 1000, m))
        v = ev.get(("value_D2", "index", 1000, m))
        if g is not None and v is not None:
            w(f"| gradient, n = 1000, m = {m:,}: about one value + O(n) | {fmt_time(g)} "
              f"(value {fmt_time(v)}, {g / v:.2f}×) | {'yes' if g < 2 * v + 20e-6 else '**no**'} |")
    w("")
    render_batch(w, batch, host, octave, machine)
    out.append(FORMULAS_ONCE)
    render_kept(w, kept)
    render_python(w, python)
    out.append(DESIGN)
    with open(os.path.join(docs, "performance.md"), "w") as f:
        f.write("\n".join(out))


def render_targets(w, gen, ev, batch, host, octave, kept, python):
    """The targets of the performance work, met or not, from this run."""
    rows = []
    v = batch.get(("value_D2", "one_thread", 2, 10))
    if v is not None:
        rows.append(("D2 value, m = 10, n = 2, batch form, one thread: under 15 ns per point",
                     fmt_time(v) + " per point", v < 15e-9))
    g = ev.get(("gradient_D2", "index", 1000, 10))
    val = ev.get(("value_D2", "index", 1000, 10))
    if g is not None and val is not None:
        rows.append(("gradient, n = 1000, m = 10: about one value + O(n)",
                     f"{fmt_time(g)} (value {fmt_time(val)}, {g / val:.2f}×)", g < 2 * val + 20e-6))
    h = ev.get(("hessian", "index", 100, 10))
    if h is not None:
        rows.append(("Hessian, n = 100, m = 10: under 1 ms", fmt_time(h), h < 1e-3))
    o = octave.get(1000000)
    lib = host.get(("library_batch", 1000000))
    if o is not None and lib is not None:
        rows.append(("Octave call D2_func, 1,000,000 points: within 1.5× the library's batch loop (one thread)",
                     f"{fmt_time(o)} (library {fmt_time(lib)}, {o / lib:.2f}×)", o <= 1.5 * lib))
    for m, (t, xy, _) in sorted((k, v) for k, v in kept.items() if k != "load"):
        rows.append((f"Octave call D2_func at one point, kept member, m = {m:,}: within 2× a trivial module",
                     f"{fmt_time(t)} (trivial module {fmt_time(xy)}, {t / xy:.2f}×)", t <= 2 * xy))
    if python:
        r = python["one_thread"]
        rows.append((f"Python batch value(points), {python['points']:,} points: within 1.1× Member::values "
                     "(one thread)", f"{fmt_time(r['python_batch'])} (C++ {fmt_time(r['cpp_values'])}, "
                     f"{r['python_batch'] / r['cpp_values']:.2f}×)", r["python_batch"] <= 1.1 * r["cpp_values"]))
        overhead = max(python["python_value_list"], python["python_value_array"]) - python["cpp_value"]
        rows.append(("Python single-point call: overhead at most 2 µs", fmt_time(overhead),
                     overhead <= 2e-6))
    for (n, m), limit in [((2, 1000000), 5.0), ((10, 100000), 10.0)]:
        t = gen.get(("generate", "automatic", n, m))
        if t is not None:
            rows.append((f"generation, m = {m:,}, n = {n}: under {limit:g} s", fmt_time(t), t < limit))
    if not rows:
        return
    w("## Targets")
    w("")
    w("| target | measured | met |")
    w("|---|---|---|")
    for name, measured, met in rows:
        w(f"| {name} | {measured} | {'yes' if met else '**no**'} |")
    w("")


SIMD_PATHS = ("sse2", "avx2", "avx512")

# The figures of the round-two targets before that work (the batch table of
# the previous edition of this page), kept as measured then.
ROUND_TWO = [
    ("D2 value, n = 2, m = 10, one thread: under 6 ns per point", ("value_D2", 2, 10), 6e-9, "12.3 ns"),
    ("D2 value, n = 2, m = 100, one thread: under 20 ns per point", ("value_D2", 2, 100), 20e-9, "58.7 ns"),
    ("D2 value, n = 2, m = 1,000, one thread: under 60 ns per point", ("value_D2", 2, 1000), 60e-9, "256 ns"),
    ("D2 gradient, n = 2, m = 10, one thread: under 15 ns per point", ("gradient_D2", 2, 10), 15e-9, "36 ns"),
    ("D2 value, n = 100, m = 10, one thread: under 200 ns per point", ("value_D2", 100, 10), 200e-9, "376 ns"),
]


def render_round_two(w, batch, simd):
    """The targets of the vector-width work, and the batch values by instruction set."""
    rows = []
    for name, (op, n, m), limit, before in ROUND_TWO:
        t = batch.get((op, "one_thread", n, m))
        if t is not None:
            rows.append(f"| {name} | {before} | {fmt_time(t)} | {'yes' if t < limit else '**no**'} |")
    if not rows:
        return
    w("## Targets of the vector-width work")
    w("")
    w("Batch forms of `travo::Member` on one thread, per point, the widest")
    w("instruction set the processor has (see *Batch evaluation* below for the")
    w("points); *before*: the same benchmark before this work (two-lane blocks")
    w("for members of up to 257 minima in up to 16 dimensions, gradients")
    w("located in blocks and computed point by point, the k-d tree for large")
    w("members).")
    w("")
    w("| target | before | now | met |")
    w("|---|---|---|---|")
    for r in rows:
        w(r)
    w("")
    if simd:
        w("The D2 value batch with the block kernels held to each instruction set")
        w("(`core::BatchEvaluator` with the member's index, one thread; every set")
        w("gives the same bits, which the tests check on each set the processor")
        w("runs, and `TRAVO_SIMD` holds a program to one):")
        w("")
        paths = [p for p in SIMD_PATHS if any(k[1] == p and k[0] == "value_D2" for k in simd)]
        w("| n | m | per point | " + " | ".join(paths) + " | widest, points outside regions only |")
        w("|---|---|---|" + "---|" * len(paths) + "---|")
        for n, m in sorted({(k[2], k[3]) for k in simd}):
            cells = [fmt_time(simd.get(("value_D2", p, n, m))) for p in paths]
            far = [v for k, v in simd.items() if k[0] == "value_D2_paraboloid" and k[2:] == (n, m)]
            w(f"| {n} | {m:,} | {fmt_time(batch.get(('value_D2', 'per_point', n, m)))} | " + " | ".join(cells) +
              f" | {fmt_time(far[0] if far else None)} |")
        w("")
    w(WHERE_TIME_GOES)


WHERE_TIME_GOES = """Where the time goes for the two targets not met, from the run of this
page and a sampling profile of the kernels (`perf record -e cpu-clock`):

- **n = 2, m = 10 (about 6.7 ns, target 6 ns).** The last column, points
  outside every region, is the search in lanes (the box test and nine
  regions, eight points a vector), the square root and the paraboloid:
  about 4.5 ns a point. A point inside a region adds about 4 ns more: the D2
  formula takes seven divisions per point, three of them one after another
  (q = s / r, then 12 q / rho and its kin, then c r^3 / rho), and the
  profile puts most samples of the value kernel on the instructions waiting
  for them. Blocks of 32 points in two dimensions (16 elsewhere, where the
  larger block costs more than it gains) let the divisions of two packs of
  region points overlap; that took the figure from 8.8 ns to 6.7 ns. The
  order of operations, and so every division, is fixed by the bits the
  members must keep.
- **n = 2, m = 100 (about 30 ns, target 20 ns).** Here the blocks take each
  point's region from the grid, point by point, and keep only the formulas
  in lanes: the points outside every region, which need no formula, already
  cost about 21 ns, nearly all of it the grid lookup (the cell, then the
  three to five regions it lists at this size, each a sum of squares and a
  comparison), as the profile shows. Searching the 99 regions in lanes costs
  more at this size, which is why blocks switch to the grid above 33 minima
  in up to three dimensions. A grid lookup in lanes (each lane walking its
  own cell's list) is what remains to try.
"""


def render_batch(w, batch, host, octave, machine):
    """Batch evaluation of the C++ interface, and the host entry."""
    if batch:
        w("## Batch evaluation")
        w("")
        w("Time per point of the batch forms of `travo::Member` over a batch of")
        w("points (about 131,000 coordinates: 65,536 points at n = 2, fewer for")
        w("Hessians), half uniform in the box and half inside regions as above.")
        w("*reference*: one point after another, located by `find_region` (a square")
        w("root per region) and evaluated; *per point*: one point after another")
        w("through the member's `RegionIndex`, the batch loop before blocks and")
        w("threads; *one thread*: the batch form with `threads = 1` (blocks of 16")
        w("points in the lanes of the widest vectors the processor has, the regions")
        w("searched in lanes for small members and found through the index for")
        w("large ones); *all")
        w(f"threads*: the same over the {machine[1]} hardware threads. The machine is")
        w("shared with other work, which hurts the threaded times most: they are")
        w("the best of the repetitions, not a clean measure of scaling.")
        w("")
        names = {"value_D2": "D2 value", "gradient_D2": "D2 gradient", "hessian": "Hessian"}
        w("| operation | n | m | reference | per point | one thread | all threads | reference / one thread |")
        w("|---|---|---|---|---|---|---|---|")
        for op in ("value_D2", "gradient_D2", "hessian"):
            for n, m in sorted({(k[2], k[3]) for k in batch if k[0] == op}):
                t = {p: batch.get((op, p, n, m)) for p in ("reference", "per_point", "one_thread", "all_threads")}
                w(f"| {names[op]} | {n} | {m:,} | {fmt_time(t['reference'])} | {fmt_time(t['per_point'])} | "
                  f"{fmt_time(t['one_thread'])} | {fmt_time(t['all_threads'])} | "
                  f"{ratio(t['reference'], t['one_thread'])} |")
        w("")
    if host or octave:
        w("## The host entry")
        w("")
        w("One call `travo(10, -1, 2/3, 1/3, \"D2_func\", 1, X, Y)` with X and Y of k")
        w("points (x = −1 + 2 frac(k a₁), y = −1 + 2 frac(k a₂), a low-discrepancy")
        w("sequence over the box): checks, generation of the member, evaluation.")
        w("*host layer*: the entry called through travo's host layer")
        w("(`travo::host::call`, result copied out of the call); *module-wide loop*:")
        w("the same member generated through the C interface and `TRAVO_D2_func`")
        w("called at each point, as the entry did before it read the member once")
        w("(the reference; ratio: module-wide loop / host layer); *Octave*: the call")
        w("from Octave through `travo.mex`, timed with tic and toc")
        w("(`bench/octave_host.m`, shortest call); *library batch*: `Member::values`")
        w("on one thread at the same points, without generation.")
        w("")
        w("| points | host layer | module-wide loop | ratio | Octave | library batch | Octave / library batch |")
        w("|---|---|---|---|---|---|---|")
        for k in sorted({key[1] for key in host} | set(octave)):
            e, ml, lib = host.get(("entry", k)), host.get(("module_loop", k)), host.get(("library_batch", k))
            o = octave.get(k)
            w(f"| {k:,} | {fmt_time(e)} | {fmt_time(ml)} | {ratio(ml, e)} | {fmt_time(o)} | {fmt_time(lib)} | "
              f"{(f'{o / lib:.3g}×' if o and lib else '–')} |")
        w("")
        w("At one point the call is the generation of the member; the library")
        w("batch then does no more than evaluate.")
        w("")


# A one-time comparison, kept as measured: it is not produced by bench.sh.
FORMULAS_ONCE = """## Formulas written once: before and after

The value expressions of the three kinds became templates
(`src/evaluation/formulas.hpp`) instantiated for one double and for the
two lanes of batch evaluation, and the single-entry and whole-row
derivatives one entry function each; the region searches moved to
`src/evaluation/lookup.*`. Measured once, in one session on the shared
machine (load average about 16 on 2 cores), the evaluation and batch
benchmarks of the commit before the change and of the change itself run
alternately, twice each, three repetitions a run; CPU time, the lowest
median of the runs of each side (the gradient and Hessian rows from a
third such session, after the diagonal term of a single Hessian entry was
again computed only on the diagonal). Differences within about ±15 % are
the noise of that machine: the *components* rows at m = 1,000 time almost
only the reference lookup, a square root per region, whose code did not
change (it moved to `lookup.cpp`) and which serves tests and benchmarks
only.

| benchmark | n | m | before | after | after / before |
|---|---|---|---|---|---|
| value_ND/index | 2 | 10 | 33.6 ns | 34.5 ns | 1.03 |
| value_ND/index | 2 | 1,000 | 113.3 ns | 111.4 ns | 0.98 |
| value_ND/index | 100 | 10 | 418.3 ns | 411.8 ns | 0.98 |
| value_D/index | 2 | 10 | 35.4 ns | 35.4 ns | 1.00 |
| value_D/index | 2 | 1,000 | 112.7 ns | 109.5 ns | 0.97 |
| value_D/index | 100 | 10 | 420.5 ns | 414.2 ns | 0.99 |
| value_D2/index | 2 | 10 | 38.4 ns | 39.5 ns | 1.03 |
| value_D2/index | 2 | 1,000 | 118.3 ns | 112.3 ns | 0.95 |
| value_D2/index | 100 | 10 | 433.9 ns | 419.6 ns | 0.97 |
| gradient_D2/index | 2 | 10 | 42.7 ns | 39.5 ns | 0.92 |
| gradient_D2/index | 2 | 1,000 | 120.4 ns | 125.6 ns | 1.04 |
| gradient_D2/index | 100 | 10 | 574.2 ns | 503.7 ns | 0.88 |
| hessian/index | 2 | 10 | 98.4 ns | 80.0 ns | 0.81 |
| hessian/index | 2 | 1,000 | 166.4 ns | 160.6 ns | 0.96 |
| hessian/index | 100 | 10 | 47.69 µs | 42.37 µs | 0.89 |
| gradient_D2/components | 2 | 10 | 117.7 ns | 78.8 ns | 0.67 |
| gradient_D2/components | 2 | 1,000 | 3.26 µs | 3.71 µs | 1.14 |
| gradient_D2/components | 100 | 10 | 49.42 µs | 48.70 µs | 0.99 |
| hessian/components | 2 | 10 | 255.1 ns | 181.2 ns | 0.71 |
| hessian/components | 2 | 1,000 | 6.53 µs | 8.10 µs | 1.24 |
| hessian/components | 100 | 10 | 4.98 ms | 4.85 ms | 0.97 |
| batch_value_D2/per_point | 2 | 10 | 2.80 ms | 2.70 ms | 0.96 |
| batch_value_D2/per_point | 2 | 100 | 10.18 ms | 7.35 ms | 0.72 |
| batch_value_D2/per_point | 2 | 1,000 | 16.28 ms | 14.59 ms | 0.90 |
| batch_value_D2/per_point | 100 | 10 | 521.40 µs | 525.08 µs | 1.01 |
| batch_value_D2/one_thread | 2 | 10 | 878.48 µs | 872.71 µs | 0.99 |
| batch_value_D2/one_thread | 2 | 100 | 5.40 ms | 4.63 ms | 0.86 |
| batch_value_D2/one_thread | 2 | 1,000 | 15.19 ms | 14.97 ms | 0.99 |
| batch_value_D2/one_thread | 100 | 10 | 561.55 µs | 509.92 µs | 0.91 |

*index*: one point through the member's `RegionIndex` (values, whole
gradient, whole Hessian); *components*: gradient and Hessian entry by
entry, each with the reference lookup; *per point* and *one thread*: the
batch forms of `travo::Member`, D2 values, per batch as in the batch
benchmark.
"""
def render_kept(w, kept):
    """Single-point Octave calls answered from a kept member."""
    if not kept:
        return
    w("## Kept members in Octave")
    w("")
    w("A repeated call `travo(m, -1, 2/3, 1/3, \"D2_func\", 1, 0.1, 0.2)` from Octave,")
    w("answered from the member the module keeps (`bench/octave_cache.m`: the")
    w("shortest mean over loops of 2,000 calls), against two trivial extension")
    w("modules built by the benchmark that take the same eight inputs and return")
    w("one number: *trivial (X, Y)* reads only X and Y; *trivial (all)* reads every")
    w("input as an entry that checks them must (the action text with")
    w("`mxGetString`, and the seven numbers). Before members were kept, such a call")
    w("cost the generation of the member (see *Generation*).")
    if "load" in kept:
        w(f"Load average when measured: {kept['load']}.")
    w("")
    w("| m | travo | trivial (X, Y) | ratio | trivial (all) | ratio |")
    w("|---|---|---|---|---|---|")
    for m, (t, xy, al) in sorted((k, v) for k, v in kept.items() if k != "load"):
        w(f"| {m:,} | {fmt_time(t)} | {fmt_time(xy)} | {t / xy:.2f}× | {fmt_time(al)} | {t / al:.2f}× |")
    w("")
    w("A profile of the travo loop (perf, m = 10) puts the module's own code at")
    w("about 2.5 % of the samples; the rest is Octave's interpreter and its mex")
    w("layer, mostly the allocation and bookkeeping behind the inputs the entry")
    w("reads, its two host buffers and the result. The entry's checks read every")
    w("input, as `trivial (all)` does, so its ratio is the one the module can act on.")
def render_python(w, python):
    """The Python package against the C++ interface, from the same run."""
    if not python:
        return
    w("## Python")
    w("")
    w("`bench/python_bench.py` (run by `scripts/bench.sh`): the default member")
    w(f"(n = {python['dim']}, m = {python['num_minima']}), {python['kind']} kind, the same {python['points']:,} points")
    w("uniform in the box on both sides, C++ and Python runs alternating, shortest")
    w("of the repetitions. *C++*:")
    w("`Member::values` (`bench/python_reference.cpp`); *Python*:")
    w("`member.value(points, out=out, threads=...)` on a C-contiguous float64 array")
    w("(read in place). One call: `member.value(x)` against `Member::value` at")
    w("the first point; the overhead is the difference (argument parsing, reading")
    w("x, the result object). The Python batch is the same `Member::values` call on the")
    w("caller's memory, without a copy, so on a shared machine the difference")
    w("between the two batch columns is mostly the load of the moment.")
    if "date" in python:
        w(f"Measured {python['date']}, load average {', '.join(map(str, python['load_average']))}.")
    w("")
    w("| batch | C++ | Python | Python / C++ |")
    w("|---|---|---|---|")
    for label, name in (("one_thread", "one thread"), ("all_threads", "all threads")):
        r = python[label]
        w(f"| {name} | {fmt_time(r['cpp_values'])} | {fmt_time(r['python_batch'])} | "
          f"{r['python_batch'] / r['cpp_values']:.2f}× |")
    w("")
    w("| one call | time | C++ `Member::value` | overhead |")
    w("|---|---|---|---|")
    for key, name in (("python_value_list", "x a list of 2 floats"), ("python_value_array", "x an array (2,)")):
        w(f"| {name} | {fmt_time(python[key])} | {fmt_time(python['cpp_value'])} | "
          f"{fmt_time(python[key] - python['cpp_value'])} |")
    w("")


DESIGN = """## How the fast paths stay exact

**Region sizing** (`src/generator/fast_basins.cpp`, `src/spatial/spatial_index.{hpp,cpp}`).
A k-d tree over all m rows (median splits on the widest side, leaves of 12
rows up to n = 3 and 32 above) stores each subtree's bounding box, its
largest radius and its lowest row. The first radii are nearest-neighbour
queries, the widening is a query for the smallest distance − radius with
the radii as they stand: rows are visited in increasing order and a widened
row raises the largest radius of its subtrees before the next row is
queried, so the order of the straightforward pass is kept. A subtree is
skipped only when its squared box distance exceeds `KdTree::reach2(bound)`,
which widens the bound by a relative 1e-9 and an absolute 1e-140 (rounding
moves a computed distance by at most about 1e-12 relative); every candidate
that survives is computed as `norm` computes it — squares summed in
increasing coordinate order, then the square root — and a candidate's sum
is left early only once it exceeds the same safe bound (a running sum of
squares never decreases). The minimum over the same set of values does not
depend on the order of the visit. A widening search also stops as soon as
it finds a gap not greater than radius + 1e-10: the smallest gap is then
not greater either, so the row is not widened, exactly as in the scan.

**Coincidence test**: the vertex test is one pass as before; pairs among
rows 1..m−1 are found by sorting on the widest axis and comparing only rows
whose coordinates there differ by at most 2e-10 (farther rows cannot be
within 1e-10). 14 is still reported before 15.

**Region lookup**: `find_region_scan` compares each sum of squares with
bounds from the radius (ρ²(1 ∓ 1e-12) for 1e-140 ≤ ρ ≤ 1e140; by sign for
negative radii) and takes the square root only between them, giving the
decision `!(sqrt(sum) > ρ)` of the reference. `core::RegionIndex` adds a k-d
tree over the minimizers with subtree radii and lowest rows (low dimension)
or a contiguous row scan that leaves each sum early (high dimension); the
lowest index among the regions holding the point wins in both.

**Fallbacks**: NaN, infinite or huge (beyond 1e150) coordinates, a NaN or
infinite global radius, or NaN region radii take the straightforward code,
where NaN takes part through its comparison rules (a NaN distance is “not
greater” than any radius). The fast forms are chosen by size
(`fast_sizing_pays`, `fast_coincidence_pays`, `RegionIndex::tree_pays`),
from the measurements above.

**Batch evaluation** (`src/evaluation/batch.{hpp,cpp}`). For a member of
at most 257 minima in at most 16 dimensions with finite rows,
`core::BatchEvaluator` takes 16 points at a time into the two lanes of SSE2
vector registers (GCC and Clang vector types; SSE2 is the baseline of
x86-64, so no `-march` is needed) and runs every step on all lanes alike,
without branches: the box test; for each region from the last to the first,
each point's sum of squares, summed as `norm` sums it, kept when it is not
above the upper bound of the scan (so the lowest such region is kept, and
every region before it was surely outside); then the kept sum against the
lower bound, which makes it surely inside. A point whose kept sum lies
between the bounds, or with a NaN coordinate, goes back to the per-point
lookup. Every point's distance to its row (the vertex for the paraboloid)
gives the paraboloid's value; the points of regions are packed into lanes
of their own and the region formulas applied with the operations of
`value` in their order, with what depends on the region alone (A,
10 A / ρ², ...) computed once per region by the same expressions. A lane
rounds as the scalar instruction does and nothing is contracted, so each
point has its single-point bits in any block and lane; gradients and
Hessians take their `Site`s from the same search. The test compares blocks
with `locate` on generated members and on members with overlapping regions,
negative, zero, NaN, infinite, tiny and huge radii.

**Threads**: `Member::values`, `gradients`, `values_and_gradients` and
`hessians` split a batch into contiguous slices of whole blocks, one per
thread (`std::jthread`), each writing only its own part of the output; a
batch is spread when each thread gets at least 32,768 numbers (about
10,000 values at n = 2, a few Hessians at n = 100), or over the number of
threads the caller asks for. Points are evaluated independently, so the
bits do not depend on the slicing; the test compares 1, 2, 3 and 7 threads
and the automatic choice with the single-point forms.

**The host entry** (`src/gateway/gateway.cpp`) reads the member it
generated from the module-wide state once per call (`travo::module::load`)
and evaluates with the core: values a block at a time (a region index
built for the call when the member is too large for blocks, the scan if
there is no memory for either), derivatives and Hessian entries from one
`locate` per point. Checks, messages and their order are unchanged; the
test compares every action with the module-wide operations.

**Where the index lives**: the module-wide C interface lets callers
overwrite the tables at any moment and checking them would cost as much as
the scan, so it keeps no index and uses `find_region_scan`. A
`RegionIndex` is a snapshot built from a member whose tables no one may
change afterwards — the immutable member of the C++ interface owns one
beside its tables; `find()` falls back to the scan if handed a member of
another size.
"""


def render_plot(gen, docs):
    """Log-log plot of generation time against m, one line per (path, n)."""
    if shutil.which("gnuplot") is None or not gen:
        return None
    data_path = os.path.join(docs, "performance-generation.dat")
    series = []
    with open(data_path, "w") as f:
        for path in ("reference", "automatic"):
            for n in sorted({k[2] for k in gen}):
                pts = sorted((k[3], t) for k, t in gen.items() if k[1] == path and k[2] == n)
                if not pts:
                    continue
                f.write(f"# {path} n={n}\n")
                for m, t in pts:
                    f.write(f"{m} {t}\n")
                f.write("\n\n")
                series.append((f"{path}, n = {n}", "dt 2" if path == "reference" else "dt 1"))
    png = "performance-generation.png"
    plots = ", ".join(f"'{data_path}' index {i} with linespoints {dash} lw 2 title '{title}'"
                      for i, (title, dash) in enumerate(series))
    script = (
        "set terminal pngcairo size 800,500 noenhanced\n"
        f"set output '{os.path.join(docs, png)}'\n"
        "set logscale xy\nset format x '%g'\nset format y '%g'\nset xlabel 'm'\nset ylabel 'seconds'\n"
        "set grid\nset key left top\n"
        "set title 'Generation time against m'\n"
        f"plot {plots}\n")
    try:
        subprocess.run(["gnuplot"], input=script, text=True, check=True, capture_output=True)
    except (subprocess.CalledProcessError, OSError):
        return None
    finally:
        os.remove(data_path)
    return png


if __name__ == "__main__":
    main()
