"""Benchmarking campaigns: a suite x solvers x repetitions, each run within a budget.

Command line::

    python -m travo.campaign run FILE --db DB [--workers K | --scheduler ADDRESS]
    python -m travo.campaign status DB
    python -m travo.campaign export DB --format csv|trace-csv|json|iohprofiler [-o OUT] [--campaign NAME ...]

A campaign file (TOML)::

    name = "demo"
    suite = "2-hard"            # a standard class, a table describing a user suite, or {file = "suite.toml"}
    tests = [1, 2, 3]           # optional; default every test of the suite
    kind = "D"                  # optional; default "D"
    budget = 2000               # cost per run (value 1, gradient n, Hessian n(n+1)/2)
    repetitions = 5             # optional; default 1
    targets = [1, 0, -2, -4]    # optional exponents k of the value targets f* + 10**k

    [[solver]]
    name = "direct-l"
    repetitions = 1             # optional; default the campaign's (a deterministic method needs one)

    [[solver]]
    name = "differential_evolution"
    label = "de-small"          # optional; default the name (labels are unique)
    options = { popsize = 10 }

``run`` executes the runs that the database does not hold yet, on local
worker processes or on a Dask cluster, and writes each finished run in one
transaction. Every run's random generator is seeded from the campaign name,
the solver's label and options, the member and the repetition, so results
do not depend on the executor or the number of workers.
"""

from __future__ import annotations

import argparse
import dataclasses
import functools
import hashlib
import json
import os
import pathlib
import sys
import time
import traceback
import uuid
from collections.abc import Callable, Mapping
from typing import Any

import numpy as np

from . import export, results, solvers as _solvers, suites as _suites
from .observed import DEFAULT_TARGETS


class CampaignError(ValueError):
    """A campaign description that cannot be run, with the reason."""


CAMPAIGN_KEYS = {"name", "suite", "tests", "kind", "budget", "repetitions", "targets", "solver"}
SOLVER_KEYS = {"name", "label", "options", "repetitions"}


@dataclasses.dataclass(frozen=True)
class SolverEntry:
    label: str
    name: str
    options: Mapping[str, Any]
    version: str
    repetitions: int


@dataclasses.dataclass(frozen=True)
class Campaign:
    """A checked campaign: everything needed to plan and run it."""

    name: str
    suite: _suites.Suite
    kind: str
    budget: int
    repetitions: int
    targets: tuple[int, ...]
    solvers: tuple[SolverEntry, ...]

    def members(self) -> list[_suites.SuiteMember]:
        return self.suite.members(self.kind)

    def description(self) -> dict[str, Any]:
        """Everything that fixes the campaign's results, as plain data (stored in the database)."""
        return {"name": self.name, "suite": self.suite.description(), "kind": self.kind, "budget": self.budget,
                "repetitions": self.repetitions, "targets": list(self.targets),
                "solvers": [{"label": s.label, "name": s.name, "options": dict(s.options), "version": s.version,
                             "repetitions": s.repetitions} for s in self.solvers],
                "cost_rule": "value 1, gradient n, Hessian n(n+1)/2"}


def _positive(d: Mapping[str, Any], key: str, default: Any = None) -> int:
    v = d.get(key, default)
    if isinstance(v, bool) or not isinstance(v, int) or v < 1:
        raise CampaignError(f"key {key!r} must be a positive integer, not {v!r}")
    return v


