"""Solver adapters for campaigns.

A solver is any callable ``solver(problem, budget, rng)``: ``problem`` is a
``travo.Observed`` (call ``problem.value(x)``, ``problem.value_and_gradient(x)``,
...; ``problem.member.lower`` and ``.upper`` give the box), ``budget`` the
run's budget in cost units and ``rng`` a ``numpy.random.Generator`` seeded for
this run. It returns nothing: the observed problem records the run. A call
past the budget raises ``travo.BudgetExhausted``, which ends the run cleanly.

Built-in adapters, by name (``options`` go to the underlying method):

- ``direct``: ``scipy.optimize.direct`` (original DIRECT), ``direct-l`` its
  locally biased form;
- ``dual_annealing``, ``differential_evolution``, ``shgo`` from scipy;
- ``lbfgsb-multistart``: L-BFGS-B with the exact gradient from uniform random
  starts until the budget is spent;
- ``nlopt:ALGORITHM``: an NLopt global method, such as ``nlopt:GN_DIRECT_L``,
  ``nlopt:GN_CRS2_LM``, ``nlopt:GN_ESCH`` or ``nlopt:GN_ISRES``;
- ``package.module:function``: a user's own solver, imported by name.
"""

from __future__ import annotations

import dataclasses
import importlib
import threading
from collections.abc import Callable, Mapping
from typing import Any

import numpy as np


class SolverError(ValueError):
    """A solver name or options that cannot be used."""


@dataclasses.dataclass(frozen=True)
class Adapter:
    """A ready solver: the callable and what identifies it in a results database."""

    name: str
    version: str
    options: Mapping[str, Any]
    run: Callable[..., Any]

    def __call__(self, problem, budget, rng):
        return self.run(problem, budget, rng)


def _bounds(problem):
    m = problem.member
    return np.asarray(m.lower, dtype=float), np.asarray(m.upper, dtype=float)


def _scipy_version() -> str:
    import scipy
    return f"scipy {scipy.__version__}"


def _direct(locally_biased: bool):
    def run(problem, budget, rng, **options):
        from scipy.optimize import Bounds, direct
        from ._travo import BudgetExhausted
        lo, hi = _bounds(problem)
        options.setdefault("maxfun", budget)
        options.setdefault("maxiter", budget)
        exhausted = []

        # scipy's DIRECT cannot pass an exception from the function through its
        # C core: past the budget the function answers +inf until DIRECT
        # stops at its own count of evaluations (the same budget), and the
        # run then ends as any other at its budget.
        def f(x):
            if exhausted:
                return float("inf")
            try:
                return problem.value(x)
            except BudgetExhausted as e:
                exhausted.append(e)
                return float("inf")

        direct(f, Bounds(lo, hi), locally_biased=locally_biased, **options)
        if exhausted:
            raise exhausted[0]
    return run


def _dual_annealing(problem, budget, rng, **options):
    from scipy.optimize import dual_annealing
    lo, hi = _bounds(problem)
    options.setdefault("maxfun", budget)
    dual_annealing(problem.value, list(zip(lo, hi)), seed=rng, **options)


def _differential_evolution(problem, budget, rng, **options):
    from scipy.optimize import differential_evolution
    lo, hi = _bounds(problem)
    options.setdefault("maxiter", budget)
    differential_evolution(problem.value, list(zip(lo, hi)), seed=rng, **options)


def _shgo(problem, budget, rng, **options):
    from scipy.optimize import shgo
    lo, hi = _bounds(problem)
    inner = dict(options.pop("options", {}))
    inner.setdefault("maxfev", budget)
    options.setdefault("sampling_method", "sobol")
    shgo(problem.value, list(zip(lo, hi)), options=inner, **options)


def _lbfgsb_multistart(problem, budget, rng, **options):
    from scipy.optimize import minimize
    lo, hi = _bounds(problem)
    bounds = list(zip(lo, hi))
    while True:  # ends when a call overruns the budget
        x0 = rng.uniform(lo, hi)
        minimize(problem.value_and_gradient, x0, jac=True, method="L-BFGS-B", bounds=bounds, options=dict(options))


# NLopt's random seed is process-wide: one NLopt run at a time per process.
_nlopt_lock = threading.Lock()


def _nlopt(algorithm: str):
    def run(problem, budget, rng, **options):
        import nlopt
        from ._travo import BudgetExhausted
        lo, hi = _bounds(problem)
        opt = nlopt.opt(getattr(nlopt, algorithm), problem.dim)
        opt.set_lower_bounds(lo)
        opt.set_upper_bounds(hi)
        exhausted = []

        def f(x, grad):
            try:
                if grad.size:
                    v, g = problem.value_and_gradient(x)
                    grad[:] = g
                    return v
                return problem.value(x)
            except BudgetExhausted as e:
                exhausted.append(e)
                opt.force_stop()
                return float("inf")

        opt.set_min_objective(f)
        opt.set_maxeval(int(budget))
        for key, value in options.items():
            setter = getattr(opt, f"set_{key}", None)
            if setter is None:
                raise SolverError(f"NLopt has no option {key!r}")
            setter(value)
        x0 = rng.uniform(lo, hi)
        with _nlopt_lock:
            nlopt.srand(int(rng.integers(2**31)))
            try:
                opt.optimize(x0)
            except (nlopt.ForcedStop, nlopt.RoundoffLimited):
                pass
        if exhausted:
            raise exhausted[0]
    return run


_SCIPY = {
    "direct": _direct(False),
    "direct-l": _direct(True),
    "dual_annealing": _dual_annealing,
    "differential_evolution": _differential_evolution,
    "shgo": _shgo,
    "lbfgsb-multistart": _lbfgsb_multistart,
}

BUILTIN = tuple(_SCIPY) + ("nlopt:ALGORITHM",)


def adapter(name: Any, options: Mapping[str, Any] | None = None) -> Adapter:
    """The adapter for a solver name (see the module's list) with its options; checks the name."""
    options = dict(options or {})
    if not isinstance(name, str) or not name:
        raise SolverError("a solver needs a 'name'")
    if name in _SCIPY:
        fn = _SCIPY[name]
        return Adapter(name, _scipy_version(), options, lambda p, b, r: fn(p, b, r, **options))
    if name.startswith("nlopt:"):
        try:
            import nlopt
        except ImportError:
            raise SolverError(f"solver {name!r} needs NLopt's Python module (Debian: python3-nlopt)") from None
        algorithm = name[len("nlopt:"):]
        if not algorithm.startswith(("GN_", "GD_")) or not hasattr(nlopt, algorithm):
            raise SolverError(f"solver {name!r}: {algorithm!r} is not one of NLopt's global algorithms "
                              f"({', '.join(a for a in dir(nlopt) if a.startswith(('GN_', 'GD_')))})")
        version = f"nlopt {nlopt.version_major()}.{nlopt.version_minor()}.{nlopt.version_bugfix()}"
        fn = _nlopt(algorithm)
        return Adapter(name, version, options, lambda p, b, r: fn(p, b, r, **options))
    if ":" in name:
        module, _, attr = name.partition(":")
        try:
            mod = importlib.import_module(module)
            fn = getattr(mod, attr)
        except (ImportError, AttributeError) as e:
            raise SolverError(f"solver {name!r} cannot be imported: {e}") from None
        if not callable(fn):
            raise SolverError(f"solver {name!r} is not callable")
        version = str(getattr(mod, "__version__", ""))
        return Adapter(name, version, options, (lambda p, b, r: fn(p, b, r, **options)) if options else fn)
    raise SolverError(f"unknown solver {name!r}; built in: {', '.join(BUILTIN)}, or 'module:function'")
