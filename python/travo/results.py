"""The results database of campaigns: one SQLite file.

Schema version 2 (``PRAGMA user_version`` = 2; table ``meta`` repeats it):

``meta(key, value)``
    ``schema_version``, and the travo version that created the file.
``campaign(id, name, description, travo_version, planned)``
    ``description`` is the campaign as run, in JSON: its suites (all their
    parameters and tests), kinds, budget rule as given (a number or a text
    such as "1000 * n"), repetitions, value-target exponents, stop rule,
    time limit, and solvers with versions and options. ``planned`` is its
    number of runs.
``solver(id, campaign, position, label, name, version, options, settings)``
    one row per solver entry of the campaign as its file now stands;
    ``options`` and ``settings`` (repetitions, restarts, stop rule, time
    limit) in JSON.
``member(id, suite, kind, test, parameters, accuracy)``
    ``parameters`` in JSON (dim, num_minima, global_value, distance, radius,
    lower, upper, test_number); ``accuracy`` the delta of the box rule.
``run``
    one run: ``id, campaign, solver, member, repetition, seed, status,
    message, cost, values, gradients, hessians, best_value, best_point, hit,
    target_hits, trace, seconds, budget, restarts, solver_status,
    solver_message``. ``status`` is one of ``budget`` (the budget ended it),
    ``stopped`` (the solver returned on its own), ``hit`` and ``target``
    (the stop rule ended it), or a failure: ``error`` (the solver raised;
    ``message`` says what), ``crashed`` (the run killed its process;
    ``message`` gives the signal or exit status) and ``timeout`` (the time
    limit ended it). ``cost`` is in value evaluations (value 1, gradient n,
    Hessian n(n+1)/2) and ``budget`` the run's budget in the same units;
    ``hit`` the cost at the first point that met the box rule (NULL if
    none); ``target_hits`` a JSON list, one entry per value target (cost or
    null); ``best_point`` a JSON list; ``trace`` a JSON list of the best
    value's improvements ``[cost, values, gradients, hessians, best]``;
    ``restarts`` how often the solver was started again within the run;
    ``solver_status`` and ``solver_message`` the solver's own last word
    (NULL and empty when it gave none). Only ``seconds`` (wall time)
    differs between two executions of the same run.
``lock(campaign, pid, host, since)``
    who runs a campaign now (the lock itself is the operating system's).
``retired_solver(id, campaign, label, name, version, options, settings, retired)`` and ``retired_run``
    a solver entry that the campaign file no longer lists (its options or
    settings changed, or it was removed), with its runs (the columns of
    ``run``, ``solver`` naming the retired entry): kept, not counted, and
    put back when the file lists the entry again. Readers of ``solver`` and
    ``run`` see the campaign as it now stands.

The index ``run_by_solver`` on ``run (solver, status, cost, budget,
restarts, hit)`` serves ``status`` on large databases; the runner adds it
when it opens a database for writing, and no reader relies on it (it does
not change the schema version).

A database of schema version 1 is read as it is and migrated in place, in
one transaction, when a campaign is run on it. Each run is written in its
own transaction, so a campaign killed at any moment keeps every finished run
(see ``write_ahead`` for what a power cut may cost).
"""

from __future__ import annotations

import contextlib
import datetime
import hashlib
import json
import os
import pathlib
import resource
import socket
import sqlite3
import struct
from collections.abc import Iterable, Mapping
from typing import Any

SCHEMA_VERSION = 2

#: Every run status; the last three are failures (their counters are not results).
STATUSES = ("budget", "stopped", "hit", "target", "error", "crashed", "timeout")
FAILED = ("error", "crashed", "timeout")

