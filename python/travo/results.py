"""The results database of campaigns: one SQLite file.

Schema version 1 (``PRAGMA user_version`` = 1; table ``meta`` repeats it):

``meta(key, value)``
    ``schema_version``, and the travo version that created the file.
``campaign(id, name, description, travo_version, planned)``
    ``description`` is the campaign as run, in JSON: suite (all its
    parameters and tests), kind, budget, repetitions, value-target exponents,
    solvers with versions and options. ``planned`` is its number of runs.
``solver(id, campaign, position, label, name, version, options)``
    one row per ``[[solver]]`` entry; ``options`` in JSON.
``member(id, suite, kind, test, parameters, accuracy)``
    ``parameters`` in JSON (dim, num_minima, global_value, distance, radius,
    lower, upper, test_number); ``accuracy`` the delta of the box rule.
``run(id, campaign, solver, member, repetition, seed, status, message, cost,
values, gradients, hessians, best_value, best_point, hit, target_hits,
trace, seconds)``
    one finished run. ``status`` is "budget" (the budget ended it),
    "stopped" (the solver returned on its own) or "error" (the solver raised;
    ``message`` says what). ``cost`` is in value evaluations (value 1,
    gradient n, Hessian n(n+1)/2); ``hit`` the cost at the first point that
    met the box rule (NULL if none); ``target_hits`` a JSON list, one entry
    per value target of the campaign (cost or null); ``best_point`` a JSON
    list; ``trace`` a JSON list of the best value's improvements
    ``[cost, values, gradients, hessians, best]``. Only ``seconds`` (wall
    time) differs between two executions of the same run.

Each run is written in its own transaction, so a campaign killed at any
moment keeps every finished run.
"""

from __future__ import annotations

import json
import os
import pathlib
import sqlite3
from collections.abc import Iterable

SCHEMA_VERSION = 1

_SCHEMA = """
CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE campaign (
    id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, description TEXT NOT NULL,
    travo_version TEXT NOT NULL, planned INTEGER NOT NULL);
CREATE TABLE solver (
    id INTEGER PRIMARY KEY, campaign INTEGER NOT NULL REFERENCES campaign(id), position INTEGER NOT NULL,
    label TEXT NOT NULL, name TEXT NOT NULL, version TEXT NOT NULL, options TEXT NOT NULL,
    UNIQUE (campaign, label));
CREATE TABLE member (
    id INTEGER PRIMARY KEY, suite TEXT NOT NULL, kind TEXT NOT NULL, test INTEGER NOT NULL,
    parameters TEXT NOT NULL, accuracy REAL NOT NULL, UNIQUE (suite, kind, test, parameters, accuracy));
CREATE TABLE run (
    id INTEGER PRIMARY KEY, campaign INTEGER NOT NULL REFERENCES campaign(id),
    solver INTEGER NOT NULL REFERENCES solver(id), member INTEGER NOT NULL REFERENCES member(id),
    repetition INTEGER NOT NULL, seed INTEGER NOT NULL, status TEXT NOT NULL, message TEXT NOT NULL,
    cost INTEGER NOT NULL, "values" INTEGER NOT NULL, gradients INTEGER NOT NULL, hessians INTEGER NOT NULL,
    best_value REAL, best_point TEXT, hit INTEGER, target_hits TEXT NOT NULL, trace TEXT NOT NULL,
    seconds REAL NOT NULL, UNIQUE (campaign, solver, member, repetition));
"""

#: Columns of one exported run, in order.
EXPORT_FIELDS = ("campaign", "solver", "solver_name", "suite", "kind", "test", "repetition", "seed", "status",
                 "evaluations", "values", "gradients", "hessians", "hit", "best_value", "best_point",
                 "target_exponents", "target_hits", "message")


class DatabaseError(ValueError):
    """A file that is not a travo results database of a known schema version."""


def connect(path: str | os.PathLike, create: bool = False) -> sqlite3.Connection:
    """Opens a results database; ``create`` makes a new one when the file does not exist."""
    path = pathlib.Path(path)
    if not path.exists() and not create:
        raise DatabaseError(f"{path}: no such results database")
    try:
        conn = sqlite3.connect(path, isolation_level=None)
        empty = conn.execute("SELECT COUNT(*) FROM sqlite_master").fetchone()[0] == 0
        if empty and create:
            from . import __version__
            meta = f"INSERT INTO meta VALUES ('schema_version', '{SCHEMA_VERSION}'), ('travo_version', '{__version__}');"
            conn.executescript(f"BEGIN; {_SCHEMA} {meta} PRAGMA user_version = {SCHEMA_VERSION}; COMMIT;")
        version = conn.execute("PRAGMA user_version").fetchone()[0]
        tables = {r[0] for r in conn.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}
    except sqlite3.DatabaseError as e:
        raise DatabaseError(f"{path}: not a results database ({e})") from None
    if version != SCHEMA_VERSION or not {"meta", "campaign", "run"} <= tables:
        conn.close()
        raise DatabaseError(f"{path}: not a travo results database of schema version {SCHEMA_VERSION}")
    conn.execute("PRAGMA foreign_keys = ON")
    return conn