def from_dict(d: Mapping[str, Any], base: pathlib.Path | None = None) -> Campaign:
    """Checks a campaign description (the keys of a campaign file) and builds the campaign."""
    if not isinstance(d, Mapping):
        raise CampaignError("a campaign must be a table of keys")
    unknown = sorted(set(d) - CAMPAIGN_KEYS)
    if unknown:
        raise CampaignError(f"unknown key {unknown[0]!r} (known: {', '.join(sorted(CAMPAIGN_KEYS))})")
    name = d.get("name")
    if not isinstance(name, str) or not name.strip():
        raise CampaignError("key 'name' must be a non-empty string")
    if "suite" not in d:
        raise CampaignError("key 'suite' is missing (a class name such as \"2-hard\" or a table)")
    kind = d.get("kind", "D")
    if kind not in _suites.KINDS:
        raise CampaignError(f"key 'kind' must be one of {', '.join(_suites.KINDS)}, not {kind!r}")
    try:
        suite = _suites.resolve(d["suite"], base)
        if "tests" in d:
            suite = suite.with_tests(d["tests"])
    except _suites.SuiteError as e:
        raise CampaignError(str(e)) from None
    targets = d.get("targets", list(DEFAULT_TARGETS))
    if not isinstance(targets, list) or any(isinstance(k, bool) or not isinstance(k, int) or abs(k) > 300
                                            for k in targets):
        raise CampaignError("key 'targets' must be a list of integer exponents k (targets f* + 10**k)")
    entries = d.get("solver")
    if not isinstance(entries, list) or not entries:
        raise CampaignError("at least one [[solver]] table is needed")
    built = []
    for i, s in enumerate(entries, 1):
        if not isinstance(s, Mapping):
            raise CampaignError(f"solver {i}: must be a table")
        unknown = sorted(set(s) - SOLVER_KEYS)
        if unknown:
            raise CampaignError(f"solver {i}: unknown key {unknown[0]!r} (known: {', '.join(sorted(SOLVER_KEYS))})")
        options = s.get("options", {})
        if not isinstance(options, Mapping):
            raise CampaignError(f"solver {i}: 'options' must be a table")
        try:
            a = _solvers.adapter(s.get("name"), options)
        except _solvers.SolverError as e:
            raise CampaignError(f"solver {i}: {e}") from None
        label = s.get("label", a.name)
        if not isinstance(label, str) or not label:
            raise CampaignError(f"solver {i}: 'label' must be a non-empty string")
        try:
            reps = _positive(s, "repetitions", _positive(d, "repetitions", 1))
        except CampaignError as e:
            raise CampaignError(f"solver {i}: {e}") from None
        built.append(SolverEntry(label, a.name, dict(options), a.version, reps))
    labels = [s.label for s in built]
    dupes = sorted({x for x in labels if labels.count(x) > 1})
    if dupes:
        raise CampaignError(f"solver label {dupes[0]!r} is used twice; give the entries distinct 'label's")
    return Campaign(name=name, suite=suite, kind=kind, budget=_positive(d, "budget"),
                    repetitions=_positive(d, "repetitions", 1), targets=tuple(sorted(set(targets), reverse=True)),
                    solvers=tuple(built))


def load(path: str | os.PathLike) -> Campaign:
    """A campaign from a TOML (or JSON) file; errors name the file."""
    path = pathlib.Path(path)
    try:
        data = path.read_bytes()
    except OSError as e:
        raise CampaignError(f"{path}: cannot read the campaign file: {e.strerror}") from None
    parsed = _suites.parse_file(path, data, CampaignError)
    try:
        return from_dict(parsed, path.parent)
    except CampaignError as e:
        raise CampaignError(f"{path}: {e}") from None


def seed(campaign: str, solver: SolverEntry, member: _suites.SuiteMember, repetition: int) -> int:
    """The run's seed (63 bits), from the campaign name, the solver's label and options, the member and
    the repetition."""
    text = json.dumps([campaign, solver.label, solver.name, dict(solver.options), member.suite, member.kind,
                       member.test, repetition], sort_keys=True)
    return int.from_bytes(hashlib.sha256(text.encode()).digest()[:8], "little") >> 1


@dataclasses.dataclass(frozen=True)
class Task:
    """One run, as sent to a worker (picklable)."""

    solver: str
    options: Mapping[str, Any]
    member: _suites.SuiteMember
    repetition: int
    seed: int
    budget: int
    targets: tuple[int, ...]


@functools.lru_cache(maxsize=256)
def _member(m: _suites.SuiteMember):
    return m.generate()


