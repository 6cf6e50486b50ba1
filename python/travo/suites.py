"""Suites: named collections of members for benchmarking.

A suite fixes everything but the test number (and possibly the kind) of its
members. Iterating over a suite gives :class:`SuiteMember` entries, each with
a stable identifier such as ``"2-hard/D/17"`` that names the same member in
every session and on every machine.

The eight standard classes (``"2-simple"`` ... ``"5-hard"``) have 100 members
each (test numbers 1 to 100), 10 minima, global value -1, box [-1, 1]^n and
the accuracy ``delta`` used by their box rule. User suites come from a small
TOML or JSON file, or from a dict with the same keys::

    name = "my-suite"
    dim = 3
    num_minima = 20
    global_value = -1.0
    distance = 0.6        # default: the shortest box side / 3
    radius = 0.2          # default: half the distance
    lower = -1.0          # a number (every coordinate) or one per coordinate
    upper = 1.0
    accuracy = 1e-6       # delta of the box rule
    tests = [1, 2, 3]     # default 1 to 100
    kinds = ["D", "D2"]   # default: the campaign's kinds

A member may hold at most 10**6 coordinates (dim * num_minima), and a suite
file at most 1 MiB; only regular files are read.
"""

from __future__ import annotations

import dataclasses
import json
import math
import os
import pathlib
import stat
import tomllib
from collections.abc import Iterator, Mapping, Sequence
from typing import Any

KINDS = ("ND", "D", "D2")

#: Largest campaign or suite file read, in bytes.
MAX_FILE_BYTES = 1 << 20

#: Largest member of a user suite: dim * num_minima coordinates.
MAX_COORDINATES = 10**6


class SuiteError(ValueError):
    """A suite description that cannot be used, with the reason."""


@dataclasses.dataclass(frozen=True)
class SuiteMember:
    """One member of a suite: its suite, test number, kind and parameters."""

    suite: str
    test: int
    kind: str
    dim: int
    num_minima: int
    global_value: float
    distance: float
    radius: float
    lower: tuple[float, ...]
    upper: tuple[float, ...]
    accuracy: float

    @property
    def id(self) -> str:
        """Stable identifier, ``suite/kind/test``."""
        return f"{self.suite}/{self.kind}/{self.test}"

    def parameters_dict(self) -> dict[str, Any]:
        """The generator parameters, as plain numbers (for storage)."""
        return {"dim": self.dim, "num_minima": self.num_minima, "global_value": self.global_value,
                "distance": self.distance, "radius": self.radius, "lower": list(self.lower),
                "upper": list(self.upper), "test_number": self.test}

    def parameters(self):
        import travo
        return travo.Parameters(**self.parameters_dict())

    def generate(self):
        """The generated member (a ``travo.Member`` whose ``solved`` uses this suite's box rule)."""
        import travo
        member = travo.generate(self.parameters())
        member.__dict__["_accuracy"] = self.accuracy
        return member


@dataclasses.dataclass(frozen=True)
class Suite:
    """A named class of members: one parameter set over several tests and kinds."""

    name: str
    dim: int
    num_minima: int
    global_value: float
    distance: float
    radius: float
    lower: tuple[float, ...]
    upper: tuple[float, ...]
    accuracy: float
    tests: tuple[int, ...] = tuple(range(1, 101))
    kinds: tuple[str, ...] | None = None

    def members(self, kind: str | Sequence[str] | None = None) -> list[SuiteMember]:
        """Members in a fixed order: by kind as listed, then by test number as listed.

        ``kind`` (one kind or a list) is used when the suite does not fix its
        kinds (default "D").
        """
        asked = (kind,) if isinstance(kind, str) else tuple(kind or ("D",))
        kinds = self.kinds if self.kinds is not None else asked
        if self.kinds is None and any(k not in KINDS for k in asked):
            raise SuiteError(f"kind {next(k for k in asked if k not in KINDS)!r} is not one of {', '.join(KINDS)}")
        return [SuiteMember(self.name, t, k, self.dim, self.num_minima, self.global_value, self.distance,
                            self.radius, self.lower, self.upper, self.accuracy)
                for k in kinds for t in self.tests]

    def __iter__(self) -> Iterator[SuiteMember]:
        return iter(self.members())

    def __len__(self) -> int:
        return len(self.tests) * (len(self.kinds) if self.kinds is not None else 1)

    def with_tests(self, tests: Sequence[int]) -> "Suite":
        """The same suite restricted to the given test numbers (checked, in the given order)."""
        return dataclasses.replace(self, tests=_tests(tests, "tests"))

    def description(self) -> dict[str, Any]:
        """Everything that defines the suite, as plain data."""
        d = dataclasses.asdict(self)
        d["lower"], d["upper"], d["tests"] = list(self.lower), list(self.upper), list(self.tests)
        d["kinds"] = None if self.kinds is None else list(self.kinds)
        return d


def _standard(name: str, dim: int, distance: float, radius: float, accuracy: float) -> Suite:
    return Suite(name, dim, 10, -1.0, distance, radius, (-1.0,) * dim, (1.0,) * dim, accuracy)


