"""Solver adapters for campaigns.

A solver is any callable ``solver(problem, budget, rng, **options)``:
``problem`` is a ``travo.Observed`` (call ``problem.value(x)``,
``problem.value_and_gradient(x)``, ...; ``problem.member.lower`` and
``.upper`` give the box), ``budget`` the cost it may still spend and ``rng`` a
``numpy.random.Generator`` seeded for this run. The observed problem records
the run; a call past the budget raises ``travo.BudgetExhausted``, which ends
the run cleanly. What the solver returns may carry its own end status and
message (an object or dict with ``status`` and ``message``, as scipy's
results), which the campaign records. A user's function may declare
``needs = "gradient"`` (or ``"hessian"``) so that campaigns refuse kinds
without them.

Built-in adapters, by name; each sets the options listed and leaves the
others at the method's defaults (docs/reference/campaign-file.md says what ends each on its own):

- ``direct``, ``direct-l``: ``scipy.optimize.direct``, original and locally
  biased; ``maxfun`` the budget (a larger one is cut to it), ``maxiter`` the
  budget;
- ``dual_annealing`` (``maxfun`` the budget), ``differential_evolution``
  (``maxiter`` the budget; points go in batches when ``updating =
  "deferred"``), ``shgo`` (``options.maxfev`` the budget, ``sampling_method
  = "sobol"``) from scipy;
- ``lbfgsb-multistart`` (exact gradients) and ``nelder-mead-multistart``:
  scipy's local method from uniform random starts until the budget is spent;
- ``random-search``: uniform points in the box, ``batch`` (1000) at a time;
- ``cmaes``: DEAP's CMA-ES, started again with twice the population whenever
  it converges, until the budget is spent;
- ``nlopt:ALGORITHM``: an NLopt global method (``GN_...``, ``GD_...``;
  ``maxeval`` the budget; MLSL needs ``local = "LN_..."`` or ``"LD_..."``);
- ``nlopt-local-multistart:ALGORITHM``: an NLopt local method (``LN_...``,
  ``LD_...``) from uniform random starts, ``xtol_rel`` 1e-8 per start;
- ``package.module:function``: a user's own solver, imported by name.
"""

from __future__ import annotations

import dataclasses
import importlib
import inspect
import math
import threading
from collections.abc import Callable, Mapping
from typing import Any

import numpy as np


class SolverError(ValueError):
    """A solver name or options that cannot be used."""


#: What a solver evaluates: the kinds that give it (ND has no gradient, only D2 has Hessians).
NEEDS = {"value": ("ND", "D", "D2"), "gradient": ("D", "D2"), "hessian": ("D2",)}

_INT_MAX = 2**31 - 1  # scipy's DIRECT and NLopt count evaluations in a C int


@dataclasses.dataclass(frozen=True)
class Adapter:
    """A ready solver: the callable and what identifies it in a results database."""

    name: str
    version: str
    options: Mapping[str, Any]
    run: Callable[..., Any]
    needs: str = "value"

    def __call__(self, problem, budget, rng):
        return self.run(problem, budget, rng)


def _bounds(problem):
    m = problem.member
    return np.asarray(m.lower, dtype=float), np.asarray(m.upper, dtype=float)


def _versions(*names: str) -> str:
    out = []
    for name in names:
        module = importlib.import_module(name)
        version = getattr(module, "__version__", "")
        if name == "nlopt":
            version = f"{module.version_major()}.{module.version_minor()}.{module.version_bugfix()}"
        out.append(f"{name} {version}")
    return out[0] + (f" ({', '.join(out[1:])})" if len(out) > 1 else "")


# Option types ------------------------------------------------------------------------------------------------

def _is_int(v: Any) -> bool:
    return isinstance(v, int) and not isinstance(v, bool)


def _is_number(v: Any) -> bool:
    return (_is_int(v) or isinstance(v, float)) and math.isfinite(v)


_DE_STRATEGIES = ("best1bin", "best1exp", "rand1bin", "rand1exp", "rand2bin", "rand2exp", "randtobest1bin",
                  "randtobest1exp", "currenttobest1bin", "currenttobest1exp", "best2bin", "best2exp")
