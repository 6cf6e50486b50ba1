"""Exports of campaign databases for analysis elsewhere.

    python -m travo.campaign export DB --format FORMAT [-o OUT] [--campaign NAME ...]

Formats:

``csv``
    one row per run, one value per cell, with the columns ``CSV_FIELDS``.
``trace-csv``
    one row per improvement of a run's best value: ``run`` (the run's row
    number in the ``csv`` export of the same database and campaigns, from 1),
    ``cost`` (in value evaluations) and ``best_value``.
``json``
    a list of one object per run: the ``csv`` columns, and ``best_point``,
    ``target_exponents``, ``target_hits``, ``message``, ``solver_status``,
    ``solver_message`` and ``trace`` (rows ``[cost, values, gradients,
    hessians, best]``), lists kept as lists.
``iohprofiler``
    a folder (``-o DIR``, required) in the layout that IOHanalyzer reads; see
    ``iohprofiler`` for the mapping.

Text cells of the CSV files (names, labels) that start with ``=``, ``+``,
``-``, ``@``, a tab or a carriage return are written with a leading
apostrophe, so that a spreadsheet shows them as text instead of running them
as formulas. Numbers are written as they are (shortest exact form).

Every file goes through the safe writer (``travo._files``).
"""

from __future__ import annotations

import csv
import io
import json
import math
import pathlib
from collections.abc import Iterable, Sequence

from . import _files, analysis

FORMATS = ("csv", "trace-csv", "json", "iohprofiler")

#: Columns of the csv export, in order.
CSV_FIELDS = ("campaign", "suite", "kind", "dim", "test", "solver", "solver_name", "repetition", "seed", "status",
              "budget", "cost", "values", "gradients", "hessians", "hit", "best_value", "global_value", "restarts",
              "seconds")
TRACE_FIELDS = ("run", "cost", "best_value")

_FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")


def safe_cell(v):
    """A CSV cell: text that a spreadsheet would run as a formula gets a leading apostrophe; None is empty."""
    if v is None:
        return ""
    if isinstance(v, str) and v.startswith(_FORMULA_STARTS):
        return "'" + v
    if isinstance(v, float):
        return repr(v)
    return v


def csv_text(fields: Sequence[str], rows: Iterable[Sequence]) -> str:
    buf = io.StringIO()
    w = csv.writer(buf, lineterminator="\n")
    w.writerow(fields)
    for row in rows:
        w.writerow([safe_cell(v) for v in row])
    return buf.getvalue()


def record(data: analysis.Data, r: analysis.Run) -> dict:
    """One run with the csv columns."""
    return {"campaign": data.campaigns[r.campaign].label, "suite": r.suite, "kind": r.kind, "dim": r.dim,
            "test": r.test, "solver": r.solver, "solver_name": r.solver_name, "repetition": r.repetition,
            "seed": r.seed, "status": r.status, "budget": r.budget, "cost": r.cost, "values": r.values,
            "gradients": r.gradients, "hessians": r.hessians, "hit": r.hit, "best_value": r.best_value,
            "global_value": r.global_value, "restarts": r.restarts, "seconds": r.seconds}


def to_csv(data: analysis.Data) -> str:
    return csv_text(CSV_FIELDS, ([record(data, r)[k] for k in CSV_FIELDS] for r in data.runs))


def to_trace_csv(data: analysis.Data) -> str:
    return csv_text(TRACE_FIELDS, ((i, int(row[0]), float(row[4])) for i, r in enumerate(data.runs, 1)
                                   for row in r.trace))


def _finite(v):
    """JSON has no inf or NaN: those become null."""
    if isinstance(v, float) and not math.isfinite(v):
        return None
    if isinstance(v, list):
        return [_finite(x) for x in v]
    return v


def to_json(data: analysis.Data) -> str:
    out = []
    for r in data.runs:
        d = record(data, r)
        d |= {"best_point": r.best_point, "target_exponents": list(r.target_exponents),
              "target_hits": list(r.target_hits), "message": r.message, "solver_status": r.solver_status,
              "solver_message": r.solver_message,
              "trace": [[int(c), int(v), int(g), int(h), float(b)] for c, v, g, h, b in r.trace]}
        out.append({k: _finite(v) for k, v in d.items()})
    return json.dumps(out, indent=1, allow_nan=False) + "\n"


