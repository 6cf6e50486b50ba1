"""Observed runs: a member and a kind wrapped for one run of an optimiser.

The bookkeeping (counters, budget, best point, first hits of the targets) is
done by the compiled class ``travo.Observed``; this module gives it its
defaults.
"""

from __future__ import annotations

from collections.abc import Sequence

from ._travo import BudgetExhausted, Observed

#: Exponents k of the default value targets f* + 10**k.
DEFAULT_TARGETS: tuple[int, ...] = (1, 0, -1, -2, -3, -4, -5, -6, -7, -8)

#: The cost of one call, in value evaluations: a value 1, a gradient n, a
#: Hessian n(n+1)/2 (what the same information costs by finite differences).
COST_RULE = "value 1, gradient n, Hessian n(n+1)/2"


def observe(member, kind: str = "D", budget: int | None = None, accuracy: float = 1e-4,
            targets: Sequence[int] = DEFAULT_TARGETS) -> Observed:
    """Wraps ``member`` for one run: evaluations of ``kind`` charged to ``budget`` (None: unlimited).

    ``accuracy`` is the delta of the box rule (a point hits when every
    coordinate lies within ``accuracy**(1/n) * (upper - lower)`` of a global
    minimizer); ``targets`` are the exponents k of the value targets
    f* + 10**k.
    """
    return Observed(member, kind, budget, accuracy, list(targets))


__all__ = ["BudgetExhausted", "Observed", "observe", "DEFAULT_TARGETS", "COST_RULE"]