# The first schema, as earlier versions wrote it. A new database is made
# from it and the migrations, so new and migrated databases are alike.
_SCHEMA_1 = """
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

_COLUMNS_1 = {
    "meta": {"key", "value"},
    "campaign": {"id", "name", "description", "travo_version", "planned"},
    "solver": {"id", "campaign", "position", "label", "name", "version", "options"},
    "member": {"id", "suite", "kind", "test", "parameters", "accuracy"},
    "run": {"id", "campaign", "solver", "member", "repetition", "seed", "status", "message", "cost", "values",
            "gradients", "hessians", "best_value", "best_point", "hit", "target_hits", "trace", "seconds"},
}
# What every reader may rely on (a database made by other means has these), and what the runner adds.
_COLUMNS_2 = dict(_COLUMNS_1, run=_COLUMNS_1["run"] | {"budget", "restarts", "solver_status", "solver_message"})
_COLUMNS = {1: _COLUMNS_1, 2: _COLUMNS_2}
_RUNNER_COLUMNS = dict(_COLUMNS_2, solver=_COLUMNS_1["solver"] | {"settings"}, lock={"campaign", "pid", "host", "since"},
                       retired_solver={"id", "campaign", "label", "name", "version", "options", "settings", "retired"},
                       retired_run=_COLUMNS_2["run"])

#: Columns of one exported run, in order.
EXPORT_FIELDS = ("campaign", "solver", "solver_name", "suite", "kind", "test", "repetition", "seed", "status",
                 "evaluations", "values", "gradients", "hessians", "hit", "best_value", "best_point",
                 "target_exponents", "target_hits", "message")

#: The settings of a solver entry that schema 1 did not record, as it ran them.
DEFAULT_SETTINGS = {"restarts": False, "stop": "budget", "time_limit": None}


class DatabaseError(ValueError):
    """A file that is not a travo results database of a known schema version, or that cannot be used."""


class CampaignChanged(DatabaseError):
    """A campaign file that differs from the campaign of the same name in the database."""


class Locked(DatabaseError):
    """The campaign is being run by another process."""


def _open(path: pathlib.Path, write: bool) -> sqlite3.Connection:
    if write:
        # A long read by `status` must not make a write fail: writers wait.
        return sqlite3.connect(path, isolation_level=None, timeout=60.0)
    uri = pathlib.Path(os.path.abspath(path)).as_uri() + "?mode=ro"
    return sqlite3.connect(uri, uri=True, isolation_level=None, timeout=10.0)


def _version_and_tables(conn: sqlite3.Connection) -> tuple[int, dict[str, set[str]]]:
    version = conn.execute("PRAGMA user_version").fetchone()[0]
    names = conn.execute("SELECT name FROM sqlite_master WHERE type = 'table'").fetchall()
    tables: dict[str, set[str]] = {r[0]: set() for r in names}
    for t in tables:
        tables[t] = {r[1] for r in conn.execute(f'PRAGMA table_info("{t}")')}
    return version, tables


def _check(path: pathlib.Path, version: int, tables: dict[str, set[str]], runner: bool = False) -> None:
    if version > SCHEMA_VERSION:
        raise DatabaseError(f"{path}: written by a newer travo (schema version {version}); this travo reads "
                            f"versions 1 to {SCHEMA_VERSION}")
    if version not in _COLUMNS:
        raise DatabaseError(f"{path}: not a travo results database (schema version {version})")
    for table, columns in (_RUNNER_COLUMNS if runner and version == 2 else _COLUMNS[version]).items():
        if table not in tables:
            raise DatabaseError(f"{path}: not a travo results database (no table {table!r})")
        missing = sorted(columns - tables[table])
        if missing:
            raise DatabaseError(f"{path}: not a travo results database of schema version {version} (table "
                                f"{table!r} has no column {missing[0]!r})")


def connect(path: str | os.PathLike, create: bool = False, migrate: bool | None = None) -> sqlite3.Connection:
    """Opens a results database.

    Parameters
    ----------
    path : str or os.PathLike
        The database file.
    create : bool
        Open it for writing, and make a new one when the file does not
        exist. Default: read-only (schema 1 or 2, read as it is).
    migrate : bool, optional
        Whether a database opened with ``create`` is migrated from schema 1
        in place, in one transaction (default: yes).

    Returns
    -------
    sqlite3.Connection
        The open database.

    Raises
    ------
    DatabaseError
        For a missing file (without ``create``), a file that is not a
        results database, a newer schema, or a file that cannot be written
        (with ``create``).

    Examples
    --------
    >>> import os, tempfile
    >>> from travo import results
    >>> folder = tempfile.TemporaryDirectory()
    >>> conn = results.connect(os.path.join(folder.name, "new.db"), create=True)
    >>> results.schema_version(conn) == results.SCHEMA_VERSION
    True
    >>> conn.close(); folder.cleanup()
    """
    path = pathlib.Path(path)
    existed = path.exists()
    if not existed and not create:
        raise DatabaseError(f"{path}: no such results database")
    if existed and not path.is_file():
        raise DatabaseError(f"{path}: not a regular file")
    if create and existed and not (os.access(path, os.W_OK) and os.access(path.parent, os.W_OK | os.X_OK)):
        raise DatabaseError(f"{path}: the database is read-only (the file and its folder must be writable: SQLite "
                            "keeps a journal beside the file)")
    conn = None
    try:
        conn = _open(path, create)
        version, tables = _version_and_tables(conn)
        if create and not tables and version == 0:
            _create(conn)
            version, tables = _version_and_tables(conn)
        _check(path, version, tables, runner=create)
        if create and (migrate is None or migrate):
            upgrade(conn, path)
        conn.execute("PRAGMA foreign_keys = ON")
        return conn
    except sqlite3.Error as e:
        if conn is not None:
            conn.close()
        if not existed:
            with contextlib.suppress(OSError):
                path.unlink()
        raise DatabaseError(f"{path}: {describe_error(e, path)}") from None
    except BaseException:  # a refusal (DatabaseError) included
        if conn is not None:
            conn.close()
        if not existed:
            with contextlib.suppress(OSError):
                path.unlink()
        raise


def schema_version(conn: sqlite3.Connection) -> int:
    return conn.execute("PRAGMA user_version").fetchone()[0]


def _create(conn: sqlite3.Connection) -> None:
    from . import __version__
    conn.execute("BEGIN IMMEDIATE")
    try:
        for statement in _SCHEMA_1.split(";"):
            if statement.strip():
                conn.execute(statement)
        conn.execute("INSERT INTO meta VALUES ('schema_version', '1'), ('travo_version', ?)", (__version__,))
        conn.execute("PRAGMA user_version = 1")
        _migrate_1_to_2(conn)
        conn.execute("COMMIT")
    except BaseException:
        _rollback(conn)
        raise


def check_intact(conn: sqlite3.Connection, path: str | os.PathLike) -> None:
    """Refuses a damaged database before anything is written to it (reads the whole file)."""
    try:
        found = conn.execute("PRAGMA quick_check(1)").fetchone()[0]
    except sqlite3.DatabaseError as e:
        found = str(e)
    if found != "ok":
        raise DatabaseError(f"{path}: damaged or not a results database ({found})")


# Indexes for the readers of a large database (status, the lists of failed runs, resuming); not part of the
# schema: a database without them reads the same, and the runner adds them before it writes.
_INDEXES = {"run_by_solver": "run (solver, status, cost, budget, restarts, hit)"}


def upgrade(conn: sqlite3.Connection, path: str | os.PathLike) -> None:
    """Brings a schema-1 database to schema 2 and adds the missing indexes, in one transaction: all of it or
    nothing."""
    missing = [n for n in _INDEXES if conn.execute("SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = ?",
                                                   (n,)).fetchone() is None]
    if schema_version(conn) >= SCHEMA_VERSION and not missing:
        return
    try:
        conn.execute("BEGIN IMMEDIATE")
        if schema_version(conn) == 1:  # another process may have migrated it meanwhile
            _migrate_1_to_2(conn)
        for name in missing:
            conn.execute(f"CREATE INDEX IF NOT EXISTS {name} ON {_INDEXES[name]}")
        conn.execute("COMMIT")
    except sqlite3.Error as e:
        _rollback(conn)
        raise DatabaseError(f"{path}: cannot bring the database to schema {SCHEMA_VERSION} (it is left as it "
                            f"was): {describe_error(e, path)}") from None
    except BaseException:
        _rollback(conn)
        raise


def write_ahead(conn: sqlite3.Connection) -> None:
    """Makes each run's transaction cheap while a campaign writes: a write-ahead log, synced at checkpoints only
    (``synchronous = NORMAL``).

    A commit then appends to the log without waiting for the disk. A process
    killed at any moment loses nothing that it committed (the operating
    system holds the log); a power cut or a crash of the system may lose the
    runs committed since the last checkpoint (at most about 1000 pages of log,
    a few thousand runs, and what the system had not yet written back), never
    the database's consistency: those runs are simply run again on resume.
    Where the file system cannot keep a write-ahead log, the rollback journal
    and full syncs stay.
    """
    if conn.execute("PRAGMA journal_mode = WAL").fetchone()[0] == "wal":
        conn.execute("PRAGMA synchronous = NORMAL")


def end_write_ahead(conn: sqlite3.Connection) -> None:
    """Back to the rollback journal once a campaign is written, when no other process has the database open:
    the file alone then holds every run, and read-only readers can open it where they cannot create the
    log's files (a database in the log's mode needs them). Otherwise it stays as it is (still consistent)."""
    conn.execute("PRAGMA busy_timeout = 0")
    try:
        conn.execute("PRAGMA journal_mode = DELETE")
    except sqlite3.OperationalError:
        pass


def _migrate_1_to_2(conn: sqlite3.Connection) -> None:
    conn.execute("ALTER TABLE solver ADD COLUMN settings TEXT NOT NULL DEFAULT '{}'")
    for cid, text in conn.execute("SELECT id, description FROM campaign").fetchall():
        d = json.loads(text)
        for s in d.get("solvers", []):  # schema 1 ran every entry to its budget, once started, without a limit
            settings = dict(DEFAULT_SETTINGS, repetitions=s.get("repetitions", d.get("repetitions", 1)))
            conn.execute("UPDATE solver SET settings = ? WHERE campaign = ? AND label = ?",
                         (json.dumps(settings, sort_keys=True), cid, s["label"]))
    conn.execute("ALTER TABLE run ADD COLUMN budget INTEGER NOT NULL DEFAULT 0")
    conn.execute("ALTER TABLE run ADD COLUMN restarts INTEGER NOT NULL DEFAULT 0")
    conn.execute("ALTER TABLE run ADD COLUMN solver_status TEXT")
    conn.execute("ALTER TABLE run ADD COLUMN solver_message TEXT NOT NULL DEFAULT ''")
    # Schema 1 had one budget per campaign, a number.
    conn.execute("UPDATE run SET budget = (SELECT json_extract(c.description, '$.budget') FROM campaign c "
                 "WHERE c.id = run.campaign)")
    conn.execute("CREATE TABLE lock (campaign TEXT PRIMARY KEY, pid INTEGER NOT NULL, host TEXT NOT NULL, "
                 "since TEXT NOT NULL)")
    conn.execute("CREATE TABLE retired_solver (id INTEGER PRIMARY KEY, campaign INTEGER NOT NULL REFERENCES "
                 "campaign(id), label TEXT NOT NULL, name TEXT NOT NULL, version TEXT NOT NULL, options TEXT NOT NULL, "
                 "settings TEXT NOT NULL, retired TEXT NOT NULL)")
    conn.execute("CREATE TABLE retired_run AS SELECT * FROM run WHERE 0")
    conn.execute("UPDATE meta SET value = '2' WHERE key = 'schema_version'")
    conn.execute("PRAGMA user_version = 2")


def _rollback(conn: sqlite3.Connection) -> None:
    # SQLite may have ended the transaction itself (a full disk, for
    # instance); the error that did it is the one to tell.
    if conn.in_transaction:
        with contextlib.suppress(sqlite3.Error):
            conn.execute("ROLLBACK")


def describe_error(e: BaseException, path: str | os.PathLike | None = None) -> str:
    """A one-line account of an SQLite failure, with its likely cause on the machine."""
    text = str(e) or type(e).__name__
    name = getattr(e, "sqlite_errorname", "")
    if name.startswith(("SQLITE_IOERR", "SQLITE_FULL")) or "disk" in text:
        limit = resource.getrlimit(resource.RLIMIT_FSIZE)[0]
        causes = []
        if limit != resource.RLIM_INFINITY:
            causes.append(f"the file size limit is {limit} bytes (ulimit -f)")
        if path is not None:
            with contextlib.suppress(OSError):
                st = os.statvfs(os.path.dirname(os.path.abspath(path)))
                if st.f_bavail * st.f_frsize < 1 << 20:
                    causes.append("the disk is full")
        if causes:
            text += f" ({'; '.join(causes)})"
    elif name == "SQLITE_READONLY" or "readonly" in text:
        text += " (the file or its folder is not writable)"
    elif name == "SQLITE_CORRUPT" or "malformed" in text or "not a database" in text:
        text = f"damaged or not a results database ({text})"
    return text


# Campaigns ---------------------------------------------------------------------------------------------------

#: The campaign-wide fields of a description, with the values that a description without them means.
CAMPAIGN_FIELDS = {"suites": None, "kinds": None, "budget": None, "repetitions": 1, "targets": None,
                   "stop": "budget", "time_limit": None, "restarts": False}


def campaign_fields(description: Mapping[str, Any]) -> dict[str, Any]:
    """The campaign-wide fields of a stored description, of either schema (schema 1 had one ``suite``
    and one ``kind``)."""
    d = dict(description)
    if "suites" not in d and "suite" in d:
        d["suites"] = [d["suite"]]
    if "kinds" not in d and "kind" in d:
        d["kinds"] = [d["kind"]]
    return {k: d.get(k, default) for k, default in CAMPAIGN_FIELDS.items()}


def _first_difference(old: Any, new: Any, where: str) -> str | None:
    """The path of the first difference between two JSON values, with both values; None when equal."""
    if isinstance(old, Mapping) and isinstance(new, Mapping):
        for k in sorted(set(old) | set(new)):
            found = _first_difference(old.get(k), new.get(k), f"{where}.{k}")
            if found:
                return found
        return None
    if isinstance(old, list) and isinstance(new, list) and len(old) == len(new):
        for i, (a, b) in enumerate(zip(old, new)):
            found = _first_difference(a, b, f"{where}[{i}]")
            if found:
                return found
        return None
    if json.dumps(old, sort_keys=True) == json.dumps(new, sort_keys=True):
        return None
    return f"{where} (recorded {json.dumps(old)}, now {json.dumps(new)})"


def check_campaign(conn: sqlite3.Connection, name: str, description: Mapping[str, Any]) -> None:
    """Raises CampaignChanged when the database holds a campaign of this name with other campaign-wide fields
    (reads only)."""
    row = conn.execute("SELECT description FROM campaign WHERE name = ?", (name,)).fetchone()
    if row is not None:
        changed = _first_difference(campaign_fields(json.loads(row[0])), campaign_fields(description), "")
        if changed:
            raise CampaignChanged(
                f"the database holds a campaign {name!r} that differs in {changed.lstrip('.')}; only its "
                "solvers may change under the same name (give the campaign another name or use another database)")


def _solver_key(s: Mapping[str, Any]) -> tuple:
    """What identifies a solver entry: label, name, version, options and settings (JSON texts)."""
    return (s["label"], s["name"], s["version"], json.dumps(s["options"], sort_keys=True),
            json.dumps(s.get("settings", {}), sort_keys=True))


def register_campaign(conn: sqlite3.Connection, name: str, description: dict, planned: int,
                      solvers: list[dict], members: Iterable[dict],
                      notes: list[str] | None = None) -> tuple[int, list[int], dict]:
    """Records a campaign, its solver entries and members, in one transaction.

    A campaign of the same name must have the same campaign-wide fields
    (CampaignChanged names the first that differs). A solver entry (label,
    name, version, options, settings) not recorded yet is added (or put
    back with its runs from the retired tables); a recorded entry that the
    campaign no longer lists moves there with its runs, and ``notes`` tells
    of both. Returns the campaign id, the
    solver ids in order, and member ids by (suite, kind, test).
    """
    from . import __version__
    text = json.dumps(description, sort_keys=True)
    conn.execute("BEGIN IMMEDIATE")
    try:
        row = conn.execute("SELECT id, description FROM campaign WHERE name = ?", (name,)).fetchone()
        if row is None:
            cid = int(conn.execute("INSERT INTO campaign (name, description, travo_version, planned) "
                                   "VALUES (?, ?, ?, ?)", (name, text, __version__, planned)).lastrowid or 0)
        else:
            cid = row[0]
            check_campaign(conn, name, description)
        recorded = {}
        for sid, label, sname, version, options, settings in conn.execute(
                "SELECT id, label, name, version, options, settings FROM solver WHERE campaign = ?", (cid,)):
            recorded[_solver_key({"label": label, "name": sname, "version": version, "options": json.loads(options),
                                  "settings": json.loads(settings)})] = sid
        wanted = [_solver_key(s) for s in solvers]
        retired, added = {}, {}
        for key, sid in recorded.items():
            if key not in wanted:
                retired[key[0]] = (key, _retire(conn, cid, sid))
        sids = []
        for i, key in enumerate(wanted):
            if key in recorded:
                sid = recorded[key]
                conn.execute("UPDATE solver SET position = ? WHERE id = ?", (i, sid))
            else:
                sid, again = _reinstate(conn, cid, i, key)
                added[key[0]] = (key, again)
            sids.append(sid)
        if notes is not None and row is not None:
            notes.extend(_entry_notes(retired, added))
        if row is not None and row[1] != text:
            conn.execute("UPDATE campaign SET description = ?, planned = ? WHERE id = ?", (text, planned, cid))
        mids = {}
        for m in members:
            key = (m["suite"], m["kind"], m["test"], json.dumps(m["parameters"], sort_keys=True), m["accuracy"])
            conn.execute("INSERT OR IGNORE INTO member (suite, kind, test, parameters, accuracy) VALUES (?, ?, ?, ?, ?)",
                         key)
            mids[key[:3]] = conn.execute("SELECT id FROM member WHERE suite = ? AND kind = ? AND test = ? AND "
                                         "parameters = ? AND accuracy = ?", key).fetchone()[0]
        conn.execute("COMMIT")
    except BaseException:
        _rollback(conn)
        raise
    return cid, sids, mids


def _run_columns(conn: sqlite3.Connection) -> str:
    return ", ".join(f'"{r[1]}"' for r in conn.execute("PRAGMA table_info(run)") if r[1] not in ("id", "solver"))


def _retire(conn: sqlite3.Connection, cid: int, sid: int) -> int:
    """Moves a solver entry and its runs out of the campaign, into the retired tables; returns its run count."""
    rid = conn.execute("INSERT INTO retired_solver (campaign, label, name, version, options, settings, retired) "
                       "SELECT campaign, label, name, version, options, settings, ? FROM solver WHERE id = ?",
                       (datetime.datetime.now().isoformat(timespec="seconds"), sid)).lastrowid
    columns = _run_columns(conn)
    moved = conn.execute(f"INSERT INTO retired_run (solver, {columns}) SELECT ?, {columns} FROM run WHERE solver = ?",
                         (rid, sid)).rowcount
    conn.execute("DELETE FROM run WHERE solver = ?", (sid,))
    conn.execute("DELETE FROM solver WHERE id = ?", (sid,))
    return moved


def _reinstate(conn: sqlite3.Connection, cid: int, position: int, key: tuple) -> tuple[int, bool]:
    """A solver entry for the campaign: the retired one with this key and its runs put back, or a new one."""
    found = conn.execute("SELECT id FROM retired_solver WHERE campaign = ? AND label = ? AND name = ? AND "
                         "version = ? AND options = ? AND settings = ? ORDER BY id DESC", (cid,) + key).fetchone()
    sid = int(conn.execute("INSERT INTO solver (campaign, position, label, name, version, options, settings) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?)", (cid, position) + key).lastrowid or 0)
    if found is not None:
        columns = _run_columns(conn)
        conn.execute(f"INSERT INTO run (solver, {columns}) SELECT ?, {columns} FROM retired_run WHERE solver = ?",
                     (sid, found[0]))
        conn.execute("DELETE FROM retired_run WHERE solver = ?", (found[0],))
        conn.execute("DELETE FROM retired_solver WHERE id = ?", (found[0],))
    return sid, found is not None


def _entry_notes(retired: dict[str, tuple[tuple, int]], added: dict[str, tuple[tuple, bool]]) -> list[str]:
    """What changed among a campaign's solver entries, one line per label."""
    out = []
    for label, (old, runs) in retired.items():
        if label in added:
            new, again = added[label]
            what = "; ".join(f"{field} {a} -> {b}" for field, a, b in zip(("name", "version", "options", "settings"),
                                                                            old[1:], new[1:]) if a != b)
            entry = ("its runs recorded before with these settings count again" if again
                     else "it runs as a new entry")
            out.append(f"solver {label!r} changed ({what}): {entry}; the {runs} runs of the previous one stay in "
                       "the database but are no longer counted")
        else:
            out.append(f"solver {label!r} is no longer in the campaign: its {runs} runs stay in the database but "
                       "are no longer counted")
    out.extend(f"solver {label!r} is {'back' if again else 'new'} in the campaign"
               for label, (_, again) in added.items() if label not in retired)
    return out


