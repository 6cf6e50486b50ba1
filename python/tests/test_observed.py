"""Observed problems: counters, budget, best point and the first hits of the targets."""

import signal
import threading

import numpy as np
import pytest

import travo
from travo import suites
from travo.observed import BudgetExhausted, observe


def member_of(suite, test):
    return suites.standard(suite).members()[test - 1].generate()


def test_hand_built_run_counts_charges_and_hits_exactly():
    f = member_of("2-hard", 3)
    star, far = f.global_minimizer, f.minimizers[0]  # far: the paraboloid vertex, value 0
    p = observe(f, "D2", budget=12, accuracy=1e-4, targets=[-1, 1, -2])
    assert p.target_exponents == [1, -1, -2]
    assert p.value(far) == f.value(far, "D2")                              # cost 1
    np.testing.assert_array_equal(p.gradient(far), f.gradient(far, "D2"))  # + n = 3
    assert p.best_value == 0.0 and p.hit is None and p.target_hits == [1, None, None]  # 0 <= f* + 10
    v, g = p.value_and_gradient(star)                                      # + n + 1 = 6
    assert v == f.value(star, "D2") == p.best_value and p.hit == 6 and p.target_hits == [1, 6, 6]
    np.testing.assert_array_equal(p.best_point, star)
    np.testing.assert_array_equal(p.hessian(far), f.hessian(far))          # + n(n+1)/2 = 9
    assert (p.cost, p.values, p.gradients, p.hessians, p.remaining) == (9, 2, 2, 1, 3)
    np.testing.assert_array_equal(p.trace, [[1, 1, 0, 0, 0.0], [6, 2, 2, 0, v]])
    # Three value evaluations fit in what is left: a batch of four evaluates
    # three, then ends the run; a single point past the budget evaluates nothing.
    for x in (np.array([far] * 4), far):
        with pytest.raises(BudgetExhausted):
            p.value(x)
        assert (p.cost, p.values) == (12, 5)


def test_points_outside_the_box_are_counted_but_never_best_and_kinds_are_checked():
    f = member_of("2-simple", 1)
    p = observe(f, "D", budget=None)
    assert p.value([5.0, 0.0]) == travo.ERROR_VALUE
    assert (p.cost, p.best_point, p.budget, p.remaining) == (1, None, None, None)
    for call, message in ((lambda: p.hessian([0.0, 0.0]), "D2"), (lambda: p.value([0.0, 0.0, 0.0]), r"\(2,\)"),
                          (lambda: observe(f, "ND").gradient([0.0, 0.0]), "gradient")):
        with pytest.raises(ValueError, match=message):
            call()
    assert p.cost == 1


@pytest.mark.parametrize("name, test", [(name, test) for name in ("2-hard", "3-simple", "5-hard") for test in (1, 50)])
def test_box_rule_against_the_minima_table(name, test):
    # Just inside the box rule's tolerance of each global minimizer is a hit; just outside in the last
    # coordinate, or at any other minimizer, is not. A suite's member says so too: solved() by the class rule.
    s = suites.standard(name)
    f = s.members()[test - 1].generate()
    tol = s.accuracy ** (1 / s.dim) * (f.upper - f.lower)
    for row in f.global_rows:
        star, inward = f.minimizers[row], -np.sign(f.minimizers[row])  # inward stays in the box
        for x, hit in ((star + inward * tol * 0.999, 1), (star + np.eye(s.dim)[-1] * inward * tol * 1.001, None),
                       (np.delete(f.minimizers, f.global_rows, axis=0), None)):
            p = observe(f, "D", accuracy=s.accuracy)
            p.value(x)
            assert p.hit == hit and np.any(f.solved(x)) == (hit is not None), row


def test_batch_calls_keep_the_books_of_the_loop_of_single_calls():
    f = member_of("3-hard", 7)
    x = np.random.default_rng(1).uniform(-1, 1, (40, 3))
    x[17] = f.global_minimizer
    one, many = observe(f, "D2", targets=[0, -3]), observe(f, "D2", targets=[0, -3])
    for xi in x:
        one.value_and_gradient(xi)
    for xi in x:
        one.hessian(xi)
    many.value_and_gradient(x)
    many.hessian(x)
    for attr in ("cost", "values", "gradients", "hessians", "best_value", "hit", "target_hits"):
        assert getattr(one, attr) == getattr(many, attr), attr
    np.testing.assert_array_equal(one.trace, many.trace)


def test_calls_from_several_threads_keep_exact_books():
    f = member_of("3-simple", 2)
    x = np.random.default_rng(2).uniform(-1, 1, (2000, 3))
    p = observe(f, "D", budget=50_000)

    def run(k):
        for _ in range(20):
            try:
                p.value_and_gradient(x) if k % 2 else p.value(x[:1500])
            except BudgetExhausted:
                pass

    threads = [threading.Thread(target=run, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert p.cost == 50_000 and p.remaining == 0 and p.cost == p.values + 3 * p.gradients
    assert p.best_value == min(f.value(x, "D").min(), f.value(x[:1500], "D").min())


def test_a_signal_handler_cannot_enter_the_batch_it_interrupts():
    # The handler runs during the batch on the same thread, which holds the problem's turn: waiting for it would hang.
    f = travo.generate(dim=10, num_minima=3000)
    x = np.random.default_rng(3).uniform(-1, 1, (200_000, 10))
    p = observe(f, "D")
    old = signal.signal(signal.SIGALRM, lambda *_: p.value(x[0]))
    signal.setitimer(signal.ITIMER_REAL, 0.05, 0.05)
    try:
        with pytest.raises(RuntimeError, match="this observed problem is already evaluating on this thread"):
            p.value(x)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    assert p.cost == p.values < len(x)  # the refused batch charged nothing (a handler may have run before it)
