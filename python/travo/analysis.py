"""Analysis of campaign databases: the statistics, curves, profiles and tables of the benchmarking literature.

Runs are read, never pooled by name: each ``Run`` carries the key of its
campaign (one entry of ``Data.campaigns``, even when several databases or
campaigns share names), its class (suite, kind and the suite's parameters)
and its solver's label within the campaign. Every statistic is computed per
campaign, class, kind and solver (``summary``); figures draw one curve per
``Series``: a solver of one campaign, or of several campaigns that ran it
with the same options on different classes (the worked campaign, one
campaign per class). A solver label used by campaigns that share a class (a
budget sweep, a rerun) gives one series per campaign, labelled
``campaign/solver``.

Runs that failed (status ``error``, ``crashed`` or ``timeout``) count as
runs without a hit in success rates and fixed-target views, and are left
out of every cost. The formulas are given in docs/statistics.md. For
example::

    data = analysis.load(["campaign.db"])
    for row in analysis.summary(data):
        print(row["solver"], row["success_rate"], row["ert"])
"""

from __future__ import annotations

import dataclasses
import json
import math
import pathlib
import sqlite3
import warnings
from collections.abc import Iterable, Sequence
from typing import Any

import numpy as np

#: Run statuses of runs that did not finish normally (their counters are not valid).
FAILED = ("error", "crashed", "timeout")
#: The bootstrap of the ERT interval: resamples, and the seed of numpy.random.default_rng.
BOOTSTRAP_SAMPLES = 2000
BOOTSTRAP_SEED = 20240229
#: The two-sided 95 % normal quantile (Wilson interval).
Z95 = 1.959963984540054
#: Default value targets: those met at the first evaluation by at most this share of runs.
FIRST_EVALUATION_SHARE = 0.1


class DatabaseError(ValueError):
    """A file that is not a readable travo results database."""


@dataclasses.dataclass(frozen=True)
class Campaign:
    """One campaign of one database."""

    key: int  # position in Data.campaigns
    db: str
    id: int  # the campaign's id in its database
    name: str
    label: str  # the name, or "database:name" where two databases use the name
    description: dict
    travo_version: str
    planned: int
    schema: int


@dataclasses.dataclass(frozen=True)
class ClassInfo:
    """A class of problems: the members of one suite (with its parameters) and one kind."""

    key: tuple
    suite: str
    kind: str
    dim: int
    global_value: float
    name: str  # as shown: the suite, with the kind and a number where needed to tell classes apart
    stem: str  # for file names


@dataclasses.dataclass(frozen=True, eq=False)
class Run:
    """One run, as read from its database (schema-1 databases give the defaults of the later columns)."""

    campaign: int  # Campaign.key
    id: int  # the run's id in its database
    solver: str  # the solver's label in its campaign
    solver_name: str
    cls: tuple  # ClassInfo.key
    suite: str
    kind: str
    test: int
    dim: int
    global_value: float
    repetition: int
    seed: int
    status: str
    message: str
    budget: int
    cost: int
    values: int
    gradients: int
    hessians: int
    hit: int | None
    best_value: float | None
    best_point: list | None
    target_exponents: tuple
    target_hits: tuple
    restarts: int
    solver_status: str | None
    solver_message: str
    seconds: float
    trace: np.ndarray  # rows [cost, values, gradients, hessians, best value] at each improvement

    @property
    def failed(self) -> bool:
        return self.status in FAILED

    @property
    def member(self) -> tuple:
        return self.cls + (self.test,)

    def time(self, target: str | int = "box") -> float:
        """Cost at which the run met the target ("box": the box rule; an integer k: f* + 10**k); inf if it
        did not, or failed."""
        if self.failed:
            return math.inf
        if target == "box":
            t = self.hit
        else:
            try:
                t = self.target_hits[self.target_exponents.index(target)]
            except ValueError:
                raise ValueError(f"value target {target} was not followed by this campaign "
                                 f"(targets: {list(self.target_exponents)})") from None
        return math.inf if t is None else float(t)


@dataclasses.dataclass(frozen=True)
class Series:
    """One curve of the figures: a solver label of one or more campaigns (never two sharing a class)."""

    label: str
    keys: frozenset  # (campaign key, solver label) pairs
    color: Any


@dataclasses.dataclass
class Data:
    """The runs and campaigns of one or more databases."""

    campaigns: list[Campaign]
    runs: list[Run]
    solvers: dict  # (campaign key, label) -> {"name", "version", "options"}
    classes: list[ClassInfo] = dataclasses.field(init=False)
    series: list[Series] = dataclasses.field(init=False)

    def __post_init__(self) -> None:
        self.classes = _classes(self.runs)
        self.series = _series(self)
        self._series_of = {k: s for s in self.series for k in s.keys}
        self._class = {c.key: c for c in self.classes}
        # Hatches of the operational zones, one per series with repetitions, so that overlapping zones stay
        # told apart in every figure.
        count: dict[tuple, int] = {}
        for r in self.runs:
            count[(r.campaign, r.solver, r.member)] = count.get((r.campaign, r.solver, r.member), 0) + 1
        repeated = {(c, s) for (c, s, _), n in count.items() if n > 1}
        zoned = [s for s in self.series if s.keys & repeated]
        self.hatch = {s.label: ("///", "\\\\\\", "---", "|||", "...", "+++")[i % 6] for i, s in enumerate(zoned)}

    def cls(self, key: tuple) -> ClassInfo:
        return self._class[key]

    def series_of(self, run: Run) -> Series:
        return self._series_of[(run.campaign, run.solver)]

    def select(self, cls: tuple | None = None, series: Series | None = None,
               classes: Iterable[tuple] | None = None) -> list[Run]:
        """Runs of one class (or of several), of one series, or both."""
        keep = None if classes is None else set(classes)
        return [r for r in self.runs if (cls is None or r.cls == cls) and (keep is None or r.cls in keep)
                and (series is None or (r.campaign, r.solver) in series.keys)]

    def series_in(self, runs: Sequence[Run]) -> list[Series]:
        """The series that have runs among ``runs``, in the data's order."""
        present = {(r.campaign, r.solver) for r in runs}
        return [s for s in self.series if s.keys & present]