def recorded_runs(conn: sqlite3.Connection, campaign: int) -> tuple[set[tuple[int, int, int]],
                                                                    set[tuple[int, int, int]]]:
    """The recorded runs of a campaign and those of them that failed, as (solver id, member id, repetition)
    (each read from an index alone, not from the runs' rows)."""
    keys = set(conn.execute("SELECT solver, member, repetition FROM run WHERE campaign = ?", (campaign,)))
    failed = set(conn.execute(f"SELECT r.solver, r.member, r.repetition FROM solver s JOIN run r ON r.solver = s.id "
                              f"WHERE s.campaign = ? AND r.status IN ({', '.join('?' * len(FAILED))})",
                              (campaign,) + FAILED))
    return keys, failed


_RUN_COLUMNS = ("campaign", "solver", "member", "repetition", "seed", "status", "message", "cost", "values",
                "gradients", "hessians", "best_value", "best_point", "hit", "target_hits", "trace", "seconds",
                "budget", "restarts", "solver_status", "solver_message")
_INSERT_RUN = (f"INSERT INTO run ({', '.join(chr(34) + c + chr(34) for c in _RUN_COLUMNS)}) "
               f"VALUES ({', '.join('?' * len(_RUN_COLUMNS))})")


def record_run(conn: sqlite3.Connection, campaign: int, solver: int, member: int, r: Mapping[str, Any],
               replace: bool = False) -> None:
    """Writes one run in one transaction; ``replace`` first removes the run recorded under the same key."""
    budget = r.get("budget")
    if budget is None:  # a record made without one: the campaign's single budget, as schema 1 had
        budget = json.loads(conn.execute("SELECT description FROM campaign WHERE id = ?",
                                         (campaign,)).fetchone()[0])["budget"]
    values = (campaign, solver, member, r["repetition"], r["seed"], r["status"], r["message"], r["cost"],
              r["values"], r["gradients"], r["hessians"], r["best_value"], json.dumps(r["best_point"]), r["hit"],
              json.dumps(r["target_hits"]), json.dumps(r["trace"]), r["seconds"], budget, r.get("restarts", 0),
              r.get("solver_status"), r.get("solver_message", ""))
    conn.execute("BEGIN IMMEDIATE")
    try:
        if replace:
            conn.execute("DELETE FROM run WHERE campaign = ? AND solver = ? AND member = ? AND repetition = ?",
                         (campaign, solver, member, r["repetition"]))
        conn.execute(_INSERT_RUN, values)
        conn.execute("COMMIT")
    except BaseException:
        _rollback(conn)
        raise


