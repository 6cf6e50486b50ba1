"""Where runs execute: in this process, in local worker processes, or on a Dask cluster.

Each executor takes the runs to do lazily, as (key, task) pairs, gives each
finished run's record to ``finished(key, record)`` (``None``: the executor
lost the run, which stays to do), and asks ``stopping()`` between events: once
it is true, no run is handed out any more, runs in flight may finish for
GRACE seconds (or none, when ``stopping()`` says "now"), and the rest are
ended without a record.

Local workers and Dask tasks take bundles of consecutive runs (``Bundles``),
so that short runs do not each pay a message, a wake-up of the parent and, on
Dask, a task of the scheduler. On both, every run executes in a worker process
(a ``Sandbox``) that runs one at a time: a run that kills its process is
recorded as ``crashed`` with the signal or exit status, one that outlives its
time limit as ``timeout``, the process is replaced, and the runs of the
bundle after it go to a worker again (each is recorded once: the runs before
it were already).
"""

from __future__ import annotations

import collections
import contextlib
import multiprocessing.connection
import os
import signal
import socket
import subprocess
import sys
import threading
import time
import uuid
from collections.abc import Callable, Iterable, Iterator
from typing import Any

from .execute import Interrupted, Task, execute, failure_record
from .loader import expected_work

#: Seconds that runs in flight may take to finish once the campaign stops.
GRACE = 3.0
#: Seconds past its time limit that a run may take to give its counters before its process is ended.
LATE = 2.0
#: Seconds that a worker may take to import a run's solver before the run's time limit begins.
IMPORT = 60.0
#: Expected seconds of the runs of one bundle, and most runs in one.
BUNDLE_SECONDS = 1.0
MAX_BUNDLE = 1000

Finished = Callable[[Any, "dict | None"], None]
Stopping = Callable[[], "str | None"]


class WorkerError(RuntimeError):
    """A worker process could not be started (the environment, not a run)."""


