"""Analysis of a campaign database: the curves, profiles and tables of the benchmarking literature.

Each view is a function returning plain numpy data, and a ``plot_*`` function
drawing it with matplotlib. A problem is one (member, repetition) pair; a run
solves its problem when a point met the class's box rule (``hit``), or, for a
value target k, when a point reached f* + 10**k. Times are costs in value
evaluations (value 1, gradient n, Hessian n(n+1)/2).

    data = analysis.load("campaign.db")
    t, zone = analysis.operational_characteristic(data.select(solver="direct-l", suite="2-hard"))
"""

from __future__ import annotations

import dataclasses
import math
from collections.abc import Iterable, Sequence
from typing import Any

import numpy as np

from . import results


@dataclasses.dataclass
class Data:
    """The runs of one database (with their traces) and its campaigns' descriptions."""

    runs: list[dict]
    campaigns: list[dict]

    def select(self, **fields: Any) -> list[dict]:
        """Runs whose fields equal the given values, such as ``solver="direct"``, ``suite="2-hard"``."""
        return [r for r in self.runs if all(r[k] == v for k, v in fields.items())]

    def solvers(self) -> list[str]:
        return list(dict.fromkeys(r["solver"] for r in self.runs))

    def suites(self) -> list[str]:
        return list(dict.fromkeys(r["suite"] for r in self.runs))

    def budget(self, suite: str | None = None) -> int:
        """The largest budget of the campaigns (that ran ``suite``)."""
        return max(c["description"]["budget"] for c in self.campaigns
                   if suite is None or c["description"]["suite"]["name"] == suite)

    def global_value(self, suite: str) -> float:
        return next(c["description"]["suite"]["global_value"] for c in self.campaigns
                    if c["description"]["suite"]["name"] == suite)

    def dim(self, suite: str) -> int:
        return next(c["description"]["suite"]["dim"] for c in self.campaigns
                    if c["description"]["suite"]["name"] == suite)


def load(db, campaign: str | None = None) -> Data:
    """Reads every finished run (or those of one campaign) of a results database."""
    conn = results.connect(db)
    try:
        cs = [c for c in results.campaigns(conn) if campaign is None or c["name"] == campaign]
        return Data(results.runs(conn, campaign, trace=True), cs)
    finally:
        conn.close()


def solve_time(run: dict, target: str | int = "box") -> float:
    """Cost at which the run met the target ("box": the box rule; an integer k: f* + 10**k), or inf."""
    if target == "box":
        t = run["hit"]
    else:
        try:
            t = run["target_hits"][run["target_exponents"].index(target)]
        except ValueError:
            raise ValueError(f"value target {target} was not followed by this campaign "
                             f"(targets: {run['target_exponents']})") from None
    return math.inf if t is None else float(t)


def _by_member(runs: Iterable[dict], target) -> dict[tuple, list[float]]:
    out: dict[tuple, list[float]] = {}
    for r in runs:
        out.setdefault((r["suite"], r["kind"], r["test"]), []).append(solve_time(r, target))
    return out


def operational_characteristic(runs: Sequence[dict], trials: Sequence[float] | None = None,
                               target: str | int = "box") -> dict[str, np.ndarray]:
    """Members solved against trials, for one method on one class.

    Returns ``trials`` (the grid; default 1 to the largest cost), ``mean``
    (members solved, averaged over repetitions), ``best`` and ``worst`` (the
    operational zone: members solved by their best and by their worst
    repetition). For a deterministic method the three coincide.
    """
    members = _by_member(runs, target)
    top = max((r["evaluations"] for r in runs), default=1)
    t = np.arange(1.0, top + 1) if trials is None else np.asarray(trials, dtype=float)
    if not members:
        z = np.zeros_like(t)
        return {"trials": t, "mean": z, "best": z, "worst": z}
    times = [np.asarray(v) for v in members.values()]
    best = np.sort([v.min() for v in times])
    worst = np.sort([v.max() for v in times])
    every = np.sort(np.concatenate(times))
    reps = len(every) / len(times)
    return {"trials": t, "mean": np.searchsorted(every, t, side="right") / reps,
            "best": np.searchsorted(best, t, side="right").astype(float),
            "worst": np.searchsorted(worst, t, side="right").astype(float)}


def ecdf_runtime(runs: Sequence[dict], target: str | int = "box",
                 budgets: Sequence[float] | None = None) -> tuple[np.ndarray, np.ndarray]:
    """Fixed-target view: the fraction of problems (member, repetition) solved within each budget."""
    times = np.sort([solve_time(r, target) for r in runs])
    if budgets is None:
        budgets = np.unique(times[np.isfinite(times)])
    b = np.asarray(budgets, dtype=float)
    return b, np.searchsorted(times, b, side="right") / max(len(times), 1)


