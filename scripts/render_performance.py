#!/usr/bin/env python3
"""Renders docs/performance.md from the results of scripts/bench.sh.

The prose is the template docs/performance.md.in; this script renders the
tables, the figure and the few numbers of the run that the prose quotes,
and fills the template's ${name} fields with them.

usage: render_performance.py RESULTS_DIR DOCS_DIR
"""
import json
import os
import re
import shutil
import string
import subprocess
import sys
from datetime import date

TEMPLATE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "performance.md.in")

OP = re.compile(r"^(?P<op>[^/]+)/(?P<path>[^/]+)/n:(?P<n>\d+)/m:(?P<m>\d+)")
BATCH = re.compile(r"^batch_(?P<op>[^/]+)/(?P<path>[^/]+)/n:(?P<n>\d+)/m:(?P<m>\d+)")
HOST = re.compile(r"^host_D2/(?P<path>[^/]+)/points:(?P<k>\d+)")
SIMD_PATHS = ("sse2", "avx2", "avx512")
UNITS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


# Reading the results.

def read_json(path):
    """The one JSON loader: the document in `path`, or {} when there is none."""
    if not os.path.exists(path):
        return {}
    with open(path) as f:
        return json.load(f)


def read_lines(path):
    """The lines of a text result split into fields, or [] when there is none."""
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [line.split() for line in f]


def runs(document):
    """(run name, seconds, entry) of each run of a Google Benchmark document: the 'min' aggregate of repeated
    runs, or the single run."""
    for b in document.get("benchmarks", []):
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "min":
            continue
        yield b.get("run_name", b["name"]), b["real_time"] * UNITS[b["time_unit"]], b


def keep_min(times, key, t):
    times[key] = min(t, times.get(key, t))


def operations(document):
    """{(op, path, n, m): seconds} of the generation and evaluation benchmarks."""
    times = {}
    for name, t, _ in runs(document):
        mt = OP.match(name)
        if mt:
            keep_min(times, (mt["op"], mt["path"], int(mt["n"]), int(mt["m"])), t)
    return times


def batches(document):
    """({(op, path, n, m): seconds per point}, {(path, points): seconds per call}) of the batch benchmarks."""
    per_point, host = {}, {}
    for name, t, b in runs(document):
        mt = BATCH.match(name)
        if mt:
            keep_min(per_point, (mt["op"], mt["path"], int(mt["n"]), int(mt["m"])), t / b.get("points", 1.0))
        elif mt := HOST.match(name):
            keep_min(host, (mt["path"], int(mt["k"])), t)
    return per_point, host


def octave_calls(lines):
    """{points: seconds} from bench/octave_host.m."""
    return {int(p[0]): float(p[1]) for p in lines if len(p) == 2}


def kept_calls(lines):
    """{m: (travo, trivial_xy, trivial_all)} seconds per call from bench/octave_cache.m, and "load"."""
    times = {}
    for p in lines:
        if len(p) == 4 and p[0] == "load":
            times["load"] = ", ".join(p[1:])
        elif len(p) == 4:
            times[int(p[0])] = tuple(float(v) for v in p[1:])
    return times


# Rendering.

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


def met(ok):
    return "yes" if ok else "**no**"


def table(header, rows):
    """A Markdown table; "" when it has no rows."""
    if not rows:
        return ""
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(c) for c in row) + " |" for row in rows]
    return "\n".join(lines)


