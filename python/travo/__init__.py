"""travo: test functions for global optimisation with known minima.

A member of the test class is a convex paraboloid over a box, changed inside
non-overlapping spherical attraction regions around local minimizers whose
places and values are known exactly. Three kinds share one construction:
non-differentiable ('ND'), continuously differentiable ('D') and twice
continuously differentiable ('D2').

    >>> import travo
    >>> f = travo.generate(travo.Parameters(num_minima=20, test_number=3))
    >>> f.value(f.global_minimizer)              # D2 kind by default
    -1.0
    >>> f.gradient([[0.1, -0.2], [0.5, 0.5]]).shape   # a batch of shape (..., 2)
    (2, 2)

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
    interface of the library (``travo::Parameters::resolve``). Attributes
    may be changed afterwards; :func:`generate` checks the whole.

    Parameters
    ----------
    dim : int, optional
        Dimension n, 2 to 1008. Default 2, or the number of bounds given.
    num_minima : int, optional
        Number of minima m, the paraboloid vertex counted. Default 10.
    global_value : float, optional
        The global minimum value, below -1e-10. Default -1.
    distance : float, optional
        Distance from the paraboloid vertex to the global minimizer.
        Default: a third of the box's shortest side.
    radius : float, optional
        Radius of the global minimizer's attraction region. Default: half
        the distance (just below it for boxes wider than about 1e6).
    lower, upper : float or sequence of float, optional
        The box: one bound per coordinate, or one for all. Default -1 and 1.
    test_number : int, optional
        Test number, 1 to 100. Default 1.

    Raises
    ------
    TypeError
        For a count that is not an integer or bounds that are not real.
    GenerationError
        For a dimension outside 2..1008 or bounds of neither one nor ``dim``
        entries (the rest is checked by :func:`generate`).

    Examples
    --------
    >>> p = travo.Parameters(dim=3, num_minima=20)
    >>> p.lower, p.distance, p.radius
    ((-1.0, -1.0, -1.0), 0.6666666666666666, 0.3333333333333333)
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
        """The defaults over the box [lo, hi]^dim.

        Parameters
        ----------
        dim : int
            Dimension.
        lo, hi : float
            Bounds of every coordinate.
        **kwargs
            Other parameters, as for :class:`Parameters`.

        Examples
        --------
        >>> travo.Parameters.in_cube(4, 0.0, 3.0, num_minima=40).distance
        1.0
        """
        return cls(dim=dim, lower=lo, upper=hi, **kwargs)

    @classmethod
    def in_box(cls, lower: _Bounds, upper: _Bounds, **kwargs: Any) -> "Parameters":
        """The defaults over the box [lower, upper].

        Parameters
        ----------
        lower, upper : sequence of float
            One bound per coordinate (or one for all).
        **kwargs
            Other parameters, as for :class:`Parameters`.

        Examples
        --------
        >>> travo.Parameters.in_box([0, 0], [4, 1]).dim
        2
        """
        return cls(lower=lower, upper=upper, **kwargs)


def _read_only(array: np.ndarray) -> np.ndarray:
    """A copy over immutable bytes, which cannot be made writeable again (as the compiled tables)."""
    return np.frombuffer(array.tobytes(), dtype=array.dtype).reshape(array.shape)


class Member(_travo._Member):
    """One generated member of the test class; immutable.

    Build it with :func:`generate`. Row 0 of the minima table is the
    paraboloid vertex, row 1 the global minimizer that the parameters place,
    rows 2..m-1 the other local minimizers. Evaluation (``value``,
    ``gradient``, ``hessian``, ``value_and_gradient``, ``region``,
    ``contains``) takes one point of shape (n,) or a batch of shape (..., n).
    A member pickles as its parameters and is generated again on loading,
    with the same bits.

    Parameters
    ----------
    params : Parameters
        The parameters to generate from.

    Raises
    ------
    GenerationError
        When the generator refuses the parameters.

    Examples
    --------
    >>> f = travo.generate(num_minima=20, test_number=3)
    >>> f.minimizers.shape, f.global_rows
    ((20, 2), array([1]))
    >>> f.value([0.1, -0.2], "ND") == f.value([[0.1, -0.2]], "ND")[0]
    True
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
            array = self.__dict__[name] = make()
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
        return self._cached("_lower", lambda: _read_only(np.array(self._parameters()["lower"], dtype=np.float64)))

    @property
    def upper(self) -> np.ndarray:
        """Upper bounds of the box, shape (n,), read-only."""
        return self._cached("_upper", lambda: _read_only(np.array(self._parameters()["upper"], dtype=np.float64)))

    def objective(self, kind: str = "D2") -> "Objective":
        """The member as a scipy.optimize objective.

        Parameters
        ----------
        kind : str
            'ND', 'D' or 'D2' (any case).

        Returns
        -------
        Objective

        Raises
        ------
        ValueError
            For an unknown kind.
        """
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

        A point outside the box is never solved. This is the test of the
        tool's ``locate`` and of the campaigns' hits.

        Parameters
        ----------
        x : array_like
            One point of shape (n,) or a batch of shape (..., n).
        rule : {"box", "distance", "value"}, optional
            ``"box"``, the class rule of benchmarking: every coordinate i
            lies within ``accuracy**(1/n) * (upper[i] - lower[i])`` of the
            same global minimizer. ``"distance"``: within ``distance``
            (Euclidean) of a global minimizer. ``"value"``: the value of
            ``kind`` is at most the global value + ``value_tol``. Left out:
            "box" when an accuracy is given or known from the member's
            suite, "value" with ``value_tol``, else "distance".
        accuracy : float, optional
            The box rule's accuracy, in (0, 1); default the member's
            suite's (:attr:`accuracy`).
        distance : float, optional
            The distance rule's tolerance; default 1e-6 times the global
            minimizer's radius.
        value_tol : float, optional
            The value rule's tolerance; default 0.
        kind : str
            The kind whose value the value rule compares.

        Returns
        -------
        bool or numpy.ndarray
            A bool for one point, a bool array of shape (...) for a batch.

        Raises
        ------
        ValueError
            For an unknown rule, both ``distance`` and ``value_tol`` without
            a rule, the box rule without an accuracy, or a tolerance out of
            its range.

        Examples
        --------
        >>> f = travo.generate()
        >>> f.solved(f.global_minimizer), f.solved(f.vertex)
        (True, False)
        >>> f.solved([f.global_minimizer + 1e-3, f.vertex], distance=0.01)
        array([ True, False])
        >>> f.solved(f.global_minimizer + 1e-3, "box", accuracy=1e-4)
        True
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

    Parameters
    ----------
    member : Member
        The member.
    kind : str
        'ND', 'D' or 'D2' (any case).

    Examples
    --------
    >>> import scipy.optimize
    >>> obj = travo.generate().objective("D2")
    >>> res = scipy.optimize.minimize(obj.fun, [0.2, 0.1], jac=obj.jac, bounds=obj.bounds)
    >>> res = scipy.optimize.minimize(obj.fun_and_jac, [0.2, 0.1], jac=True, bounds=obj.bounds)
    >>> res = scipy.optimize.minimize(obj.fun, [0.2, 0.1], jac=obj.jac, hess=obj.hess, method="trust-constr")
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
    """Generate the member fixed by ``params``, or by keywords of Parameters.

    Parameters
    ----------
    params : Parameters, optional
        The parameters; left out, the keywords make them.
    **kwargs
        Keywords of :class:`Parameters`, when ``params`` is left out.

    Returns
    -------
    Member

    Raises
    ------
    GenerationError
        A ValueError naming the status and the broken rule when the
        generator refuses the parameters.
    TypeError
        When both ``params`` and keywords are given.

    Examples
    --------
    >>> f = travo.generate(dim=5, num_minima=40, test_number=7)
    >>> f.dim, f.num_minima, f.global_value
    (5, 40, -1.0)
    >>> travo.generate(distance=1.5)
    Traceback (most recent call last):
    ...
    travo.GenerationError: status 6 (bad global distance): ...
    """
    if params is None:
        params = Parameters(**kwargs)
    elif kwargs:
        raise TypeError("generate takes a Parameters or keywords, not both")
    return Member(params)