# Loading -------------------------------------------------------------------------------------------------------

_RUN_COLUMNS = {"id", "campaign", "solver", "member", "repetition", "seed", "status", "message", "cost", "values",
                "gradients", "hessians", "best_value", "best_point", "hit", "target_hits", "trace", "seconds"}
_LATER_COLUMNS = {"budget": "NULL", "restarts": "0", "solver_status": "NULL", "solver_message": "''"}


def _open(path: pathlib.Path) -> sqlite3.Connection:
    """Opens a results database for reading only (it is never changed, and may be in use by a run)."""
    if not path.is_file():
        raise DatabaseError(f"{path}: no such results database")
    try:
        conn = sqlite3.connect(path.resolve().as_uri() + "?mode=ro", uri=True)
    except sqlite3.Error as e:
        raise DatabaseError(f"{path}: cannot open the results database ({e})") from None
    try:
        version = conn.execute("PRAGMA user_version").fetchone()[0]
        tables = {r[0] for r in conn.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}
        if version not in (1, 2) or not {"campaign", "solver", "member", "run"} <= tables:
            raise DatabaseError(f"{path}: not a travo results database of schema version 1 or 2")
    except sqlite3.Error as e:
        conn.close()
        raise DatabaseError(f"{path}: not a results database ({e})") from None
    except BaseException:
        conn.close()
        raise
    return conn


def _columns(conn: sqlite3.Connection, table: str) -> set[str]:
    return {r[1] for r in conn.execute(f"PRAGMA table_info({table})")}


def _read(path: pathlib.Path, names: set[str] | None, first_key: int):
    conn = _open(path)
    try:
        version = conn.execute("PRAGMA user_version").fetchone()[0]
        have = _columns(conn, "run")
        if not _RUN_COLUMNS <= have:
            raise DatabaseError(f"{path}: the run table lacks the columns "
                                f"{', '.join(sorted(_RUN_COLUMNS - have))}")
        later = ", ".join(f'r."{c}"' if c in have else f"{default}" for c, default in _LATER_COLUMNS.items())
        rows = conn.execute("SELECT id, name, description, travo_version, planned FROM campaign ORDER BY id").fetchall()
        campaigns: list[Campaign] = []
        runs: list[Run] = []
        solvers: dict = {}
        for cid, name, desc, version_text, planned in rows:
            if names is not None and name not in names:
                continue
            key = first_key + len(campaigns)
            description = json.loads(desc)
            campaigns.append(Campaign(key, str(path), cid, name, name, description, version_text, planned, version))
            for label, sname, sversion, options in conn.execute(
                    "SELECT label, name, version, options FROM solver WHERE campaign = ? ORDER BY position", (cid,)):
                solvers[(key, label)] = {"name": sname, "version": sversion, "options": json.loads(options)}
            targets = tuple(description.get("targets", ()))
            campaign_budget = description.get("budget")
            for row in conn.execute(
                    'SELECT r.id, s.label, s.name, m.suite, m.kind, m.test, m.parameters, m.accuracy, r.repetition, '
                    'r.seed, r.status, r.message, r.cost, r."values", r.gradients, r.hessians, r.hit, r.best_value, '
                    f'r.best_point, r.target_hits, r.trace, r.seconds, {later} FROM run r '
                    'JOIN solver s ON s.id = r.solver JOIN member m ON m.id = r.member WHERE r.campaign = ? '
                    'ORDER BY s.position, m.suite, m.kind, m.test, r.repetition', (cid,)):
                (rid, label, sname, suite, kind, test, params, accuracy, rep, seed, status, message, cost, values,
                 gradients, hessians, hit, best_value, best_point, target_hits, trace, seconds, budget, restarts,
                 solver_status, solver_message) = row
                p = json.loads(params)
                if budget is None:
                    budget = campaign_budget
                if isinstance(budget, bool) or not isinstance(budget, int):
                    raise DatabaseError(f"{path}: run {rid} has no budget (campaign {name!r})")
                fingerprint = json.dumps({k: v for k, v in p.items() if k != "test_number"} | {"accuracy": accuracy},
                                         sort_keys=True)
                hits = tuple(json.loads(target_hits))
                runs.append(Run(
                    campaign=key, id=rid, solver=label, solver_name=sname, cls=(suite, kind, fingerprint),
                    suite=suite, kind=kind, test=test, dim=int(p["dim"]), global_value=float(p["global_value"]),
                    repetition=rep, seed=seed, status=status, message=message, budget=budget, cost=cost,
                    values=values, gradients=gradients, hessians=hessians, hit=hit, best_value=best_value,
                    best_point=None if best_point is None else json.loads(best_point),
                    target_exponents=targets if len(targets) == len(hits) else tuple(range(len(hits))),
                    target_hits=hits, restarts=restarts, solver_status=solver_status,
                    solver_message=solver_message, seconds=seconds,
                    trace=np.asarray(json.loads(trace), dtype=float).reshape(-1, 5)))
        return campaigns, runs, solvers
    except (sqlite3.DatabaseError, ValueError, KeyError, TypeError) as e:
        if isinstance(e, DatabaseError):
            raise
        raise DatabaseError(f"{path}: not a readable travo results database ({e})") from None
    finally:
        conn.close()