_LARGEST_COUNT = 10**6  # points drawn at once (a population, a batch), which the run holds in memory

_TYPES: dict[str, tuple[Callable[[Any], bool], str]] = {
    "int": (lambda v: _is_int(v) and 0 <= v <= _LARGEST_COUNT, f"an integer from 0 to {_LARGEST_COUNT}"),
    "count": (lambda v: _is_int(v) and 1 <= v <= _LARGEST_COUNT, f"an integer from 1 to {_LARGEST_COUNT}"),
    "positive": (lambda v: _is_int(v) and 1 <= v < 2**63, "a positive integer below 2**63"),
    "strategy": (lambda v: v in _DE_STRATEGIES, f"one of {', '.join(_DE_STRATEGIES)}"),
    "de init": (lambda v: v in ("latinhypercube", "sobol", "halton", "random"),
                "one of latinhypercube, sobol, halton, random"),
    "updating": (lambda v: v in ("immediate", "deferred"), "immediate or deferred"),
    "sampling": (lambda v: v in ("simplicial", "halton", "sobol"), "one of simplicial, halton, sobol"),
    "number": (_is_number, "a finite number"),
    "bool": (lambda v: isinstance(v, bool), "true or false"),
    "text": (lambda v: isinstance(v, str), "a text"),
    "table": (lambda v: isinstance(v, Mapping), "a table"),
    "number or pair": (lambda v: _is_number(v) or (isinstance(v, list) and len(v) == 2 and all(map(_is_number, v))),
                       "a number or a list of two numbers"),
    "number or list": (lambda v: _is_number(v) or (isinstance(v, list) and bool(v) and all(map(_is_number, v))),
                       "a number or a list of numbers"),
}


def _check_options(options: Mapping[str, Any], known: Mapping[str, str], refused: Mapping[str, str] = {}) -> None:
    for key, value in options.items():
        if key in refused:
            raise SolverError(f"option {key!r} cannot be given: {refused[key]}")
        if key not in known:
            raise SolverError(f"unknown option {key!r} (known: {', '.join(sorted(known)) or 'none'})")
        test, text = _TYPES[known[key]]
        if not test(value):
            raise SolverError(f"option {key!r} must be {text}, not {value!r}")


def solver_word(result: Any) -> tuple[str | None, str]:
    """The solver's own end status and message from what it returned (scipy's OptimizeResult, a dict, or an
    object with ``status`` and ``message``), as text; (None, "") when it gave none."""
    def get(key):
        if isinstance(result, Mapping):
            return result.get(key)
        return getattr(result, key, None)
    if result is None:
        return None, ""
    status, message = get("status"), get("message")
    if isinstance(message, (list, tuple)):
        message = "; ".join(map(str, message))
    return (None if status is None else str(status)), ("" if message is None else str(message))


# scipy -------------------------------------------------------------------------------------------------------

def _direct(locally_biased: bool):
    def run(problem, budget, rng, **options):
        from scipy.optimize import Bounds, direct
        lo, hi = _bounds(problem)
        options["maxfun"] = min(options.get("maxfun", budget), budget, _INT_MAX)
        options["maxiter"] = min(options.get("maxiter", budget), _INT_MAX)
        ended = []

        # scipy's DIRECT cannot pass an exception from the function through
        # its C core: the function then answers +inf, and the end of the
        # iteration raises it from the callback, which DIRECT does pass on.
        def f(x):
            if ended:
                return float("inf")
            try:
                return problem.value(x)
            except BaseException as e:
                ended.append(e)
                return float("inf")

        def end(xk):
            if ended:
                raise ended[0]

        result = direct(f, Bounds(lo, hi), locally_biased=locally_biased, callback=end, **options)
        if ended:
            raise ended[0]
        return result
    return run


_DIRECT_OPTIONS = {"eps": "number", "maxfun": "positive", "maxiter": "positive", "f_min": "number",
                   "f_min_rtol": "number", "vol_tol": "number", "len_tol": "number"}


