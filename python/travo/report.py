"""A report of campaign databases: the summary, the figures (PNG, SVG, PDF) and an HTML page.

    python -m travo.report DB [DB ...] -o DIR [--campaign NAME ...]

``DIR/index.html`` opens with the summary (per class, each solver's success
rate, ERT, cost to hit, budget, cost used and failed runs, and the pairwise
comparison of the solvers), then the figures, then each campaign's full
description (folded), so that a reader can reproduce the campaigns.
``DIR/summary.csv`` holds the summary's numbers and ``DIR/tables.tex`` the
same as LaTeX tables (booktabs). Every file goes through the safe writer
(``travo._files``): all of them are written, or none.
"""

from __future__ import annotations

import argparse
import io
import json
import math
import pathlib
import sys
from collections.abc import Iterator, Sequence

from . import _files, analysis
from .export import csv_text

FORMATS = ("png", "svg", "pdf")

#: Columns of summary.csv, in order.
SUMMARY_FIELDS = ("campaign", "suite", "kind", "solver", "members", "runs", "solved", "success_rate", "success_low",
                  "success_high", "ert", "ert_low", "ert_high", "median_hit", "budget", "mean_cost", "failed")

_PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8" />
<title>travo campaign report</title>
<style>
body{font-family:sans-serif;max-width:84em;margin:auto;padding:0 1em}
div.wide{overflow-x:auto}
table{border-collapse:collapse;margin:0.5em 0 1em;font-size:0.9em}
td,th{border:1px solid #bbb;padding:2px 6px;text-align:right}
td{white-space:nowrap}
td.l,th.l{text-align:left}
th{background:#f0f0f0}
td.sig{font-weight:bold}
img{max-width:100%}
pre{background:#f4f4f4;padding:8px;overflow-x:auto}
p.note{color:#555}
</style>
</head>
<body>
<h1>travo campaign report</h1>
<p>{{ campaigns|length }} campaign{{ "s" if campaigns|length != 1 }}
({% for c in campaigns %}{{ c.label }}{{ ", " if not loop.last }}{% endfor %})
from {% for d in dbs %}<code>{{ d }}</code>{{ ", " if not loop.last }}{% endfor %};
{{ total_runs }} runs. Numbers as data: <a href="summary.csv">summary.csv</a>, as LaTeX tables:
<a href="tables.tex">tables.tex</a>.</p>
<h2>Summary</h2>
<p class="note">Per campaign, class, kind and solver. Success: runs that met the box rule, with a 95 % Wilson
interval. ERT: expected running time (cost spent by all runs until their hit, or their whole cost, over the
number of hits), with a 95 % bootstrap interval ({{ samples }} resamples, seed {{ seed }}). Hit: median cost to
the box rule among the solved runs (quartiles). Table: the literature's convention, the mean trials with an
unsolved run counted as its budget. Costs in value evaluations (value 1, gradient n, Hessian n(n+1)/2).
{% if failed %}<strong>{{ failed }} run{{ "s" if failed != 1 }} failed</strong> (status error, crashed or
timeout): counted as runs without a hit in the success rates and left out of every cost.{% endif %}</p>
{% for c in classes %}
<h3>Class {{ c.name }}</h3>
<p>{{ "campaigns" if c.many else "campaign" }} {{ c.campaigns }}; kind {{ c.kind }}, n = {{ c.dim }},
f* = {{ c.global_value }}{% if c.empty %}; <strong>no run of this class
evaluated a point</strong> (every run failed), so it has no figures{% endif %}.</p>
<div class="wide"><table>
<tr>{% if c.many %}<th class="l">campaign</th>{% endif %}<th class="l">solver</th><th>members</th><th>runs</th>
<th>success</th><th>ERT</th><th>hit: median (quartiles)</th><th>table</th><th>budget</th><th>mean cost</th>
<th>failed</th></tr>
{% for r in c.rows %}<tr>{% if c.many %}<td class="l">{{ r.campaign }}</td>{% endif %}<td class="l">{{ r.solver }}</td>
<td>{{ r.members }}</td><td>{{ r.runs }}</td><td>{{ r.success }}</td><td>{{ r.ert }}</td><td>{{ r.hit }}</td>
<td>{{ r.table }}</td><td>{{ r.budget }}</td><td>{{ r.mean_cost }}</td><td>{{ r.failed }}</td></tr>
{% endfor %}</table></div>
{% if c.compare %}<p>Pairwise comparison over the {{ c.compare.members }} members: two-sided Wilcoxon signed-rank
tests of the per-member ERT, p-values Holm-corrected over the {{ c.compare.pairs }} pairs, and the better solver
of each pair (bold where p &lt; 0.05).</p>
<div class="wide"><table>
<tr><th></th>{% for l in c.compare.labels %}<th>{{ l }}</th>{% endfor %}</tr>
{% for row in c.compare.cells %}<tr><th class="l">{{ c.compare.labels[loop.index0] }}</th>{% for cell in row %}
<td{% if cell.sig %} class="sig"{% endif %}>{{ cell.text }}</td>{% endfor %}</tr>
{% endfor %}</table></div>{% endif %}
{% endfor %}
<h2>Figures</h2>
{% for f in figures %}<figure>
<img src="{{ f.stem }}.png" alt="{{ f.caption }}" />
<figcaption>{{ f.caption }} ({% for fmt in formats %}<a href="{{ f.stem }}.{{ fmt }}">{{ fmt|upper }}</a>
{{- ", " if not loop.last }}{% endfor %})</figcaption>
</figure>
{% endfor %}
<h2>Campaigns</h2>
{% for c in campaigns %}<details>
<summary>Campaign {{ c.label }}: travo {{ c.travo_version }}, {{ c.finished }} of {{ c.planned }} runs
recorded, database <code>{{ c.db }}</code></summary>
<ul>
{% for s in c.solvers %}<li>{{ s.label }}: {{ s.name }} ({{ s.version }}), options <code>{{ s.options }}</code></li>
{% endfor %}</ul>
<p>The description as stored in the database (test lists written as ranges):</p>
<pre>{{ c.json }}</pre>
</details>
{% endfor %}
</body>
</html>
"""


def ranges(numbers: Sequence[int]) -> str:
    """1, 2, 3, 5 -> "1-3, 5"."""
    out: list[str] = []
    nums = sorted(set(numbers))
    i = 0
    while i < len(nums):
        j = i
        while j + 1 < len(nums) and nums[j + 1] == nums[j] + 1:
            j += 1
        out.append(str(nums[i]) if i == j else f"{nums[i]}-{nums[j]}")
        i = j + 1
    return ", ".join(out)


def _with_ranges(d):
    """A description with every list of test numbers written as ranges."""
    if isinstance(d, dict):
        return {k: ranges(v) if k == "tests" and isinstance(v, list) and all(isinstance(t, int) for t in v)
                else _with_ranges(v) for k, v in d.items()}
    if isinstance(d, list):
        return [_with_ranges(v) for v in d]
    return d


def _num(x: float, unit: str = "") -> str:
    if x is None or (isinstance(x, float) and math.isnan(x)):
        return "–"
    if math.isinf(x):
        return "∞"
    return f"{x:.1f}" if abs(x) < 1e6 else f"{x:.3e}"


def _cells(r: dict) -> dict:
    """One summary row as the page and the LaTeX tables show it."""
    success = f"{100 * r['success_rate']:.1f} % [{100 * r['success_low']:.1f}, {100 * r['success_high']:.1f}]"
    if math.isinf(r["ert"]):
        ert = "∞"
    else:
        ert = f"{_num(r['ert'])} [{_num(r['ert_low'])}, {_num(r['ert_high'])}]"
    hit = "–" if not r["solved"] else f"{r['median_hit']:g} ({r['q25_hit']:g}–{r['q75_hit']:g})"
    if math.isnan(r["table_average"]):
        table = "–"
    elif r["unsolved"]:
        table = f"> {r['table_average']:.2f} ({r['unsolved']} unsolved)"
    else:
        table = f"{r['table_average']:.2f}"
    return {"campaign": r["campaign"], "solver": r["solver"], "members": r["members"], "runs": r["runs"],
            "success": success, "ert": ert, "hit": hit, "table": table, "budget": r["budget"],
            "mean_cost": _num(r["mean_cost"]), "failed": r["failed"]}


def _compare(data: analysis.Data, cls: tuple) -> dict | None:
    series, members, times = analysis.profile_times(data, [cls])
    if len(series) < 2 or not members:
        return None
    c = analysis.compare(times, [s.label for s in series])
    cells = []
    for i in range(len(series)):
        row = []
        for j in range(len(series)):
            p, b = c["p"][i][j], c["better"][i][j]
            if p is None:
                row.append({"text": "", "sig": False})
            else:
                row.append({"text": f"{p:.2g}" + ("" if b is None else f" ({series[b].label})"),
                            "sig": p < 0.05 and b is not None})
        cells.append(row)
    return {"labels": c["labels"], "cells": cells, "members": c["members"],
            "pairs": len(series) * (len(series) - 1) // 2}


def figures(data: analysis.Data) -> Iterator[tuple[str, str, object]]:
    """Every figure: (file stem, caption, matplotlib figure), in page order, each drawn when asked for (so that
    one is closed before the next is drawn). Classes where no run evaluated a point have none."""
    import matplotlib
    matplotlib.use("Agg")
    drawn = [c for c in data.classes if analysis.has_points(data.select(cls=c.key))]
    keys = [c.key for c in drawn]
    if not drawn:
        return
    failed = sum(r.failed for r in data.runs)
    note = f" Failed runs ({failed}) count as unsolved and are marked in the legends." if failed else ""
    if len(drawn) > 1:
        yield ("operational-all", "Operational characteristics of every class: members solved against trials (mean "
               "over repetitions; hatched between dotted lines: the zone from the best to the worst repetition of "
               "each member)." + note, analysis.plot_operational_all(data, keys))
    yield ("runtime-box", "Fixed-target view: fraction of runs that met the box rule within a cost." + note,
           analysis.plot_ecdf_runtime(data, keys))
    targets = analysis.default_targets(data.select(classes=keys))
    if targets:
        yield ("runtime-targets", "Fixed-target view over the value targets f* + 10^k that tell methods apart "
               f"(k = {', '.join(map(str, targets))}: met by some run, and at its first evaluation by at most "
               f"{100 * analysis.FIRST_EVALUATION_SHARE:g} % of the runs): fraction of (run, target) pairs met "
               "within a cost." + note, analysis.plot_ecdf_runtime(data, keys, targets))
    yield ("performance-profile", "Performance profiles (Dolan and Moré) of the per-member ERT to the box rule (a "
           "member is one problem, its repetitions pooled into its ERT).",
           analysis.plot_performance_profile(data, keys))
    yield ("data-profile", "Data profiles (Moré and Wild) of the per-member ERT to the box rule.",
           analysis.plot_data_profile(data, keys))
    for c in drawn:
        yield (f"operational-{c.stem}", f"Operational characteristics, class {c.name}." + note,
               analysis.plot_operational(data, c.key)[0])
        yield (f"best-value-{c.stem}", f"Fixed-budget view, class {c.name}: best value reached within the budget, "
               "over the runs that did not fail.", analysis.plot_ecdf_best_value(data, c.key))
        yield (f"convergence-{c.stem}", f"Convergence, class {c.name}: median precision (best value - f*) against "
               "cost, and its quartiles (dashed), over the runs that did not fail.",
               analysis.plot_convergence(data, c.key))


def _render(fig, fmt: str) -> bytes:
    buf = io.BytesIO()
    # Fixed metadata, so that the same data give the same files.
    meta = {"png": {"Software": None}, "svg": {"Date": None}, "pdf": {"CreationDate": None}}[fmt]
    fig.savefig(buf, format=fmt, dpi=120, metadata=meta)
    return buf.getvalue()


def summary_csv(rows: list[dict]) -> str:
    """summary.csv: the columns of SUMMARY_FIELDS; an infinite ERT (or interval limit) is an empty cell."""
    def cell(k, v):
        if isinstance(v, float) and (math.isnan(v) or (k.startswith("ert") and math.isinf(v))):
            return ""
        return v
    return csv_text(SUMMARY_FIELDS, ([cell(k, r[k]) for k in SUMMARY_FIELDS] for r in rows))


def _tex(s: str) -> str:
    out = []
    for ch in str(s):
        out.append({"\\": r"\textbackslash{}", "{": r"\{", "}": r"\}", "$": r"\$", "&": r"\&", "#": r"\#",
                    "^": r"\^{}", "_": r"\_", "~": r"\~{}", "%": r"\%", "–": "--", "∞": r"$\infty$", ">": "$>$",
                    "<": "$<$", "|": r"\textbar{}"}.get(ch, ch))
    return "".join(out)


def tables_tex(data: analysis.Data, rows: list[dict]) -> str:
    """The summary per class as LaTeX tables (needs \\usepackage{booktabs})."""
    out = ["% travo campaign report: one table per class; needs \\usepackage{booktabs}.", ""]
    for c in data.classes:
        mine = [r for r in rows if r["class"] == c.key]
        names = list(dict.fromkeys(r["campaign"] for r in mine))
        many = len(names) > 1
        head = (["Campaign"] if many else []) + ["Solver", "Runs", "Success (\\%) [95\\% CI]", "ERT [95\\% CI]",
                                                  "Median hit", "Table", "Budget", "Failed"]
        out += ["\\begin{table}", "\\centering",
                f"\\caption{{Class {_tex(c.name)} (kind {_tex(c.kind)}, $n = {c.dim}$; "
                f"{'campaigns' if many else 'campaign'} {_tex(', '.join(names))}): success rate with Wilson "
                "interval, expected running time with bootstrap interval, median cost to the box rule among solved "
                "runs, the literature's table convention, budget and failed runs.}",
                f"\\begin{{tabular}}{{{'l' * (2 if many else 1)}{'r' * 7}}}", "\\toprule",
                " & ".join(head) + " \\\\", "\\midrule"]
        for r in mine:
            x = _cells(r)
            success = f"{100 * r['success_rate']:.1f} [{100 * r['success_low']:.1f}, {100 * r['success_high']:.1f}]"
            hit = "--" if not r["solved"] else f"{r['median_hit']:g}"
            cells = ([_tex(r["campaign"])] if many else []) + [
                _tex(r["solver"]), str(r["runs"]), success, _tex(x["ert"]), hit, _tex(x["table"]),
                _tex(str(r["budget"])), str(r["failed"])]
            out.append(" & ".join(cells) + " \\\\")
        out += ["\\bottomrule", "\\end{tabular}", "\\end{table}", ""]
    return "\n".join(out)


def page(data: analysis.Data, rows: list[dict], made: list[tuple[str, str]], dbs: Sequence[str]) -> str:
    """The HTML page (XHTML-compatible, so that any XML parser reads it); every text is escaped."""
    import jinja2
    env = jinja2.Environment(autoescape=True, undefined=jinja2.StrictUndefined, trim_blocks=False)
    classes = []
    for c in data.classes:
        mine = [r for r in rows if r["class"] == c.key]
        names = list(dict.fromkeys(r["campaign"] for r in mine))
        classes.append({"campaigns": ", ".join(names), "many": len(names) > 1, "name": c.name, "kind": c.kind,
                        "dim": c.dim, "global_value": f"{c.global_value:g}",
                        "empty": not analysis.has_points(data.select(cls=c.key)), "rows": [_cells(r) for r in mine],
                        "compare": _compare(data, c.key)})
    finished: dict[int, int] = {}
    for r in data.runs:
        finished[r.campaign] = finished.get(r.campaign, 0) + 1
    campaigns = []
    for camp in data.campaigns:
        solvers = [{"label": label, "name": s["name"], "version": s["version"],
                    "options": json.dumps(s["options"], sort_keys=True)}
                   for (key, label), s in data.solvers.items() if key == camp.key]
        campaigns.append({"label": camp.label, "db": camp.db, "travo_version": camp.travo_version,
                          "planned": camp.planned, "finished": finished.get(camp.key, 0), "solvers": solvers,
                          "json": json.dumps(_with_ranges(camp.description), indent=1, sort_keys=True)})
    return env.from_string(_PAGE).render(
        campaigns=campaigns, dbs=[str(d) for d in dbs], total_runs=len(data.runs), classes=classes,
        failed=sum(r.failed for r in data.runs), samples=analysis.BOOTSTRAP_SAMPLES,
        seed=analysis.BOOTSTRAP_SEED, figures=[{"stem": s, "caption": c} for s, c in made], formats=FORMATS)


def write(dbs, out, campaigns: Sequence[str] | None = None) -> list[str]:
    """Write the report of results databases into a folder.

    The folder receives ``index.html``, the figures as PNG, SVG and PDF,
    ``summary.csv`` and ``tables.tex``, each written whole or not at all.

    Parameters
    ----------
    dbs : str, pathlib.Path or sequence of them
        The databases.
    out : str or pathlib.Path
        The folder, created if needed.
    campaigns : sequence of str, optional
        Report only the campaigns of these names.

    Returns
    -------
    list of str
        The names of the files written.

    Raises
    ------
    ValueError
        When the databases hold no runs (of the campaigns asked).
    analysis.DatabaseError
        For a file that is not a results database.
    """
    import matplotlib.pyplot as plt
    dbs = [dbs] if isinstance(dbs, (str, pathlib.Path)) else list(dbs)
    data = analysis.load(dbs, campaigns)
    if not data.runs:
        raise ValueError(f"{', '.join(map(str, dbs))}: no runs" + (" in the campaigns asked" if campaigns else ""))
    rows = analysis.summary(data)
    files: dict[str, bytes | str] = {}
    made = []
    for stem, caption, fig in figures(data):
        try:
            for fmt in FORMATS:
                files[f"{stem}.{fmt}"] = _render(fig, fmt)
        finally:
            plt.close(fig)
        made.append((stem, caption))
    files["summary.csv"] = summary_csv(rows)
    files["tables.tex"] = tables_tex(data, rows)
    files["index.html"] = page(data, rows, made, dbs)
    created = _files.make_folder(out)
    try:
        with _files.Batch() as batch:
            for name, content in files.items():
                batch.add(pathlib.Path(out) / name, content)
    except BaseException:
        _files.remove_folders(created)
        raise
    return list(files)


def main(argv: list[str] | None = None) -> int:
    """The command ``python -m travo.report DB [DB ...] -o DIR [--campaign NAME ...]``.

    Parameters
    ----------
    argv : list of str, optional
        The arguments (default: the command line's).

    Returns
    -------
    int
        The exit status.
    """
    parser = argparse.ArgumentParser(prog="python -m travo.report", description="Report of campaign databases.")
    parser.add_argument("db", nargs="+", help="results databases")
    parser.add_argument("-o", "--output", required=True, help="folder for the report (created if needed)")
    parser.add_argument("--campaign", action="append", default=None, metavar="NAME",
                        help="only this campaign (may be given several times)")
    args = parser.parse_args(argv)
    try:
        with _files.signals_cleaned():
            files = write(args.db, args.output, args.campaign)
    except (ValueError, OSError) as e:
        print(f"error: {e}", file=sys.stderr)
        return 2
    print(f"{len(files)} files written to {args.output}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    from travo.report import main as _main
    sys.exit(_main())
