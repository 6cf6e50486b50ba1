"""travo: test functions for global optimisation with known minima.

A member of the test class is a convex paraboloid over a box, changed inside
non-overlapping spherical attraction regions around local minimizers whose
places and values are known exactly. Three kinds share one construction:
non-differentiable ('ND'), continuously differentiable ('D') and twice
continuously differentiable ('D2').

    >>> import travo
    >>> f = travo.generate(travo.Parameters(num_minima=20, test_number=3))
    >>> f.value([0.1, -0.2])                    # D2 kind by default
    >>> f.gradient(points)                      # points of shape (..., 2)
    >>> f.global_minimizer, f.minimum_values    # the known minima

Every result has the bits of the C++ interface for the same parameters.
"""

from __future__ import annotations

import dataclasses
import operator
from typing import TYPE_CHECKING, Any, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _travo
from ._errors import GenerationError, Status
from .observed import BudgetExhausted, Observed, observe

if TYPE_CHECKING:
    import scipy.optimize

__all__ = ["ERROR_VALUE", "BudgetExhausted", "GenerationError", "Member", "Objective", "Observed", "Parameters",
           "Status", "generate", "observe"]
__version__: str = _travo.__version__

#: Value of a point more than 1e-10 outside the box (gradients and Hessians
#: are filled with it).
ERROR_VALUE: float = 1e100

_Bounds = Union[float, Sequence[float], npt.ArrayLike]


def _integer(name: str, value: Any, lo: int, hi: int) -> int:
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer; got {type(value).__name__}") from None
    if not lo <= number <= hi:
        raise ValueError(f"{name} must be an integer from {lo} to {hi}; got {number}")
    return number


def _bounds(name: str, value: Any) -> Tuple[float, ...]:
    array = np.asarray(value)
    if array.dtype.kind not in "biuf":
        raise TypeError(f"{name} must hold real numbers; got an array of dtype {array.dtype}")
    if array.ndim > 1:
        raise ValueError(f"{name} must be one bound per coordinate, shape (n,), or one for all; got shape "
                         f"{array.shape}")
    return tuple(float(v) for v in array.reshape(-1))


@dataclasses.dataclass(init=False)
class Parameters:
    """Everything that fixes a member, with the library's defaults.

    Every keyword may be left out. What is left out is derived as in every
    interface of the library: dimension 2 (or the number of bounds), 10
    minima, global value -1, box [-1, 1] in every coordinate, the distance
    from the vertex to the global minimizer a third of the shortest box
    side, the radius of its region half the distance, test number 1.
    ``lower``/``upper`` hold one bound per coordinate, or one for all.
    Attributes may be changed afterwards; ``generate`` checks the whole.
    """

    dim: int
    num_minima: int
    global_value: float
    distance: float
    radius: float
    lower: Tuple[float, ...]
    upper: Tuple[float, ...]
    test_number: int

    def __init__(
        self,
        *,
        dim: Optional[int] = None,
        num_minima: Optional[int] = None,
        global_value: Optional[float] = None,
        distance: Optional[float] = None,
        radius: Optional[float] = None,
        lower: Optional[_Bounds] = None,
        upper: Optional[_Bounds] = None,
        test_number: Optional[int] = None,
    ) -> None:
        def given(value: Any, read: Any) -> Any:
            return None if value is None else read(value)

        resolved = _travo._resolve(
            dim=given(dim, lambda v: _integer("dim", v, 0, 2**32 - 1)),
            num_minima=given(num_minima, lambda v: _integer("num_minima", v, 0, 2**32 - 1)),
            global_value=given(global_value, float),
            distance=given(distance, float),
            radius=given(radius, float),
            lower=given(lower, lambda v: _bounds("lower", v)),
            upper=given(upper, lambda v: _bounds("upper", v)),
            test_number=given(test_number, lambda v: _integer("test_number", v, -(2**31), 2**31 - 1)))
        for field in dataclasses.fields(self):
            setattr(self, field.name, resolved[field.name])

    @classmethod
    def in_cube(cls, dim: int, lo: float = -1.0, hi: float = 1.0, **kwargs: Any) -> "Parameters":
        """Defaults over the box [lo, hi]^dim; other parameters as keywords."""
        return cls(dim=dim, lower=lo, upper=hi, **kwargs)

    @classmethod
    def in_box(cls, lower: _Bounds, upper: _Bounds, **kwargs: Any) -> "Parameters":
        """Defaults over the box [lower, upper]; other parameters as keywords."""
        return cls(lower=lower, upper=upper, **kwargs)