def _dual_annealing(problem, budget, rng, **options):
    from scipy.optimize import dual_annealing
    lo, hi = _bounds(problem)
    options.setdefault("maxfun", budget)
    return dual_annealing(problem.value, list(zip(lo, hi)), seed=rng, **options)


_DUAL_ANNEALING_OPTIONS = {"maxiter": "positive", "maxfun": "positive", "initial_temp": "number",
                           "restart_temp_ratio": "number", "visit": "number", "accept": "number",
                           "no_local_search": "bool", "minimizer_kwargs": "table"}


def _differential_evolution(problem, budget, rng, **options):
    from scipy.optimize import differential_evolution
    lo, hi = _bounds(problem)
    options.setdefault("maxiter", budget)
    if options.get("updating") == "deferred":
        # One batch per generation: scipy hands the points as columns.
        return differential_evolution(lambda x: problem.value(x.T), list(zip(lo, hi)), seed=rng, vectorized=True,
                                      **options)
    return differential_evolution(problem.value, list(zip(lo, hi)), seed=rng, **options)


_DE_OPTIONS = {"strategy": "strategy", "maxiter": "positive", "popsize": "count", "tol": "number",
               "mutation": "number or pair", "recombination": "number", "polish": "bool", "init": "de init",
               "atol": "number", "updating": "updating"}


def _shgo(problem, budget, rng, **options):
    from scipy.optimize import shgo
    lo, hi = _bounds(problem)
    inner = dict(options.pop("options", {}))
    inner.setdefault("maxfev", budget)
    options.setdefault("sampling_method", "sobol")
    return shgo(problem.value, list(zip(lo, hi)), options=inner, **options)


_SHGO_OPTIONS = {"n": "count", "iters": "count", "minimizer_kwargs": "table", "options": "table",
                 "sampling_method": "sampling"}


def _lbfgsb_multistart(problem, budget, rng, **options):
    from scipy.optimize import minimize
    lo, hi = _bounds(problem)
    bounds = list(zip(lo, hi))
    while True:  # ends when a call overruns the budget
        x0 = rng.uniform(lo, hi)
        minimize(problem.value_and_gradient, x0, jac=True, method="L-BFGS-B", bounds=bounds, options=dict(options))


_LBFGSB_OPTIONS = {"maxcor": "count", "ftol": "number", "gtol": "number", "eps": "number", "maxfun": "positive",
                   "maxiter": "positive", "maxls": "count"}


def _nelder_mead_multistart(problem, budget, rng, **options):
    from scipy.optimize import minimize
    lo, hi = _bounds(problem)
    bounds = list(zip(lo, hi))
    while True:
        x0 = rng.uniform(lo, hi)
        minimize(problem.value, x0, method="Nelder-Mead", bounds=bounds, options=dict(options))


_NELDER_MEAD_OPTIONS = {"maxiter": "positive", "maxfev": "positive", "xatol": "number", "fatol": "number",
                        "adaptive": "bool"}


# numpy and DEAP ----------------------------------------------------------------------------------------------

def _random_search(problem, budget, rng, batch=1000):
    lo, hi = _bounds(problem)
    while True:
        problem.value(rng.uniform(lo, hi, (batch, problem.dim)))


class _Individual(np.ndarray):
    """A point of a CMA-ES population with the fitness DEAP sorts by (larger is better)."""

    fitness: float