def targets_table(gen, ev, batch, host, octave, kept, python):
    """The targets of the performance work, met or not, from this run."""
    rows = []
    v = batch.get(("value_D2", "one_thread", 2, 10))
    if v is not None:
        rows.append(("D2 value, m = 10, n = 2, batch form, one thread: under 15 ns per point",
                     fmt_time(v) + " per point", met(v < 15e-9)))
    g, val = ev.get(("gradient_D2", "index", 1000, 10)), ev.get(("value_D2", "index", 1000, 10))
    if g is not None and val is not None:
        rows.append(("gradient, n = 1000, m = 10: about one value + O(n)",
                     f"{fmt_time(g)} (value {fmt_time(val)}, {g / val:.2f}×)", met(g < 2 * val + 20e-6)))
    h = ev.get(("hessian", "index", 100, 10))
    if h is not None:
        rows.append(("Hessian, n = 100, m = 10: under 1 ms", fmt_time(h), met(h < 1e-3)))
    o, lib = octave.get(1000000), host.get(("library_batch", 1000000))
    if o is not None and lib is not None:
        rows.append(("Octave call D2_func, 1,000,000 points: within 1.5× the library's batch loop (one thread)",
                     f"{fmt_time(o)} (library {fmt_time(lib)}, {o / lib:.2f}×)", met(o <= 1.5 * lib)))
    for m, (t, xy, _) in sorted((k, v) for k, v in kept.items() if k != "load"):
        rows.append((f"Octave call D2_func at one point, kept member, m = {m:,}: within 2× a trivial module",
                     f"{fmt_time(t)} (trivial module {fmt_time(xy)}, {t / xy:.2f}×)", met(t <= 2 * xy)))
    if python:
        r = python["one_thread"]
        rows.append((f"Python batch value(points), {python['points']:,} points: within 1.1× Member::values "
                     "(one thread)", f"{fmt_time(r['python_batch'])} (C++ {fmt_time(r['cpp_values'])}, "
                     f"{r['python_batch'] / r['cpp_values']:.2f}×)", met(r["python_batch"] <= 1.1 * r["cpp_values"])))
        overhead = max(python["python_value_list"], python["python_value_array"]) - python["cpp_value"]
        rows.append(("Python single-point call: overhead at most 2 µs", fmt_time(overhead), met(overhead <= 2e-6)))
    for (n, m), limit in GENERATION_TARGETS:
        t = gen.get(("generate", "automatic", n, m))
        if t is not None:
            rows.append((f"generation, m = {m:,}, n = {n}: under {limit:g} s", fmt_time(t), met(t < limit)))
    return table(("target", "measured", "met"), rows)


# The round-two targets with their figures before that work (the batch table
# of the edition of the page before it), kept as measured then.
ROUND_TWO = [
    ("D2 value, n = 2, m = 10, one thread: under 6 ns per point", ("value_D2", 2, 10), 6e-9, "12.3 ns"),
    ("D2 value, n = 2, m = 100, one thread: under 20 ns per point", ("value_D2", 2, 100), 20e-9, "58.7 ns"),
    ("D2 value, n = 2, m = 1,000, one thread: under 60 ns per point", ("value_D2", 2, 1000), 60e-9, "256 ns"),
    ("D2 gradient, n = 2, m = 10, one thread: under 15 ns per point", ("gradient_D2", 2, 10), 15e-9, "36 ns"),
    ("D2 value, n = 100, m = 10, one thread: under 200 ns per point", ("value_D2", 100, 10), 200e-9, "376 ns"),
]


def round_two_table(batch):
    rows = []
    for name, (op, n, m), limit, before in ROUND_TWO:
        t = batch.get((op, "one_thread", n, m))
        if t is not None:
            rows.append((name, before, fmt_time(t), met(t < limit)))
    return table(("target", "before", "now", "met"), rows)


def simd_table(batch):
    """The D2 value batch with the block kernels held to each instruction set."""
    simd = {k: v for k, v in batch.items() if k[1] in SIMD_PATHS}
    paths = [p for p in SIMD_PATHS if any(k[1] == p and k[0] == "value_D2" for k in simd)]
    rows = []
    for n, m in sorted({(k[2], k[3]) for k in simd}):
        far = [v for k, v in simd.items() if k[0] == "value_D2_paraboloid" and k[2:] == (n, m)]
        rows.append((n, f"{m:,}", fmt_time(batch.get(("value_D2", "per_point", n, m))),
                     *(fmt_time(simd.get(("value_D2", p, n, m))) for p in paths), fmt_time(far[0] if far else None)))
    return table(("n", "m", "per point", *paths, "widest, points outside regions only"), rows)