def _read_only(array: np.ndarray) -> np.ndarray:
    array.flags.writeable = False
    return array


class Member(_travo._Member):
    """One generated member of the test class; immutable.

    Build it with :func:`generate`. Row 0 of the minima table is the
    paraboloid vertex, row 1 the global minimizer that the parameters place,
    rows 2..m-1 the other local minimizers. Evaluation (``value``,
    ``gradient``, ``hessian``, ``value_and_gradient``, ``region``,
    ``contains``) takes one point of shape (n,) or a batch of shape (..., n).
    A member pickles as its parameters and is generated again on loading,
    with the same bits.
    """

    def __init__(self, params: Parameters) -> None:
        super().__init__(**dataclasses.asdict(params))

    @property
    def parameters(self) -> Parameters:
        """The parameters of the member (a fresh copy)."""
        return Parameters(**self._parameters())

    def _cached(self, name: str, make: Any) -> np.ndarray:
        array = self.__dict__.get(name)
        if array is None:
            array = self.__dict__[name] = _read_only(make())
        return array

    @property
    def minimizers(self) -> np.ndarray:
        """Coordinates of every minimizer, shape (m, n), read-only."""
        return self._cached("_minimizers_table", self._minimizers)

    @property
    def global_rows(self) -> np.ndarray:
        """Rows of the minima table whose value is the global value (within 1e-10), increasing."""
        return self._cached("_global_rows_table", self._global_rows)

    @property
    def global_minimizer(self) -> np.ndarray:
        """The global minimizer that the parameters place (row 1), shape (n,)."""
        return self.minimizers[1]

    @property
    def global_value(self) -> float:
        """The global minimum value (that of row 1)."""
        return float(self.minimum_values[1])

    @property
    def vertex(self) -> np.ndarray:
        """The paraboloid's vertex (row 0), shape (n,)."""
        return self.minimizers[0]

    @property
    def lower(self) -> np.ndarray:
        """Lower bounds of the box, shape (n,), read-only."""
        return self._cached("_lower", lambda: np.array(self._parameters()["lower"], dtype=np.float64))

    @property
    def upper(self) -> np.ndarray:
        """Upper bounds of the box, shape (n,), read-only."""
        return self._cached("_upper", lambda: np.array(self._parameters()["upper"], dtype=np.float64))

    def objective(self, kind: str = "D2") -> "Objective":
        """The member as a scipy.optimize objective of the given kind."""
        return Objective(self, kind)

    @property
    def accuracy(self) -> Optional[float]:
        """The box rule's accuracy of the suite the member came from (``travo.suites``), or None."""
        return self.__dict__.get("_accuracy")

    def solved(
        self,
        x: npt.ArrayLike,
        rule: Optional[str] = None,
        *,
        accuracy: Optional[float] = None,
        distance: Optional[float] = None,
        value_tol: Optional[float] = None,
        kind: str = "D2",
    ) -> Union[bool, np.ndarray]:
        """Whether a point counts as a global minimizer, by one of three rules.

        ``rule="box"``, the class rule of benchmarking: every coordinate i
        lies within ``accuracy**(1/n) * (upper[i] - lower[i])`` of the same
        global minimizer (``accuracy``: given, or the member's suite's).
        ``rule="distance"``: within ``distance`` (Euclidean) of a global
        minimizer (default 1e-6 times the global minimizer's radius).
        ``rule="value"``: the value of ``kind`` is at most the global value +
        ``value_tol``. Without ``rule``: "box" when an accuracy is given or
        known from the suite, "value" with ``value_tol``, else "distance".
        A point outside the box is never solved. This is the test of the
        tool's ``locate`` and of the campaigns' hits. A bool for one point, a
        bool array of shape (...) for a batch of shape (..., n).
        """
        if rule is None:
            if value_tol is not None and distance is not None:
                raise ValueError("solved takes distance or value_tol, not both")
            rule = ("value" if value_tol is not None else "distance" if distance is not None else
                    "box" if accuracy is not None or self.accuracy is not None else "distance")
        if rule == "box":
            tolerance = accuracy if accuracy is not None else self.accuracy
            if tolerance is None:
                raise ValueError("the box rule needs an accuracy (this member did not come from a suite)")
        elif rule == "distance":
            tolerance = 1e-6 * float(self.radii[1]) if distance is None else distance
        elif rule == "value":
            tolerance = 0.0 if value_tol is None else value_tol
        else:
            raise ValueError(f"rule must be 'box', 'distance' or 'value'; got {rule!r}")
        return _travo._solved(self, x, rule, float(tolerance), kind)

    def __reduce__(self) -> Tuple[Any, ...]:
        if self.accuracy is not None:
            return (generate, (self.parameters,), {"_accuracy": self.accuracy})
        return (generate, (self.parameters,))

    def __copy__(self) -> "Member":
        return self

    def __deepcopy__(self, memo: Any) -> "Member":
        return self

    def __repr__(self) -> str:
        return f"<travo.Member {self.parameters!r}>"