def ecdf_runtime_targets(runs: Sequence[dict], budgets: Sequence[float] | np.ndarray,
                         targets: Sequence[int] | None = None) -> tuple[np.ndarray, np.ndarray]:
    """Fixed-target view over several targets at once: the fraction of (problem, value target) pairs met within
    each budget (default: every value target the runs followed)."""
    if not runs:
        return np.asarray(budgets, dtype=float), np.zeros(len(budgets))
    ks = runs[0]["target_exponents"] if targets is None else targets
    times = np.sort([solve_time(r, k) for r in runs for k in ks])
    b = np.asarray(budgets, dtype=float)
    return b, np.searchsorted(times, b, side="right") / max(len(times), 1)


def best_within(run: dict, budget: float) -> float:
    """Best value a run had reached at the given cost (inf before its first point in the box)."""
    best = math.inf
    for cost, _, _, _, value in run["trace"]:
        if cost > budget:
            break
        best = value
    return best


def ecdf_best_value(runs: Sequence[dict], budget: float, global_value: float) -> tuple[np.ndarray, np.ndarray]:
    """Fixed-budget view: sorted precisions (best value within the budget minus f*) and their cumulative
    fractions over problems."""
    p = np.sort([best_within(r, budget) - global_value for r in runs])
    return p, np.arange(1, len(p) + 1) / max(len(p), 1)


def solve_times(data: Data, suites: Sequence[str] | None = None,
                target: str | int = "box") -> tuple[list[str], list[tuple], np.ndarray]:
    """Cost to solve each problem for each solver: (solvers, problems, times[problem, solver]), inf unsolved.

    Problems are (suite, kind, test, repetition) run by every solver.
    """
    solvers = data.solvers()
    table: dict[tuple, dict[str, float]] = {}
    for r in data.runs:
        if suites is None or r["suite"] in suites:
            key = (r["suite"], r["kind"], r["test"], r["repetition"])
            table.setdefault(key, {})[r["solver"]] = solve_time(r, target)
    problems = [k for k, v in table.items() if len(v) == len(solvers)]
    times = np.array([[table[p][s] for s in solvers] for p in problems], dtype=float).reshape(len(problems),
                                                                                            len(solvers))
    return solvers, problems, times


def performance_profile(times: np.ndarray, taus: Sequence[float] | np.ndarray) -> np.ndarray:
    """Dolan and More: rho[s, i], the fraction of problems that solver s solved within taus[i] times the best
    solver's cost on that problem (problems no solver solved are counted, never met)."""
    best = times.min(axis=1, keepdims=True)
    with np.errstate(invalid="ignore", divide="ignore"):
        ratio = np.where(np.isfinite(times), times / best, np.inf)
    tau = np.asarray(taus, dtype=float)
    n = max(times.shape[0], 1)
    return np.array([[(ratio[:, s] <= t).sum() / n for t in tau] for s in range(times.shape[1])])


def data_profile(times: np.ndarray, dims: Sequence[int], kappas: Sequence[float] | np.ndarray) -> np.ndarray:
    """More and Wild: d[s, i], the fraction of problems that solver s solved within kappas[i] simplex
    gradients, that is kappas[i] * (n + 1) evaluations for a problem of dimension n."""
    scale = np.asarray(dims, dtype=float)[:, None] + 1
    units = times / scale
    n = max(times.shape[0], 1)
    return np.array([[(units[:, s] <= k).sum() / n for k in kappas] for s in range(times.shape[1])])


def convergence(runs: Sequence[dict], costs: Sequence[float], global_value: float) -> dict[str, np.ndarray]:
    """Best precision (best value - f*) against cost: median and quartiles over problems, and the mean numbers
    of values, gradients and Hessians the runs had used when their best value last improved by each cost."""
    c = np.asarray(costs, dtype=float)
    prec = np.full((len(runs), len(c)), np.inf)
    counts = np.zeros((3, len(runs), len(c)))
    for i, r in enumerate(runs):
        tr = np.asarray(r["trace"], dtype=float).reshape(-1, 5)
        k = np.searchsorted(tr[:, 0], c, side="right") - 1
        ok = k >= 0
        prec[i, ok] = tr[k[ok], 4] - global_value
        counts[:, i, ok] = tr[k[ok], 1:4].T
    # Quantiles through a finite stand-in for "no point yet", which
    # interpolation would turn into NaN.
    q = np.quantile(np.minimum(prec, 1e300), [0.25, 0.5, 0.75], axis=0) if len(runs) else np.full((3, len(c)), 1e300)
    q[q >= 1e299] = np.inf
    return {"cost": c, "q25": q[0], "median": q[1], "q75": q[2], "values": counts[0].mean(axis=0),
            "gradients": counts[1].mean(axis=0), "hessians": counts[2].mean(axis=0)}