def execute(task: Task) -> dict:
    """Runs one task and returns its record (what the database stores)."""
    from .observed import BudgetExhausted, observe
    start = time.perf_counter()
    problem = observe(_member(task.member), task.member.kind, task.budget, task.member.accuracy, task.targets)
    status, message = "stopped", ""
    try:
        _solvers.adapter(task.solver, task.options)(problem, task.budget, np.random.default_rng(task.seed))
    except BudgetExhausted:
        status = "budget"
    except Exception as e:  # a solver's failure is a result of the run, recorded with its reason
        status, message = "error", "".join(traceback.format_exception_only(type(e), e)).strip()
    best = problem.best_point
    return {"repetition": task.repetition, "seed": task.seed, "status": status, "message": message,
            "cost": problem.cost, "values": problem.values, "gradients": problem.gradients,
            "hessians": problem.hessians,
            "best_value": problem.best_value if best is not None else None,
            "best_point": None if best is None else best.tolist(), "hit": problem.hit,
            "target_hits": problem.target_hits, "trace": problem.trace.tolist(),
            "seconds": time.perf_counter() - start}


Progress = Callable[[int, int, int], None]


def _print_progress(stream=sys.stderr) -> Progress:
    """Progress on stderr: one updated line on a terminal, a line per 10% elsewhere."""
    tty = stream.isatty()
    state = {"last": -1, "start": time.monotonic()}

    def show(done: int, total: int, failed: int) -> None:
        elapsed = time.monotonic() - state["start"]
        text = f"{done}/{total} runs" + (f", {failed} failed" if failed else "") + f", {elapsed:.0f} s"
        if tty:
            stream.write("\r" + text + ("\n" if done + failed == total else ""))
            stream.flush()
        elif total and (10 * (done + failed) // total != state["last"] or done + failed == total):
            state["last"] = 10 * (done + failed) // total
            stream.write(text + "\n")
            stream.flush()
    return show


def plan(c: Campaign) -> list[tuple[int, _suites.SuiteMember, int]]:
    """Every run of the campaign as (solver index, member, repetition), in a fixed order."""
    return [(i, m, r) for i, s in enumerate(c.solvers) for m in c.members() for r in range(1, s.repetitions + 1)]


def run(campaign: Campaign | str | os.PathLike, db: str | os.PathLike, workers: int | None = None,
        scheduler: str | Any | None = None, progress: Progress | None | bool = True) -> dict:
    """Runs the campaign's missing runs and records them in the database ``db`` (created if needed).

    ``workers``: number of local worker processes (default: the machine's
    cores; 1 runs in this process). ``scheduler``: the address of a Dask
    scheduler (or a ``distributed.Client``) to run on instead. ``progress``:
    True prints progress on stderr, or a callable ``(done, total, failed)``.
    Returns counts: ``planned``, ``skipped`` (already recorded), ``done``,
    ``failed`` (lost by the executor; run again to retry them).
    """
    c = campaign if isinstance(campaign, Campaign) else load(campaign)
    show: Progress | None = _print_progress() if progress is True else (progress or None)
    members = c.members()
    conn = results.connect(db, create=True)
    try:
        cid, sids, mids = results.register_campaign(
            conn, c.name, c.description(), len(members) * sum(s.repetitions for s in c.solvers),
            [dataclasses.asdict(s) for s in c.solvers],
            [{"suite": m.suite, "kind": m.kind, "test": m.test, "parameters": m.parameters_dict(),
              "accuracy": m.accuracy} for m in members])
        done = results.done_runs(conn, cid)
        everything = plan(c)
        todo = []
        for i, m, r in everything:
            key = (sids[i], mids[(m.suite, m.kind, m.test)], r)
            if key not in done:
                s = c.solvers[i]
                todo.append((key, Task(s.name, dict(s.options), m, r, seed(c.name, s, m, r), c.budget, c.targets)))
        counts = {"planned": len(everything), "skipped": len(everything) - len(todo), "done": 0, "failed": 0}

        def finished(key, record) -> None:
            if record is None:
                counts["failed"] += 1
            else:
                results.record_run(conn, cid, key[0], key[1], record)
                counts["done"] += 1
            if show is not None:
                show(counts["done"], len(todo), counts["failed"])

        if scheduler is not None:
            _run_dask(todo, scheduler, finished)
        elif (workers or os.cpu_count() or 1) <= 1 or len(todo) <= 1:
            for key, task in todo:
                finished(key, execute(task))
        else:
            _run_local(todo, workers or os.cpu_count() or 1, finished)
        return counts
    finally:
        conn.close()


def _run_local(todo, workers: int, finished) -> None:
    import concurrent.futures
    import multiprocessing
    ctx = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(max_workers=min(workers, len(todo)), mp_context=ctx) as pool:
        futures = {pool.submit(execute, task): key for key, task in todo}
        for f in concurrent.futures.as_completed(futures):
            finished(futures[f], f.result())


def _run_dask(todo, scheduler, finished) -> None:
    from distributed import Client, as_completed
    client = scheduler if isinstance(scheduler, Client) else Client(scheduler)
    try:
        # One key per run of this call: a run that Dask resubmits after losing a worker stays one run.
        tag = uuid.uuid4().hex
        futures = {client.submit(execute, task, key=f"travo-run-{tag}-{i}"): key for i, (key, task) in enumerate(todo)}
        for f in as_completed(list(futures)):
            try:
                record = f.result()
            except Exception:  # lost for good (for instance a worker killed too often): not recorded
                record = None
            finished(futures[f], record)
    finally:
        if client is not scheduler:
            client.close()


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m travo.campaign", description="Benchmarking campaigns with travo.")
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("run", help="run the runs of a campaign file that the database does not hold yet")
    p.add_argument("file", help="campaign file (TOML)")
    p.add_argument("--db", required=True, help="results database (SQLite; created if missing)")
    where = p.add_mutually_exclusive_group()
    where.add_argument("--workers", type=int, default=None, help="local worker processes (default: all cores)")
    where.add_argument("--scheduler", default=None, help="address of a Dask scheduler, such as tcp://host:8786")
    p.add_argument("--quiet", action="store_true", help="no progress")
    p = sub.add_parser("status", help="campaigns in a database and their finished runs")
    p.add_argument("db")
    p = sub.add_parser("export", help="runs for analysis elsewhere (see travo.export)")
    p.add_argument("db")
    p.add_argument("--format", choices=export.FORMATS, required=True)
    p.add_argument("-o", "--output", default=None, help="output file, or folder for iohprofiler (default: stdout)")
    p.add_argument("--campaign", action="append", default=None, help="only this campaign (may be repeated)")
    args = parser.parse_args(argv)
    try:
        if args.command == "run":
            if args.workers is not None and args.workers < 1:
                raise CampaignError("--workers must be at least 1")
            counts = run(load(args.file), args.db, workers=args.workers, scheduler=args.scheduler,
                         progress=not args.quiet)
            print(f"{counts['done']} runs done, {counts['skipped']} already recorded, "
                  f"{counts['failed']} failed, of {counts['planned']} planned", file=sys.stderr)
            return 1 if counts["failed"] else 0
        if args.command == "export":
            export.export(args.db, args.format, args.output, args.campaign)
            return 0
        conn = results.connect(args.db)
        try:
            if args.command == "status":
                for c in results.campaigns(conn):
                    d = c["description"]
                    print(f"campaign {c['name']}: {c['finished']}/{c['planned']} runs finished; suite "
                          f"{d['suite']['name']} ({len(d['suite']['tests'])} tests), kind {d['kind']}, budget "
                          f"{d['budget']}, {d['repetitions']} repetitions")
                    for s in c["solvers"]:
                        print(f"  {s['label']:<24} {s['finished']:>6} runs, {s['hits']:>6} solved by the box rule  "
                              f"({s['name']}, {s['version']})")
        finally:
            conn.close()
        return 0
    except (ValueError, OSError) as e:
        print(f"error: {e}", file=sys.stderr)
        return 2



__all__ = ["Campaign", "CampaignError", "SolverEntry", "Task", "execute", "from_dict", "load", "main", "plan", "run",
           "seed"]

if __name__ == "__main__":
    # Through the package's module, so that workers find the same functions.
    from travo.campaign import main as _main
    sys.exit(_main())