GENERATION_TARGETS = [((2, 1000000), 5.0), ((10, 100000), 10.0)]


def generation_tables(gen):
    """The generation table, the sizes where the reference was not run, and the generation targets."""
    sizes = sorted({(k[2], k[3]) for k in gen})
    rows = []
    for n, m in sizes:
        ref, auto, tree, lanes = (gen.get(("generate", p, n, m)) for p in ("reference", "automatic", "tree", "lanes"))
        tree = tree or gen.get(("generate", "fast", n, m))  # the tree's name before the lanes
        rows.append((n, f"{m:,}", fmt_time(ref), fmt_time(auto), ratio(ref, auto), fmt_time(tree), fmt_time(lanes)))
    skipped = "; ".join(f"n = {n}, m = {m:,}" for n, m in sizes if ("generate", "reference", n, m) not in gen)
    targets = []
    for (n, m), limit in GENERATION_TARGETS:
        t = gen.get(("generate", "automatic", n, m))
        targets.append((f"m = {m:,}, n = {n}: under {limit:g} s", fmt_time(t),
                        "not measured" if t is None else met(t < limit)))
    return (table(("n", "m", "reference", "automatic", "ratio", "tree (forced)", "lanes (forced)"), rows),
            skipped or "none",
            table(("target", "measured", "met"), targets))


EVALUATION_ROWS = [("value_ND", "reference"), ("value_ND", "index"), ("value_D", "reference"), ("value_D", "index"),
                   ("value_D2", "reference"), ("value_D2", "scan"), ("value_D2", "index"), ("value_D2", "tree"),
                   ("value_D2", "rows"), ("value_D2", "grid"), ("gradient_D2", "components"),
                   ("gradient_D2", "reference"), ("gradient_D2", "index"), ("hessian", "components"),
                   ("hessian", "reference"), ("hessian", "index")]


def evaluation_tables(ev):
    """One table a number of minima, with its heading, and the evaluation targets."""
    parts = []
    for m in sorted({k[3] for k in ev}):
        dims = sorted({k[2] for k in ev if k[3] == m})
        rows = []
        for op, lookup in EVALUATION_ROWS:
            cells = [fmt_time(ev.get((op, lookup, n, m))) for n in dims]
            if any(c != "–" for c in cells):
                rows.append((op, lookup, *cells))
        parts.append(f"### m = {m:,}\n\n" + table(("operation", "lookup", *(f"n = {n}" for n in dims)), rows))
    targets = []
    for m in sorted({k[3] for k in ev}):
        h = ev.get(("hessian", "index", 100, m))
        if h is not None:
            targets.append((f"Hessian, n = 100, m = {m:,}: under 1 ms", fmt_time(h), met(h < 1e-3)))
    for m in sorted({k[3] for k in ev}):
        g, v = ev.get(("gradient_D2", "index", 1000, m)), ev.get(("value_D2", "index", 1000, m))
        if g is not None and v is not None:
            targets.append((f"gradient, n = 1000, m = {m:,}: about one value + O(n)",
                            f"{fmt_time(g)} (value {fmt_time(v)}, {g / v:.2f}×)", met(g < 2 * v + 20e-6)))
    return "\n\n".join(parts), table(("target", "measured", "met"), targets)


def batch_table(batch):
    names = {"value_D2": "D2 value", "gradient_D2": "D2 gradient", "hessian": "Hessian"}
    rows = []
    for op in names:
        for n, m in sorted({(k[2], k[3]) for k in batch if k[0] == op}):
            t = {p: batch.get((op, p, n, m)) for p in ("reference", "per_point", "one_thread", "all_threads")}
            rows.append((names[op], n, f"{m:,}", fmt_time(t["reference"]), fmt_time(t["per_point"]),
                         fmt_time(t["one_thread"]), fmt_time(t["all_threads"]),
                         ratio(t["reference"], t["one_thread"])))
    return table(("operation", "n", "m", "reference", "per point", "one thread", "all threads",
                  "reference / one thread"), rows)


