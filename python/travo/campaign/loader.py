"""Campaign files: reading, checking and planning.

Everything is checked when the file is read, before a database is opened:
a refused file writes nothing.
"""

from __future__ import annotations

import dataclasses
import datetime
import hashlib
import json
import math
import os
import pathlib
import re
from collections.abc import Iterator, Mapping
from typing import Any

from .. import solvers as _solvers, suites as _suites
from ..observed import COST_RULE, DEFAULT_TARGETS, STOP_RULES


class CampaignError(ValueError):
    """A campaign description that cannot be run, with the reason."""


#: Most runs a campaign may plan (split a larger one into several campaigns).
MAX_RUNS = 1_000_000
#: Largest budget of a run, in cost units (the database's integers).
MAX_BUDGET = 2**63 - 1

CAMPAIGN_KEYS = {"name", "suite", "suites", "tests", "kind", "kinds", "budget", "repetitions", "targets", "stop",
                 "time_limit", "restarts", "solver"}
SOLVER_KEYS = {"name", "label", "options", "repetitions", "stop", "time_limit", "restarts"}


@dataclasses.dataclass(frozen=True)
class SolverEntry:
    label: str
    name: str
    options: Mapping[str, Any]
    version: str
    repetitions: int
    restarts: bool = False
    stop: str = "budget"
    time_limit: float | None = None

    def settings(self) -> dict[str, Any]:
        """What the entry sets besides its options (stored with it)."""
        return {"repetitions": self.repetitions, "restarts": self.restarts, "stop": self.stop,
                "time_limit": self.time_limit}


@dataclasses.dataclass(frozen=True)
class Campaign:
    """A checked campaign: everything needed to plan and run it."""

    name: str
    suites: tuple[_suites.Suite, ...]
    kinds: tuple[str, ...]
    budget: int | str
    repetitions: int
    targets: tuple[int, ...]
    solvers: tuple[SolverEntry, ...]
    stop: str = "budget"
    time_limit: float | None = None
    restarts: bool = False

    @property
    def suite(self) -> _suites.Suite:
        """The first suite (the only one of a campaign of one suite)."""
        return self.suites[0]

    @property
    def kind(self) -> str:
        return self.kinds[0]

    def members(self) -> list[_suites.SuiteMember]:
        """Every member, by suite as listed, then kind, then test."""
        return [m for s in self.suites for m in s.members(self.kinds)]

    def budget_of(self, member: _suites.SuiteMember) -> int:
        """The budget of a run on this member."""
        return budget_for(self.budget, member.dim)

    def planned(self) -> int:
        return len(self.members()) * sum(s.repetitions for s in self.solvers)

    def description(self) -> dict[str, Any]:
        """Everything that fixes the campaign's results, as plain data (stored in the database)."""
        d: dict[str, Any] = {
            "name": self.name, "suites": [s.description() for s in self.suites], "kinds": list(self.kinds),
            "budget": self.budget, "repetitions": self.repetitions, "targets": list(self.targets),
            "stop": self.stop, "time_limit": self.time_limit, "restarts": self.restarts,
            "solvers": [{"label": s.label, "name": s.name, "options": dict(s.options), "version": s.version,
                         **s.settings()} for s in self.solvers],
            "cost_rule": COST_RULE}
        if len(self.suites) == 1 and len(self.kinds) == 1:  # as readers of single-class campaigns know it
            d["suite"], d["kind"] = d["suites"][0], self.kinds[0]
        return d


_BUDGET_RULE = re.compile(r"\s*(?:([0-9]+)\s*\*\s*n|n\s*\*\s*([0-9]+))\s*")


def budget_for(rule: int | str, dim: int) -> int:
    """A budget rule (a number, or a text "K * n") for a member of dimension ``dim``."""
    if isinstance(rule, int):
        return rule
    found = _BUDGET_RULE.fullmatch(rule)
    assert found, rule
    return int(found.group(1) or found.group(2)) * dim


def _budget(v: Any, where: str) -> int | str:
    if isinstance(v, bool) or not isinstance(v, (int, str)):
        raise CampaignError(f"{where} must be a positive integer or a text such as \"1000 * n\", not {v!r}")
    if isinstance(v, int):
        if not 1 <= v <= MAX_BUDGET:
            raise CampaignError(f"{where} must be a positive integer below 2**63, not {v!r}")
        return v
    found = _BUDGET_RULE.fullmatch(v)
    if not found:
        raise CampaignError(f"{where}: {v!r} is not a budget rule such as \"1000 * n\" (n: the dimension)")
    k = int(found.group(1) or found.group(2))
    if not 1 <= k <= MAX_BUDGET // 1008:
        raise CampaignError(f"{where}: the factor of {v!r} must be a positive integer below 2**63 / 1008")
    return v


