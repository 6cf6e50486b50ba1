"""A report of a campaign database: every figure (PNG, SVG, PDF) and an HTML page.

    python -m travo.report DB -o DIR [--campaign NAME]

``DIR/index.html`` holds the campaigns' full description (suites, solvers with
versions and options, budgets, travo version), the table of each class and
the figures, so that a reader can reproduce the campaign.
"""

from __future__ import annotations

import argparse
import html
import json
import pathlib
import sys

from . import analysis

FORMATS = ("png", "svg", "pdf")


def _save(fig, out: pathlib.Path, stem: str) -> str:
    import matplotlib.pyplot as plt
    for fmt in FORMATS:
        fig.savefig(out / f"{stem}.{fmt}", dpi=120)
    plt.close(fig)
    return stem


def figures(data: analysis.Data, out: pathlib.Path) -> list[tuple[str, str]]:
    """Draws every figure into ``out``; returns (file stem, caption) in page order."""
    import matplotlib
    matplotlib.use("Agg")
    suites = data.suites()
    made = []
    if len(suites) > 1:
        fig = analysis.plot_operational_all(data)
        made.append((_save(fig, out, "operational-all"),
                     "Operational characteristics of every class: members solved against trials (shaded: the "
                     "operational zone between the best and worst repetition of each member)."))
    made.append((_save(analysis.plot_ecdf_runtime(data), out, "runtime-box"),
                 "Fixed-target view: fraction of problems (member, repetition) solved by the box rule within a cost."))
    made.append((_save(analysis.plot_ecdf_targets(data), out, "runtime-targets"),
                 "Fixed-target view over the value targets: fraction of (problem, target) pairs met within a cost."))
    made.append((_save(analysis.plot_performance_profile(data), out, "performance-profile"),
                 "Performance profiles (Dolan and Moré) of the cost to meet the box rule."))
    made.append((_save(analysis.plot_data_profile(data), out, "data-profile"),
                 "Data profiles (Moré and Wild) of the cost to meet the box rule."))
    for suite in suites:
        made.append((_save(analysis.plot_operational(data, suite), out, f"operational-{suite}"),
                     f"Operational characteristics, class {suite}."))
        made.append((_save(analysis.plot_ecdf_best_value(data, suite), out, f"best-value-{suite}"),
                     f"Fixed-budget view, class {suite}: best value reached within the budget."))
        made.append((_save(analysis.plot_convergence(data, suite), out, f"convergence-{suite}"),
                     f"Convergence, class {suite}: median best value against cost (band: quartiles)."))
    return made


def _table(rows: list[dict]) -> str:
    head = ("class", "method", "members", "repetitions", "budget", "solved", "average trials", "maximum trials")
    out = ["<table>", "<tr>" + "".join(f"<th>{h}</th>" for h in head) + "</tr>"]
    for r in rows:
        cells = (r["suite"], r["solver"], r["members"], r["repetitions"], r["budget"], f"{r['solved']:g}",
                 "–" if r["average"] is None else f"{r['average']:.1f}",
                 "–" if r["maximum"] is None else r["maximum"])
        out.append("<tr>" + "".join(f"<td>{html.escape(str(c))}</td>" for c in cells) + "</tr>")
    out.append("</table>")
    return "\n".join(out)


def page(data: analysis.Data, made: list[tuple[str, str]]) -> str:
    """The HTML page (XHTML-compatible, so any XML parser reads it)."""
    e = html.escape
    parts = ['<!DOCTYPE html>', '<html lang="en">', '<head>', '<meta charset="utf-8" />',
             "<title>travo campaign report</title>",
             "<style>body{font-family:sans-serif;max-width:72em;margin:auto}table{border-collapse:collapse}"
             "td,th{border:1px solid #bbb;padding:2px 8px;text-align:right}img{max-width:100%}"
             "pre{background:#f4f4f4;padding:8px;overflow-x:auto}</style>", "</head>", "<body>",
             "<h1>travo campaign report</h1>"]
    for c in data.campaigns:
        d = c["description"]
        s = d["suite"]
        parts += [f"<h2>Campaign {e(c['name'])}</h2>", "<ul>",
                  f"<li>travo {e(c['travo_version'])}; {c['finished']} of {c['planned']} runs finished</li>",
                  f"<li>suite {e(s['name'])}: n = {s['dim']}, m = {s['num_minima']}, global value "
                  f"{s['global_value']:g}, distance {s['distance']:g}, radius {s['radius']:g}, box "
                  f"{e(str(s['lower']))} to {e(str(s['upper']))}, accuracy Δ = {s['accuracy']:g}, "
                  f"{len(s['tests'])} tests</li>",
                  f"<li>kind {e(d['kind'])}, budget {d['budget']} ({e(d['cost_rule'])}), "
                  f"{d['repetitions']} repetitions, value targets f* + 10^k for k in {e(str(d['targets']))}</li>",
                  "<li>solvers:<ul>"]
        for sv in d["solvers"]:
            parts.append(f"<li>{e(sv['label'])}: {e(sv['name'])} ({e(sv['version'])}), options "
                         f"<code>{e(json.dumps(sv['options'], sort_keys=True))}</code></li>")
        parts += ["</ul></li>", "</ul>", "<p>The full description, as stored in the database:</p>",
                  f"<pre>{e(json.dumps(d, indent=1, sort_keys=True))}</pre>"]
    parts += ["<h2>Solved members per class</h2>",
              "<p>Solved: members whose run met the box rule, averaged over repetitions; trials to solve over the "
              "solving runs.</p>", _table(analysis.table(data)), "<h2>Figures</h2>"]
    for stem, caption in made:
        links = ", ".join(f'<a href="{stem}.{fmt}">{fmt.upper()}</a>' for fmt in FORMATS)
        parts += ["<figure>", f'<img src="{stem}.png" alt="{e(caption)}" />',
                  f"<figcaption>{e(caption)} ({links})</figcaption>", "</figure>"]
    parts += ["</body>", "</html>"]
    return "\n".join(parts) + "\n"


def write(db, out, campaign: str | None = None) -> list[str]:
    """Writes the report of ``db`` into the folder ``out``; returns the files written."""
    data = analysis.load(db, campaign)
    if not data.runs:
        raise ValueError(f"{db}: no finished runs" + (f" in campaign {campaign!r}" if campaign else ""))
    out = pathlib.Path(out)
    out.mkdir(parents=True, exist_ok=True)
    made = figures(data, out)
    (out / "index.html").write_text(page(data, made), encoding="utf-8")
    return ["index.html"] + [f"{stem}.{fmt}" for stem, _ in made for fmt in FORMATS]


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m travo.report", description="Report of a campaign database.")
    parser.add_argument("db", help="results database")
    parser.add_argument("-o", "--output", required=True, help="folder for the figures and index.html")
    parser.add_argument("--campaign", default=None, help="only this campaign")
    args = parser.parse_args(argv)
    try:
        files = write(args.db, args.output, args.campaign)
    except (ValueError, OSError) as e:
        print(f"error: {e}", file=sys.stderr)
        return 2
    print(f"{len(files)} files written to {args.output}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    from travo.report import main as _main
    sys.exit(_main())