def load(dbs: str | pathlib.Path | Sequence[str | pathlib.Path], campaigns: Sequence[str] | None = None) -> Data:
    """Read the runs of one or more results databases.

    Parameters
    ----------
    dbs : str, pathlib.Path or sequence of them
        The databases (schema 1 or 2); none may be given twice.
    campaigns : sequence of str, optional
        Read only the campaigns of these names; each must exist.

    Returns
    -------
    Data
        The campaigns, runs, solvers, classes and series.

    Raises
    ------
    DatabaseError
        For a file that is not a readable travo results database.
    ValueError
        For no database, one given twice, or a campaign name not found.
    """
    paths = [pathlib.Path(dbs)] if isinstance(dbs, (str, pathlib.Path)) else [pathlib.Path(d) for d in dbs]
    if not paths:
        raise ValueError("no database given")
    for i, p in enumerate(paths):
        if any(q.exists() and p.exists() and p.samefile(q) for q in paths[:i]):
            raise ValueError(f"database {p} given twice")
    names = None if campaigns is None else set(campaigns)
    all_campaigns: list[Campaign] = []
    runs: list[Run] = []
    solvers: dict = {}
    for path in paths:
        c, r, s = _read(path, names, len(all_campaigns))
        all_campaigns += c
        runs += r
        solvers |= s
    if names is not None:
        missing = sorted(names - {c.name for c in all_campaigns})
        if missing:
            raise ValueError(f"no campaign named {missing[0]!r} in {', '.join(map(str, paths))}")
    # Campaign names shared by several databases are told apart by the database's file name.
    for i, c in enumerate(all_campaigns):
        if sum(d.name == c.name for d in all_campaigns) > 1:
            label = f"{pathlib.Path(c.db).stem}:{c.name}"
            if sum(pathlib.Path(d.db).stem == pathlib.Path(c.db).stem for d in all_campaigns if d.name == c.name) > 1:
                label = f"{c.db}:{c.name}"
            all_campaigns[i] = dataclasses.replace(c, label=label)
    return Data(all_campaigns, runs, solvers)


def _classes(runs: Sequence[Run]) -> list[ClassInfo]:
    keys = list(dict.fromkeys(r.cls for r in runs))
    first: dict[tuple, Run] = {}
    for r in runs:
        first.setdefault(r.cls, r)
    kinds: dict[str, set] = {}
    for suite, kind, _ in keys:
        kinds.setdefault(suite, set()).add(kind)
    out, stems, names = [], set(), set()
    for key in keys:
        suite, kind, _ = key
        name = suite if len(kinds[suite]) == 1 else f"{suite}, kind {kind}"
        base, i = name, 1
        while name in names:
            i += 1
            name = f"{base} ({i})"
        names.add(name)
        stem = safe_stem(suite if len(kinds[suite]) == 1 else f"{suite}-{kind}")
        base, i = stem, 1
        while stem in stems:
            i += 1
            stem = f"{base}-{i}"
        stems.add(stem)
        r = first[key]
        out.append(ClassInfo(key, suite, kind, r.dim, r.global_value, name, stem))
    return out


def _series(data: Data) -> list[Series]:
    pairs = list(dict.fromkeys((r.campaign, r.solver) for r in data.runs))
    classes: dict[tuple, set] = {}
    for r in data.runs:
        classes.setdefault((r.campaign, r.solver), set()).add(r.cls)
    by_label: dict[str, list] = {}
    for p in pairs:
        by_label.setdefault(p[1], []).append(p)

    def identity(p):
        s = data.solvers.get(p, {})
        return s.get("name"), json.dumps(s.get("options"), sort_keys=True)

    groups: list[tuple[str, list]] = []
    for label, ps in by_label.items():
        disjoint = sum(len(classes[p]) for p in ps) == len(set().union(*(classes[p] for p in ps)))
        if disjoint and len({identity(p) for p in ps}) == 1:
            groups.append((label, ps))
        else:
            groups += [(f"{data.campaigns[p[0]].label}/{label}", [p]) for p in ps]
    order = {p: i for i, p in enumerate(pairs)}
    groups.sort(key=lambda g: min(order[p] for p in g[1]))
    if len(groups) <= 10:
        colors = [f"C{i}" for i in range(len(groups))]
    else:
        import matplotlib
        cmap = matplotlib.colormaps["tab20"]
        colors = [cmap(i % 20) for i in range(len(groups))]
    return [Series(label, frozenset(ps), c) for (label, ps), c in zip(groups, colors)]


def safe_stem(text: str) -> str:
    """A file name made from a label: ASCII letters, digits, '.', '_' and '-' only, no leading dot or dash,
    at most 80 characters."""
    s = "".join(c if (c.isascii() and c.isalnum()) or c in "._-" else "_" for c in text)
    s = s.lstrip(".-")[:80]
    return s or "_"


# Statistics ----------------------------------------------------------------------------------------------------

def wilson(successes: int, n: int, z: float = Z95) -> tuple[float, float]:
    """Wilson score interval of a success rate.

    Parameters
    ----------
    successes, n : int
        Runs that hit, and all runs.
    z : float
        The normal quantile (the default gives 95 %).

    Returns
    -------
    tuple of float
        The interval's ends; (nan, nan) for n = 0.

    Examples
    --------
    >>> from travo import analysis
    >>> [round(v, 4) for v in analysis.wilson(8, 10)]
    [0.4902, 0.9433]
    """
    if n == 0:
        return math.nan, math.nan
    p = successes / n
    centre = (p + z * z / (2 * n)) / (1 + z * z / n)
    half = z / (1 + z * z / n) * math.sqrt(p * (1 - p) / n + z * z / (4 * n * n))
    low = 0.0 if successes == 0 else max(0.0, centre - half)
    high = 1.0 if successes == n else min(1.0, centre + half)
    return low, high


def _spent(runs: Sequence[Run], target: str | int = "box") -> tuple[np.ndarray, np.ndarray]:
    """Cost spent by each valid run until the target, or its whole cost without a hit; and whether it hit."""
    t = np.array([r.time(target) for r in runs if not r.failed], dtype=float)
    cost = np.array([r.cost for r in runs if not r.failed], dtype=float)
    hit = np.isfinite(t)
    return np.where(hit, t, cost), hit


def ert(spent: np.ndarray, hit: np.ndarray) -> float:
    """Expected running time: the cost spent by all runs over the number of runs that hit.

    Parameters
    ----------
    spent : numpy.ndarray
        Cost of each run until its hit, or its whole cost without one.
    hit : numpy.ndarray
        Whether each run hit.

    Returns
    -------
    float
        The ERT; inf when no run hit.

    Examples
    --------
    >>> from travo import analysis
    >>> analysis.ert(np.array([100.0, 1000.0, 300.0]), np.array([True, False, True]))
    700.0
    """
    k = int(np.count_nonzero(hit))
    return float(np.sum(spent)) / k if k else math.inf