STANDARD: dict[str, Suite] = {s.name: s for s in (
    _standard("2-simple", 2, 0.90, 0.20, 1e-4),
    _standard("2-hard", 2, 0.90, 0.10, 1e-4),
    _standard("3-simple", 3, 0.66, 0.20, 1e-6),
    _standard("3-hard", 3, 0.90, 0.20, 1e-6),
    _standard("4-simple", 4, 0.66, 0.20, 1e-6),
    _standard("4-hard", 4, 0.90, 0.20, 1e-6),
    _standard("5-simple", 5, 0.66, 0.30, 1e-7),
    _standard("5-hard", 5, 0.66, 0.20, 1e-7),
)}


def standard(name: str) -> Suite:
    """One of the eight standard classes, by name.

    Parameters
    ----------
    name : str
        ``"2-simple"``, ``"2-hard"`` ... ``"5-hard"``.

    Returns
    -------
    Suite
        The class: 100 members, test numbers 1 to 100.

    Raises
    ------
    SuiteError
        For any other name.

    Examples
    --------
    >>> from travo import suites
    >>> s = suites.standard("3-hard")
    >>> s.dim, s.distance, s.radius, s.accuracy, len(s.tests)
    (3, 0.9, 0.2, 1e-06, 100)
    >>> s.members()[16].id
    '3-hard/D/17'
    """
    try:
        return STANDARD[name]
    except KeyError:
        raise SuiteError(f"unknown suite {name!r}; the standard classes are {', '.join(STANDARD)}") from None


def _number(d: Mapping[str, Any], key: str, default: Any = None) -> float:
    v = d.get(key, default)
    if v is None:
        raise SuiteError(f"key {key!r} is missing")
    if isinstance(v, bool) or not isinstance(v, (int, float)) or not math.isfinite(v):
        raise SuiteError(f"key {key!r} must be a finite number, not {v!r}")
    return float(v)


def _integer(d: Mapping[str, Any], key: str, default: Any = None, low: int = 1, high: int | None = None) -> int:
    v = d.get(key, default)
    if v is None:
        raise SuiteError(f"key {key!r} is missing")
    if isinstance(v, bool) or not isinstance(v, int) or v < low or (high is not None and v > high):
        bound = f"from {low} to {high}" if high is not None else f"at least {low}"
        raise SuiteError(f"key {key!r} must be an integer {bound}, not {v!r}")
    return v


def _tests(v: Any, key: str) -> tuple[int, ...]:
    if not isinstance(v, (list, tuple)) or not v:
        raise SuiteError(f"key {key!r} must be a non-empty list of test numbers from 1 to 100")
    for t in v:
        if isinstance(t, bool) or not isinstance(t, int) or not 1 <= t <= 100:
            raise SuiteError(f"key {key!r}: test number {t!r} is not an integer from 1 to 100")
    if len(set(v)) != len(v):
        raise SuiteError(f"key {key!r} lists a test number twice")
    return tuple(v)


def _bounds(d: Mapping[str, Any], key: str, dim: int, default: float) -> tuple[float, ...]:
    v = d.get(key, default)
    if isinstance(v, (list, tuple)):
        if len(v) != dim:
            raise SuiteError(f"key {key!r} has {len(v)} bounds for dimension {dim}")
        return tuple(_number({key: x}, key) for x in v)
    return (_number(d, key, default),) * dim


SUITE_KEYS = {"name", "dim", "num_minima", "global_value", "distance", "radius", "lower", "upper", "accuracy",
              "tests", "kinds", "kind"}