def _cmaes(problem, budget, rng, popsize=None, sigma=0.3):
    """CMA-ES (DEAP's strategy, sampled from the run's generator) with IPOP restarts: a start ends when the
    step is below 1e-12 of the box, the covariance's condition number exceeds 1e14, or the best value of the
    last 10 + 30n/lambda generations varies by less than 1e-12; the next start draws a new centre and doubles
    the population. Points outside the box are evaluated at their projection on it, with the squared distance
    (in box widths) added."""
    from deap import cma
    lo, hi = _bounds(problem)
    n, width = problem.dim, hi - lo
    lam = popsize or 4 + int(3 * math.log(n))
    while True:
        strategy = cma.Strategy(centroid=rng.uniform(lo, hi), sigma=sigma * float(width.max()), lambda_=lam)
        history = []
        patience = 10 + math.ceil(30 * n / lam)
        while True:
            z = rng.standard_normal((strategy.lambda_, n))
            points = strategy.centroid + strategy.sigma * np.dot(z, strategy.BD.T)
            inside = np.clip(points, lo, hi)
            values = problem.value(inside) + np.sum(((points - inside) / width) ** 2, axis=1)
            population = []
            for p, v in zip(points, values):
                ind = p.view(_Individual)
                ind.fitness = -float(v)
                population.append(ind)
            strategy.update(population)
            history.append(float(values.min()))
            recent = history[-patience:]
            if (strategy.sigma * float(strategy.diagD.max()) < 1e-12 * float(width.max()) or strategy.cond > 1e14
                    or (len(recent) == patience and max(recent) - min(recent) < 1e-12)):
                break
        lam = min(2 * lam, _LARGEST_COUNT)


# NLopt -------------------------------------------------------------------------------------------------------

# NLopt's random seed is process-wide: one NLopt run at a time per process.
_nlopt_lock = threading.Lock()

_NLOPT_NAMES = {1: "SUCCESS", 2: "STOPVAL_REACHED", 3: "FTOL_REACHED", 4: "XTOL_REACHED", 5: "MAXEVAL_REACHED",
                6: "MAXTIME_REACHED", -1: "FAILURE", -2: "INVALID_ARGS", -3: "OUT_OF_MEMORY", -4: "ROUNDOFF_LIMITED",
                -5: "FORCED_STOP"}
_NLOPT_OPTIONS = {"ftol_rel": "number", "ftol_abs": "number", "xtol_rel": "number", "xtol_abs": "number or list",
                  "stopval": "number", "population": "int", "initial_step": "number or list", "maxeval": "positive"}
_NLOPT_REFUSED = {"maxtime": "a wall-time limit makes results depend on the machine; use the campaign's "
                             "'time_limit'"}
_NLOPT_LOCAL = {"local": "text", "local_xtol_rel": "number", "local_ftol_rel": "number"}


def _nlopt_word(opt) -> dict:
    code = opt.last_optimize_result()
    return {"status": code, "message": _NLOPT_NAMES.get(code, "")}


def _nlopt_start(opt, problem, budget, options, x0, rng, tolerant=False):
    """One NLopt optimisation with the run's books: ends at the budget; passes a failure of the method on
    unless ``tolerant`` (a start of a multistart that failed after spending something just ends)."""
    import nlopt
    from ._travo import BudgetExhausted
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
    opt.set_maxeval(min(int(budget), _INT_MAX))
    for key, value in options.items():
        if key == "maxeval":
            value = min(value, budget, _INT_MAX)
        getattr(opt, f"set_{key}")(value)
    spent = problem.cost
    with _nlopt_lock:
        nlopt.srand(int(rng.integers(2**31)))
        try:
            opt.optimize(x0)
        except (nlopt.ForcedStop, nlopt.RoundoffLimited):
            pass
        except RuntimeError:  # NLopt's "nlopt failure"
            if not exhausted and not (tolerant and problem.cost > spent):
                raise
    if exhausted:
        raise exhausted[0]
    return _nlopt_word(opt)


def _nlopt(algorithm: str):
    def run(problem, budget, rng, **options):
        import nlopt
        lo, hi = _bounds(problem)
        opt = nlopt.opt(getattr(nlopt, algorithm), problem.dim)
        opt.set_lower_bounds(lo)
        opt.set_upper_bounds(hi)
        local = {k: options.pop(k) for k in list(options) if k.startswith("local")}
        if local:
            inner = nlopt.opt(getattr(nlopt, local["local"]), problem.dim)
            for key in ("local_xtol_rel", "local_ftol_rel"):
                if key in local:
                    getattr(inner, f"set_{key[len('local_'):]}")(local[key])
            opt.set_local_optimizer(inner)
        x0 = rng.uniform(lo, hi)
        return _nlopt_start(opt, problem, budget, options, x0, rng)
    return run