def ert_interval(spent: np.ndarray, hit: np.ndarray, samples: int = BOOTSTRAP_SAMPLES,
                 seed: int = BOOTSTRAP_SEED) -> tuple[float, float]:
    """95 % bootstrap interval of the ERT.

    The runs are resampled with replacement ``samples`` times (generator
    ``numpy.random.default_rng(seed)``); the interval is made of the 2.5 %
    and 97.5 % order statistics of the resampled ERTs.

    Parameters
    ----------
    spent, hit : numpy.ndarray
        As for :func:`ert`.
    samples : int
        Number of resamples.
    seed : int
        Seed of the resampling.

    Returns
    -------
    tuple of float
        The interval's ends (inf where too many resamples have no hit;
        (nan, nan) without runs).
    """
    n = len(spent)
    if n == 0:
        return math.nan, math.nan
    idx = np.random.default_rng(seed).integers(0, n, size=(samples, n))
    hits = hit[idx].sum(axis=1)
    with np.errstate(divide="ignore", invalid="ignore"):
        values = np.where(hits > 0, spent[idx].sum(axis=1) / np.maximum(hits, 1), np.inf)
    low, high = np.quantile(values, [0.025, 0.975], method="inverted_cdf")
    return float(low), float(high)


def table_average(runs: Sequence[Run]) -> tuple[float, int]:
    """The literature's table convention over the valid runs.

    Parameters
    ----------
    runs : sequence of Run
        The runs of one solver on one class.

    Returns
    -------
    tuple
        The average trials, an unsolved run counted as its whole budget, and
        the number k of unsolved runs (printed ``> average (k unsolved)``
        when k > 0).
    """
    valid = [r for r in runs if not r.failed]
    if not valid:
        return math.nan, 0
    t = [r.hit if r.hit is not None else r.budget for r in valid]
    return sum(t) / len(t), sum(r.hit is None for r in valid)


def holm(pvalues: Sequence[float]) -> list[float]:
    """Holm's step-down adjustment of p-values for multiple comparisons.

    Parameters
    ----------
    pvalues : sequence of float
        The p-values of the comparisons.

    Returns
    -------
    list of float
        The adjusted p-values, in the same order.

    Examples
    --------
    >>> from travo import analysis
    >>> analysis.holm([0.01, 0.04, 0.03])
    [0.03, 0.06, 0.06]
    """
    m = len(pvalues)
    order = sorted(range(m), key=lambda i: pvalues[i])
    out = [0.0] * m
    running = 0.0
    for rank, i in enumerate(order):
        running = max(running, min(1.0, (m - rank) * pvalues[i]))
        out[i] = running
    return out


def signed_rank(d: np.ndarray) -> tuple[float, float, float]:
    """Two-sided Wilcoxon signed-rank test of paired differences (zeros dropped): (p-value, sum of the ranks of
    the positive differences, sum of those of the negative ones). Exact distribution for up to 50 differences
    without ties, normal approximation otherwise; p = 1 when every difference is zero."""
    import scipy.stats
    d = np.asarray(d, dtype=float)
    d = d[d != 0]
    if d.size == 0:
        return 1.0, 0.0, 0.0
    ranks = scipy.stats.rankdata(np.abs(d))
    ties = len(np.unique(np.abs(d))) < d.size
    method = "exact" if d.size <= 50 and not ties else "approx"
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        p = float(scipy.stats.wilcoxon(d, alternative="two-sided", method=method).pvalue)
    return p, float(ranks[d > 0].sum()), float(ranks[d < 0].sum())


def compare(times: np.ndarray, labels: Sequence[str]) -> dict:
    """Pairwise Wilcoxon signed-rank tests of per-member ERTs, Holm-corrected over all pairs.

    A member a series never solved takes the stand-in 2M + 1, M the largest
    finite ERT, so that it ranks behind every finite ERT (two unsolved: a
    tie).

    Parameters
    ----------
    times : numpy.ndarray
        ``times[member, series]``, as :func:`profile_times` gives them.
    labels : sequence of str
        One label per series.

    Returns
    -------
    dict
        ``labels``, ``p[i][j]`` (adjusted; None on the diagonal),
        ``better[i][j]`` (the index of the series with the lower rank sum, or
        None) and ``members``.
    """
    k = len(labels)
    finite = times[np.isfinite(times)]
    stand_in = 2 * (finite.max() if finite.size else 0.0) + 1
    x = np.where(np.isfinite(times), times, stand_in)
    pairs = [(i, j) for i in range(k) for j in range(i + 1, k)]
    raw, better = [], []
    for i, j in pairs:
        p, worse_i, worse_j = signed_rank(x[:, i] - x[:, j])
        raw.append(p)
        better.append(j if worse_i > worse_j else i if worse_j > worse_i else None)
    adjusted = holm(raw)
    pm: list[list] = [[None] * k for _ in range(k)]
    bm: list[list] = [[None] * k for _ in range(k)]
    for (i, j), p, b in zip(pairs, adjusted, better):
        pm[i][j] = pm[j][i] = p
        bm[i][j] = bm[j][i] = b
    return {"labels": list(labels), "p": pm, "better": bm, "members": times.shape[0]}


def member_times(runs: Sequence[Run], target: str | int = "box") -> dict[tuple, float]:
    """ERT of each member over its runs (its repetitions).

    Parameters
    ----------
    runs : sequence of Run
        The runs of one series.
    target : str or int
        "box" for the box rule, or an exponent k for the value target
        f* + 10**k.

    Returns
    -------
    dict
        Member key to its ERT (inf when no run hit).
    """
    groups: dict[tuple, list[Run]] = {}
    for r in runs:
        groups.setdefault(r.member, []).append(r)
    return {m: ert(*_spent(rs, target)) for m, rs in groups.items()}


