"""Shapes, conversions, out= and the message of every bad input."""

import builtins
import pathlib
import re
import subprocess

import numpy as np
import pytest

import travo
from conftest import run_cli, same_bits

MEMBER = travo.generate(travo.Parameters.in_cube(3, num_minima=20, test_number=5))
N = MEMBER.dim
POINTS = np.random.default_rng(5).uniform(-1.0, 1.0, size=(4, 5, N))


@pytest.mark.parametrize("batch", [(), (0,), (7,), (4, 5)])
def test_result_shapes(batch):
    x = np.zeros(batch + (N,))
    value, gradient = MEMBER.value_and_gradient(x, "D")
    assert np.shape(value) == np.shape(MEMBER.region(x)) == np.shape(MEMBER.contains(x)) == batch
    assert gradient.shape == batch + (N,) and MEMBER.hessian(x).shape == batch + (N, N)
    if batch == ():  # one point gives Python scalars
        assert (type(value), type(MEMBER.region(x)), type(MEMBER.contains(x))) == (float, int, bool)


@pytest.mark.parametrize("x", [POINTS.tolist(), POINTS.astype(np.float32), np.asfortranarray(POINTS),
                               POINTS.astype(">f8"), np.repeat(POINTS, 2, axis=-1)[..., ::2], (POINTS * 4).astype(np.int64)],
                         ids=["list", "float32", "fortran", "big-endian", "strided", "int64"])
def test_other_layouts_and_dtypes_are_converted(x):
    want = np.ascontiguousarray(x, dtype=np.float64)
    assert same_bits(MEMBER.value(x, "nd"), MEMBER.value(want, "ND"))  # kinds in either case
    assert same_bits(MEMBER.hessian(x), MEMBER.hessian(want))


def test_out_receives_the_results_even_over_the_points():
    values, gradients = np.empty(POINTS.shape[:-1]), np.empty(POINTS.shape)
    result = MEMBER.value_and_gradient(POINTS, out=(values, gradients))
    assert result[0] is values and result[1] is gradients
    assert same_bits(values, MEMBER.value(POINTS)) and same_bits(gradients, MEMBER.gradient(POINTS))
    regions = np.empty(POINTS.shape[:-1], dtype=np.int64)
    assert same_bits(MEMBER.region(POINTS, out=regions), MEMBER.region(POINTS))
    x = POINTS.copy()
    assert MEMBER.gradient(x, out=x) is x and same_bits(x, gradients)


UNFIT = f"out must be a writeable C-contiguous float64 array of shape (4, 5, {N})"


@pytest.mark.parametrize("call, error, message", [
    (lambda: MEMBER.gradient(POINTS, out=np.empty((4, 5))), ValueError, re.escape(UNFIT)),
    (lambda: MEMBER.gradient(POINTS, out=np.empty((4, 5, N), dtype=np.float32)), ValueError, re.escape(UNFIT)),
    (lambda: MEMBER.gradient(POINTS, out=np.empty((4, 5, N), order="F")), ValueError, re.escape(UNFIT)),
    (lambda: MEMBER.value(POINTS, out=np.lib.stride_tricks.as_strided(np.empty((4, 5)), writeable=False)),
     ValueError, "got a read-only float64 array"),
    (lambda: MEMBER.value(POINTS, out=[0.0] * 20), TypeError, r"out must be .* of shape \(4, 5\); got list"),
    (lambda: MEMBER.value_and_gradient(POINTS, out=np.empty((4, 5))), TypeError,
     r"out must be a tuple \(values, gradients\)"),
    (lambda: MEMBER.value(np.zeros((4, 2))), ValueError,
     r"x must be a point of shape \(3,\) or a batch of points of shape \(\.\.\., 3\); got shape \(4, 2\)"),
    (lambda: MEMBER.value(1.5), ValueError, r"x must be a point of shape \(3,\) .*; got a scalar"),
    (lambda: MEMBER.value(["a", "b", "c"]), TypeError, "x must hold real numbers; got an array of dtype <U1"),
    (lambda: MEMBER.value(np.zeros(3, dtype=complex)), TypeError,
     "x must hold real numbers; got an array of dtype complex128"),
    (lambda: MEMBER.value([[1.0, 2.0, 3.0], [1.0]]), TypeError,
     r"x must be an array of real numbers of shape \(3,\) or \(\.\.\., 3\)"),
    (lambda: MEMBER.value(np.zeros(N), "D3"), ValueError, "kind must be 'ND', 'D' or 'D2'; got 'D3'"),
    (lambda: MEMBER.gradient(np.zeros(N), "ND"), ValueError, "the ND kind has no derivatives; use D or D2"),
    (lambda: MEMBER.hessian(np.zeros(N), "D"), ValueError, "only the D2 kind has a Hessian; got kind 'D'"),
    (lambda: MEMBER.value(POINTS, threads=-1), ValueError,
     "threads must be 0 .* or a positive number of threads; got -1"),
    (lambda: travo.Parameters(dim=2.5), TypeError, "dim must be an integer; got float"),
    (lambda: travo.Parameters(num_minima=-1), ValueError,
     "num_minima must be an integer from 0 to 4294967295; got -1"),
])
def test_bad_inputs_are_refused_with_their_message(call, error, message):
    with pytest.raises(error, match=message):
        call()


