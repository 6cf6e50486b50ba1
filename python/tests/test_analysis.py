"""Curves, profiles and the report, on hand-made databases whose answers are known."""

import math
import xml.etree.ElementTree

import numpy as np
import pytest

from travo import analysis, campaign, report, results

F_STAR = -1.0


@pytest.fixture
def data(tmp_path):
    """A database of one campaign on a 2-D suite: hits[solver][test] lists the box-rule hit of each repetition
    (None: unsolved). Each run's trace improves at cost 1 (value 5) and, if it hits, at its hit (value f* + 0.5)."""
    hits = {"A": {1: [5, 10], 2: [None, 20]}, "B": {1: [20, 20], 2: [3, 3]}}
    conn = results.connect(tmp_path / "h.db", create=True)
    suite = {"name": "s", "dim": 2, "global_value": F_STAR}
    members = [{"suite": "s", "kind": "D", "test": t, "parameters": {}, "accuracy": 1e-4} for t in (1, 2)]
    solvers = [{"label": s, "name": s, "version": "1", "options": {}} for s in hits]
    desc = {"suite": suite, "budget": 100, "targets": [0], "repetitions": 2, "kind": "D", "solvers": solvers}
    cid, sids, mids = results.register_campaign(conn, "c", desc, 8, solvers, members)
    for sid, per_test in zip(sids, hits.values()):
        for test, reps in per_test.items():
            for rep, hit in enumerate(reps, 1):
                trace = [[1, 1, 0, 0, 5.0]] + ([[hit, hit, 0, 0, F_STAR + 0.5]] if hit else [])
                results.record_run(conn, cid, sid, mids[("s", "D", test)], {
                    "repetition": rep, "seed": rep, "status": "budget", "message": "", "cost": 100, "values": 100,
                    "gradients": 0, "hessians": 0, "best_value": trace[-1][4], "best_point": [0, 0], "hit": hit,
                    "target_hits": [hit], "trace": trace, "seconds": 0.0})
    conn.close()
    return analysis.load(tmp_path / "h.db")


def test_operational_characteristic_and_its_zone(data):
    oc = analysis.operational_characteristic(data.select(solver="A"), [4, 5, 10, 20, 100])
    np.testing.assert_array_equal(oc["mean"], [0, 0.5, 1, 1.5, 1.5])
    np.testing.assert_array_equal(oc["best"], [0, 1, 1, 2, 2])
    np.testing.assert_array_equal(oc["worst"], [0, 0, 1, 1, 1])


def test_fixed_target_and_fixed_budget_distributions(data):
    runs = data.select(solver="A")
    assert analysis.ecdf_runtime(runs, "box", [5, 20, 100])[1].tolist() == [0.25, 0.75, 0.75]
    assert analysis.ecdf_runtime(runs, 0, [5, 20])[1].tolist() == [0.25, 0.75]  # the value target f* + 1
    assert analysis.ecdf_runtime_targets(runs, [5, 20])[1].tolist() == [0.25, 0.75]
    with pytest.raises(ValueError, match="not followed"):
        analysis.solve_time(runs[0], -3)
    precision, fraction = analysis.ecdf_best_value(runs, 10, F_STAR)
    assert precision.tolist() == [0.5, 0.5, 6.0, 6.0] and fraction.tolist() == [0.25, 0.5, 0.75, 1.0]
    assert [analysis.best_within(runs[0], c) for c in (0, 4, 5)] == [math.inf, 5.0, -0.5]


def test_performance_and_data_profiles(data):
    solvers, problems, times = analysis.solve_times(data)
    assert solvers == ["A", "B"] and len(problems) == 4
    # Problems (test, repetition): A 5, 10, inf, 20 and B 20, 20, 3, 3.
    rho = analysis.performance_profile(times, [1, 2, 4, 10])
    np.testing.assert_array_equal(rho, [[0.5, 0.5, 0.5, 0.75], [0.5, 0.75, 1.0, 1.0]])
    d = analysis.data_profile(times, [2] * 4, [1, 2, 4, 7])  # kappa simplex gradients = 3 kappa evaluations
    np.testing.assert_array_equal(d, [[0, 0.25, 0.5, 0.75], [0.5, 0.5, 0.5, 1.0]])


def test_convergence_and_table(data):
    c = analysis.convergence(data.select(solver="B"), [0, 1, 3, 20], F_STAR)
    np.testing.assert_array_equal(c["median"], [math.inf, 6.0, 3.25, 0.5])
    np.testing.assert_array_equal(c["values"], [0, 1, 2, 11.5])
    rows = {r["solver"]: r for r in analysis.table(data)}
    assert (rows["A"]["solved"], rows["A"]["average"], rows["A"]["maximum"]) == (1.5, 35 / 3, 20)
    assert (rows["B"]["solved"], rows["B"]["members"], rows["B"]["repetitions"]) == (2.0, 2, 2)


def test_report_of_a_tiny_campaign(tmp_path):
    c = campaign.from_dict({"name": "r", "suite": "2-simple", "tests": [1, 2], "budget": 60, "repetitions": 2,
                            "solver": [{"name": "direct-l", "repetitions": 1}, {"name": "differential_evolution"}]})
    campaign.run(c, tmp_path / "r.db", workers=1, progress=False)
    files = report.write(tmp_path / "r.db", tmp_path / "out")
    assert sorted(files) == sorted(p.name for p in (tmp_path / "out").iterdir())
    stems = {f.rsplit(".", 1)[0] for f in files if f != "index.html"}
    assert stems == {"runtime-box", "runtime-targets", "performance-profile", "data-profile", "operational-2-simple",
                     "best-value-2-simple", "convergence-2-simple"}
    page = (tmp_path / "out" / "index.html").read_text()
    xml.etree.ElementTree.fromstring(page)  # well-formed: every element closed, innermost first
    for needle in ("differential_evolution", "scipy", "budget 60", "2-simple", "operational-2-simple.svg"):
        assert needle in page
