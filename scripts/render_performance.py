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
    w("replaces; the tests in `tests/generator/fast_generation_test.cpp` and")
    w("`tests/evaluation/fast_lookup_test.cpp` compare them bit for bit.")
    w("")

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
    w("`core::RegionIndex` built once per member (k-d tree, or a row scan that")
    w("leaves each sum early in high dimension); *components* computes the")
    w("gradient or Hessian as n or n² separate operations, each with its own")
    w("reference lookup, as a caller of the per-entry operations would.")
    w("")
    for m in sorted({k[3] for k in ev}):
        w(f"### m = {m:,}")
        w("")
        w("| operation | lookup | " + " | ".join(f"n = {n}" for n in sorted({k[2] for k in ev if k[3] == m})) + " |")
        dims = sorted({k[2] for k in ev if k[3] == m})
        w("|---|---|" + "---|" * len(dims))
        rows = [("value_ND", "reference"), ("value_ND", "index"), ("value_D", "reference"), ("value_D", "index"),
                ("value_D2", "reference"), ("value_D2", "scan"), ("value_D2", "index"), ("value_D2", "tree"),
                ("value_D2", "rows"), ("gradient_D2", "components"), ("gradient_D2", "reference"),
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
    out.append(DESIGN)
    with open(os.path.join(docs, "performance.md"), "w") as f:
        f.write("\n".join(out))


DESIGN = """## How the fast paths stay exact

**Region sizing** (`src/generator/fast_basins.cpp`, `spatial_index.{hpp,cpp}`).
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