def profile_times(data: Data, classes: Iterable[tuple] | None = None,
                  target: str | int = "box") -> tuple[list[Series], list[tuple], np.ndarray]:
    """Per-member ERT of each series.

    Parameters
    ----------
    data : Data
        The runs.
    classes : iterable of tuple, optional
        Class keys to keep (default: all).
    target : str or int
        As for :func:`member_times`.

    Returns
    -------
    tuple
        (series, members, ``times[member, series]``); the members are those
        that every series of the view ran (a member is one problem,
        whatever its repetitions).
    """
    runs = data.select(classes=classes)
    series = data.series_in(runs)
    per = [member_times([r for r in runs if (r.campaign, r.solver) in s.keys], target) for s in series]
    members = [m for m in dict.fromkeys(r.member for r in runs) if all(m in t for t in per)]
    times = np.array([[t[m] for t in per] for m in members], dtype=float).reshape(len(members), len(series))
    return series, members, times


def summary(data: Data) -> list[dict]:
    """The report's summary: one row per campaign, class, kind and solver.

    Parameters
    ----------
    data : Data
        The runs, from :func:`load`.

    Returns
    -------
    list of dict
        The columns of the report's ``summary.csv``, and ``class``
        (ClassInfo.key), ``series``, ``valid`` runs, ``q25_hit``,
        ``q75_hit``, ``table_average`` and ``unsolved``.
    """
    groups: dict[tuple, list[Run]] = {}
    for r in data.runs:
        groups.setdefault((r.campaign, r.cls, r.solver), []).append(r)
    rows = []
    for (c, cls, solver), runs in groups.items():
        spent, hit = _spent(runs)
        n, solved = len(runs), int(np.count_nonzero(hit))
        low, high = wilson(solved, n)
        e = ert(spent, hit)
        e_low, e_high = ert_interval(spent, hit) if solved else (math.inf, math.inf)
        hits = spent[hit]
        q = np.quantile(hits, [0.25, 0.5, 0.75]) if solved else [math.nan] * 3
        budgets = sorted({r.budget for r in runs})
        average, unsolved = table_average(runs)
        rows.append({
            "campaign": data.campaigns[c].label, "suite": runs[0].suite, "kind": runs[0].kind, "solver": solver,
            "members": len({r.test for r in runs}), "runs": n, "solved": solved, "success_rate": solved / n,
            "success_low": low, "success_high": high, "ert": e, "ert_low": e_low, "ert_high": e_high,
            "median_hit": float(q[1]), "budget": budgets[0] if len(budgets) == 1 else f"{budgets[0]}-{budgets[-1]}",
            "mean_cost": float(np.mean([r.cost for r in runs if not r.failed])) if len(spent) else math.nan,
            "failed": sum(r.failed for r in runs),
            "class": cls, "series": data.series_of(runs[0]).label, "valid": len(spent), "q25_hit": float(q[0]),
            "q75_hit": float(q[2]), "table_average": average, "unsolved": unsolved})
    return rows


def default_targets(runs: Sequence[Run]) -> list[int]:
    """Value targets that tell methods apart: the exponents k, among those every run followed, whose target
    f* + 10**k was met by at least one run but at its first evaluation by at most FIRST_EVALUATION_SHARE of
    the runs (so none that the first point of typical runs already meets)."""
    valid = [r for r in runs if not r.failed and len(r.trace)]
    if not valid:
        return []
    common = [k for k in valid[0].target_exponents if all(k in r.target_exponents for r in valid)]
    out = []
    for k in common:
        times = np.array([r.time(k) for r in valid])
        first = np.array([r.trace[0, 0] for r in valid])
        if np.isfinite(times).any() and np.mean(times <= first) <= FIRST_EVALUATION_SHARE:
            out.append(k)
    return out


# Views (data) ---------------------------------------------------------------------------------------------------

def operational_characteristic(runs: Sequence[Run], trials: Sequence[float] | np.ndarray,
                               target: str | int = "box") -> dict[str, np.ndarray]:
    """Members solved against trials, for one series on one class.

    Parameters
    ----------
    runs : sequence of Run
        The runs of one series on one class.
    trials : array_like
        The costs at which to count.
    target : str or int
        As for :func:`member_times`.

    Returns
    -------
    dict of numpy.ndarray
        ``trials``, ``mean`` (members solved, averaged over repetitions),
        ``best`` and ``worst`` (the operational zone: members solved by
        their best and by their worst repetition). A failed run solves
        nothing.
    """
    t = np.asarray(trials, dtype=float)
    members: dict[tuple, list[float]] = {}
    for r in runs:
        members.setdefault(r.member, []).append(r.time(target))
    if not members:
        z = np.zeros_like(t)
        return {"trials": t, "mean": z, "best": z, "worst": z}
    times = [np.asarray(v) for v in members.values()]
    best = np.sort([v.min() for v in times])
    worst = np.sort([v.max() for v in times])
    mean = sum(np.searchsorted(np.sort(v), t, side="right") / len(v) for v in times)
    return {"trials": t, "mean": np.asarray(mean, dtype=float),
            "best": np.searchsorted(best, t, side="right").astype(float),
            "worst": np.searchsorted(worst, t, side="right").astype(float)}


def ecdf_runtime(runs: Sequence[Run], budgets: Sequence[float] | np.ndarray,
                 targets: Sequence[str | int] = ("box",)) -> np.ndarray:
    """Fixed-target view: the fraction of (run, target) pairs met within each budget.

    Parameters
    ----------
    runs : sequence of Run
        The runs.
    budgets : array_like
        The costs at which to count.
    targets : sequence of str or int
        Targets, as for :func:`member_times`.

    Returns
    -------
    numpy.ndarray
        One fraction per budget; a failed run meets none.
    """
    times = np.sort([r.time(k) for r in runs for k in targets])
    b = np.asarray(budgets, dtype=float)
    return np.searchsorted(times, b, side="right") / max(len(times), 1)


def best_within(run: Run, budget: float) -> float:
    """Best value a run had reached at the given cost (inf before its first point in the box)."""
    k = int(np.searchsorted(run.trace[:, 0], budget, side="right")) - 1 if len(run.trace) else -1
    return math.inf if k < 0 else float(run.trace[k, 4])


def ecdf_best_value(runs: Sequence[Run], budget: float) -> tuple[np.ndarray, np.ndarray]:
    """Fixed-budget view over the valid runs.

    Parameters
    ----------
    runs : sequence of Run
        The runs.
    budget : float
        The cost at which the best values are taken.

    Returns
    -------
    tuple of numpy.ndarray
        Sorted precisions (best value within the budget minus f*) and their
        cumulative fractions.
    """
    p = np.sort([best_within(r, budget) - r.global_value for r in runs if not r.failed])
    return p, np.arange(1, len(p) + 1) / max(len(p), 1)