def register_campaign(conn: sqlite3.Connection, name: str, description: dict, planned: int,
                      solvers: list[dict], members: Iterable[dict]) -> tuple[int, list[int], dict]:
    """Records a campaign, its solvers and members (once; a campaign of the same name must have the same
    description). Returns the campaign id, the solver ids in order, and member ids by (suite, kind, test)."""
    from . import __version__
    text = json.dumps(description, sort_keys=True)
    conn.execute("BEGIN IMMEDIATE")
    try:
        row = conn.execute("SELECT id, description FROM campaign WHERE name = ?", (name,)).fetchone()
        if row is not None and row[1] != text:
            raise DatabaseError(f"the database already holds a campaign {name!r} with another description; "
                                "give the changed campaign another name or use another database")
        if row is None:
            cid = int(conn.execute("INSERT INTO campaign (name, description, travo_version, planned) "
                                   "VALUES (?, ?, ?, ?)", (name, text, __version__, planned)).lastrowid or 0)
            for i, s in enumerate(solvers):
                conn.execute("INSERT INTO solver (campaign, position, label, name, version, options) "
                             "VALUES (?, ?, ?, ?, ?, ?)",
                             (cid, i, s["label"], s["name"], s["version"], json.dumps(s["options"], sort_keys=True)))
        else:
            cid = row[0]
        sids = [r[0] for r in conn.execute("SELECT id FROM solver WHERE campaign = ? ORDER BY position", (cid,))]
        mids = {}
        for m in members:
            key = (m["suite"], m["kind"], m["test"], json.dumps(m["parameters"], sort_keys=True), m["accuracy"])
            conn.execute("INSERT OR IGNORE INTO member (suite, kind, test, parameters, accuracy) VALUES (?, ?, ?, ?, ?)",
                         key)
            mids[key[:3]] = conn.execute("SELECT id FROM member WHERE suite = ? AND kind = ? AND test = ? AND "
                                         "parameters = ? AND accuracy = ?", key).fetchone()[0]
        conn.execute("COMMIT")
    except BaseException:
        conn.execute("ROLLBACK")
        raise
    return cid, sids, mids


def done_runs(conn: sqlite3.Connection, campaign: int) -> set[tuple[int, int, int]]:
    """(solver id, member id, repetition) of the runs already recorded."""
    return set(conn.execute("SELECT solver, member, repetition FROM run WHERE campaign = ?", (campaign,)))


def record_run(conn: sqlite3.Connection, campaign: int, solver: int, member: int, r: dict) -> None:
    """Writes one finished run in one transaction."""
    conn.execute("BEGIN IMMEDIATE")
    try:
        conn.execute(
            'INSERT INTO run (campaign, solver, member, repetition, seed, status, message, cost, "values", gradients, '
            "hessians, best_value, best_point, hit, target_hits, trace, seconds) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            (campaign, solver, member, r["repetition"], r["seed"], r["status"], r["message"], r["cost"], r["values"],
             r["gradients"], r["hessians"], r["best_value"], json.dumps(r["best_point"]), r["hit"],
             json.dumps(r["target_hits"]), json.dumps(r["trace"]), r["seconds"]))
        conn.execute("COMMIT")
    except BaseException:
        conn.execute("ROLLBACK")
        raise


def campaigns(conn: sqlite3.Connection) -> list[dict]:
    """Every campaign with its description, planned and finished runs."""
    out = []
    for cid, name, desc, version, planned in conn.execute(
            "SELECT id, name, description, travo_version, planned FROM campaign ORDER BY id").fetchall():
        solvers = conn.execute(
            "SELECT s.label, s.name, s.version, s.options, COUNT(r.id), COUNT(r.hit) FROM solver s "
            "LEFT JOIN run r ON r.solver = s.id WHERE s.campaign = ? GROUP BY s.id ORDER BY s.position",
            (cid,)).fetchall()
        out.append({"id": cid, "name": name, "description": json.loads(desc), "travo_version": version,
                    "planned": planned, "finished": sum(s[4] for s in solvers),
                    "solvers": [{"label": s[0], "name": s[1], "version": s[2], "options": json.loads(s[3]),
                                 "finished": s[4], "hits": s[5]} for s in solvers]})
    return out


def runs(conn: sqlite3.Connection, campaign: str | None = None, trace: bool = False) -> list[dict]:
    """Finished runs as dicts (the fields of EXPORT_FIELDS, plus ``trace`` when asked), in a fixed order:
    campaign, solver as listed, suite, kind, test, repetition."""
    sql = ('SELECT c.name, s.label, s.name, m.suite, m.kind, m.test, r.repetition, r.seed, r.status, r.cost, '
           'r."values", r.gradients, r.hessians, r.hit, r.best_value, r.best_point, c.description, r.target_hits, '
           'r.message, r.trace FROM run r JOIN campaign c ON c.id = r.campaign JOIN solver s ON s.id = r.solver '
           'JOIN member m ON m.id = r.member')
    args: tuple = ()
    if campaign is not None:
        sql += " WHERE c.name = ?"
        args = (campaign,)
    sql += " ORDER BY c.id, s.position, m.suite, m.kind, m.test, r.repetition"
    exponents: dict[str, list] = {}
    out = []
    for row in conn.execute(sql, args):
        if row[16] not in exponents:
            exponents[row[16]] = json.loads(row[16])["targets"]
        d = dict(zip(EXPORT_FIELDS, row[:15] + (json.loads(row[15]), exponents[row[16]], json.loads(row[17]),
                                                  row[18])))
        if trace:
            d["trace"] = json.loads(row[19])
        out.append(d)
    return out
