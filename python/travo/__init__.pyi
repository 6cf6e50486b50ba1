from typing import Any, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt
import scipy.optimize

from . import _travo
from ._errors import GenerationError as GenerationError
from ._errors import Status as Status
from .observed import BudgetExhausted as BudgetExhausted
from .observed import Observed as Observed
from .observed import observe as observe

__all__ = ["ERROR_VALUE", "BudgetExhausted", "GenerationError", "Member", "Objective", "Observed", "Parameters",
           "Status", "generate", "observe"]
__version__: str
ERROR_VALUE: float

_Bounds = Union[float, Sequence[float], npt.ArrayLike]

class Parameters:
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
        dim: Optional[int] = ...,
        num_minima: int = ...,
        global_value: float = ...,
        distance: Optional[float] = ...,
        radius: Optional[float] = ...,
        lower: Optional[_Bounds] = ...,
        upper: Optional[_Bounds] = ...,
        test_number: int = ...,
    ) -> None: ...
    @classmethod
    def in_cube(cls, dim: int, lo: float = ..., hi: float = ..., **kwargs: Any) -> Parameters: ...
    @classmethod
    def in_box(cls, lower: _Bounds, upper: _Bounds, **kwargs: Any) -> Parameters: ...
    def __eq__(self, other: object) -> bool: ...
    __hash__: None  # type: ignore[assignment]

class Member(_travo._Member):
    def __init__(self, params: Parameters) -> None: ...
    @property
    def parameters(self) -> Parameters: ...
    @property
    def minimizers(self) -> np.ndarray: ...
    @property
    def global_rows(self) -> np.ndarray: ...
    @property
    def global_minimizer(self) -> np.ndarray: ...
    @property
    def global_value(self) -> float: ...
    @property
    def vertex(self) -> np.ndarray: ...
    @property
    def lower(self) -> np.ndarray: ...
    @property
    def upper(self) -> np.ndarray: ...
    def objective(self, kind: str = ...) -> Objective: ...
    def solved(
        self,
        x: npt.ArrayLike,
        *,
        distance: Optional[float] = ...,
        value_tol: Optional[float] = ...,
        kind: str = ...,
    ) -> Union[bool, np.ndarray]: ...
    def __reduce__(self) -> Tuple[Any, ...]: ...
    def __copy__(self) -> Member: ...
    def __deepcopy__(self, memo: Any) -> Member: ...

class Objective:
    member: Member
    kind: str
    def __init__(self, member: Member, kind: str = ...) -> None: ...
    def fun(self, x: npt.ArrayLike) -> Any: ...
    def jac(self, x: npt.ArrayLike) -> np.ndarray: ...
    def hess(self, x: npt.ArrayLike) -> np.ndarray: ...
    def fun_and_jac(self, x: npt.ArrayLike) -> Tuple[Any, np.ndarray]: ...
    @property
    def bounds(self) -> scipy.optimize.Bounds: ...

def generate(params: Optional[Parameters] = ..., **kwargs: Any) -> Member: ...