def table(data: Data) -> list[dict]:
    """Per class and solver: members solved (mean over repetitions, and out of how many), average and maximum
    trials to solve over the solving runs, as the literature's tables give them."""
    rows = []
    for suite in data.suites():
        for solver in data.solvers():
            runs = data.select(suite=suite, solver=solver)
            if not runs:
                continue
            reps = len({r["repetition"] for r in runs})
            members = len({(r["kind"], r["test"]) for r in runs})
            times = np.array([solve_time(r) for r in runs])
            solved = times[np.isfinite(times)]
            rows.append({"suite": suite, "solver": solver, "members": members, "repetitions": reps,
                         "solved": len(solved) / reps, "average": float(solved.mean()) if len(solved) else None,
                         "maximum": int(solved.max()) if len(solved) else None,
                         "budget": max(r["evaluations"] for r in runs)})
    return rows


# Figures --------------------------------------------------------------------------------------------------------

def _axes(ax):
    if ax is not None:
        return ax.figure, ax
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(figsize=(6.4, 4.4), layout="constrained")
    return fig, ax


def _finish(fig, ax):
    """Grid and legend of the per-solver figures."""
    ax.grid(alpha=0.3)
    ax.legend(loc="upper left", fontsize="small")
    return fig


def _cost_grid(data: Data, suites: Sequence[str]):
    """Costs from 1 to the largest budget of the suites, geometrically spaced."""
    return np.unique(np.geomspace(1, max(data.budget(s) for s in suites), 300).round())


def _runs_of(data: Data, solver: str, suites: Sequence[str]):
    return [r for r in data.select(solver=solver) if r["suite"] in suites]


def plot_operational(data: Data, suite: str, ax=None):
    """Operational characteristics of every solver on one class, with the zone of stochastic methods."""
    fig, ax = _axes(ax)
    budget = data.budget(suite)
    grid = np.unique(np.linspace(1, budget, 400).round())
    for i, solver in enumerate(data.solvers()):
        runs = data.select(suite=suite, solver=solver)
        if not runs:
            continue
        oc = operational_characteristic(runs, grid)
        color = f"C{i}"
        ax.step(grid, oc["mean"], where="post", color=color, label=solver)
        if not np.array_equal(oc["best"], oc["worst"]):
            ax.fill_between(grid, oc["worst"], oc["best"], step="post", color=color, alpha=0.2, linewidth=0)
    members = len({(r["kind"], r["test"]) for r in data.select(suite=suite)})
    ax.set(xlabel="trials (cost in value evaluations)", ylabel="members solved", xlim=(0, budget),
           ylim=(0, members * 1.02), title=f"Operational characteristics, class {suite}")
    return _finish(fig, ax)