class Objective:
    """A member of one kind as a scipy.optimize objective.

        obj = member.objective("D2")
        scipy.optimize.minimize(obj.fun, x0, jac=obj.jac, bounds=obj.bounds)
        scipy.optimize.minimize(obj.fun_and_jac, x0, jac=True, bounds=obj.bounds)
        scipy.optimize.minimize(obj.fun, x0, jac=obj.jac, hess=obj.hess, method="trust-constr")
    """

    def __init__(self, member: Member, kind: str = "D2") -> None:
        member.value(member.vertex, kind)  # refuses an unknown kind here
        self.member = member
        self.kind = kind

    def fun(self, x: npt.ArrayLike) -> Union[float, np.ndarray]:
        """Value at x."""
        return self.member.value(x, self.kind)

    def jac(self, x: npt.ArrayLike) -> np.ndarray:
        """Gradient at x (kinds D and D2)."""
        return self.member.gradient(x, self.kind)

    def hess(self, x: npt.ArrayLike) -> np.ndarray:
        """Hessian at x (kind D2)."""
        return self.member.hessian(x, self.kind)

    def fun_and_jac(self, x: npt.ArrayLike) -> Tuple[Any, np.ndarray]:
        """Value and gradient at x, for ``jac=True``."""
        return self.member.value_and_gradient(x, self.kind)

    @property
    def bounds(self) -> "scipy.optimize.Bounds":
        """The box as a scipy.optimize.Bounds."""
        import scipy.optimize

        return scipy.optimize.Bounds(np.array(self.member.lower), np.array(self.member.upper))

    def __repr__(self) -> str:
        return f"Objective({self.member!r}, kind={self.kind!r})"


def generate(params: Optional[Parameters] = None, **kwargs: Any) -> Member:
    """Generate the member fixed by ``params`` (or by keywords of Parameters).

    Raises GenerationError (a ValueError) naming the status and the broken
    rule when the parameters are refused.
    """
    if params is None:
        params = Parameters(**kwargs)
    elif kwargs:
        raise TypeError("generate takes a Parameters or keywords, not both")
    return Member(params)
