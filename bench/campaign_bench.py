#!/usr/bin/env python3
"""Campaigns: where the wall time goes, runs per second, and a large database, side by side with another tree.

    /usr/bin/python3 bench/campaign_bench.py PYTHON_DIR [--baseline PYTHON_DIR] [--out DIR] [--quick] [--parts LIST]

PYTHON_DIR is the ``python`` folder of a build (the travo package); with
``--baseline`` the same measurements run on a second build (another
commit) in the same session, the two alternating, and the tables give the
ratios. Every figure is the best of REPETITIONS (default 3; 1 with
``--quick``) on a shared machine. Writes DIR/campaign.json (default
bench/results), which scripts/render_performance.py puts into
docs/performance.md; ``--smoke`` runs a few runs of each measurement
without writing anything (the test suite's check that the script works).

Measurements, each in a child process that imports the tree's travo:

- *split*: a campaign of one solver on one class at one budget, on one
  local worker. Its wall time from the first finished run to the last
  (the steady state: the start of the worker process and its imports come
  before, and are given apart as *start*) is split into the solver's own
  time, travo's and the runner's. The same runs are then repeated in the
  child: the solver on the observed problem (travo's counters, budget,
  targets and trace), and the solver on a replay that hands back the
  answers the observed problem gave, so that the solver takes the same
  path without any evaluation (its own time). travo's time is the
  difference plus the generation of the members; the runner's is the rest
  of the wall time (dispatch, seeds, the run's set-up in the worker,
  result transfer, database writes, the wait of the parent).
- *throughput*: runs per second in the steady state on one and two local
  workers and on a Dask LocalCluster (two worker processes of one thread),
  for near-empty runs (random search, one point of budget 1) and for the
  split's campaigns; the runner's overhead per run is the worker time per
  run (workers x wall / runs) less the run itself (``execute`` in the
  child, warm).
- *database*: a database of DB_RUNS runs (10^6; realistic rows: the trace,
  best point and targets of a DIRECT-L run), as the earlier runner leaves
  it and with the indexes the runner now adds (the time to add them is
  given); on each, ``status`` (campaigns), ``status --errors``, the
  report's reading of every run (travo.analysis.load) and a resume that
  finds nothing to do.
"""

import argparse
import contextlib
import datetime
import importlib.util
import json
import os
import pathlib
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve()
TARGETS = (1, 0, -1, -2, -3, -4, -5, -6, -7, -8)
# (label, solver, options, class, budget, runs)
CASES = [(f"{solver} {cls} {budget:.0e}".replace("e+0", "e"), solver, {}, cls, budget,
          200 if budget == 1000 else 50)
         for solver in ("direct-l", "random-search") for cls in ("2-simple", "5-hard") for budget in (1000, 10000)]
PARTS = ("split", "throughput", "commit", "database")
KEYS = {"split": "cases", "throughput": "throughput", "commit": "commit", "database": "database"}
EMPTY = ("near-empty", "random-search", {"batch": 1}, "2-simple", 1, 600)
# Dask when it is installed.
EXECUTORS = ("1", "2") + (("dask",) if importlib.util.find_spec("distributed") else ())


# Children ------------------------------------------------------------------------------------------------------

def _campaign(case, runs):
    from travo import campaign
    _, solver, options, cls, budget, _ = case
    tests = min(runs, 100)
    return campaign.from_dict({"name": "bench", "suite": cls, "tests": list(range(1, tests + 1)), "budget": budget,
                               "repetitions": -(-runs // tests), "targets": list(TARGETS),
                               "solver": [{"name": solver, "options": options}]})


def run_campaign(case, runs, executor, folder):
    """Wall time of the campaign on the executor; the times of the first and last finished run."""
    from travo import campaign
    c = _campaign(case, runs)
    times = []
    cluster = client = None
    if executor == "dask":
        import distributed
        cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                           dashboard_address=None)
        client = distributed.Client(cluster)
    try:
        start = time.perf_counter()
        counts = campaign.run(c, pathlib.Path(folder) / "bench.db", workers=None if client else int(executor),
                              scheduler=client, progress=lambda *_: times.append(time.perf_counter()))
        wall = time.perf_counter() - start
    finally:
        if client is not None:
            client.close()
            cluster.close()
    assert counts["done"] == c.planned() and not counts["failed"], counts
    # Each run's own time as its worker measured it (execute, from its start to its record), in the order the
    # runs were written: the steady state holds all of them but the first.
    with contextlib.closing(sqlite3.connect(pathlib.Path(folder) / "bench.db")) as conn:
        seconds = [r[0] for r in conn.execute("SELECT seconds FROM run ORDER BY id")]
    return {"runs": counts["done"], "wall": wall, "start": times[0] - start, "steady": times[-1] - times[0],
            "in_runs": sum(seconds[1:])}