def performance_profile(times: np.ndarray, taus: Sequence[float] | np.ndarray) -> np.ndarray:
    """Dolan and Moré's performance profile.

    Parameters
    ----------
    times : numpy.ndarray
        ``times[problem, series]``: the cost of each series on each problem
        (inf: unsolved).
    taus : array_like
        Ratios to the best series' cost.

    Returns
    -------
    numpy.ndarray
        ``rho[s, i]``, the fraction of problems that series s solved within
        ``taus[i]`` times the best series' cost on that problem (problems
        no series solved are counted, never met).
    """
    best = times.min(axis=1, keepdims=True) if times.size else times
    with np.errstate(invalid="ignore", divide="ignore"):
        ratio = np.where(np.isfinite(times), times / best, np.inf)
    tau = np.asarray(taus, dtype=float)
    n = max(times.shape[0], 1)
    return np.array([[(ratio[:, s] <= t).sum() / n for t in tau] for s in range(times.shape[1])])


def data_profile(times: np.ndarray, dims: Sequence[int], kappas: Sequence[float] | np.ndarray) -> np.ndarray:
    """Moré and Wild's data profile.

    Parameters
    ----------
    times : numpy.ndarray
        ``times[problem, series]``, as for :func:`performance_profile`.
    dims : sequence of int
        The dimension of each problem.
    kappas : array_like
        Budgets in simplex gradients.

    Returns
    -------
    numpy.ndarray
        ``d[s, i]``, the fraction of problems that series s solved within
        ``kappas[i]`` simplex gradients, that is ``kappas[i] * (n + 1)``
        cost units for a problem of dimension n.
    """
    units = times / (np.asarray(dims, dtype=float)[:, None] + 1)
    n = max(times.shape[0], 1)
    return np.array([[(units[:, s] <= k).sum() / n for k in kappas] for s in range(times.shape[1])])


def convergence(runs: Sequence[Run], costs: Sequence[float] | np.ndarray) -> dict[str, np.ndarray]:
    """Best precision (best value - f*) against cost over the valid runs.

    Parameters
    ----------
    runs : sequence of Run
        The runs of one series on one class.
    costs : array_like
        The costs at which to take the precisions.

    Returns
    -------
    dict of numpy.ndarray
        ``cost``, ``median``, ``q25`` and ``q75`` (inf before a run's first
        point).
    """
    c = np.asarray(costs, dtype=float)
    valid = [r for r in runs if not r.failed]
    prec = np.full((len(valid), len(c)), np.inf)
    for i, r in enumerate(valid):
        k = np.searchsorted(r.trace[:, 0], c, side="right") - 1
        ok = k >= 0
        prec[i, ok] = r.trace[k[ok], 4] - r.global_value
    # Quantiles through a finite stand-in for "no point yet", which interpolation would turn into NaN.
    q = np.quantile(np.minimum(prec, 1e300), [0.25, 0.5, 0.75], axis=0) if valid else np.full((3, len(c)), 1e300)
    q[q >= 1e299] = np.inf
    return {"cost": c, "q25": q[0], "median": q[1], "q75": q[2]}


# Figures --------------------------------------------------------------------------------------------------------

def text(label: str) -> str:
    """A label as matplotlib shows it literally: '$' is not math markup, and a leading '_' does not hide it
    from legends (a zero-width space goes before it)."""
    label = str(label).replace("$", r"\$")
    return "\u200b" + label if label.startswith("_") else label


def _axes(ax, size=(7.6, 4.2)):
    if ax is not None:
        return ax.figure, ax
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(figsize=size, layout="constrained")
    return fig, ax


def _legend(ax, handles=None) -> None:
    """The legend beside the axes, so that it covers no data."""
    if handles is None:
        handles = ax.get_legend_handles_labels()[0]
    if handles:
        ax.legend(handles=handles, loc="upper left", bbox_to_anchor=(1.02, 1.0), borderaxespad=0,
                  fontsize="small", frameon=False)


def log_ticks(ax, which: str = "x") -> None:
    """At least three labelled ticks on a log axis: powers of ten when the range holds three of them, else
    1-2-5 steps, else every integer multiple; a range narrower than that is widened around its centre."""
    import matplotlib.ticker as mt
    axis = ax.xaxis if which == "x" else ax.yaxis
    lo, hi = sorted(ax.get_xlim() if which == "x" else ax.get_ylim())
    if not (lo > 0 and math.isfinite(hi)):
        return

    def count(subs):
        ticks = mt.LogLocator(base=10, subs=subs, numticks=50).tick_values(lo, hi)
        return np.count_nonzero((ticks >= lo * (1 - 1e-9)) & (ticks <= hi * (1 + 1e-9)))

    if count((1.0,)) >= 3:
        return
    for subs in ((1.0, 2.0, 5.0), tuple(range(1, 10))):
        if count(subs) >= 3:
            break
    else:
        centre = math.sqrt(lo * hi)
        lo, hi = centre / 2, centre * 2
        (ax.set_xlim if which == "x" else ax.set_ylim)(lo, hi)
    axis.set_major_locator(mt.LogLocator(base=10, subs=subs, numticks=50))
    axis.set_major_formatter(mt.LogFormatterSciNotation(labelOnlyBase=False,
                                                        minor_thresholds=(math.inf, math.inf)))
    axis.set_minor_formatter(mt.NullFormatter())


def _failed_note(runs: Sequence[Run]) -> str:
    k = sum(r.failed for r in runs)
    return "" if not k else f" (all {k} runs failed)" if k == len(runs) else f" ({k} failed)"


def has_points(runs: Sequence[Run]) -> bool:
    return any(len(r.trace) and not r.failed for r in runs)


def _no_data(ax, title: str) -> None:
    ax.text(0.5, 0.5, "no run evaluated a point", ha="center", va="center", transform=ax.transAxes)
    ax.set(title=title, xticks=[], yticks=[])