def host_table(host, octave):
    rows = []
    for k in sorted({key[1] for key in host} | set(octave)):
        e, ml, lib = host.get(("entry", k)), host.get(("module_loop", k)), host.get(("library_batch", k))
        o = octave.get(k)
        rows.append((f"{k:,}", fmt_time(e), fmt_time(ml), ratio(ml, e), fmt_time(o), fmt_time(lib),
                     f"{o / lib:.3g}×" if o and lib else "–"))
    return table(("points", "host layer", "module-wide loop", "ratio", "Octave", "library batch",
                  "Octave / library batch"), rows)


def kept_table(kept):
    rows = [(f"{m:,}", fmt_time(t), fmt_time(xy), f"{t / xy:.2f}×", fmt_time(al), f"{t / al:.2f}×")
            for m, (t, xy, al) in sorted((k, v) for k, v in kept.items() if k != "load")]
    return table(("m", "travo", "trivial (X, Y)", "ratio", "trivial (all)", "ratio"), rows)


def python_tables(python):
    """The batch and the single call of the Python package against the C++ interface."""
    if not python:
        return "", ""
    batch = [(name, fmt_time(python[label]["cpp_values"]), fmt_time(python[label]["python_batch"]),
              f"{python[label]['python_batch'] / python[label]['cpp_values']:.2f}×")
             for label, name in (("one_thread", "one thread"), ("all_threads", "all threads"))]
    call = [(name, fmt_time(python[key]), fmt_time(python["cpp_value"]), fmt_time(python[key] - python["cpp_value"]))
            for key, name in (("python_value_list", "x a list of 2 floats"), ("python_value_array", "x an array (2,)"))]
    return (table(("batch", "C++", "Python", "Python / C++"), batch),
            table(("one call", "time", "C++ `Member::value`", "overhead"), call))


