"""Batches against single calls, regions, pickling, threads and processes, Ctrl-C and interpreter exit."""

import concurrent.futures
import copy
import multiprocessing
import os
import pickle
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import travo
from conftest import same_bits


@st.composite
def members_and_points(draw):
    dim = draw(st.integers(2, 6))
    lower = np.array(draw(st.lists(st.floats(-5, 5), min_size=dim, max_size=dim)))
    sides = np.array(draw(st.lists(st.floats(0.5, 4), min_size=dim, max_size=dim)))
    member = travo.generate(travo.Parameters.in_box(lower, lower + sides, num_minima=draw(st.integers(2, 40)),
                                                    test_number=draw(st.integers(1, 100))))
    count = draw(st.integers(1, 40))
    unit = np.array(draw(st.lists(st.floats(-0.05, 1.05), min_size=count * dim, max_size=count * dim)))
    return member, np.concatenate([member.lower + unit.reshape(count, dim) * sides, member.minimizers])


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(members_and_points())
def test_batch_equals_the_loop_of_single_calls(case):
    member, points = case
    for kind in ("ND", "D", "D2"):
        assert same_bits(member.value(points, kind), [member.value(p, kind) for p in points])
        if kind != "ND":
            assert same_bits(member.gradient(points, kind, threads=3), [member.gradient(p, kind) for p in points])
    assert same_bits(member.hessian(points), [member.hessian(p) for p in points])
    assert list(member.region(points, threads=2)) == [member.region(p) for p in points]
    assert list(member.contains(points)) == [member.contains(p) for p in points]


def test_each_minimizer_lies_in_its_own_region():
    member = travo.generate(travo.Parameters.in_cube(4, num_minima=60, test_number=9))
    assert list(member.region(member.minimizers[1:])) == list(range(1, member.num_minima))
    assert member.region(member.upper + 1.0) == -1
    assert member.solved(member.global_minimizer) and not member.solved(member.minimizers[2])
    assert member.solved(member.global_minimizer + 1e-3, distance=3e-3)
    assert member.solved(member.global_minimizer, value_tol=0.0)
    assert list(member.solved(member.minimizers[:3], value_tol=1e-9)) == [False, True, False]


def evaluate(member, points):
    return member.value(points), member.hessian(points)


def test_members_pickle_as_their_parameters_and_go_to_processes_and_threads():
    member = travo.generate(travo.Parameters.in_cube(3, num_minima=25, test_number=4))
    points = np.random.default_rng(4).uniform(-1.0, 1.0, size=(500, 3))
    again = pickle.loads(pickle.dumps(member))
    assert again is not member and again.parameters == member.parameters
    assert copy.copy(member) is member and copy.deepcopy(member) is member
    error = pickle.loads(pickle.dumps(pytest.raises(travo.GenerationError, travo.generate, num_minima=1).value))
    assert error.status is travo.Status.BAD_MINIMA_COUNT and str(error).endswith(error.rule)
    # Spawned workers regenerate the member from its pickle.
    want = evaluate(member, points)
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
        results = list(pool.map(evaluate, [member] * 3, np.array_split(points, 3)))
    assert all(same_bits(np.concatenate([r[i] for r in results]), want[i]) for i in (0, 1))
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        assert all(same_bits(r[0], want[0]) and same_bits(r[1], want[1])
                   for r in pool.map(lambda _: evaluate(member, points), range(8)))


def test_objects_made_by_new_alone_are_refused():
    member, problem = travo.Member.__new__(travo.Member), travo.Observed.__new__(travo.Observed)
    for call in (lambda: member.dim, lambda: member.value([0.0, 0.0]), lambda: problem.value([0.0, 0.0]),
                 lambda: problem.cost):
        with pytest.raises(TypeError, match="object is not initialised"):
            call()


def child(script):
    return subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True, env=os.environ)


def test_ctrl_c_stops_generation_and_batches_and_daemon_threads_end_with_the_interpreter():
    # Ctrl-C soon after each long call began: it raises KeyboardInterrupt there, and the module works on.
    script = """
import numpy as np, travo
small = travo.generate(dim=10, num_minima=3000)
x = np.random.default_rng(0).uniform(-1, 1, (300000, 10))
for call in (lambda: travo.generate(num_minima=1_000_000), lambda: small.region(x)):
    print("go", flush=True)
    try:
        call()
        print("finished", flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
print(small.region(x[:2]).shape, flush=True)
"""
    p = child(script)
    for _ in range(2):
        assert p.stdout.readline() == "go\n"
        time.sleep(0.3)
        p.send_signal(signal.SIGINT)
        assert p.stdout.readline() == "interrupted\n"
    assert p.stdout.readline() == "(2,)\n" and p.wait() == 0
    # A daemon thread still evaluating batches when the interpreter exits ends with it.
    script = """
import sys, threading, time, numpy as np, travo
f = travo.generate()
x = np.random.default_rng(1).uniform(-1, 1, (100000, 2))
threading.Thread(target=lambda: [f.value(x) for _ in iter(int, 1)], daemon=True).start()
time.sleep(0.1)
sys.exit(0)
"""
    assert child(script).wait() == 0
