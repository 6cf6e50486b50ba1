"""Observed runs: a member and a kind wrapped for one run of an optimiser.

The bookkeeping (counters, budget, best point, first hits of the targets) is
done by the compiled class ``travo.Observed``; this module gives it its
defaults and the stop rules of campaigns.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import numpy as np

from ._travo import BudgetExhausted, Observed

#: Exponents k of the default value targets f* + 10**k.
DEFAULT_TARGETS: tuple[int, ...] = (1, 0, -1, -2, -3, -4, -5, -6, -7, -8)

#: The cost of one call, in value evaluations: a value 1, a gradient n, a
#: Hessian n(n+1)/2 (what the same information costs by finite differences).
COST_RULE = "value 1, gradient n, Hessian n(n+1)/2"

#: How a run may end besides its budget: at its first box-rule hit, or when the best value meets the last
#: (tightest) value target.
STOP_RULES = ("budget", "hit", "target")


class StopRuleMet(BudgetExhausted):
    """The run's stop rule ended it: the point that met the rule is the last one counted."""


class Stopping:
    """An observed problem whose run ends at the first point that meets its stop rule.

    The point that meets the rule (a box-rule hit for "hit"; a value within
    the last value target for "target") is the last one charged and
    counted; the call raises StopRuleMet, as does every later one. A batch
    is charged up to that point only, so the hit and the counters are those
    of a run that went on. Everything else is the wrapped Observed's.
    """

    def __init__(self, observed: Observed, rule: str, accuracy: float) -> None:
        if rule == "target" and not observed.target_levels:
            raise ValueError("the stop rule 'target' needs at least one value target")
        self._observed, self._rule, self._accuracy, self._met = observed, rule, accuracy, False

    def __getattr__(self, name: str) -> Any:
        return getattr(self._observed, name)

    @property
    def met(self) -> bool:
        """Whether the stop rule ended the run."""
        return self._met

    def _reached(self) -> bool:
        o = self._observed
        return o.hit is not None if self._rule == "hit" else o.target_hits[-1] is not None

    def _meets(self, points: np.ndarray) -> np.ndarray:
        """Whether each point of (k, n) would meet the rule, from the member's own (uncharged) answers."""
        o = self._observed
        if self._rule == "hit":
            return np.asarray(o.member.solved(points, "box", accuracy=self._accuracy))
        values = o.member.value(points, o.kind)
        return (values != 1e100) & (values <= o.target_levels[-1])

    def _call(self, method, x):
        if self._met:
            raise StopRuleMet("the run's stop rule was met")
        points = np.asarray(x, dtype=float)
        if points.ndim >= 2 and points.shape[-1] == self._observed.dim and points.size:
            flat = points.reshape(-1, self._observed.dim)
            meets = self._meets(flat)
            if meets.any():
                first = int(np.argmax(meets))
                head = method(flat[:first + 1])
                if self._reached():
                    self._met = True
                    raise StopRuleMet("the run's stop rule was met")
                tail = self._call(method, flat[first + 1:])
                return _join(head, tail, points.shape[:-1])
        result = method(x)
        if self._reached():
            self._met = True
            raise StopRuleMet("the run's stop rule was met")
        return result

    def value(self, x):
        return self._call(self._observed.value, x)

    __call__ = value

    def gradient(self, x):
        return self._call(self._observed.gradient, x)

    def value_and_gradient(self, x):
        return self._call(self._observed.value_and_gradient, x)

    def hessian(self, x):
        return self._call(self._observed.hessian, x)


def _join(head, tail, shape):
    """Results of two consecutive slices of a batch, as the batch's result of leading shape ``shape``."""
    if isinstance(head, tuple):
        return tuple(_join(h, t, shape) for h, t in zip(head, tail))
    joined = np.concatenate([head, tail])
    return joined.reshape(tuple(shape) + joined.shape[1:])


def observe(member, kind: str = "D", budget: int | None = None, accuracy: float = 1e-4,
            targets: Sequence[int] = DEFAULT_TARGETS, stop: str = "budget") -> Observed | Stopping:
    """Wrap a member for one run of an optimiser.

    Parameters
    ----------
    member : Member
        The member.
    kind : str
        'ND', 'D' or 'D2' (any case): the kind evaluated.
    budget : int, optional
        Cost the run may spend (a value 1, a gradient n, a Hessian
        n(n+1)/2); None: unlimited.
    accuracy : float
        Delta of the box rule: a point hits when every coordinate lies
        within ``accuracy**(1/n) * (upper - lower)`` of a global minimizer.
    targets : sequence of int
        Exponents k of the value targets f* + 10**k.
    stop : {"budget", "hit", "target"}
        Ends the run earlier: "hit" at the first box-rule hit, "target" when
        the best value meets the last value target (the call then raises
        StopRuleMet, a BudgetExhausted).

    Returns
    -------
    Observed
        The observed run; evaluate through it.

    Examples
    --------
    >>> f = travo.generate(dim=3)
    >>> run = travo.observe(f, "D", budget=10)
    >>> value, gradient = run.value_and_gradient([0.1, 0.2, 0.3])
    >>> run.cost, run.values, run.gradients
    (4, 1, 1)
    >>> try:
    ...     run.value(np.zeros((7, 3)))
    ... except travo.BudgetExhausted:
    ...     print("over budget after", run.cost)
    over budget after 10
    """
    observed = Observed(member, kind, budget, accuracy, list(targets))
    if stop == "budget":
        return observed
    if stop not in STOP_RULES:
        raise ValueError(f"stop must be one of {', '.join(STOP_RULES)}; got {stop!r}")
    return Stopping(observed, stop, accuracy)


__all__ = ["BudgetExhausted", "Observed", "StopRuleMet", "Stopping", "observe", "DEFAULT_TARGETS", "COST_RULE",
           "STOP_RULES"]
