"""Results bit-identical to the travo tool's, for every kind and derivative."""

import numpy as np
import pytest

import travo
from conftest import cli_eval, cli_options, run_cli, same_bits

MEMBERS = [
    travo.Parameters(),
    travo.Parameters(num_minima=50, test_number=7),
    travo.Parameters.in_box([0.0, -2.0, 1.0], [4.0, 1.0, 2.5], num_minima=30, test_number=3),
    travo.Parameters.in_cube(5, 0.0, 3.0, num_minima=40, global_value=-2.5, test_number=11),
    travo.Parameters.in_cube(10, num_minima=100, test_number=42),
    travo.Parameters(num_minima=200, distance=0.9, radius=0.2, test_number=100),
]


def points_for(member: travo.Member, count: int = 200) -> np.ndarray:
    """Random points of the box, the minimizers, and points outside the box."""
    rng = np.random.default_rng(member.parameters.test_number)
    inside = rng.uniform(member.lower, member.upper, size=(count, member.dim))
    outside = member.upper + rng.uniform(0.5, 1.0, size=(3, member.dim))
    return np.concatenate([inside, member.minimizers, outside])


@pytest.mark.parametrize("params", MEMBERS, ids=lambda p: f"n{p.dim}-m{p.num_minima}-t{p.test_number}")
@pytest.mark.parametrize("kind", ["ND", "D", "D2"])
def test_batch_results_match_the_tool(params, kind):
    member = travo.generate(params)
    points = points_for(member)
    want = cli_eval(params, points, kind)
    assert same_bits(member.value(points, kind), want["value"])
    if kind != "ND":
        assert same_bits(member.gradient(points, kind), want["gradient"])
        values, gradients = member.value_and_gradient(points, kind)
        assert same_bits(values, want["value"]) and same_bits(gradients, want["gradient"])
    if kind == "D2":
        assert same_bits(member.hessian(points), want["hessian"])


@pytest.mark.parametrize("params", MEMBERS[:4], ids=lambda p: f"n{p.dim}-m{p.num_minima}-t{p.test_number}")
def test_minima_table_matches_the_tool(params):
    member = travo.generate(params)
    rows = run_cli("info", *cli_options(params), "--format", "csv")
    table = np.array([[float(f) for f in row[2:]] for row in rows])
    assert same_bits(member.minimum_values, table[:, 0])
    assert same_bits(member.radii, table[:, 1])
    assert same_bits(member.minimizers, table[:, 2:])
    assert list(member.global_rows) == [i for i, row in enumerate(rows) if row[1] == "global"]