def plot_operational(data: Data, cls: tuple, ax=None, legend: bool = True):
    """Operational characteristics of every series on one class, with the zone of stochastic methods.

    Parameters
    ----------
    data : Data
        The runs, from :func:`load`.
    cls : tuple
        The key of one class (``ClassInfo.key``).
    ax : matplotlib.axes.Axes, optional
        Axes to draw into (default: a new figure).
    legend : bool
        Whether to draw the legend.

    Returns
    -------
    tuple
        The figure drawn, and the legend's handles.
    """
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch
    fig, ax = _axes(ax)
    info = data.cls(cls)
    runs = data.select(cls=cls)
    budget = max(r.budget for r in runs)
    grid = np.unique(np.linspace(0, budget, 400).round())
    handles = []
    for s in data.series_in(runs):
        mine = [r for r in runs if (r.campaign, r.solver) in s.keys]
        oc = operational_characteristic(mine, grid)
        ax.step(grid, oc["mean"], where="post", color=s.color)
        handles.append(Line2D([], [], color=s.color, label=text(s.label + _failed_note(mine))))
        if not np.array_equal(oc["best"], oc["worst"]):
            hatch = data.hatch.get(s.label, "///")
            ax.fill_between(grid, oc["worst"], oc["best"], step="post", facecolor="none", edgecolor=s.color,
                            hatch=hatch, linewidth=0, alpha=0.5)
            for edge in (oc["best"], oc["worst"]):
                ax.step(grid, edge, where="post", color=s.color, linewidth=0.7, linestyle=":")
            handles.append(Patch(facecolor="none", edgecolor=s.color, hatch=hatch, linestyle=":",
                                 label="zone: best to worst repetition"))
    members = len({r.test for r in runs})
    ax.set(xlabel="trials (cost in value evaluations)", ylabel="members solved", xlim=(0, budget),
           ylim=(0, members * 1.02), title=text(f"Operational characteristics, class {info.name}"))
    ax.grid(alpha=0.3)
    if legend:
        _legend(ax, handles)
    return fig, handles


