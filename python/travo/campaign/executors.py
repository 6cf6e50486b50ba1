"""Where runs execute: in this process, in local worker processes, or on a Dask cluster.

Each executor takes the runs to do lazily, as (key, task) pairs, gives each
finished run's record to ``finished(key, record)`` (``None``: the executor
lost the run, which stays to do), and asks ``stopping()`` between events: once
it is true, no run is handed out any more, runs in flight may finish for
GRACE seconds (or none, when ``stopping()`` says "now"), and the rest are
ended without a record.

On local workers and on Dask, every run executes in a worker process of its
own (a ``Sandbox``): a run that kills its process is recorded as ``crashed``
with the signal or exit status, one that outlives its time limit as
``timeout``, and the process is replaced.
"""

from __future__ import annotations

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
from collections.abc import Callable, Iterable
from typing import Any

from .execute import Interrupted, Task, execute, failure_record

#: Seconds that runs in flight may take to finish once the campaign stops.
GRACE = 3.0
#: Seconds past its time limit that a run may take to give its counters before its process is ended.
LATE = 2.0
#: Seconds that a worker may take to import a run's solver before the run's time limit begins.
IMPORT = 60.0

Finished = Callable[[Any, "dict | None"], None]
Stopping = Callable[[], "str | None"]


class WorkerError(RuntimeError):
    """A worker process could not be started (the environment, not a run)."""


class Sandbox:
    """A worker process that runs one task at a time, apart from its caller."""

    def __init__(self) -> None:
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
        self.key: Any = None
        self.task: Task | None = None
        self.started, self.running = 0.0, False
        try:
            self.conn.send(sys.path)
            if self.conn.poll(120) and self.conn.recv() == "ready":
                return
        except (EOFError, OSError):
            pass
        self.close()
        raise WorkerError(f"a worker process did not start ({self._ending()}); run with --workers 0 to see why")

    def submit(self, key: Any, task: Task) -> None:
        self.key, self.task, self.started, self.running = key, task, time.monotonic(), False
        self.conn.send(task)

    @property
    def deadline(self) -> float | None:
        """When the run in hand has outlived its time limit and the process is to be ended (counted from
        the submission until the worker tells that the solver started, then from then)."""
        if self.task is None or self.task.time_limit is None:
            return None
        return self.started + self.task.time_limit + LATE + (0.0 if self.running else IMPORT)

    def _ending(self) -> str:
        rc = self.proc.wait()
        if rc < 0:
            with contextlib.suppress(ValueError):
                return f"killed by signal {-rc} ({signal.Signals(-rc).name})"
            return f"killed by signal {-rc}"
        return f"exited with status {rc}"

    def collect(self) -> dict | None:
        """The record of the run in hand, once the connection is readable: the worker's, or a crash; None
        when the worker only told that the solver started (its time limit counts from then)."""
        task, elapsed = self.task, time.monotonic() - self.started
        try:
            message = self.conn.recv()
        except (EOFError, OSError):
            self.task = None
            self.close()
            assert task is not None
            return failure_record(task, "crashed", f"the run's process {self._ending()}", elapsed)
        if message == "started":
            self.started, self.running = time.monotonic(), True
            return None
        self.task = None
        return message

    def time_out(self) -> dict:
        """Ends the process of a run that outlived its time limit; the record of a timeout."""
        task, elapsed = self.task, time.monotonic() - self.started
        self.task = None
        self.kill()
        assert task is not None
        return failure_record(task, "timeout", f"the time limit of {task.time_limit:g} s ended the run; its process "
                                               f"did not answer within {LATE:g} s more and was ended (counters "
                                               "unknown)", elapsed)

    def result(self) -> dict:
        """Waits for the run in hand (within its time limit)."""
        while True:
            deadline = self.deadline
            wait = None if deadline is None else max(0.0, deadline - time.monotonic())
            if self.conn.poll(wait):
                record = self.collect()
                if record is not None:
                    return record
                continue
            if deadline is not None and time.monotonic() >= deadline:
                return self.time_out()

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