def campaign_tables(doc):
    """The campaign benchmark (bench/campaign_bench.py): where a run's time goes, runs per second and the runner's
    overhead per run, a large database; each against the baseline tree measured in the same session."""
    if not doc:
        return {"campaign_targets": "Not measured in this run.", "campaign_split": "", "campaign_throughput": "",
                "campaign_commit": "",
                "campaign_database": "", "campaign_measured": "–"}

    def small(t):  # a difference of two measured times: at or below zero means within the noise
        return fmt_time(t) if t > 0 else "≈ 0"

    def per_run(r):  # wall time and the runs' own time per run in the steady state (first run to last)
        return r["steady"] / (r["runs"] - 1), r["in_runs"] / (r["runs"] - 1)

    targets, split = [], []
    for label, trees in doc["cases"].items():
        new, base = trees["new"], trees.get("base")
        wall, own = per_run(new)
        s = new["split"]
        solver = own * min(1.0, s["solver"] / s["execute"])  # the run's time as measured apart, in proportion
        travo, runner = own - solver, wall - own
        share = (travo + runner) / wall
        split.append((label, new["runs"], fmt_time(wall), fmt_time(solver), small(travo), small(runner),
                      f"{100 * share:.1f} %", fmt_time(per_run(base)[0]) if base else "–",
                      ratio(per_run(base)[0], wall) if base else "–"))
        if label.startswith("direct-l") and label.endswith("1e4"):
            targets.append((f"{label}: travo's and the runner's share of the wall time at most 10 %",
                            f"{100 * share:.1f} %", met(share <= 0.10)))
    workers = {"1": 1, "2": 2, "dask": 2}
    names = {"1": "one local worker", "2": "two local workers", "dask": "Dask LocalCluster, 2 × 1 thread"}
    throughput = []
    for key, trees in doc["throughput"].items():
        label, executor = key.rsplit("/", 1)
        row = [label, names[executor]]
        overheads = {}
        for tree in ("new", "base"):
            r = trees.get(tree)
            if r is None:
                row += ["–", "–"]
                continue
            wall, own = per_run(r)
            overheads[tree] = workers[executor] * wall - own
            row += [f"{1 / wall:,.0f}", small(overheads[tree])]
        positive = [overheads.get(t, 0) > 0 for t in ("base", "new")]
        throughput.append(tuple(row) + (ratio(overheads["base"], overheads["new"]) if all(positive) else "–",))
        if label == "near-empty":
            limit = 10e-3 if executor == "dask" else 3e-3
            targets.append((f"runner overhead per near-empty run, {names[executor]}: at most {fmt_time(limit)}",
                            small(overheads["new"]), met(overheads["new"] <= limit)))
    database = ""
    db = doc.get("database")
    if db:
        q = db["queries"]
        rows = [(name, fmt_time(q["base"][key]) if "base" in q else "–", fmt_time(q["new"][key]),
                 ratio(q["base"][key], q["new"][key]) if "base" in q else "–")
                for key, name in (("status", "`status`"), ("errors", "`status --errors`"),
                                  ("report_read", "the report's reading of every run (`travo.analysis.load`)"),
                                  ("resume", "`run` with nothing left to do (resume)"))]
        database = (f"{db['runs']:,} runs, {db['bytes'] / 2**20:,.0f} MiB; adding the index took "
                    f"{fmt_time(db['index']['seconds'])} (file then {db['index']['bytes'] / 2**20:,.0f} MiB).\n\n" +
                    table(("query", "before (no index)", "now", "ratio"), rows))
        if "base" in q:  # no figure was set: fast against the earlier code
            targets.append((f"`status` on {db['runs']:,} runs, against the earlier code without the index",
                            f"{fmt_time(q['new']['status'])} ({fmt_time(q['base']['status'])} before)",
                            f"{ratio(q['base']['status'], q['new']['status'])} faster"))
    commit = doc.get("commit")
    if commit:
        commit = (f"One run's transaction (`results.record_run`, a DIRECT-L run's record, {fmt_time(commit['journal'])} "
                  f"with the rollback journal and `synchronous = FULL` as before, {fmt_time(commit['wal'])} with the "
                  f"write-ahead log and `synchronous = NORMAL`: {ratio(commit['journal'], commit['wal'])} less).")
    return {"campaign_targets": table(("target", "measured", "met"), targets),
            "campaign_split": table(("campaign (one local worker)", "runs", "wall / run", "solver", "travo", "runner",
                                     "travo + runner", "before: wall / run", "ratio"), split),
            "campaign_throughput": table(("runs", "executor", "runs/s", "overhead / run", "before: runs/s",
                                          "before: overhead / run", "overhead ratio"), throughput),
            "campaign_commit": commit or "", "campaign_database": database,
            "campaign_measured": _measured(doc)}


def _measured(doc):
    """When each part of the campaign benchmark was measured, with the load average then."""
    measured = doc.get("measured")
    if not measured:
        return doc.get("date", "–") + ", load average " + ", ".join(f"{v:.2f}" for v in doc.get("load_before", []))
    return "; ".join(f"{part}: {m['date']}, load average {', '.join(f'{v:.2f}' for v in m['load'])}, best of "
                     f"{m.get('repetitions', doc.get('repetitions'))}" for part, m in measured.items())


# Generation in high dimension, the two batch targets left and threads, measured side by side with the code
# before that work (bench/side_by_side.py): {name: {"old": s, "new": s}} and the largest resident memory by
# selection.
SIDE_GENERATION_TARGETS = [((20, 100000), 30.0), ((100, 10000), 2.0), ((10, 100000), 3.0)]
SIDE_BATCH_TARGETS = [((2, 100), 20e-9), ((2, 10), 6e-9)]