def plot_operational_all(data: Data, classes: Sequence[tuple] | None = None, cols: int = 4):
    """Operational characteristics of several classes, one panel each, one legend beside the panels.

    Parameters
    ----------
    data : Data
        The runs, from :func:`load`.
    classes : sequence of tuple, optional
        Class keys to draw (default: all).
    cols : int
        Panels per row.

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn.
    """
    import matplotlib.pyplot as plt
    classes = list(classes if classes is not None else [c.key for c in data.classes])
    cols = min(cols, len(classes))
    rows = -(-len(classes) // cols)
    fig, axes = plt.subplots(rows, cols, figsize=(3.6 * cols + 3.2, 3.1 * rows), layout="constrained", squeeze=False)
    labelled: dict[tuple, Any] = {}
    for ax, key in zip(axes.flat, classes):
        _, handles = plot_operational(data, key, ax, legend=False)
        ax.set_title(text(data.cls(key).name))
        for h in handles:  # a zone's entry follows its series' line
            labelled.setdefault((h.get_label(), str(h.get_edgecolor() if hasattr(h, "get_hatch") else h.get_color())),
                                h)
    for ax in list(axes.flat)[len(classes):]:
        ax.set_visible(False)
    for (i, j), ax in np.ndenumerate(axes):  # axis labels on the outer panels only
        if i < rows - 1 and (i + 1) * cols + j < len(classes):
            ax.set_xlabel("")
        if j:
            ax.set_ylabel("")
    axes[0, -1].legend(handles=list(labelled.values()), loc="upper left", bbox_to_anchor=(1.04, 1.0),
                       borderaxespad=0, fontsize="small", frameon=False)
    return fig


def _cost_grid(runs: Sequence[Run]) -> np.ndarray:
    return np.unique(np.geomspace(1, max(r.budget for r in runs), 300).round())


def _classes_text(data: Data, classes: Sequence[tuple]) -> str:
    return f"class {data.cls(classes[0]).name}" if len(classes) == 1 else f"{len(classes)} classes"


def plot_ecdf_runtime(data: Data, classes: Sequence[tuple] | None = None, targets: Sequence[str | int] = ("box",),
                      ax=None):
    """Fixed-target ECDF: the fraction of (run, target) pairs met within a cost, per series.

    Parameters
    ----------
    data : Data
        The runs, from :func:`load`.
    classes : sequence of tuple, optional
        Class keys to draw (default: all).
    targets : sequence of str or int
        Targets, as for :func:`member_times`.
    ax : matplotlib.axes.Axes, optional
        Axes to draw into (default: a new figure).

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn.
    """
    fig, ax = _axes(ax)
    classes = list(classes if classes is not None else [c.key for c in data.classes])
    runs = data.select(classes=classes)
    grid = _cost_grid(runs)
    for s in data.series_in(runs):
        mine = [r for r in runs if (r.campaign, r.solver) in s.keys]
        ax.step(grid, ecdf_runtime(mine, grid, targets), where="post", color=s.color,
                label=text(s.label + _failed_note(mine)))
    if list(targets) == ["box"]:
        what, ylabel = "the box rule", "fraction of runs"
    else:
        ks = [k for k in targets if k != "box"]
        what = ", ".join(f"f* + 1e{k}" for k in ks) if len(ks) <= 3 else f"f* + 10^k, k = {ks[0]} to {ks[-1]}"
        ylabel = "fraction of (run, target) pairs"
    ax.set(xscale="log", xlabel="cost (value evaluations)", ylabel=ylabel, ylim=(0, 1.02),
           xlim=(1, grid[-1]), title=text(f"Runtime to {what}, {_classes_text(data, classes)}"))
    log_ticks(ax, "x")
    ax.grid(alpha=0.3)
    _legend(ax)
    return fig


def plot_ecdf_best_value(data: Data, cls: tuple, budget: float | None = None, ax=None):
    """Fixed-budget ECDF of the precision (best value - f*) reached within a budget, per series.

    Parameters
    ----------
    data : Data
        The runs, from :func:`load`.
    cls : tuple
        The key of one class (``ClassInfo.key``).
    budget : float, optional
        The cost (default: the largest budget of the runs).
    ax : matplotlib.axes.Axes, optional
        Axes to draw into (default: a new figure).

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn.
    """
    fig, ax = _axes(ax)
    runs = data.select(cls=cls)
    budget = budget or max(r.budget for r in runs)
    title = text(f"Best value within {budget:g} evaluations, class {data.cls(cls).name}")
    if not has_points(runs):
        _no_data(ax, title)
        return fig
    floor = 1e-16
    for s in data.series_in(runs):
        mine = [r for r in runs if (r.campaign, r.solver) in s.keys]
        p, frac = ecdf_best_value(mine, budget)
        if len(p):
            p = np.maximum(np.concatenate([p[:1], p]), floor)
            ax.step(p, np.concatenate([[0.0], frac]), where="post", color=s.color,
                    label=text(s.label + _failed_note(mine)))
    ax.set(xscale="log", xlabel="best value - f* within the budget", ylabel="fraction of runs", ylim=(0, 1.02),
           title=title)
    log_ticks(ax, "x")
    ax.grid(alpha=0.3)
    _legend(ax)
    return fig


def plot_performance_profile(data: Data, classes: Sequence[tuple] | None = None, ax=None):
    """Performance profiles of the per-member ERT to the box rule.

    Parameters
    ----------
    data : Data
        The runs, from :func:`load`.
    classes : sequence of tuple, optional
        Class keys to draw (default: all).
    ax : matplotlib.axes.Axes, optional
        Axes to draw into (default: a new figure).

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn.
    """
    fig, ax = _axes(ax)
    classes = list(classes if classes is not None else [c.key for c in data.classes])
    series, members, times = profile_times(data, classes)
    with np.errstate(invalid="ignore", divide="ignore"):
        ratios = times / times.min(axis=1, keepdims=True) if times.size else times
    finite = ratios[np.isfinite(ratios)]
    taus = np.geomspace(1, max(10.0, 1.05 * finite.max() if finite.size else 10.0), 300)
    rho = performance_profile(times, taus)
    runs = data.select(classes=classes)
    for i, s in enumerate(series):
        failed = _failed_note([r for r in runs if (r.campaign, r.solver) in s.keys])
        ax.step(taus, rho[i], where="post", color=s.color, label=text(s.label + failed))
    ax.set(xscale="log", xlabel="τ (ERT / best ERT on the member)", ylabel="fraction of members within τ",
           ylim=(0, 1.02), xlim=(1, taus[-1]),
           title=text(f"Performance profiles, {_classes_text(data, classes)} ({len(members)} members)"))
    log_ticks(ax, "x")
    ax.grid(alpha=0.3)
    _legend(ax)
    return fig


def plot_data_profile(data: Data, classes: Sequence[tuple] | None = None, ax=None):
    """Data profiles of the per-member ERT to the box rule.

    Parameters
    ----------
    data : Data
        The runs, from :func:`load`.
    classes : sequence of tuple, optional
        Class keys to draw (default: all).
    ax : matplotlib.axes.Axes, optional
        Axes to draw into (default: a new figure).

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn.
    """
    fig, ax = _axes(ax)
    classes = list(classes if classes is not None else [c.key for c in data.classes])
    series, members, times = profile_times(data, classes)
    runs = data.select(classes=classes)
    dims = [data.cls(m[:3]).dim for m in members]
    units = times / (np.asarray(dims, dtype=float)[:, None] + 1)
    top = max([r.budget / (r.dim + 1) for r in runs] + list(1.05 * units[np.isfinite(units)]))
    kappas = np.geomspace(1, max(top, 10), 300)
    d = data_profile(times, dims, kappas)
    for i, s in enumerate(series):
        failed = _failed_note([r for r in runs if (r.campaign, r.solver) in s.keys])
        ax.step(kappas, d[i], where="post", color=s.color, label=text(s.label + failed))
    ax.set(xscale="log", xlabel="κ (simplex gradients: ERT / (n + 1))", ylabel="fraction of members solved",
           ylim=(0, 1.02), xlim=(1, kappas[-1]),
           title=text(f"Data profiles, {_classes_text(data, classes)} ({len(members)} members)"))
    log_ticks(ax, "x")
    ax.grid(alpha=0.3)
    _legend(ax)
    return fig


def plot_convergence(data: Data, cls: tuple, ax=None):
    """Median precision (best value - f*) against cost per series, and its quartiles (dashed) over the valid runs.

    Parameters
    ----------
    data : Data
        The runs, from :func:`load`.
    cls : tuple
        The key of one class (``ClassInfo.key``).
    ax : matplotlib.axes.Axes, optional
        Axes to draw into (default: a new figure).

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn.
    """
    fig, ax = _axes(ax)
    runs = data.select(cls=cls)
    title = text(f"Convergence, class {data.cls(cls).name}")
    if not has_points(runs):
        _no_data(ax, title)
        return fig
    budget = max(r.budget for r in runs)
    costs = np.unique(np.geomspace(1, budget, 200).round())
    floor = 1e-16
    for s in data.series_in(runs):
        mine = [r for r in runs if (r.campaign, r.solver) in s.keys]
        c = convergence(mine, costs)
        ax.plot(costs, np.maximum(c["median"], floor), color=s.color, label=text(s.label + _failed_note(mine)))
        # The quartiles as thin dashed lines: bands of several series would blend where they overlap.
        for q in ("q25", "q75"):
            ax.plot(costs, np.maximum(c[q], floor), color=s.color, linewidth=0.7, linestyle="--")
    from matplotlib.lines import Line2D
    ax.add_artist(ax.legend(handles=[Line2D([], [], color="0.4", linewidth=0.7, linestyle="--",
                                            label="quartiles over the runs")], loc="lower left",
                            bbox_to_anchor=(1.02, 0.0), borderaxespad=0, fontsize="small", frameon=False))
    ax.set(xscale="log", yscale="log", xlabel="cost (value evaluations)", ylabel="best value - f* (median, quartiles)",
           xlim=(1, budget), title=title)
    log_ticks(ax, "x")
    log_ticks(ax, "y")
    ax.grid(alpha=0.3)
    _legend(ax)
    return fig
