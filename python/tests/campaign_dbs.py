"""Hand-made results databases with the columns of schemas 1 and 2, written without the campaign runner."""

import json
import sqlite3

F_STAR = -1.0
SUITE = {"name": "s", "dim": 2, "num_minima": 10, "global_value": F_STAR, "distance": 0.9, "radius": 0.1,
         "lower": [-1.0, -1.0], "upper": [1.0, 1.0], "accuracy": 1e-4}
TARGETS = [1, 0, -2]

SCHEMA_1 = """
CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE campaign (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, description TEXT NOT NULL,
    travo_version TEXT NOT NULL, planned INTEGER NOT NULL);
CREATE TABLE solver (id INTEGER PRIMARY KEY, campaign INTEGER NOT NULL, position INTEGER NOT NULL,
    label TEXT NOT NULL, name TEXT NOT NULL, version TEXT NOT NULL, options TEXT NOT NULL);
CREATE TABLE member (id INTEGER PRIMARY KEY, suite TEXT NOT NULL, kind TEXT NOT NULL, test INTEGER NOT NULL,
    parameters TEXT NOT NULL, accuracy REAL NOT NULL, UNIQUE (suite, kind, test, parameters, accuracy));
CREATE TABLE run (id INTEGER PRIMARY KEY, campaign INTEGER NOT NULL, solver INTEGER NOT NULL,
    member INTEGER NOT NULL, repetition INTEGER NOT NULL, seed INTEGER NOT NULL, status TEXT NOT NULL,
    message TEXT NOT NULL, cost INTEGER NOT NULL, "values" INTEGER NOT NULL, gradients INTEGER NOT NULL,
    hessians INTEGER NOT NULL, best_value REAL, best_point TEXT, hit INTEGER, target_hits TEXT NOT NULL,
    trace TEXT NOT NULL, seconds REAL NOT NULL);
"""
SCHEMA_2 = """
ALTER TABLE run ADD COLUMN budget INTEGER NOT NULL DEFAULT 0;
ALTER TABLE run ADD COLUMN restarts INTEGER NOT NULL DEFAULT 0;
ALTER TABLE run ADD COLUMN solver_status TEXT;
ALTER TABLE run ADD COLUMN solver_message TEXT NOT NULL DEFAULT '';
"""


def run(hit=None, cost=100, status=None, first=F_STAR + 5, restarts=0):
    """One run: its box-rule hit (None: unsolved), cost and status; its trace improves at cost 1 (to ``first``,
    None: no point at all) and at its hit (to f* + 0.001), which meets the targets f* + 1 and f* + 0.01."""
    trace = [] if first is None else [[1, 1, 0, 0, first]]
    if hit is not None:
        trace.append([hit, hit, 0, 0, F_STAR + 0.001])
    hits = [next((t[0] for t in trace if t[4] <= F_STAR + 10.0 ** k), None) for k in TARGETS]
    return {"hit": hit, "cost": cost if trace else 0, "status": status or "budget", "trace": trace,
            "target_hits": hits, "restarts": restarts}


def make_db(path, campaigns, schema=2):
    """campaigns: (name, budget, suite, {solver label: {test: [run, ...]}}) tuples; returns the path."""
    conn = sqlite3.connect(path)
    conn.executescript(SCHEMA_1 + (SCHEMA_2 if schema == 2 else "") + f"PRAGMA user_version = {schema};")
    for name, budget, suite, solvers in campaigns:
        tests = sorted({t for per in solvers.values() for t in per})
        desc = {"name": name, "suite": dict(suite, tests=tests), "kind": "D", "budget": budget, "repetitions": 1,
                "targets": TARGETS, "solvers": [{"label": s, "name": s, "options": {}} for s in solvers]}
        cid = conn.execute("INSERT INTO campaign (name, description, travo_version, planned) VALUES (?, ?, '0', 0)",
                           (name, json.dumps(desc))).lastrowid
        params = {k: v for k, v in suite.items() if k not in ("name", "accuracy")}
        for position, (label, per_test) in enumerate(solvers.items()):
            sid = conn.execute("INSERT INTO solver (campaign, position, label, name, version, options) "
                               "VALUES (?, ?, ?, ?, '1.0', '{}')", (cid, position, label, label.lstrip("=_"))).lastrowid
            for test, runs in per_test.items():
                p = json.dumps(dict(params, test_number=test), sort_keys=True)
                conn.execute("INSERT OR IGNORE INTO member (suite, kind, test, parameters, accuracy) "
                             "VALUES (?, 'D', ?, ?, ?)", (suite["name"], test, p, suite["accuracy"]))
                mid = conn.execute("SELECT id FROM member WHERE suite = ? AND test = ? AND parameters = ?",
                                   (suite["name"], test, p)).fetchone()[0]
                for rep, r in enumerate(runs, 1):
                    best = r["trace"][-1][4] if r["trace"] else None
                    row = [cid, sid, mid, rep, rep, r["status"], "", r["cost"], r["cost"], best,
                           "null" if best is None else "[0.5, 0.5]", r["hit"], json.dumps(r["target_hits"]),
                           json.dumps(r["trace"])]
                    extra = [budget, r["restarts"]] if schema == 2 else []
                    conn.execute('INSERT INTO run (campaign, solver, member, repetition, seed, status, message, cost, '
                                 '"values", gradients, hessians, best_value, best_point, hit, target_hits, trace, '
                                 f'seconds{", budget, restarts" if schema == 2 else ""}) VALUES '
                                 '(?, ?, ?, ?, ?, ?, ?, ?, ?, 0, 0, ?, ?, ?, ?, ?, 0.5'
                                 f'{", ?, ?" if schema == 2 else ""})',
                                 row + extra)
    conn.commit()
    conn.close()
    return path