def loads(run):
    """The load averages (1 minute) of a side-by-side run, at its start, each round and its end."""
    values = [run["load_before"][0], *(r[0] for r in run.get("load_by_round", [])[1:]), run["load_after"][0]]
    return ", ".join(f"{v:.1f}" for v in values)


def memory_of(run, n, m, side):
    """MiB resident at most while generating the member of n, m along `side`, or None."""
    for selection, used in run.get("max_rss_mib", {}).items():
        if f"generate/automatic/n:{n}/m:{m}(" in selection and side in used:
            return used[side]
    return None


def real_and_cpu(entry, side):
    """"real / processor time" of one side of a side-by-side entry."""
    if not entry or entry.get(side) is None:
        return "–"
    return f"{fmt_time(entry[side])} / {fmt_time(entry.get(side + '_cpu'))}"


def side_generation(run):
    """Generation targets before and now, on one and two threads, with the memory used."""
    if not run:
        return "*(not measured)*"
    b = run["benchmarks"]
    rows = []
    for (n, m), limit in SIDE_GENERATION_TARGETS:
        before = b.get(f"generate/automatic/n:{n}/m:{m}", {})
        one = b.get(f"generate/threads_1/n:{n}/m:{m}", {})
        two = b.get(f"generate/threads_2/n:{n}/m:{m}", {})
        mem_old, mem_new = memory_of(run, n, m, "old"), memory_of(run, n, m, "new")
        # Judged on one thread's processor time: the real times were taken on a machine busy with other work.
        cpu = one.get("new_cpu")
        rows.append((n, f"{m:,}", f"{limit:g} s", real_and_cpu(before, "old"), real_and_cpu(one, "new"),
                     real_and_cpu(two, "new"), ratio(before.get("old_cpu"), cpu),
                     ratio(one.get("new"), two.get("new")), ratio(one.get("new_cpu"), two.get("new_cpu")),
                     f"{mem_old:.0f} MiB" if mem_old else "–", f"{mem_new:.0f} MiB" if mem_new else "–",
                     met(cpu is not None and cpu < limit)))
    notes = "".join(f"\n\n{note}" for note in run.get("notes", []))
    return (table(("n", "m", "target", "before", "now, 1 thread", "now, 2 threads", "before / now (processor)",
                   "1 / 2 threads (real)", "1 / 2 threads (calling thread's processor time)", "memory before",
                   "memory now", "met (one thread, processor time)"), rows) +
            f"\n\nMeasured {run['date']}, {run['rounds']} rounds; load average (1 minute) at the start, each "
            f"further round and the end: {loads(run)}." + notes)


def side_batch(run):
    """The two D2 value targets before and now on each instruction set, and batches of 10^6 points on one and
    two threads."""
    if not run:
        return "*(not measured)*", "*(not measured)*"
    b = run["benchmarks"]
    rows = []
    for (n, m), limit in SIDE_BATCH_TARGETS:
        for path in ("one_thread", *SIMD_PATHS):
            t = b.get(f"batch_value_D2/{path}/n:{n}/m:{m}")
            if not t:
                continue
            # Judged on processor time, as the generation targets.
            verdict = met(t.get("new_cpu") is not None and t["new_cpu"] < limit) if path == "one_thread" else ""
            rows.append((n, f"{m:,}", "widest" if path == "one_thread" else path, fmt_time(limit),
                         real_and_cpu(t, "old"), real_and_cpu(t, "new"), ratio(t.get("old_cpu"), t.get("new_cpu")),
                         verdict))
    targets = table(("n", "m", "instruction set", "target", "before", "now", "before / now (processor)",
                     "met (processor time)"),
                    rows)
    scale = {}
    for name, t in b.items():
        mt = re.match(r"^scale_(?P<op>[^/]+)/threads_(?P<k>\d)/n:(?P<n>\d+)/m:(?P<m>\d+)", name)
        if mt:
            scale.setdefault((mt["op"], int(mt["n"]), int(mt["m"])), {})[int(mt["k"])] = t
    names = {"value_D2": "D2 value", "gradient_D2": "D2 gradient", "hessian": "Hessian"}
    threads = []
    for (op, n, m), t in sorted(scale.items(), key=lambda kv: (list(names).index(kv[0][0]), kv[0][1:])):
        one, two = t.get(1, {}), t.get(2, {})
        threads.append((names.get(op, op), n, f"{m:,}", real_and_cpu(one, "old"), real_and_cpu(two, "old"),
                        real_and_cpu(one, "new"), real_and_cpu(two, "new"), ratio(one.get("new"), two.get("new")),
                        ratio(one.get("new_cpu"), two.get("new_cpu"))))
    scaling = table(("operation", "n", "m", "before, 1 thread", "before, 2 threads", "now, 1 thread",
                     "now, 2 threads", "1 / 2 threads (real)", "1 / 2 threads (calling thread's processor time)"),
                    threads)
    note = (f"\n\nPer point, real / processor time of the calling thread. Measured {run['date']}, {run['rounds']} "
            f"rounds; load average (1 minute) at the start, each further round and the end: {loads(run)}.")
    return targets + note, scaling + note