class Recorder:
    """An observed problem that keeps every answer (or exception) of the solver's calls."""

    def __init__(self, problem):
        self._p, self.log = problem, []

    def __getattr__(self, name):
        return getattr(self._p, name)

    def _call(self, method, x):
        try:
            answer = method(x)
        except BaseException as e:
            self.log.append((False, e))
            raise
        self.log.append((True, answer))
        return answer

    def value(self, x):
        return self._call(self._p.value, x)

    __call__ = value

    def gradient(self, x):
        return self._call(self._p.gradient, x)

    def value_and_gradient(self, x):
        return self._call(self._p.value_and_gradient, x)

    def hessian(self, x):
        return self._call(self._p.hessian, x)


class Replay:
    """Hands back a recorded run's answers in order: the solver takes the same path with no evaluation."""

    def __init__(self, problem, log):
        self._p, self._log, self.calls = problem, log, 0

    def __getattr__(self, name):
        return getattr(self._p, name)

    def value(self, x):
        ok, answer = self._log[self.calls]
        self.calls += 1
        if ok:
            return answer
        raise answer

    __call__ = gradient = value_and_gradient = hessian = value


def split(case, runs):
    """Per run of the case's campaign: generation, the observed run, the replayed run and the whole execute."""
    import numpy as np
    from travo import campaign, solvers
    from travo.campaign.execute import Task, execute
    from travo.observed import observe
    c = _campaign(case, runs)
    s = c.solvers[0]
    adapter = solvers.adapter(s.name, s.options)
    tasks = [Task(s.name, dict(s.options), m, r, campaign.seed(c.name, s, m, r), c.budget_of(m), c.targets)
             for m in c.members() for r in range(1, s.repetitions + 1)]
    generation = members = 0.0
    for m in c.members():
        start = time.perf_counter()
        m.generate()
        generation += time.perf_counter() - start
        members += 1
    built = {m: m.generate() for m in c.members()}
    execute(tasks[0])  # imports
    observed = replayed = executed = 0.0
    for t in tasks:
        f = built[t.member]

        def solve(problem):
            rng = np.random.default_rng(t.seed)
            start = time.perf_counter()
            with contextlib.suppress(BaseException):
                adapter(problem, t.budget, rng)
            return time.perf_counter() - start

        recorder = Recorder(observe(f, t.member.kind, t.budget, t.member.accuracy, t.targets))
        solve(recorder)
        observed += solve(observe(f, t.member.kind, t.budget, t.member.accuracy, t.targets))
        replay = Replay(observe(f, t.member.kind, t.budget, t.member.accuracy, t.targets), recorder.log)
        replayed += solve(replay)
        assert replay.calls == len(recorder.log), "the replay took another path"
        start = time.perf_counter()
        execute(t)
        executed += time.perf_counter() - start
    n = len(tasks)
    return {"runs": n, "generation": generation, "members": members, "observed": observed / n,
            "solver": replayed / n, "execute": executed / n}


def make_db(path, runs):
    """A database of ``runs`` runs of two solvers on 2-simple, as a campaign writes them (no extra indexes)."""
    from travo import campaign, results
    from travo.campaign.execute import Task, execute
    per = runs // 200
    c = campaign.from_dict({"name": "big", "suite": "2-simple", "budget": 1000, "repetitions": per,
                            "solver": [{"name": "direct-l"}, {"name": "random-search"}]})
    conn = results.connect(path, create=True)
    cid, sids, mids = results.register_campaign(conn, c.name, c.description(), c.planned(),
                                                campaign.loader.solver_records(c), campaign.loader.member_records(c))
    template = execute(Task("direct-l", {}, c.members()[0], 1, 1, 1000, c.targets))
    row = ["budget", "", template["cost"], template["values"], 0, 0, template["best_value"],
           json.dumps(template["best_point"]), template["hit"], json.dumps(template["target_hits"]),
           json.dumps(template["trace"]), 0.01, 1000, 0, "0", "done"]
    conn.execute("BEGIN")
    i = 0
    for sid in sids:
        for m in c.members():
            mid = mids[(m.suite, m.kind, m.test)]
            rows = []
            for r in range(1, per + 1):
                i += 1
                status = ("error", "ValueError: boom") if i % 100 == 0 else ("budget", "")
                rows.append([cid, sid, mid, r, i, *status] + row[2:])
            conn.executemany('INSERT INTO run (campaign, solver, member, repetition, seed, status, message, cost, '
                             '"values", gradients, hessians, best_value, best_point, hit, target_hits, trace, seconds, '
                             'budget, restarts, solver_status, solver_message) VALUES (' + ", ".join("?" * 21) + ")",
                             rows)
    conn.execute("COMMIT")
    for (name,) in conn.execute("SELECT name FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL").fetchall():
        conn.execute(f"DROP INDEX {name}")  # as the earlier runner left it
    conn.execute("PRAGMA journal_mode = DELETE")
    conn.close()
    (pathlib.Path(path).parent / "campaign.json").write_text(json.dumps(
        {"name": "big", "suite": "2-simple", "budget": 1000, "repetitions": per,
         "solver": [{"name": "direct-l"}, {"name": "random-search"}]}))
    return {"runs": i, "bytes": os.path.getsize(path)}


