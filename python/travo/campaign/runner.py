"""Running a campaign: what is to do, on which executor, each finished run written at once."""

from __future__ import annotations

import os
import signal
import sqlite3
import sys
import threading
import time
from collections.abc import Callable, Iterator
from typing import Any, TextIO

from .. import results
from .execute import Interrupted, Task
from .executors import run_dask, run_here, run_local
from .loader import Campaign, load, member_records, seeds, solver_records, work_order

Progress = Callable[[int, int, int], None]


class Stopped(KeyboardInterrupt):
    """The campaign stopped on a signal, after writing every run that finished; ``counts`` as run() returns."""

    def __init__(self, signum: int, counts: dict) -> None:
        super().__init__(f"stopped by signal {signum}")
        self.signum, self.counts = signum, counts


class _Signals:
    """SIGINT and SIGTERM ask the campaign to stop (a second one: at once). In this process's own runs the
    run in hand is abandoned at once."""

    def __init__(self) -> None:
        self.received: list[int] = []
        self.running_here = False

    def __enter__(self) -> "_Signals":
        self._previous = {}
        if threading.current_thread() is threading.main_thread():
            for s in (signal.SIGINT, signal.SIGTERM):
                self._previous[s] = signal.signal(s, self._handle)
        return self

    def _handle(self, signum, frame) -> None:
        self.received.append(signum)
        if self.running_here:
            raise Interrupted()

    def interruptible(self, yes: bool) -> None:
        """Whether a signal now abandons the run in hand (one that runs in this process)."""
        self.running_here = yes

    def stopping(self) -> str | None:
        return None if not self.received else "now" if len(self.received) > 1 else "grace"

    def __exit__(self, *exc) -> None:
        for s, handler in self._previous.items():
            signal.signal(s, handler)


class ProgressLine:
    """Runs done / to do, solved, failed and the time left, on one line of a terminal (nothing elsewhere)."""

    def __init__(self, stream: TextIO = sys.stderr) -> None:
        self.stream, self.start, self.last, self.shown = stream, time.monotonic(), 0.0, False
        self.tty = stream.isatty()

    def __call__(self, done: int, total: int, failed: int, solved: int = 0, final: bool = False) -> None:
        now = time.monotonic()
        if not self.tty or (now - self.last < 0.2 and not final):
            return
        self.last = now
        left = ""
        if 0 < done < total:
            seconds = (now - self.start) / done * (total - done)
            left = f", {int(seconds // 3600)}:{int(seconds // 60 % 60):02d}:{int(seconds % 60):02d} left"
        text = f"{done}/{total} runs, {solved} solved" + (f", {failed} failed" if failed else "") + left
        self.stream.write("\r" + text + "\x1b[K")
        self.stream.flush()
        self.shown = True

    def close(self) -> None:
        if self.shown:
            self.stream.write("\n")
            self.stream.flush()


def _default_workers() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def run(campaign: Campaign | str | os.PathLike, db: str | os.PathLike, workers: int | None = None,
        scheduler: str | Any | None = None, progress: Progress | bool | None = True, retry_failed: bool = False,
        tell: Callable[[str], None] | None = None) -> dict:
    """Runs the campaign's missing runs and records each in a database as it finishes.

    Parameters
    ----------
    campaign : Campaign, str or os.PathLike
        The campaign, or its file.
    db : str or os.PathLike
        The results database, created if needed (a schema-1 database is
        migrated in place).
    workers : int, optional
        Local worker processes (default: the cores this process may use; 0
        runs in this process, without isolation or time limits that end a
        run stuck outside Python).
    scheduler : str or distributed.Client, optional
        The address of a Dask scheduler (or a client) to run on instead.
    progress : bool or callable
        True shows a progress line on a terminal; a callable receives
        ``(done, total, failed)``.
    retry_failed : bool
        Also run again the recorded runs that failed, with the same seeds.
    tell : callable, optional
        Receives notes (solver entries added or retired).

    Returns
    -------
    dict
        Counts: ``planned``, ``skipped`` (recorded before and not run
        again), ``done`` (recorded now), ``statuses`` (of those, by
        status), ``solved`` (of those, box-rule hits), ``failed`` (runs of
        this call that did not finish normally: recorded as error, crashed
        or timeout, or lost by the executor and still to do) and ``lost``.

    Raises
    ------
    Stopped
        After a SIGINT or SIGTERM, once every finished run is written; it
        carries the counts.
    CampaignError
        For a faulty campaign file.
    travo.results.DatabaseError
        For a file that is not a results database, or of a newer schema;
        its subclasses ``CampaignChanged`` (the campaign of the same name
        in the database differs in more than its solvers' options) and
        ``Locked`` (another process runs the campaign on the database).
    ValueError
        For ``workers`` below 0.
    """
    c = campaign if isinstance(campaign, Campaign) else load(campaign)
    if workers is not None and workers < 0:
        raise ValueError("workers must be 0 (this process) or more")
    # Every refusal comes before the first write: a database that cannot take the campaign is left as it was.
    conn = results.connect(db, create=True, migrate=False)
    try:
        results.check_intact(conn, db)
        results.check_campaign(conn, c.name, c.description())
        lock = results.CampaignLock(conn, db, c.name)
        try:
            results.upgrade(conn, db)
            results.write_ahead(conn)
            lock.announce()
            return _run(c, conn, workers, scheduler, progress, retry_failed, tell)
        finally:
            lock.release()
            results.end_write_ahead(conn)
    finally:
        conn.close()


