"""One run: the task a worker is given and the record it gives back (what the database stores)."""

from __future__ import annotations

import dataclasses
import functools
import signal
import threading
import time
import traceback
from collections.abc import Callable, Mapping
from typing import Any

import numpy as np

from .. import solvers as _solvers, suites as _suites


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
    restarts: bool = False
    stop: str = "budget"
    time_limit: float | None = None


class RunTimedOut(BaseException):
    """The run's time limit ended it (raised in the run by a timer)."""


class Interrupted(BaseException):
    """The campaign is stopping: the run is abandoned and not recorded."""


@functools.lru_cache(maxsize=256)
def _member(m: _suites.SuiteMember):
    return m.generate()


class _TimeLimit:
    """Raises RunTimedOut in the running code when the time is up (main thread only: signals go there)."""

    def __init__(self, seconds: float | None) -> None:
        self.seconds = seconds
        self.armed = seconds is not None and threading.current_thread() is threading.main_thread()

    def _expire(self, signum, frame):
        raise RunTimedOut()

    def __enter__(self):
        if self.armed:
            self._previous = signal.signal(signal.SIGALRM, self._expire)
            signal.setitimer(signal.ITIMER_REAL, max(self.seconds, 1e-6))  # 0 would disarm it
        return self

    def __exit__(self, *exc):
        if self.armed:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, self._previous)
        return False


def _one_line(e: BaseException) -> str:
    return "".join(traceback.format_exception_only(type(e), e)).strip()


def execute(task: Task, started: Callable[[], None] | None = None) -> dict:
    """Runs one task and returns its record; ``started`` is told when the solver (imported by then) starts,
    which is when its time limit begins.

    The solver is started again (``restarts``) with a fresh generator,
    ``default_rng([seed, k])`` for the k-th restart, and the remaining budget
    when it returns on its own with budget left, as long as each start spends
    something. Whatever the solver raises, even ``SystemExit`` or
    ``KeyboardInterrupt``, ends the run as an error with its message.
    """
    from ..observed import BudgetExhausted, StopRuleMet, observe
    start = time.perf_counter()
    problem = observe(_member(task.member), task.member.kind, task.budget, task.member.accuracy, task.targets,
                      task.stop)
    status, message, restarts = "stopped", "", 0
    word: tuple[str | None, str] = (None, "")
    try:
        solver = _solvers.adapter(task.solver, task.options)
        if started is not None:
            started()
        with _TimeLimit(task.time_limit):
            rng, budget = np.random.default_rng(task.seed), task.budget
            while True:
                spent = problem.cost
                word = _solvers.solver_word(solver(problem, budget, rng))
                if not task.restarts or problem.cost == spent or problem.remaining == 0:
                    break
                restarts += 1
                rng, budget = np.random.default_rng([task.seed, restarts]), task.budget - problem.cost
    except StopRuleMet:
        status = task.stop
    except BudgetExhausted:
        status = "budget"
    except RunTimedOut:
        status, message = "timeout", f"the time limit of {task.time_limit:g} s ended the run"
    except Interrupted:
        raise
    except BaseException as e:  # a solver's failure is a result of the run, recorded with its reason
        status, message = "error", _one_line(e)
    if status == "stopped" and getattr(problem, "met", False):  # the solver caught the rule's exception
        status = task.stop
    best = problem.best_point
    return {"repetition": task.repetition, "seed": task.seed, "status": status, "message": message,
            "cost": problem.cost, "values": problem.values, "gradients": problem.gradients,
            "hessians": problem.hessians, "best_value": problem.best_value if best is not None else None,
            "best_point": None if best is None else best.tolist(), "hit": problem.hit,
            "target_hits": problem.target_hits, "trace": problem.trace.tolist(),
            "seconds": time.perf_counter() - start, "budget": task.budget, "restarts": restarts,
            "solver_status": word[0], "solver_message": word[1]}


def failure_record(task: Task, status: str, message: str, seconds: float) -> dict:
    """The record of a run whose process ended without telling its counters (they are unknown: zero)."""
    return {"repetition": task.repetition, "seed": task.seed, "status": status, "message": message, "cost": 0,
            "values": 0, "gradients": 0, "hessians": 0, "best_value": None, "best_point": None, "hit": None,
            "target_hits": [None] * len(task.targets), "trace": [], "seconds": seconds, "budget": task.budget,
            "restarts": 0, "solver_status": None, "solver_message": ""}