def index_db(path):
    """Adds the indexes as the runner does when it opens a database for writing; the time it takes."""
    from travo import results
    start = time.perf_counter()
    conn = results.connect(path, create=True)
    results.upgrade(conn, path)
    conn.close()
    return {"seconds": time.perf_counter() - start, "bytes": os.path.getsize(path)}


def query_db(path):
    """The readers of a large database, timed: status, status --errors, the report's reading, a resume."""
    from travo import analysis, campaign, results
    out = {}
    for name, work in (("status", lambda conn: results.campaigns(conn)),
                       ("errors", lambda conn: results.failed_runs(conn))):
        start = time.perf_counter()
        conn = results.connect(path)
        work(conn)
        conn.close()
        out[name] = time.perf_counter() - start
    start = time.perf_counter()
    data = analysis.load(path)
    out["report_read"] = time.perf_counter() - start
    out["report_runs"] = len(data.runs)
    del data
    c = campaign.load(pathlib.Path(path).parent / "campaign.json")
    start = time.perf_counter()
    counts = campaign.run(c, path, workers=1, progress=False)
    out["resume"] = time.perf_counter() - start
    assert counts["done"] == 0, counts
    return out


def commits(folder, runs):
    """Seconds per run's transaction (``results.record_run``) with the rollback journal and full syncs, as the
    earlier runner wrote, and with the write-ahead log and ``synchronous = NORMAL``, alternating."""
    from travo import campaign, results
    from travo.campaign.execute import Task, execute
    c = campaign.from_dict({"name": "commit", "suite": "2-simple", "budget": 1000, "repetitions": runs,
                            "tests": [1], "solver": [{"name": "direct-l"}]})
    record = execute(Task("direct-l", {}, c.members()[0], 1, 1, 1000, c.targets))
    out = {"journal": [], "wal": []}
    for i in range(6):
        for mode in ("journal", "wal") if i % 2 == 0 else ("wal", "journal"):
            path = pathlib.Path(folder) / f"{mode}{i}.db"
            conn = results.connect(path, create=True)
            cid, sids, mids = results.register_campaign(conn, c.name, c.description(), c.planned(),
                                                        campaign.loader.solver_records(c),
                                                        campaign.loader.member_records(c))
            if mode == "wal":
                results.write_ahead(conn)
            mid = next(iter(mids.values()))
            start = time.perf_counter()
            for r in range(1, runs + 1):
                results.record_run(conn, cid, sids[0], mid, dict(record, repetition=r))
            out[mode].append((time.perf_counter() - start) / runs)
            conn.close()
    return {mode: min(t) for mode, t in out.items()}


def child(args):
    if args.kind == "campaign":
        case = next(c for c in CASES + [EMPTY] if c[0] == args.case)
        with tempfile.TemporaryDirectory() as folder:
            result = run_campaign(case, args.runs, args.executor, folder)
        if args.split:
            result.update(split=split(case, args.runs))
    elif args.kind == "commit":
        with tempfile.TemporaryDirectory(dir=os.environ.get("DB_DIR")) as folder:
            result = commits(folder, args.runs)
    elif args.kind == "make-db":
        result = make_db(args.path, args.runs)
    elif args.kind == "index-db":
        result = index_db(args.path)
    else:
        result = query_db(args.path)
    print(json.dumps(result))


# The parent ----------------------------------------------------------------------------------------------------

def measure(tree, kind, *args):
    env = dict(os.environ, PYTHONPATH=str(tree), PYTHONDONTWRITEBYTECODE="1")
    done = subprocess.run([sys.executable, str(HERE), "--child", kind, *map(str, args)], env=env,
                          capture_output=True, text=True)
    if done.returncode:
        raise SystemExit(f"{' '.join(map(str, args))} on {tree} failed:\n{done.stderr}")
    return json.loads(done.stdout.splitlines()[-1])


def best(results, key):
    return min(results, key=lambda r: r[key])


