"""Generator statuses and the error raised for refused parameters."""

from __future__ import annotations

import enum
from typing import Any, Tuple


class Status(enum.IntEnum):
    """Status of the generator; the numbers are those of the C interface."""

    OK = 0
    BAD_DIMENSION = 1
    BAD_MINIMA_COUNT = 2
    BAD_TEST_NUMBER = 3
    BAD_DOMAIN = 4
    BAD_GLOBAL_VALUE = 5
    BAD_GLOBAL_DISTANCE = 6
    BAD_GLOBAL_RADIUS = 7
    NO_MEMORY = 8
    BAD_DERIVATIVE = 9
    PARABOLA_COINCIDENCE = 14
    MINIMA_COINCIDENCE = 15
    NO_GLOBAL_MINIMUM = 16


class GenerationError(ValueError):
    """The generator refused the parameters.

    ``status`` is the :class:`Status`, ``rule`` the rule the parameters broke
    with the values involved (the text of the C++ interface), and the message
    reads ``status 6 (bad global distance): <rule>``.
    """

    status: Status
    rule: str

    def __init__(self, status: int, rule: str, message: str) -> None:
        super().__init__(message)
        self.status = Status(status)
        self.rule = rule

    def __reduce__(self) -> Tuple[Any, ...]:
        return (type(self), (int(self.status), self.rule, str(self)))