def generation_figure(gen, docs):
    """Log-log plot of generation time against m, one line per (path, n); its Markdown, or "" without gnuplot."""
    if shutil.which("gnuplot") is None or not gen:
        return ""
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
        return ""
    finally:
        os.remove(data_path)
    return f"![Generation time against m]({png})"


def main():
    results, docs = sys.argv[1], sys.argv[2]
    os.makedirs(docs, exist_ok=True)
    result = lambda name: os.path.join(results, name)  # noqa: E731
    generation = read_json(result("generation.json"))
    gen, ev = operations(generation), operations(read_json(result("evaluation.json")))
    batch, host = batches(read_json(result("batch.json")))
    octave = octave_calls(read_lines(result("octave.txt")))
    kept = kept_calls(read_lines(result("octave_cache.txt")))
    python = read_json(result("python.json"))
    campaign = read_json(result("campaign.json"))
    machine = ["unknown"] * 4
    if os.path.exists(result("machine.txt")):
        with open(result("machine.txt")) as f:
            machine = (f.read().splitlines() + ["?"] * 4)[:4]

    generation_table, reference_not_run, generation_targets = generation_tables(gen)
    evaluation, evaluation_targets = evaluation_tables(ev)
    python_batch, python_call = python_tables(python)
    side_targets, side_scaling = side_batch(read_json(result("batch_side_by_side.json")))
    fields = {
        "machine": machine[0], "cores": machine[1], "compiler": machine[2], "load": machine[3],
        "date": generation.get("context", {}).get("date", str(date.today())),
        "targets": targets_table(gen, ev, batch, host, octave, kept, python),
        "round_two": round_two_table(batch), "simd": simd_table(batch),
        "generation": generation_table, "reference_not_run": reference_not_run,
        "generation_targets": generation_targets, "generation_figure": generation_figure(gen, docs),
        "evaluation": evaluation, "evaluation_targets": evaluation_targets,
        "batch": batch_table(batch), "host": host_table(host, octave),
        "kept": kept_table(kept), "kept_load": kept.get("load", "not recorded"),
        "python_dim": python.get("dim", "–"), "python_minima": python.get("num_minima", "–"),
        "python_kind": python.get("kind", "–"), "python_points": f"{python.get('points', 0):,}",
        "python_date": python.get("date", "–"),
        "python_load": ", ".join(map(str, python.get("load_average", []))) or "–",
        "python_batch": python_batch, "python_call": python_call,
        **campaign_tables(campaign),
        "side_generation": side_generation(read_json(result("generation_side_by_side.json"))),
        "side_batch_targets": side_targets, "side_batch_threads": side_scaling,
    }
    with open(TEMPLATE) as f:
        text = string.Template(f.read()).substitute(fields)
    with open(os.path.join(docs, "performance.md"), "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