def run_local(todo: Iterable[tuple[Any, Task]], finished: Finished, stopping: Stopping, workers: int) -> None:
    """On ``workers`` local worker processes, started as needed and replaced when a run kills one."""
    todo = iter(todo)
    idle: list[Sandbox] = []
    busy: dict[Any, Sandbox] = {}
    more, stop_at = True, None
    try:
        while True:
            asked = stopping()
            if asked and stop_at is None:
                stop_at = time.monotonic() + (0.0 if asked == "now" else GRACE)
            elif asked == "now":
                stop_at = min(stop_at or 0.0, time.monotonic())
            while more and stop_at is None and len(busy) < workers:
                item = next(todo, None)
                if item is None:
                    more = False
                    break
                box = idle.pop() if idle else Sandbox()
                try:
                    box.submit(*item)
                except OSError:  # the idle worker is gone (the system ended it): a new one takes the run
                    box.kill()
                    box = Sandbox()
                    box.submit(*item)
                busy[box.conn] = box
            if not busy or (stop_at is not None and time.monotonic() >= stop_at):
                return
            now = time.monotonic()
            ends = [d for d in (b.deadline for b in busy.values()) if d is not None]
            wait = min([0.2] + [max(0.0, d - now) for d in ends] + ([stop_at - now] if stop_at else []))
            for conn in multiprocessing.connection.wait(list(busy), max(wait, 0.0)):
                box = busy[conn]
                key, record = box.key, box.collect()
                if record is None:
                    continue
                del busy[conn]
                if box.alive:
                    idle.append(box)
                if record["status"] != "crashed" or stop_at is None:  # a stop may end runs; they stay to do
                    finished(key, record)
            now = time.monotonic()
            for box in [b for b in busy.values() if b.deadline is not None and now >= b.deadline]:
                busy.pop(box.conn)
                finished(box.key, box.time_out())
    finally:
        for box in busy.values():
            box.kill()
        for box in idle:
            box.close()


# Dask ---------------------------------------------------------------------------------------------------------

_sandboxes = threading.local()
_running: dict[Sandbox, str] = {}  # sandboxes of this Dask worker process, by the tag of the campaign in hand


def run_in_sandbox(task: Task, tag: str) -> dict:
    """On a Dask worker: runs the task in this thread's worker process (started or replaced as needed)."""
    box = getattr(_sandboxes, "box", None)
    if box is None or not box.alive:
        box = _sandboxes.box = Sandbox()
    box.submit(None, task)
    _running[box] = tag
    try:
        return box.result()
    finally:
        _running.pop(box, None)


def end_sandboxes(tag: str) -> int:
    """On a Dask worker: ends the worker processes running runs of the campaign ``tag``."""
    ended = [box for box, t in list(_running.items()) if t == tag]
    for box in ended:
        box.kill()
    return len(ended)


def run_dask(todo: Iterable[tuple[Any, Task]], finished: Finished, stopping: Stopping, scheduler: Any) -> None:
    """On a Dask cluster: a bounded number of runs in flight, each future released once its run is written,
    so that a lost worker never makes a written run compute again."""
    from distributed import Client, as_completed
    client = scheduler if isinstance(scheduler, Client) else Client(scheduler)
    tag = uuid.uuid4().hex
    try:
        limit = max(4, 2 * sum(client.nthreads().values()))
        todo = iter(todo)
        flying: dict[Any, Any] = {}
        ready = as_completed()
        count, stop_at = 0, None
        while True:
            asked = stopping()
            if asked and stop_at is None:
                stop_at = time.monotonic() + (0.0 if asked == "now" else GRACE)
            while stop_at is None and len(flying) < limit:
                item = next(todo, None)
                if item is None:
                    break
                # One key per run of this call: a run that Dask resubmits after losing a worker stays one run.
                future = client.submit(run_in_sandbox, item[1], tag, key=f"travo-run-{tag}-{count}", pure=False)
                count += 1
                flying[future] = item[0]
                ready.add(future)
            if not flying or (stop_at is not None and time.monotonic() >= stop_at):
                break
            batch = ready.next_batch(block=False)
            if not batch:
                time.sleep(0.05)
            for future in batch:
                key = flying.pop(future)
                try:
                    record = future.result()
                except Exception:  # lost for good (a worker killed too often): not recorded
                    record = None
                future.release()
                if record is None or record["status"] != "crashed" or stop_at is None:
                    finished(key, record)
        if flying:
            client.cancel(list(flying))
            with contextlib.suppress(Exception):
                client.run(end_sandboxes, tag)
    finally:
        if client is not scheduler:
            client.close()