def iohprofiler(data: analysis.Data) -> dict[str, str]:
    """The IOHprofiler layout (IOHexperimenter's JSON meta files), as file contents by relative path.

    - one folder per algorithm: a series of the report (a solver label, or
      ``campaign/solver`` where campaigns share a class), named by
      ``analysis.safe_stem``;
    - a function per class (suite and kind): ``function_id`` its position
      among the classes (from 1), ``function_name`` its file stem; an
      instance per test number; the dimension is the class's;
    - per algorithm and function, the meta file
      ``IOHprofiler_f{id}_{name}.json`` (``maximization`` false; the suite,
      the algorithm's solver, version and options, and the experiment
      attributes campaign, kind, budget, global_value and cost_rule) with one
      scenario listing each run's instance, evaluations (its cost) and best
      point;
    - its data file ``data_f{id}_{name}/IOHprofiler_f{id}_DIM{n}.dat``: per
      run, the line ``evaluations raw_y`` and then ``cost best_value`` at each
      improvement of the run's best value, ending with the run's last cost;
      ``raw_y`` is the function's own value (f* is the attribute
      ``global_value``), costs count value 1, gradient n, Hessian n(n+1)/2.

    Failed runs and runs that evaluated no point are left out (IOHanalyzer
    reads a run as its improvements).
    """
    from . import __version__
    ids = {c.key: i for i, c in enumerate(data.classes, 1)}
    groups: dict[tuple[str, tuple], list[analysis.Run]] = {}
    for r in data.runs:
        if not r.failed and len(r.trace):
            groups.setdefault((data.series_of(r).label, r.cls), []).append(r)
    files: dict[str, str] = {}
    folders: dict[str, str] = {}
    for label in dict.fromkeys(label for label, _ in groups):
        folder, i = analysis.safe_stem(label), 1
        while folder in folders.values():
            i += 1
            folder = f"{analysis.safe_stem(label)}-{i}"
        folders[label] = folder
    for (label, cls), runs in groups.items():
        folder = folders[label]
        c = data.cls(cls)
        fid, name = ids[cls], c.stem
        dat = f"data_f{fid}_{name}/IOHprofiler_f{fid}_DIM{c.dim}.dat"
        lines, meta_runs = [], []
        for r in runs:
            lines.append("evaluations raw_y")
            lines += [f"{int(row[0])} {float(row[4])!r}" for row in r.trace]
            if r.trace[-1, 0] < r.cost:
                lines.append(f"{r.cost} {float(r.trace[-1, 4])!r}")
            meta_runs.append({"instance": r.test, "evals": r.cost,
                              "best": {"evals": int(r.trace[-1, 0]), "y": float(r.trace[-1, 4]),
                                       "x": r.best_point or []}})
        first = runs[0]
        solver = data.solvers.get((first.campaign, first.solver), {})
        budgets = sorted({r.budget for r in runs})
        meta = {
            "version": __version__, "suite": c.suite, "function_id": fid, "function_name": name,
            "maximization": False,
            "algorithm": {"name": label, "info": f"{first.solver_name} {solver.get('version', '')}, options "
                                                 f"{json.dumps(solver.get('options', {}), sort_keys=True)}"},
            "experiment_attributes": [
                {"campaign": ", ".join(dict.fromkeys(data.campaigns[r.campaign].label for r in runs))},
                {"kind": c.kind}, {"budget": str(budgets[0]) if len(budgets) == 1 else f"{budgets[0]}-{budgets[-1]}"},
                {"global_value": repr(c.global_value)},
                {"cost_rule": "value 1, gradient n, Hessian n(n+1)/2"}],
            "attributes": ["evaluations", "raw_y"],
            "scenarios": [{"dimension": c.dim, "path": dat, "runs": meta_runs}]}
        files[f"{folder}/IOHprofiler_f{fid}_{name}.json"] = json.dumps(_finite(meta), indent=1, allow_nan=False) + "\n"
        files[f"{folder}/{dat}"] = "\n".join(lines) + "\n"
    return files


def export(db, fmt: str, output: str | None = None, campaigns: Sequence[str] | None = None) -> None:
    """The ``export`` command: the runs of a database in one format.

    Parameters
    ----------
    db : str or pathlib.Path
        The results database.
    fmt : str
        ``csv``, ``trace-csv``, ``json`` or ``iohprofiler``.
    output : str, optional
        A file (a folder for ``iohprofiler``); None or "-" for standard
        output.
    campaigns : sequence of str, optional
        Export only the campaigns of these names.

    Raises
    ------
    ValueError
        For an unknown format, or ``iohprofiler`` without a folder.
    """
    if fmt not in FORMATS:
        raise ValueError(f"unknown export format {fmt!r} ({', '.join(FORMATS)})")
    if fmt == "iohprofiler" and output in (None, "-"):
        raise ValueError("--format iohprofiler writes a folder: give it with -o DIR")
    with _files.signals_cleaned():
        data = analysis.load(db, campaigns)
        if output is not None and fmt == "iohprofiler":
            files = iohprofiler(data)
            created = _files.make_folder(output)
            try:
                with _files.Batch() as batch:
                    for name, content in files.items():
                        path = pathlib.Path(output) / name
                        created += _files.make_folder(path.parent)
                        batch.add(path, content)
            except BaseException:
                _files.remove_folders(created)
                raise
            return
        text = {"csv": to_csv, "trace-csv": to_trace_csv, "json": to_json}[fmt](data)
        _files.write("/dev/stdout" if output is None or output == "-" else output, text)