def _positive(d: Mapping[str, Any], key: str, default: Any = None) -> int:
    v = d.get(key, default)
    if isinstance(v, bool) or not isinstance(v, int) or not 1 <= v <= MAX_RUNS:
        raise CampaignError(f"key {key!r} must be an integer from 1 to {MAX_RUNS}, not {v!r}")
    return v


def _stop(v: Any, where: str) -> str:
    if v not in STOP_RULES:
        raise CampaignError(f"{where} must be one of {', '.join(repr(s) for s in STOP_RULES)}, not {v!r}")
    return v


def _time_limit(v: Any, where: str) -> float | None:
    if v is None:
        return None
    if isinstance(v, bool) or not isinstance(v, (int, float)) or not (0 < v <= 1e9):
        raise CampaignError(f"{where} must be a number of seconds above 0 (at most 1e9), not {v!r}")
    return v


def _flag(v: Any, where: str) -> bool:
    if not isinstance(v, bool):
        raise CampaignError(f"{where} must be true or false, not {v!r}")
    return v


def _plain(v: Any, where: str, depth: int = 0) -> None:
    """Refuses option values that do not keep in JSON or change meaning there (dates, times, NaN)."""
    if depth > 32:
        raise CampaignError(f"{where} is nested too deeply")
    if isinstance(v, (datetime.date, datetime.time)):
        raise CampaignError(f"{where} is a date or time ({v}); options are numbers, texts, true/false, lists "
                            "and tables")
    if isinstance(v, float) and not math.isfinite(v):
        raise CampaignError(f"{where} must be a finite number, not {v!r}")
    if isinstance(v, Mapping):
        for k, x in v.items():
            if not isinstance(k, str):
                raise CampaignError(f"{where} has a key that is not a text: {k!r}")
            _plain(x, f"{where}.{k}", depth + 1)
    elif isinstance(v, list):
        for i, x in enumerate(v):
            _plain(x, f"{where}[{i}]", depth + 1)
    elif not isinstance(v, (str, int, float, bool)) or v is None:
        raise CampaignError(f"{where} has a value of an unknown type: {v!r}")


def _one_or_list(d: Mapping[str, Any], one: str, many: str, default: list) -> list:
    if one in d and many in d:
        raise CampaignError(f"give {one!r} or {many!r}, not both")
    if many in d:
        v = d[many]
        if not isinstance(v, list) or not v:
            raise CampaignError(f"key {many!r} must be a non-empty list")
        return v
    return [d[one]] if one in d else default