def _nlopt_local_multistart(algorithm: str):
    def run(problem, budget, rng, **options):
        import nlopt
        lo, hi = _bounds(problem)
        options = {"xtol_rel": 1e-8, **options}
        while True:  # ends when a start overruns the budget
            opt = nlopt.opt(getattr(nlopt, algorithm), problem.dim)
            opt.set_lower_bounds(lo)
            opt.set_upper_bounds(hi)
            x0 = rng.uniform(lo, hi)
            left = problem.remaining if problem.remaining is not None else budget
            _nlopt_start(opt, problem, left, options, x0, rng, tolerant=True)
    return run


def _nlopt_algorithm(name: str, prefix: str, kinds: tuple[str, ...], what: str) -> tuple[Any, str]:
    try:
        import nlopt
    except ImportError:
        raise SolverError(f"solver {name!r} needs NLopt's Python module (Debian: python3-nlopt)") from None
    algorithm = name[len(prefix):]
    if not algorithm.startswith(kinds) or not hasattr(nlopt, algorithm):
        known = ", ".join(a for a in dir(nlopt) if a.startswith(kinds))
        raise SolverError(f"solver {name!r}: {algorithm!r} is not one of NLopt's {what} ({known})")
    return nlopt, algorithm


def _nlopt_adapter(name: str, options: dict) -> Adapter:
    nlopt, algorithm = _nlopt_algorithm(name, "nlopt:", ("GN_", "GD_"), "global algorithms")
    needs = "gradient" if algorithm.startswith("GD_") else "value"
    if "MLSL" in algorithm:
        _check_options(options, {**_NLOPT_OPTIONS, **_NLOPT_LOCAL}, _NLOPT_REFUSED)
        if "local" not in options:
            raise SolverError(f"solver {name!r} needs a local optimiser: give the option local = \"LN_BOBYQA\" "
                              "(or another of NLopt's LN_ or LD_ algorithms)")
        local = options["local"]
        if not local.startswith(("LN_", "LD_")) or not hasattr(nlopt, local):
            raise SolverError(f"option 'local': {local!r} is not one of NLopt's local algorithms (LN_..., LD_...)")
        if local.startswith("LD_"):
            needs = "gradient"
    else:
        _check_options(options, _NLOPT_OPTIONS, _NLOPT_REFUSED)
    fn = _nlopt(algorithm)
    return Adapter(name, _versions("nlopt"), options, lambda p, b, r: fn(p, b, r, **options), needs)


def _nlopt_local_adapter(name: str, options: dict) -> Adapter:
    _, algorithm = _nlopt_algorithm(name, "nlopt-local-multistart:", ("LN_", "LD_"), "local algorithms")
    _check_options(options, _NLOPT_OPTIONS, _NLOPT_REFUSED)
    fn = _nlopt_local_multistart(algorithm)
    return Adapter(name, _versions("nlopt"), options, lambda p, b, r: fn(p, b, r, **options),
                   "gradient" if algorithm.startswith("LD_") else "value")


# The table of built-ins: function, options it takes, what it evaluates, modules of its version.
_BUILTIN: dict[str, tuple[Callable[..., Any], Mapping[str, str], str, tuple[str, ...]]] = {
    "direct": (_direct(False), _DIRECT_OPTIONS, "value", ("scipy",)),
    "direct-l": (_direct(True), _DIRECT_OPTIONS, "value", ("scipy",)),
    "dual_annealing": (_dual_annealing, _DUAL_ANNEALING_OPTIONS, "value", ("scipy",)),
    "differential_evolution": (_differential_evolution, _DE_OPTIONS, "value", ("scipy",)),
    "shgo": (_shgo, _SHGO_OPTIONS, "value", ("scipy",)),
    "lbfgsb-multistart": (_lbfgsb_multistart, _LBFGSB_OPTIONS, "gradient", ("scipy",)),
    "nelder-mead-multistart": (_nelder_mead_multistart, _NELDER_MEAD_OPTIONS, "value", ("scipy",)),
    "random-search": (_random_search, {"batch": "count"}, "value", ("numpy",)),
    "cmaes": (_cmaes, {"popsize": "count", "sigma": "number"}, "value", ("deap", "numpy")),
}

