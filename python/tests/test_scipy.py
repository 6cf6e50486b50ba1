"""scipy.optimize as a client: local solvers reach the minima the table gives."""

import itertools

import numpy as np
import pytest
import scipy.optimize

import travo


@pytest.mark.parametrize("dim, test_number", itertools.product([2, 5, 10, 50], [1, 17, 60]))
def test_lbfgsb_with_the_exact_gradient_reaches_the_global_minimizer(dim, test_number):
    member = travo.generate(travo.Parameters.in_cube(dim, num_minima=30, test_number=test_number))
    f = member.objective("D2")
    # A start at 0.25 times the radius from the global minimizer, inside the box and its region.
    direction = np.random.default_rng(test_number).normal(size=dim)
    start = np.clip(member.global_minimizer + 0.25 * member.radii[1] * direction / np.linalg.norm(direction),
                    member.lower, member.upper)
    assert member.region(start) == 1
    result = scipy.optimize.minimize(f.fun_and_jac, start, jac=True, bounds=f.bounds, method="L-BFGS-B",
                                     options={"ftol": 1e-15, "gtol": 1e-12, "maxiter": 2000})
    assert member.solved(result.x, distance=1e-5)
    assert result.fun == pytest.approx(member.global_value, abs=1e-9)


@pytest.mark.parametrize("test_number", [2, 33, 99])
def test_multistart_from_a_grid_finds_the_global_minimizer(test_number):
    member = travo.generate(travo.Parameters(num_minima=15, test_number=test_number))
    f = member.objective("D")
    grid = np.linspace(-0.9, 0.9, 7)
    best = min((scipy.optimize.minimize(f.fun, start, jac=f.jac, bounds=f.bounds, method="L-BFGS-B",
                                        options={"ftol": 1e-15, "gtol": 1e-12})
                for start in itertools.product(grid, grid)), key=lambda r: r.fun)
    assert member.solved(best.x, value_tol=1e-8) and member.region(best.x) in member.global_rows


def test_trust_constr_with_the_exact_hessian_converges_near_the_minimizer():
    member = travo.generate(travo.Parameters.in_cube(5, num_minima=20, test_number=8))
    f = member.objective()
    result = scipy.optimize.minimize(f.fun, member.global_minimizer + 0.05 * member.radii[1], jac=f.jac, hess=f.hess,
                                     method="trust-constr", options={"gtol": 1e-12, "xtol": 1e-14})
    assert member.solved(result.x, distance=1e-6)