def from_dict(d: Mapping[str, Any], base: pathlib.Path | None = None) -> Campaign:
    """Checks a campaign description and builds the campaign.

    Parameters
    ----------
    d : mapping
        The keys of a campaign file.
    base : pathlib.Path, optional
        The folder that suite files are named relative to (the campaign
        file's folder); default: the current folder.

    Returns
    -------
    Campaign
        The campaign, every key checked and every member generated once.

    Raises
    ------
    CampaignError
        Naming the faulty key, solver or option.

    Examples
    --------
    >>> from travo import campaign
    >>> c = campaign.from_dict({"name": "demo", "suite": "2-hard", "tests": [1, 2],
    ...                         "budget": "100 * n",
    ...                         "solver": [{"name": "direct-l"},
    ...                                    {"name": "random-search", "repetitions": 2}]})
    >>> c.planned(), c.budget_of(c.members()[0])
    (6, 200)
    """
    if not isinstance(d, Mapping):
        raise CampaignError("a campaign must be a table of keys")
    unknown = sorted(set(d) - CAMPAIGN_KEYS, key=str)
    if unknown:
        raise CampaignError(f"unknown key {unknown[0]!r} (known: {', '.join(sorted(CAMPAIGN_KEYS))})")
    name = d.get("name")
    if not isinstance(name, str) or not name.strip():
        raise CampaignError("key 'name' must be a non-empty string")
    if "suite" not in d and "suites" not in d:
        raise CampaignError("key 'suite' is missing (a class name such as \"2-hard\" or a table)")
    kinds = _one_or_list(d, "kind", "kinds", ["D"])
    if any(not isinstance(k, str) or k not in _suites.KINDS for k in kinds) or len(set(kinds)) != len(kinds):
        raise CampaignError(f"key 'kind' must be one of {', '.join(_suites.KINDS)} (or 'kinds' a list of distinct "
                            f"ones), not {kinds if 'kinds' in d else kinds[0]!r}")
    found = []
    try:
        for i, described in enumerate(_one_or_list(d, "suite", "suites", []), 1):
            suite = _suites.resolve(described, base, "suite" if "suite" in d else f"suite {i}")
            found.append(suite.with_tests(d["tests"]) if "tests" in d else suite)
    except _suites.SuiteError as e:
        raise CampaignError(str(e)) from None
    names = [s.name for s in found]
    if len(set(names)) != len(names):
        raise CampaignError(f"suite {next(n for n in names if names.count(n) > 1)!r} is listed twice")
    targets = d.get("targets", list(DEFAULT_TARGETS))
    if not isinstance(targets, list) or any(isinstance(k, bool) or not isinstance(k, int) or abs(k) > 300
                                            for k in targets):
        raise CampaignError("key 'targets' must be a list of integer exponents k from -300 to 300 (targets "
                            "f* + 10**k)")
    if "budget" not in d:
        raise CampaignError("key 'budget' is missing (cost per run: a number, or a text such as \"1000 * n\")")
    budget = _budget(d["budget"], "key 'budget'")
    repetitions = _positive(d, "repetitions", 1)
    stop = _stop(d.get("stop", "budget"), "key 'stop'")
    time_limit = _time_limit(d.get("time_limit"), "key 'time_limit'")
    restarts = _flag(d.get("restarts", False), "key 'restarts'")
    members = [m for s in found for m in s.members(kinds)]
    entries = d.get("solver")
    if not isinstance(entries, list) or not entries:
        raise CampaignError("at least one [[solver]] table is needed")
    built = []
    for i, s in enumerate(entries, 1):
        where = f"solver {i}" + (f" ({s['name']!r})" if isinstance(s, Mapping) and isinstance(s.get("name"), str)
                                 else "")
        try:
            built.append(_solver(s, d, repetitions, stop, time_limit, restarts, members, targets))
        except (CampaignError, _solvers.SolverError) as e:
            raise CampaignError(f"{where}: {e}") from None
    labels = [s.label for s in built]
    dupes = sorted({x for x in labels if labels.count(x) > 1})
    if dupes:
        raise CampaignError(f"solver label {dupes[0]!r} is used twice; give the entries distinct 'label's")
    c = Campaign(name=name, suites=tuple(found), kinds=tuple(kinds), budget=budget, repetitions=repetitions,
                 targets=tuple(sorted(set(targets), reverse=True)), solvers=tuple(built), stop=stop,
                 time_limit=time_limit, restarts=restarts)
    if c.planned() > MAX_RUNS:
        raise CampaignError(f"the campaign plans {c.planned()} runs; at most {MAX_RUNS} are allowed (split it into "
                            "several campaigns)")
    return c


def _solver(s: Any, d: Mapping[str, Any], repetitions: int, stop: str, time_limit: float | None, restarts: bool,
            members: list[_suites.SuiteMember], targets: list) -> SolverEntry:
    if not isinstance(s, Mapping):
        raise CampaignError("must be a table")
    unknown = sorted(set(s) - SOLVER_KEYS, key=str)
    if unknown:
        raise CampaignError(f"unknown key {unknown[0]!r} (known: {', '.join(sorted(SOLVER_KEYS))})")
    options = s.get("options", {})
    if not isinstance(options, Mapping):
        raise CampaignError("'options' must be a table")
    _plain(options, "option")
    a = _solvers.adapter(s.get("name"), options)
    without = sorted({m.kind for m in members} - set(_solvers.NEEDS[a.needs]))
    if without:
        raise CampaignError(f"needs {a.needs}s, which kind {without[0]} has none of")
    label = s.get("label", a.name)
    if not isinstance(label, str) or not label:
        raise CampaignError("'label' must be a non-empty string")
    entry = SolverEntry(label, a.name, dict(options), a.version, _positive(s, "repetitions", repetitions),
                        _flag(s.get("restarts", restarts), "'restarts'"), _stop(s.get("stop", stop), "'stop'"),
                        _time_limit(s.get("time_limit", time_limit), "'time_limit'"))
    if entry.stop == "target" and not targets:
        raise CampaignError("the stop rule 'target' needs at least one value target ('targets')")
    return entry