def _run(c: Campaign, conn: sqlite3.Connection, workers, scheduler, progress, retry_failed, tell) -> dict:
    notes: list[str] = []
    cid, sids, mids = results.register_campaign(conn, c.name, c.description(), c.planned(), solver_records(c),
                                                member_records(c), notes)
    for note in notes:
        (tell or (lambda text: print(f"note: {text}", file=sys.stderr)))(note)
    recorded, failed = results.recorded_runs(conn, cid)
    redo = failed if retry_failed else set()
    members = work_order(c)

    def entries() -> Iterator[tuple[Any, Any, list[tuple[int, int, int]]]]:
        """(member, solver entry, the keys of its runs to do), in the work order."""
        for m in members:
            mid = mids[(m.suite, m.kind, m.test)]
            for sid, s in zip(sids, c.solvers):
                keys = [k for k in ((sid, mid, r) for r in range(1, s.repetitions + 1))
                        if k not in recorded or k in redo]
                if keys:
                    yield m, s, keys

    def todo() -> Iterator[tuple[tuple, Task]]:
        for m, s, keys in entries():
            budget, options, run_seeds = c.budget_of(m), dict(s.options), seeds(c.name, s, m, s.repetitions)
            for key in keys:
                yield (key + (key in recorded,), Task(s.name, options, m, key[2], run_seeds[key[2] - 1], budget,
                                                      c.targets, s.restarts, s.stop, s.time_limit))

    total = sum(len(keys) for _, _, keys in entries())
    counts: dict[str, Any] = {"planned": c.planned(), "skipped": c.planned() - total, "done": 0, "failed": 0,
                              "lost": 0, "solved": 0, "statuses": {}}
    line = ProgressLine() if progress is True else None
    show = line or (progress if callable(progress) else None)

    def finished(key: tuple, record: dict | None) -> None:
        if record is None:
            counts["lost"] += 1
            counts["failed"] += 1
        else:
            results.record_run(conn, cid, key[0], key[1], record, replace=key[3])
            counts["done"] += 1
            counts["statuses"][record["status"]] = counts["statuses"].get(record["status"], 0) + 1
            counts["failed"] += record["status"] in results.FAILED
            counts["solved"] += record["hit"] is not None
        if show is line and line is not None:
            line(counts["done"], total, counts["failed"], counts["solved"])
        elif show is not None:
            show(counts["done"], total, counts["failed"])

    if line is not None and total:
        line(0, total, 0, 0, final=True)
    try:
        with _Signals() as signals:
            if total == 0:
                pass
            elif scheduler is not None:
                run_dask(todo(), finished, signals.stopping, scheduler, total)
            elif workers == 0:
                run_here(todo(), finished, signals.stopping, signals.interruptible)
            else:
                run_local(todo(), finished, signals.stopping, min(workers or _default_workers(), total), total)
    except sqlite3.Error as e:
        raise results.DatabaseError(f"cannot write the database: {results.describe_error(e, _path(conn))}") \
            from None
    finally:
        if line is not None:
            if total:
                line(counts["done"], total, counts["failed"], counts["solved"], final=True)
            line.close()
    if signals.received:
        raise Stopped(signals.received[0], counts)
    return counts


def _path(conn: sqlite3.Connection) -> str | None:
    try:
        row = conn.execute("PRAGMA database_list").fetchone()
    except sqlite3.Error:
        return None
    return row[2] if row else None