def plot_operational_all(data: Data, cols: int = 4):
    """Operational characteristics of every class, one panel each (one legend, in the first panel)."""
    import matplotlib.pyplot as plt
    suites = data.suites()
    cols = min(cols, len(suites))
    rows = -(-len(suites) // cols)
    fig, axes = plt.subplots(rows, cols, figsize=(4.2 * cols, 3.6 * rows), layout="constrained", squeeze=False)
    for i, (ax, suite) in enumerate(zip(axes.flat, suites)):
        plot_operational(data, suite, ax)
        ax.set_title(suite)
        if i:
            ax.get_legend().remove()
    for ax in list(axes.flat)[len(suites):]:
        ax.set_visible(False)
    return fig


def plot_ecdf_runtime(data: Data, suites: Sequence[str] | None = None, target: str | int = "box", ax=None):
    """Fixed-target ECDF of the cost to meet a target, over members and repetitions, per solver."""
    fig, ax = _axes(ax)
    suites = list(suites or data.suites())
    grid = _cost_grid(data, suites)
    for i, solver in enumerate(data.solvers()):
        runs = _runs_of(data, solver, suites)
        b, frac = ecdf_runtime(runs, target, grid)
        ax.step(b, frac, where="post", color=f"C{i}", label=solver)
    what = "the box rule" if target == "box" else f"f* + 1e{target}"
    ax.set(xscale="log", xlabel="cost (value evaluations)", ylabel="fraction of problems", ylim=(0, 1.02),
           title=f"Runtime to {what}, {_suites_text(suites)}")
    return _finish(fig, ax)


def plot_ecdf_targets(data: Data, suites: Sequence[str] | None = None, ax=None):
    """Fixed-target ECDF aggregated over the value targets f* + 10**k, per solver."""
    fig, ax = _axes(ax)
    suites = list(suites or data.suites())
    grid = _cost_grid(data, suites)
    ks: list = []
    for i, solver in enumerate(data.solvers()):
        runs = _runs_of(data, solver, suites)
        ks = runs[0]["target_exponents"] if runs else ks
        b, frac = ecdf_runtime_targets(runs, grid)
        ax.step(b, frac, where="post", color=f"C{i}", label=solver)
    ax.set(xscale="log", xlabel="cost (value evaluations)", ylabel="fraction of (problem, target) pairs",
           ylim=(0, 1.02), title=f"Runtime to f* + 10^k, k = {ks[0]} to {ks[-1]}, {_suites_text(suites)}"
           if ks else "Runtime to the value targets")
    return _finish(fig, ax)


def plot_ecdf_best_value(data: Data, suite: str, budget: float | None = None, ax=None):
    """Fixed-budget ECDF of the best value reached (precision best - f*) within a budget, per solver."""
    fig, ax = _axes(ax)
    budget = budget or data.budget(suite)
    f_star = data.global_value(suite)
    for i, solver in enumerate(data.solvers()):
        p, frac = ecdf_best_value(data.select(suite=suite, solver=solver), budget, f_star)
        p = np.maximum(p, 1e-16)
        ax.step(p, frac, where="post", color=f"C{i}", label=solver)
    ax.set(xscale="log", xlabel="best value - f* within the budget", ylabel="fraction of problems", ylim=(0, 1.02),
           title=f"Best value within {budget:g} evaluations, class {suite}")
    return _finish(fig, ax)


def plot_performance_profile(data: Data, suites: Sequence[str] | None = None, ax=None):
    fig, ax = _axes(ax)
    solvers, _, times = solve_times(data, suites)
    taus = np.geomspace(1, 1e3, 300)
    rho = performance_profile(times, taus)
    for i, s in enumerate(solvers):
        ax.step(taus, rho[i], where="post", color=f"C{i}", label=s)
    ax.set(xscale="log", xlabel="τ (cost / best solver's cost)", ylabel="fraction of problems within τ",
           ylim=(0, 1.02), title=f"Performance profiles, {_suites_text(suites or data.suites())}")
    ax.grid(alpha=0.3)
    ax.legend(loc="lower right", fontsize="small")
    return fig


def plot_data_profile(data: Data, suites: Sequence[str] | None = None, ax=None):
    fig, ax = _axes(ax)
    solvers, problems, times = solve_times(data, suites)
    dims = [data.dim(p[0]) for p in problems]
    top = max(data.budget(s) / (data.dim(s) + 1) for s in (suites or data.suites()))
    kappas = np.geomspace(1, top, 300)
    d = data_profile(times, dims, kappas)
    for i, s in enumerate(solvers):
        ax.step(kappas, d[i], where="post", color=f"C{i}", label=s)
    ax.set(xscale="log", xlabel="κ (simplex gradients: cost / (n + 1))", ylabel="fraction of problems solved",
           ylim=(0, 1.02), title=f"Data profiles, {_suites_text(suites or data.suites())}")
    return _finish(fig, ax)


def plot_convergence(data: Data, suite: str, ax=None):
    """Median best precision against cost per solver (band: quartiles); for methods that used derivatives,
    a dashed line gives the same against the number of gradients, and a dotted one against the number of
    values where that differs."""
    fig, ax = _axes(ax)
    budget = data.budget(suite)
    f_star = data.global_value(suite)
    costs = np.unique(np.geomspace(1, budget, 200).round())
    for i, solver in enumerate(data.solvers()):
        runs = data.select(suite=suite, solver=solver)
        if not runs:
            continue
        c = convergence(runs, costs, f_star)
        floor = 1e-16
        ax.plot(costs, np.maximum(c["median"], floor), color=f"C{i}", label=solver)
        ax.fill_between(costs, np.maximum(c["q25"], floor), np.maximum(c["q75"], floor), color=f"C{i}", alpha=0.15,
                        linewidth=0)
        if c["gradients"].max() > 0:
            ax.plot(np.maximum(c["gradients"], 1), np.maximum(c["median"], floor), color=f"C{i}", linestyle="--",
                    label=f"{solver}, against gradients")
            if not np.array_equal(c["values"], c["gradients"]):
                ax.plot(np.maximum(c["values"], 1), np.maximum(c["median"], floor), color=f"C{i}", linestyle=":",
                        label=f"{solver}, against values")
    ax.set(xscale="log", yscale="log", xlabel="cost (value evaluations)", ylabel="best value - f* (median)",
           title=f"Convergence, class {suite}")
    ax.grid(alpha=0.3)
    ax.legend(loc="lower left", fontsize="small")
    return fig


def _suites_text(suites: Sequence[str]) -> str:
    suites = list(suites)
    return f"class {suites[0]}" if len(suites) == 1 else f"{len(suites)} classes"