def load(path: str | os.PathLike) -> Campaign:
    """A campaign from a TOML (or JSON) file.

    Parameters
    ----------
    path : str or os.PathLike
        A regular file of at most 1 MiB with the keys of a campaign file;
        suite files are named relative to its folder.

    Returns
    -------
    Campaign
        As :func:`from_dict` gives it.

    Raises
    ------
    CampaignError
        Naming the file: unreadable, too large, not TOML or JSON, or a
        faulty key.
    """
    path = pathlib.Path(path)
    parsed = _suites.parse_file(path, _suites.read_file(path, "campaign", CampaignError), CampaignError)
    try:
        return from_dict(parsed, path.parent)
    except CampaignError as e:
        raise CampaignError(f"{path}: {e}") from None


def seed(campaign: str, solver: SolverEntry, member: _suites.SuiteMember, repetition: int) -> int:
    """The seed of one run.

    Parameters
    ----------
    campaign : str
        The campaign's name.
    solver : SolverEntry
        The solver entry: its label, name and options count.
    member : SuiteMember
        The member: its suite, kind and test number count.
    repetition : int
        From 1.

    Returns
    -------
    int
        63 bits of a SHA-256 of all of these: the same on every machine and
        with every executor. The run's generator is
        ``numpy.random.default_rng(seed)``.

    Examples
    --------
    >>> from travo import campaign
    >>> c = campaign.from_dict({"name": "demo", "suite": "2-hard", "tests": [1], "budget": 200,
    ...                         "solver": [{"name": "direct-l"}]})
    >>> campaign.seed(c.name, c.solvers[0], c.members()[0], 1)
    6008425834351968716
    """
    text = json.dumps([campaign, solver.label, solver.name, dict(solver.options), member.suite, member.kind,
                       member.test, repetition], sort_keys=True)
    return int.from_bytes(hashlib.sha256(text.encode()).digest()[:8], "little") >> 1


def seeds(campaign: str, solver: SolverEntry, member: _suites.SuiteMember, repetitions: int) -> list[int]:
    """seed(campaign, solver, member, r) for r = 1 to ``repetitions``, the common part of the text made once."""
    head = json.dumps([campaign, solver.label, solver.name, dict(solver.options), member.suite, member.kind,
                       member.test], sort_keys=True)[:-1] + ", "
    return [int.from_bytes(hashlib.sha256(f"{head}{r}]".encode()).digest()[:8], "little") >> 1
            for r in range(1, repetitions + 1)]


def plan(c: Campaign) -> Iterator[tuple[int, _suites.SuiteMember, int]]:
    """Every run of the campaign, in a fixed order.

    Parameters
    ----------
    c : Campaign
        The campaign.

    Returns
    -------
    iterator of tuple
        ``(solver index, member, repetition)``, ordered by solver as
        listed, then member, then repetition (from 1).
    """
    members = c.members()
    return ((i, m, r) for i, s in enumerate(c.solvers) for m in members for r in range(1, s.repetitions + 1))


def expected_work(budget: int, dim: int) -> int:
    """How long a run is expected to take, relative to the others: its budget times the member's dimension
    (what a solver and an evaluation do per point grows with it)."""
    return budget * dim


def work_order(c: Campaign) -> list[_suites.SuiteMember]:
    """The members in the order their runs are handed out: the longest expected first (ties as listed), so
    that the last runs of a campaign are short. Each member's runs go out together, solver as listed, then
    repetition, so that a worker generates a member once for all its solvers."""
    return sorted(c.members(), key=lambda m: -expected_work(c.budget_of(m), m.dim))


def solver_records(c: Campaign) -> list[dict[str, Any]]:
    """The solver entries as the database keeps them."""
    return [{"label": s.label, "name": s.name, "version": s.version, "options": dict(s.options),
             "settings": s.settings()} for s in c.solvers]


def member_records(c: Campaign) -> list[dict[str, Any]]:
    """The members as the database keeps them."""
    return [{"suite": m.suite, "kind": m.kind, "test": m.test, "parameters": m.parameters_dict(),
             "accuracy": m.accuracy} for m in c.members()]


__all__ = ["Campaign", "CampaignError", "MAX_BUDGET", "MAX_RUNS", "SolverEntry", "budget_for", "expected_work",
           "from_dict", "load", "member_records", "plan", "seed", "seeds", "solver_records", "work_order"]