def from_dict(d: Mapping[str, Any], where: str = "suite") -> Suite:
    """A user suite from a dict with the keys of a suite file.

    Parameters
    ----------
    d : mapping
        The keys of a suite file (see the module's description).
    where : str
        What the errors name: the file, or the place in a campaign.

    Returns
    -------
    Suite
        The suite, checked, with every member generated once to check it.

    Raises
    ------
    SuiteError
        Naming ``where`` and the faulty key.

    Examples
    --------
    >>> from travo import suites
    >>> s = suites.from_dict({"name": "mine", "dim": 4, "num_minima": 20, "tests": [1, 2]})
    >>> s.distance, s.radius, [m.id for m in s.members()]
    (0.6666666666666666, 0.3333333333333333, ['mine/D/1', 'mine/D/2'])
    """
    try:
        if not isinstance(d, Mapping):
            raise SuiteError("a suite must be a table of keys")
        unknown = sorted(set(d) - SUITE_KEYS)
        if unknown:
            raise SuiteError(f"unknown key {unknown[0]!r} (known: {', '.join(sorted(SUITE_KEYS))})")
        name = d.get("name")
        if not isinstance(name, str) or not name or "/" in name:
            raise SuiteError("key 'name' must be a non-empty string without '/'")
        if name in STANDARD:
            raise SuiteError(f"name {name!r} is taken by a standard class")
        dim = _integer(d, "dim", low=2, high=1008)
        num_minima = _integer(d, "num_minima", 10, low=2, high=MAX_COORDINATES // dim)
        lower, upper = _bounds(d, "lower", dim, -1.0), _bounds(d, "upper", dim, 1.0)
        kinds = d.get("kinds", [d["kind"]] if "kind" in d else None)
        if kinds is not None:
            if not isinstance(kinds, (list, tuple)) or not kinds or any(k not in KINDS for k in kinds) \
                    or len(set(kinds)) != len(kinds):
                raise SuiteError(f"key 'kinds' must list distinct kinds among {', '.join(KINDS)}")
            kinds = tuple(kinds)
        # A distance or radius left out is derived as by every interface.
        import travo
        derived = travo.Parameters(dim=dim, lower=lower, upper=upper,
                                   distance=_number(d, "distance") if "distance" in d else None,
                                   radius=_number(d, "radius") if "radius" in d else None)
        suite = Suite(name=name, dim=dim, num_minima=num_minima,
                      global_value=_number(d, "global_value", -1.0),
                      distance=derived.distance, radius=derived.radius, lower=lower, upper=upper, accuracy=_number(d, "accuracy", 1e-4),
                      tests=_tests(d.get("tests", list(range(1, 101))), "tests"), kinds=kinds)
        if not 0 < suite.accuracy < 1:
            raise SuiteError(f"key 'accuracy' must lie in (0, 1), not {suite.accuracy!r}")
        _check_generates(suite)
        return suite
    except SuiteError as e:
        raise SuiteError(f"{where}: {e}") from None


def _check_generates(suite: Suite) -> None:
    """Refuses parameters the generator refuses, with its rule, before anything is run."""
    for m in suite.members(kind="D"):
        try:
            m.generate()
        except ValueError as e:
            raise SuiteError(f"test {m.test}: the generator refuses the parameters: {e}") from None


def load(path: str | pathlib.Path) -> Suite:
    """A user suite from a ``.toml`` or ``.json`` file.

    Parameters
    ----------
    path : str or pathlib.Path
        A regular file of at most 1 MiB, with the keys of a suite file.

    Returns
    -------
    Suite
        As :func:`from_dict` gives it.

    Raises
    ------
    SuiteError
        Naming the file: unreadable, too large, not TOML or JSON, or a
        faulty key.
    """
    path = pathlib.Path(path)
    return from_dict(parse_file(path, read_file(path, "suite", SuiteError), SuiteError), str(path))


def read_file(path: pathlib.Path, what: str, error: type[Exception]) -> bytes:
    """The bytes of a regular file of at most MAX_FILE_BYTES, read without waiting on a pipe or a device."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as e:
        raise error(f"{path}: cannot read the {what} file: {e.strerror}") from None
    try:
        st = os.fstat(fd)
        if not stat.S_ISREG(st.st_mode):
            raise error(f"{path}: the {what} file is not a regular file")
        if st.st_size > MAX_FILE_BYTES:
            raise error(f"{path}: the {what} file is larger than {MAX_FILE_BYTES} bytes")
        with os.fdopen(os.dup(fd), "rb") as f:
            data = f.read(MAX_FILE_BYTES + 1)
        if len(data) > MAX_FILE_BYTES:
            raise error(f"{path}: the {what} file is larger than {MAX_FILE_BYTES} bytes")
        return data
    except OSError as e:
        raise error(f"{path}: cannot read the {what} file: {e.strerror}") from None
    finally:
        os.close(fd)


def parse_file(path: pathlib.Path, data: bytes, error: type[Exception]) -> Any:
    """Parses TOML or JSON by the file's extension, raising ``error`` with the position of a syntax fault."""
    kind = path.suffix.lower()
    if kind not in (".json", ".toml"):
        raise error(f"{path}: unknown file type {path.suffix!r} (use .toml or .json)")
    try:
        text = data.decode("utf-8")
        return json.loads(text) if kind == ".json" else tomllib.loads(text)
    except UnicodeDecodeError:
        raise error(f"{path}: not UTF-8 text") from None
    except RecursionError:
        raise error(f"{path}: not valid {kind[1:].upper()}: nested too deeply") from None
    except ValueError as e:  # syntax, and numbers too long to read
        raise error(f"{path}: not valid {kind[1:].upper()}: {e}") from None


def resolve(described: Any, base: pathlib.Path | None = None, where: str = "suite") -> Suite:
    """A suite from a campaign's ``suite`` entry: a standard class name, a table describing a user
    suite, or a table ``{file = "path"}`` naming a suite file (relative to ``base``)."""
    if isinstance(described, Suite):
        return described
    if isinstance(described, str):
        try:
            return standard(described)
        except SuiteError as e:
            raise SuiteError(f"{where}: {e}") from None
    if isinstance(described, Mapping) and set(described) == {"file"} and isinstance(described["file"], str):
        p = pathlib.Path(described["file"])
        return load(p if p.is_absolute() or base is None else base / p)
    return from_dict(described, where)