# Reading -----------------------------------------------------------------------------------------------------

def _has_settings(conn: sqlite3.Connection) -> bool:
    return any(r[1] == "settings" for r in conn.execute("PRAGMA table_info(solver)"))


def campaigns(conn: sqlite3.Connection) -> list[dict]:
    """Every campaign with its description, planned and finished runs, and per solver entry: its
    settings, runs planned and recorded, by status, solved (box-rule hits), mean share of the budget used and
    mean restarts (over the runs that finished normally)."""
    v2 = schema_version(conn) >= 2
    budget = "r.budget" if v2 else "NULL"
    restarts = "r.restarts" if v2 else "0"
    failed = ", ".join(f"'{s}'" for s in FAILED)
    out = []
    for cid, name, desc, version, planned in conn.execute(
            "SELECT id, name, description, travo_version, planned FROM campaign ORDER BY id").fetchall():
        d = json.loads(desc)
        reps = {s["label"]: s.get("repetitions", d.get("repetitions", 1)) for s in d.get("solvers", [])}
        members = planned // max(sum(reps.values()), 1)  # planned = members x the solvers' repetitions
        solvers = []
        settings = "s.settings" if _has_settings(conn) else "'{}'"
        for sid, label, sname, sversion, options, stext in conn.execute(
                f"SELECT s.id, s.label, s.name, s.version, s.options, {settings} FROM solver s WHERE s.campaign = ? "
                "ORDER BY s.position", (cid,)).fetchall():
            by_status = dict(conn.execute("SELECT status, COUNT(*) FROM run WHERE solver = ? GROUP BY status",
                                          (sid,)).fetchall())
            hits, used, mean_restarts = conn.execute(
                f"SELECT COUNT(r.hit), AVG(CASE WHEN r.status NOT IN ({failed}) THEN r.cost * 1.0 / "
                f"COALESCE({budget}, ?) END), AVG(CASE WHEN r.status NOT IN ({failed}) THEN {restarts} END) "
                "FROM run r WHERE r.solver = ?", (d.get("budget") if not v2 else None, sid)).fetchone()
            solvers.append({"label": label, "name": sname, "version": sversion, "options": json.loads(options),
                            "settings": {**DEFAULT_SETTINGS, "repetitions": reps.get(label, 1), **json.loads(stext)},
                            "planned": members * reps.get(label, 1), "finished": sum(by_status.values()),
                            "statuses": by_status, "failed": sum(by_status.get(s, 0) for s in FAILED),
                            "hits": hits, "budget_used": used, "restarts": mean_restarts})
        out.append({"id": cid, "name": name, "description": d, "travo_version": version, "planned": planned,
                    "finished": sum(s["finished"] for s in solvers), "solvers": solvers})
    return out