BUILTIN = tuple(_BUILTIN) + ("nlopt:ALGORITHM", "nlopt-local-multistart:ALGORITHM")


def _user_adapter(name: str, options: dict) -> Adapter:
    module, _, attr = name.partition(":")
    if not module or module.startswith(".") or not attr:
        raise SolverError(f"solver {name!r}: give an absolute module name and a function, as 'package.module:name'")
    try:
        mod = importlib.import_module(module)
    except (Exception, SystemExit) as e:  # whatever the module does on import, told in one line
        text = " ".join(str(e).split()) or type(e).__name__
        raise SolverError(f"solver {name!r}: cannot import {module!r}: {type(e).__name__}: {text}") from None
    fn: Any = getattr(mod, attr, None)
    if not callable(fn):
        raise SolverError(f"solver {name!r}: module {module!r} has no function {attr!r}")
    needs = getattr(fn, "needs", "value")
    if needs not in NEEDS:
        raise SolverError(f"solver {name!r}: its 'needs' must be one of {', '.join(NEEDS)}, not {needs!r}")
    try:
        params = list(inspect.signature(fn).parameters.values())
    except (TypeError, ValueError):
        params = []
    if params and not any(p.kind is p.VAR_KEYWORD for p in params):
        named = {p.name: p for p in params[3:] if p.kind in (p.POSITIONAL_OR_KEYWORD, p.KEYWORD_ONLY)}
        for key, value in options.items():
            if key not in named:
                raise SolverError(f"unknown option {key!r} ({attr} takes {', '.join(named) or 'no options'})")
            default = named[key].default
            ok = (isinstance(value, bool) if isinstance(default, bool) else
                  _is_int(value) if isinstance(default, int) else
                  _is_number(value) if isinstance(default, float) else
                  isinstance(value, str) if isinstance(default, str) else True)
            if not ok:
                raise SolverError(f"option {key!r} must be of the type of its default {default!r}, not {value!r}")
    version = str(getattr(mod, "__version__", ""))
    return Adapter(name, version, options, (lambda p, b, r: fn(p, b, r, **options)) if options else fn, needs)


def adapter(name: Any, options: Mapping[str, Any] | None = None) -> Adapter:
    """The ready solver for a name and its options.

    Parameters
    ----------
    name : str
        A built-in name (see the module's list), ``nlopt:ALGORITHM``,
        ``nlopt-local-multistart:ALGORITHM`` or ``module:function``.
    options : mapping, optional
        Passed to the method; their names and types are checked.

    Returns
    -------
    Adapter
        Called as ``adapter(problem, budget, rng)``; its ``version`` names
        the libraries it runs on, as recorded in a results database.

    Raises
    ------
    SolverError
        For an unknown name or option, an option of the wrong type, or a
        module that cannot be imported.

    Examples
    --------
    >>> from travo import solvers
    >>> de = solvers.adapter("differential_evolution", {"popsize": 10})
    >>> de.name, de.needs, dict(de.options)
    ('differential_evolution', 'value', {'popsize': 10})
    >>> solvers.adapter("differential_evolution", {"popsze": 10})  # doctest: +ELLIPSIS
    Traceback (most recent call last):
    ...
    travo.solvers.SolverError: unknown option 'popsze' (known: atol, init, maxiter, ...)
    """
    opts = dict(options or {})
    if not isinstance(name, str) or not name:
        raise SolverError("a solver needs a 'name'")
    if name in _BUILTIN:
        fn, known, needs, modules = _BUILTIN[name]
        _check_options(opts, known)
        return Adapter(name, _versions(*modules), opts, lambda p, b, r: fn(p, b, r, **opts), needs)
    if name.startswith("nlopt:"):
        return _nlopt_adapter(name, opts)
    if name.startswith("nlopt-local-multistart:"):
        return _nlopt_local_adapter(name, opts)
    if ":" in name:
        return _user_adapter(name, opts)
    raise SolverError(f"unknown solver {name!r}; built in: {', '.join(BUILTIN)}, or 'module:function'")
