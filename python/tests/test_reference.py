"""Results bit-identical to the travo tool's, for every kind and derivative, and the minima table."""

import numpy as np
import pytest

import travo
import travo.suites
from conftest import cli_options, run_cli, same_bits

EACH_MEMBER = pytest.mark.parametrize("params", [
    travo.Parameters(),
    travo.Parameters(num_minima=50, test_number=7),
    travo.Parameters.in_box([0.0, -2.0, 1.0], [4.0, 1.0, 2.5], num_minima=30, test_number=3),
    travo.Parameters.in_cube(5, 0.0, 3.0, num_minima=40, global_value=-2.5, test_number=11),
    travo.Parameters.in_cube(10, num_minima=100, test_number=42),
    travo.Parameters(num_minima=200, distance=0.9, radius=0.2, test_number=100),
], ids=lambda p: f"n{p.dim}-m{p.num_minima}-t{p.test_number}")


@EACH_MEMBER
@pytest.mark.parametrize("kind", ["ND", "D", "D2"])
def test_batch_results_match_the_tool(params, kind):
    # Random points of the box, the minimizers, and points outside the box.
    member, n = travo.generate(params), params.dim
    rng = np.random.default_rng(params.test_number)
    points = np.concatenate([rng.uniform(member.lower, member.upper, size=(200, n)), member.minimizers,
                             member.upper + rng.uniform(0.5, 1.0, size=(3, n))])
    flags = {"ND": [], "D": ["--gradient"], "D2": ["--gradient", "--hessian"]}[kind]
    text = "".join(",".join(map(repr, point.tolist())) + "\n" for point in points)
    want = np.array(run_cli("eval", *cli_options(params), "--kind", kind.lower(), *flags, stdin=text), dtype=float)
    assert same_bits(member.value(points, kind), want[:, n])
    if kind != "ND":
        values, gradients = member.value_and_gradient(points, kind)
        assert same_bits(values, want[:, n]) and same_bits(gradients, want[:, n + 1:2 * n + 1])
        assert same_bits(member.gradient(points, kind), gradients)
    if kind == "D2":
        assert same_bits(member.hessian(points), want[:, 2 * n + 1:].reshape(-1, n, n))


@EACH_MEMBER
def test_minima_table_matches_the_tool(params):
    member = travo.generate(params)
    rows = run_cli("info", *cli_options(params), "--format", "csv")
    table = np.array([row[2:] for row in rows], dtype=float)
    assert same_bits(member.minimum_values, table[:, 0]) and same_bits(member.radii, table[:, 1])
    assert same_bits(member.minimizers, table[:, 2:])
    assert list(member.global_rows) == [i for i, row in enumerate(rows) if row[1] == "global"]


@pytest.mark.parametrize("given, options", [
    ({"lower": -1e7, "upper": 1e7}, ["--box", "-1e7,1e7"]),
    ({"distance": 0.5}, ["--distance", "0.5"]),
], ids=["wide-box", "distance-alone"])
def test_fields_left_out_are_derived_alike_by_python_suite_files_and_the_tool(given, options):
    params = travo.Parameters(**given)
    suite = travo.suites.from_dict({"name": "derived", "dim": 2, "tests": [1], **given})
    assert (suite.distance, suite.radius) == (params.distance, params.radius)
    member, rows = travo.generate(params), run_cli("info", *options, "--format", "csv")
    table = np.array([row[2:] for row in rows], dtype=float)
    assert same_bits(np.column_stack([member.minimum_values, member.radii, member.minimizers]), table)