def failed_runs(conn: sqlite3.Connection, campaign: str | None = None) -> list[dict]:
    """The runs that did not finish normally (status error, crashed or timeout), in the order of runs()."""
    return runs(conn, campaign, statuses=FAILED)


def runs(conn: sqlite3.Connection, campaign: str | None = None, trace: bool = False,
         statuses: Iterable[str] | None = None) -> list[dict]:
    """Recorded runs as dicts (the fields of EXPORT_FIELDS, then ``budget``,
    ``restarts``, ``solver_status``, ``solver_message``, and ``trace`` when asked), in a fixed order:
    campaign, solver as listed, suite, kind, test, repetition. Schema-1 databases read with the budget of
    their campaign, no restarts and no word from the solver. ``statuses``: only runs of these statuses."""
    v2 = schema_version(conn) >= 2
    extra = "r.budget, r.restarts, r.solver_status, r.solver_message" if v2 else "NULL, 0, NULL, ''"
    sql = ('SELECT c.name, s.label, s.name, m.suite, m.kind, m.test, r.repetition, r.seed, r.status, r.cost, '
           'r."values", r.gradients, r.hessians, r.hit, r.best_value, r.best_point, c.description, r.target_hits, '
           f'r.message, {"r.trace" if trace else "NULL"}, {extra} FROM run r JOIN campaign c ON c.id = r.campaign '
           'JOIN solver s ON s.id = r.solver JOIN member m ON m.id = r.member WHERE 1')
    args: tuple = ()
    if campaign is not None:
        sql += " AND c.name = ?"
        args = (campaign,)
    if statuses is not None:
        statuses = tuple(statuses)
        sql += f" AND r.status IN ({', '.join('?' * len(statuses))})"
        args += statuses
    sql += " ORDER BY c.id, s.position, m.suite, m.kind, m.test, r.repetition"
    described: dict[str, dict] = {}
    out = []
    for row in conn.execute(sql, args):
        if row[16] not in described:
            described[row[16]] = json.loads(row[16])
        d = described[row[16]]
        r = dict(zip(EXPORT_FIELDS, row[:15] + (json.loads(row[15]), d["targets"], json.loads(row[17]), row[18])))
        r.update(budget=row[20] if row[20] is not None else d["budget"], restarts=row[21], solver_status=row[22],
                 solver_message=row[23])
        if trace:
            r["trace"] = json.loads(row[19])
        out.append(r)
    return out