class Sandbox:
    """A worker process that runs bundles of tasks, one task at a time, apart from its caller.

    The worker sends each run's record as soon as the run ends (and first
    "started" for a run with a time limit, once its solver is imported).
    Between two runs of a bundle it looks for a request to stop, answered
    "stopped". A bundle's runs that the process did not run (it crashed, was
    ended, or stopped) are left in ``left``.
    """

    def __init__(self, wait: bool = True) -> None:
        from .worker import BOOT
        ours, theirs = socket.socketpair()
        try:
            self.proc = subprocess.Popen([sys.executable, "-c", BOOT, str(theirs.fileno()), str(os.getpid())],
                                         pass_fds=[theirs.fileno()], stdin=subprocess.DEVNULL)
        except OSError as e:
            ours.close()
            raise WorkerError(f"cannot start a worker process: {e.strerror}") from None
        finally:
            theirs.close()
        self.conn = multiprocessing.connection.Connection(ours.detach())
        self.bundle: list[tuple[Any, Task]] = []
        self.at = 0  # the run in hand: bundle[at]
        self.left: list[tuple[Any, Task]] = []
        self.started, self.running, self.asked_stop = 0.0, False, False
        try:
            self.conn.send(sys.path)
        except OSError:
            pass
        if wait:
            self.wait_ready()

    def wait_ready(self) -> None:
        """Waits for the worker to have imported what every run needs."""
        try:
            if self.conn.poll(120) and self.conn.recv() == "ready":
                return
        except (EOFError, OSError):
            pass
        self.close()
        raise WorkerError(f"a worker process did not start ({self._ending()}); run with --workers 0 to see why")

    def submit(self, bundle: list[tuple[Any, Task]]) -> None:
        """Hands over a bundle of (key, task) runs (raises OSError when the worker is gone)."""
        self.bundle, self.at, self.left = list(bundle), 0, []
        self.started, self.running, self.asked_stop = time.monotonic(), False, False
        self.conn.send([task for _, task in self.bundle])

    @property
    def busy(self) -> bool:
        return self.at < len(self.bundle)

    def ask_stop(self) -> None:
        """Asks the worker to stop once the run in hand ends (the rest of its bundle then goes to ``left``)."""
        if self.busy and not self.asked_stop:
            self.asked_stop = True
            with contextlib.suppress(OSError):
                self.conn.send("stop")

    @property
    def deadline(self) -> float | None:
        """When the run in hand has outlived its time limit and the process is to be ended (counted from the
        end of the run before, until the worker tells that the solver started, then from then)."""
        if not self.busy:
            return None
        limit = self.bundle[self.at][1].time_limit
        if limit is None:
            return None
        return self.started + limit + LATE + (0.0 if self.running else IMPORT)

    def _ending(self) -> str:
        rc = self.proc.wait()
        if rc < 0:
            with contextlib.suppress(ValueError):
                return f"killed by signal {-rc} ({signal.Signals(-rc).name})"
            return f"killed by signal {-rc}"
        return f"exited with status {rc}"

    def _end_bundle(self) -> tuple[Any, Task]:
        """The run in hand; the runs after it go to ``left``."""
        item = self.bundle[self.at]
        self.left, self.bundle, self.at = self.bundle[self.at + 1:], [], 0
        return item

    def collect(self) -> tuple[Any, Task, dict] | None:
        """Reads one message of the worker, once the connection is readable: the run in hand's record, or its
        crash, as (key, task, record); None when the worker only told that the solver started or that it
        stopped as asked."""
        elapsed = time.monotonic() - self.started
        try:
            message = self.conn.recv()
        except (EOFError, OSError):
            key, task = self._end_bundle()
            self.close()
            return key, task, failure_record(task, "crashed", f"the run's process {self._ending()}", elapsed)
        if message == "started":
            self.started, self.running = time.monotonic(), True
            return None
        if message == "stopped":
            if self.busy:
                self.left, self.bundle, self.at = self.bundle[self.at:], [], 0
            return None
        key, task = self.bundle[self.at]
        self.at += 1
        self.started, self.running = time.monotonic(), False
        return key, task, message

    def time_out(self) -> tuple[Any, Task, dict]:
        """Ends the process of a run that outlived its time limit: the run's key, task and timeout record."""
        elapsed = time.monotonic() - self.started
        key, task = self._end_bundle()
        self.kill()
        return key, task, failure_record(task, "timeout", f"the time limit of {task.time_limit:g} s ended the run; "
                                                          f"its process did not answer within {LATE:g} s more and "
                                                          "was ended (counters unknown)", elapsed)

    def results(self) -> Iterator[tuple[Any, Task, dict]]:
        """Waits for the bundle's runs (each within its time limit) and yields each one's record; after a crash
        or a timeout, the rest are in ``left``."""
        while self.busy:
            deadline = self.deadline
            wait = None if deadline is None else max(0.0, deadline - time.monotonic())
            if self.conn.poll(wait):
                done = self.collect()
                if done is not None:
                    yield done
            elif deadline is not None and time.monotonic() >= deadline:
                yield self.time_out()

    @property
    def alive(self) -> bool:
        return not self.conn.closed and self.proc.poll() is None

    def kill(self) -> None:
        with contextlib.suppress(OSError):
            self.proc.kill()
        self.close()

    def close(self) -> None:
        """Closes the connection (an idle worker then exits) and waits for the process to end."""
        if not self.conn.closed:
            self.conn.close()
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class Bundles:
    """Hands out the runs to do in bundles: consecutive runs of the work order (so a member's runs mostly
    together), as many as are expected to take about BUNDLE_SECONDS, from the time per unit of expected work
    of the solver's runs finished so far (a solver's first run goes alone); at most MAX_BUNDLE, and at most
    a ``workers``-th of the runs left. Runs of a bundle that were not run come back first."""

    def __init__(self, todo: Iterable[tuple[Any, Task]], total: int, workers: int) -> None:
        self._todo = iter(todo)
        self._back: collections.deque[tuple[Any, Task]] = collections.deque()
        self.left, self._workers = total, max(1, workers)
        self._rates: dict[str, list[float]] = {}  # solver name: [seconds, expected work] of its finished runs

    def learn(self, task: Task, record: dict) -> None:
        rate = self._rates.setdefault(task.solver, [0.0, 0.0])
        rate[0] += record["seconds"]
        rate[1] += expected_work(task.budget, task.member.dim)

    def put_back(self, items: list[tuple[Any, Task]]) -> None:
        self._back.extendleft(reversed(items))
        self.left += len(items)

    def _next(self) -> tuple[Any, Task] | None:
        if self._back:
            return self._back.popleft()
        return next(self._todo, None)

    def take(self) -> list[tuple[Any, Task]]:
        """The next bundle ([] when everything is handed out)."""
        limit = min(MAX_BUNDLE, max(1, -(-self.left // self._workers)))
        bundle: list[tuple[Any, Task]] = []
        seconds = 0.0
        while len(bundle) < limit:
            item = self._next()
            if item is None:
                break
            rate = self._rates.get(item[1].solver)
            if rate is None or not rate[1]:
                if bundle:  # its solver's first run goes alone
                    self._back.appendleft(item)
                else:
                    bundle.append(item)
                break
            bundle.append(item)
            seconds += rate[0] / rate[1] * expected_work(item[1].budget, item[1].member.dim)
            if seconds >= BUNDLE_SECONDS:
                break
        self.left -= len(bundle)
        return bundle


def run_here(todo: Iterable[tuple[Any, Task]], finished: Finished, stopping: Stopping,
             interruptible: Callable[[bool], None] = lambda yes: None) -> None:
    """In this process, one run after another: no isolation, for debugging. A signal abandons the run in
    hand: ``interruptible(True)`` lets the caller's handler raise Interrupted while a run executes."""
    for key, task in todo:
        if stopping():
            return
        try:
            interruptible(True)
            record = execute(task)
            interruptible(False)
        except Interrupted:
            return
        finally:
            interruptible(False)
        finished(key, record)


def run_local(todo: Iterable[tuple[Any, Task]], finished: Finished, stopping: Stopping, workers: int,
              total: int) -> None:
    """On ``workers`` local worker processes (started together), each given a bundle at a time; a worker that a
    run kills is replaced, and the runs of its bundle after that one go to another."""
    bundles = Bundles(todo, total, workers)
    idle: list[Sandbox] = []
    busy: dict[Any, Sandbox] = {}
    stop_at = None

    def done(box: Sandbox, key: Any, task: Task, record: dict) -> None:
        bundles.learn(task, record)
        if box.left:
            bundles.put_back(box.left)
            box.left = []
        if record["status"] != "crashed" or stop_at is None:  # a stop may end runs; they stay to do
            finished(key, record)

    try:
        for _ in range(min(workers, total)):  # started together, their imports overlapping
            idle.append(Sandbox(wait=False))
        for box in idle:
            box.wait_ready()
        while True:
            asked = stopping()
            if asked and stop_at is None:
                stop_at = time.monotonic() + (0.0 if asked == "now" else GRACE)
                for box in busy.values():
                    box.ask_stop()
            elif asked == "now":
                stop_at = min(stop_at or 0.0, time.monotonic())
            while stop_at is None and len(busy) < workers:
                bundle = bundles.take()
                if not bundle:
                    break
                box = idle.pop() if idle else Sandbox()
                try:
                    box.submit(bundle)
                except OSError:  # the idle worker is gone (the system ended it): a new one takes the bundle
                    box.kill()
                    box = Sandbox()
                    box.submit(bundle)
                busy[box.conn] = box
            if not busy or (stop_at is not None and time.monotonic() >= stop_at):
                return
            now = time.monotonic()
            ends = [d for d in (b.deadline for b in busy.values()) if d is not None]
            wait = min([0.2] + [max(0.0, d - now) for d in ends] + ([stop_at - now] if stop_at else []))
            for conn in multiprocessing.connection.wait(list(busy), max(wait, 0.0)):
                box = busy[conn]
                got = box.collect()
                if got is not None:
                    done(box, *got)
                if not box.busy:
                    del busy[conn]
                    if box.left:  # stopped as asked
                        bundles.put_back(box.left)
                        box.left = []
                    if box.alive:
                        idle.append(box)
            now = time.monotonic()
            for box in [b for b in busy.values() if b.deadline is not None and now >= b.deadline]:
                busy.pop(box.conn)
                done(box, *box.time_out())
    finally:
        for box in busy.values():
            box.kill()
        for box in idle:
            box.close()


# Dask ---------------------------------------------------------------------------------------------------------

_sandboxes = threading.local()
_running: dict[Sandbox, str] = {}  # sandboxes of this Dask worker process, by the tag of the campaign in hand


def run_in_sandbox(tasks: list[Task], tag: str) -> list[dict]:
    """On a Dask worker: runs a bundle of tasks in this thread's worker process (started or replaced as
    needed), one record per task, in order."""
    records: list[dict] = []
    todo = [(None, t) for t in tasks]
    while todo:
        box = getattr(_sandboxes, "box", None)
        if box is None or not box.alive:
            box = _sandboxes.box = Sandbox()
        box.submit(todo)
        _running[box] = tag
        try:
            records.extend(record for _, _, record in box.results())
        finally:
            _running.pop(box, None)
        todo, box.left = box.left, []
    return records


def end_sandboxes(tag: str) -> int:
    """On a Dask worker: ends the worker processes running runs of the campaign ``tag``."""
    ended = [box for box, t in list(_running.items()) if t == tag]
    for box in ended:
        box.kill()
    return len(ended)


def run_dask(todo: Iterable[tuple[Any, Task]], finished: Finished, stopping: Stopping, scheduler: Any,
             total: int) -> None:
    """On a Dask cluster: bundles of runs, a bounded number in flight, each future released once its runs are
    written, so that a lost worker never makes a written run compute again."""
    from distributed import Client, as_completed
    client = scheduler if isinstance(scheduler, Client) else Client(scheduler)
    tag = uuid.uuid4().hex
    try:
        threads = sum(client.nthreads().values())
        limit = max(4, 2 * threads)
        bundles = Bundles(todo, total, threads)
        flying: dict[Any, list[tuple[Any, Task]]] = {}
        ready = as_completed()
        count, stop_at = 0, None
        while True:
            asked = stopping()
            if asked and stop_at is None:
                stop_at = time.monotonic() + (0.0 if asked == "now" else GRACE)
            while stop_at is None and len(flying) < limit:
                bundle = bundles.take()
                if not bundle:
                    break
                # One key per bundle of this call: a bundle that Dask resubmits after losing a worker stays one.
                future = client.submit(run_in_sandbox, [t for _, t in bundle], tag, key=f"travo-runs-{tag}-{count}",
                                       pure=False)
                count += 1
                flying[future] = bundle
                ready.add(future)
            if not flying or (stop_at is not None and time.monotonic() >= stop_at):
                break
            batch = ready.next_batch(block=False)
            if not batch:
                time.sleep(0.05)
            for future in batch:
                bundle = flying.pop(future)
                try:
                    records = future.result()
                except Exception:  # lost for good (a worker killed too often): not recorded
                    records = [None] * len(bundle)
                future.release()
                for (key, task), record in zip(bundle, records):
                    if record is not None:
                        bundles.learn(task, record)
                    if record is None or record["status"] != "crashed" or stop_at is None:
                        finished(key, record)
        if flying:
            client.cancel(list(flying))
            with contextlib.suppress(Exception):
                client.run(end_sandboxes, tag)
    finally:
        if client is not scheduler:
            client.close()