def documented_refusals():
    text = (pathlib.Path(__file__).parents[2] / "docs" / "bad-input.md").read_text()
    section = text.split("\n## Python package")[1].split("\n## ")[0]
    rows = re.findall(r'\n\| "([^\n]*?)" \| [^\n]*? \| `([^`\n]*)` \| `(\w+)`', section)
    assert len(rows) >= 4, "the rows of the Python section of docs/bad-input.md were not found"
    return rows


@pytest.mark.parametrize("message, example, error", documented_refusals())
def test_documented_refusals_raise_their_message(message, example, error):
    with pytest.raises(getattr(builtins, error), match=re.escape(message)):
        exec(example, {"f": travo.generate(), "np": np, "travo": travo})


def test_minima_arrays_are_read_only_for_good():
    for name in ("minimizers", "minimum_values", "radii", "global_rows", "lower", "upper", "global_minimizer", "vertex"):
        with pytest.raises(ValueError, match="read-only"):
            getattr(MEMBER, name)[...] = 0
        with pytest.raises(ValueError, match="cannot set WRITEABLE flag"):
            getattr(MEMBER, name).setflags(write=True)


def test_a_nan_coordinate_lies_outside_the_box():
    x = np.array([[0.1, np.nan, 0.2], MEMBER.global_minimizer])
    x[1, 0] = np.nan
    assert not MEMBER.contains(x[0]) and list(MEMBER.contains(x)) == [False, False]
    assert MEMBER.region(x[1]) == -1 and list(MEMBER.region(x)) == [-1, -1]
    assert MEMBER.value(x[1], "ND") == travo.ERROR_VALUE and list(MEMBER.value(x)) == [travo.ERROR_VALUE] * 2
    assert np.all(MEMBER.gradient(x) == travo.ERROR_VALUE) and np.all(MEMBER.hessian(x[1]) == travo.ERROR_VALUE)


@pytest.mark.parametrize("make, status", [
    (lambda: travo.Parameters(dim=2**32 - 1), travo.Status.BAD_DIMENSION),
    (lambda: travo.Parameters.in_box([0, 0], [1, 1, 1]), travo.Status.BAD_DOMAIN),
    (lambda: travo.generate(test_number=0), travo.Status.BAD_TEST_NUMBER),
    (lambda: travo.generate(global_value=0.5), travo.Status.BAD_GLOBAL_VALUE),
    (lambda: travo.generate(distance=5.0), travo.Status.BAD_GLOBAL_DISTANCE),
])
def test_refusals_raise_generation_error_with_their_status_and_rule(make, status):
    with pytest.raises(travo.GenerationError) as refused:
        make()
    error = refused.value
    assert isinstance(error, ValueError) and error.status is status and error.rule
    assert str(error).startswith(f"status {status.value} (") and str(error).endswith(f"): {error.rule}")
    if status is travo.Status.BAD_GLOBAL_DISTANCE:  # the rule is the one the tool gives
        with pytest.raises(subprocess.CalledProcessError) as tool:
            run_cli("info", "--distance", "5")
        assert tool.value.stderr.strip() == f"travo: error: --distance: {error.rule}"


def test_parameters_keywords_and_defaults():
    p = travo.Parameters()
    assert (p.dim, p.num_minima, p.global_value, p.test_number) == (2, 10, -1.0, 1)
    assert (p.distance, p.radius, p.lower, p.upper) == (2 / 3, 1 / 3, (-1.0, -1.0), (1.0, 1.0))
    assert travo.Parameters(dim=4) == travo.Parameters.in_cube(4)
    assert travo.Parameters.in_box([0, 0], [3, 6]).distance == 1.0