def main():
    parser = argparse.ArgumentParser(description="Campaigns: where the time goes, runs per second, a large database.")
    parser.add_argument("tree", help="the python folder of a build (a case's label, for a child)")
    parser.add_argument("--baseline", help="the python folder of another build, measured alongside")
    parser.add_argument("--out", default="bench/results", help="folder of campaign.json")
    parser.add_argument("--quick", action="store_true", help="fewer runs, one repetition, 10^5 runs in the database")
    parser.add_argument("--smoke", action="store_true", help="a few runs of each kind of measurement, nothing written")
    parser.add_argument("--parts", default=",".join(PARTS),
                        help=f"what to measure, of {','.join(PARTS)} (the others are kept from an earlier "
                             "campaign.json)")
    # What the parent tells its children.
    parser.add_argument("--child", dest="kind", help=argparse.SUPPRESS)
    parser.add_argument("--runs", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--executor", help=argparse.SUPPRESS)
    parser.add_argument("--split", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--path", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.kind:
        args.case = args.tree
        return child(args)
    trees = {"new": pathlib.Path(args.tree).resolve()}
    if args.baseline:
        trees["base"] = pathlib.Path(args.baseline).resolve()
    reps = 1 if args.quick or args.smoke else int(os.environ.get("REPETITIONS", "3"))
    scale = 10 if args.smoke else 4 if args.quick else 1
    report = {"date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
              "load_before": [round(v, 2) for v in os.getloadavg()], "trees": {k: str(v) for k, v in trees.items()},
              "repetitions": reps, "cases": {}, "throughput": {}}

    def alternate(*args):
        """The best of the repetitions on each tree, the trees alternating."""
        got = {name: [] for name in trees}
        for i in range(reps):
            for name in (list(trees) if i % 2 == 0 else list(trees)[::-1]):
                got[name].append(measure(trees[name], *args))
                print(f"  {name}: {' '.join(map(str, args))}: {got[name][-1]}", file=sys.stderr, flush=True)
        return got

    parts = set(args.parts.split(","))
    if not parts <= set(PARTS):
        parser.error(f"--parts: of {', '.join(PARTS)}")
    cases = [] if "split" not in parts else CASES[:1] if args.smoke else CASES
    for case in cases:
        runs = max(4, case[5] // scale)
        got = alternate("campaign", case[0], "--runs", runs, "--executor", "1", "--split")
        report["cases"][case[0]] = {name: best(r, "steady") for name, r in got.items()}
    for case in [] if "throughput" not in parts else [EMPTY] + ([] if args.smoke else CASES):
        runs = max(10, case[5] // scale)
        for executor in EXECUTORS if not args.smoke else ("2",):
            if executor == "1" and case is not EMPTY:
                continue  # from the split
            got = alternate("campaign", case[0], "--runs", runs, "--executor", executor,
                            *(["--split"] if case is EMPTY and executor == "1" else []))
            report["throughput"][f"{case[0]}/{executor}"] = {name: best(r, "steady") for name, r in got.items()}
    if "commit" in parts:
        report["commit"] = measure(trees["new"], "commit", "-", "--runs", 20 if args.smoke else 200)
    if "database" in parts and not args.smoke:
        db_runs = int(os.environ.get("DB_RUNS", 10**5 if args.quick else 10**6))
        with tempfile.TemporaryDirectory(dir=os.environ.get("DB_DIR")) as folder:
            plain, indexed = pathlib.Path(folder) / "plain" / "big.db", pathlib.Path(folder) / "indexed" / "big.db"
            plain.parent.mkdir()
            made = measure(trees["new"], "make-db", "-", "--runs", db_runs, "--path", plain)
            shutil.copytree(plain.parent, indexed.parent)
            report["database"] = {"runs": made["runs"], "bytes": made["bytes"],
                                  "index": measure(trees["new"], "index-db", "-", "--path", indexed)}
            # The earlier tree reads the database as its runner leaves it; this one with its indexes.
            where = {"new": indexed, "base": plain}
            got = {name: [] for name in trees}
            for i in range(reps):
                for name in (list(trees) if i % 2 == 0 else list(trees)[::-1]):
                    got[name].append(measure(trees[name], "query-db", "-", "--path", where[name]))
                    print(f"  {name}: query-db: {got[name][-1]}", file=sys.stderr, flush=True)
            report["database"]["queries"] = {name: {k: min(r[k] for r in rs) for k in rs[0]}
                                             for name, rs in got.items()}
    report["load_after"] = [round(v, 2) for v in os.getloadavg()]
    if args.smoke:
        return 0
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    report["measured"] = {p: {"date": report["date"], "load": report["load_before"], "repetitions": reps}
                          for p in PARTS if p in parts}
    if parts != set(PARTS) and (out / "campaign.json").exists():  # the parts not measured now, as they were
        earlier = json.loads((out / "campaign.json").read_text())
        for part in PARTS:
            if part not in parts and KEYS[part] in earlier:
                report[KEYS[part]] = earlier[KEYS[part]]
                report["measured"][part] = earlier.get("measured", {}).get(
                    part, {"date": earlier["date"], "load": earlier.get("load_before")})
    (out / "campaign.json").write_text(json.dumps(report, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