# The lock of a campaign being run ----------------------------------------------------------------------------

# Bytes of the database file far beyond those SQLite locks (at 1 GiB); one
# per campaign name. Open-file-description locks belong to the descriptor,
# so SQLite's own opening and closing of the file cannot release them, and
# the system releases them when the holder ends in any way.
_LOCK_BASE = 1 << 44


class CampaignLock:
    """Held while a campaign is run: at most one process runs a campaign of a database at a time.

    Taking it writes nothing; ``announce`` then records who holds it, for
    the message that refuses a second process.
    """

    def __init__(self, conn: sqlite3.Connection, path: str | os.PathLike, campaign: str) -> None:
        self._conn, self._campaign, self._announced = conn, campaign, False
        self._fd = os.open(path, os.O_RDWR | os.O_CLOEXEC)
        try:
            self._lock(campaign)
        except OSError:
            os.close(self._fd)
            self._fd = -1
            row = None
            with contextlib.suppress(sqlite3.Error):
                row = conn.execute("SELECT pid, host, since FROM lock WHERE campaign = ?", (campaign,)).fetchone()
            holder = f"process {row[0]} on {row[1]} (since {row[2]})" if row else "another process"
            raise Locked(f"{path}: campaign {campaign!r} is being run by {holder}; wait for it to end, or stop "
                         "it") from None

    def _lock(self, campaign: str) -> None:
        import fcntl
        if hasattr(fcntl, "F_OFD_SETLK"):
            start = _LOCK_BASE + int.from_bytes(hashlib.sha256(campaign.encode()).digest()[:5], "little")
            fcntl.fcntl(self._fd, fcntl.F_OFD_SETLK, struct.pack("hh4xqqi4x", fcntl.F_WRLCK, os.SEEK_SET,
                                                                   start, 1, 0))
        else:  # one campaign at a time per database
            fcntl.flock(self._fd, fcntl.LOCK_EX | fcntl.LOCK_NB)

    def announce(self) -> None:
        """Records this process as the holder (a schema-2 database)."""
        self._conn.execute("BEGIN IMMEDIATE")
        try:
            self._conn.execute("INSERT OR REPLACE INTO lock VALUES (?, ?, ?, ?)",
                               (self._campaign, os.getpid(), socket.gethostname(),
                                datetime.datetime.now().isoformat(timespec="seconds")))
            self._conn.execute("COMMIT")
        except BaseException:
            _rollback(self._conn)
            raise
        self._announced = True

    def release(self) -> None:
        if self._fd < 0:
            return
        try:
            if self._announced:
                with contextlib.suppress(sqlite3.Error):
                    self._conn.execute("DELETE FROM lock WHERE campaign = ? AND pid = ?",
                                       (self._campaign, os.getpid()))
        finally:
            _rollback(self._conn)
            os.close(self._fd)
            self._fd = -1
