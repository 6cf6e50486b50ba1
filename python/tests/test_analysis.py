"""Statistics, curves and profiles on hand-made databases whose answers are worked out by hand."""

import math

import matplotlib
import numpy as np
import pytest
from campaign_dbs import F_STAR, SUITE, make_db, run

from travo import analysis

matplotlib.use("Agg")
INF = math.inf


def test_campaigns_sharing_names_stay_apart_and_schema_1_reads_its_budget(tmp_path):
    # A budget sweep (two campaigns, one suite, one solver label) and a campaign of another class.
    db = make_db(tmp_path / "a.db", [
        ("short", 300, SUITE, {"crs2": {1: [run(50), run()], 2: [run(), run()]}}),
        ("long", 2000, SUITE, {"crs2": {1: [run(50), run(400)], 2: [run(900), run()]}}),
        ("other", 300, dict(SUITE, name="t"), {"crs2": {1: [run(7)]}})], schema=1)
    data = analysis.load(db)
    assert [(r["campaign"], r["solved"], r["runs"], r["members"], r["budget"]) for r in analysis.summary(data)] == [
        ("short", 1, 4, 2, 300), ("long", 3, 4, 2, 2000), ("other", 1, 1, 1, 300)]
    assert [s.label for s in data.series] == ["short/crs2", "long/crs2", "other/crs2"]
    # Campaigns on different classes (the worked campaign: one per class) make one curve per solver.
    assert [s.label for s in analysis.load(db, ["short", "other"]).series] == ["crs2"]
    # Two databases with the same campaign names: told apart by the file; one database given twice: refused.
    (tmp_path / "b.db").write_bytes(db.read_bytes())
    assert [c.label for c in analysis.load([db, tmp_path / "b.db"], ["short"]).campaigns] == ["a:short", "b:short"]
    with pytest.raises(ValueError, match="given twice"):
        analysis.load([db, tmp_path / "." / "a.db"])
    with pytest.raises(ValueError, match="no campaign named 'nope'"):
        analysis.load(db, ["nope"])
    (tmp_path / "junk.db").write_bytes(b"not a database at all" * 100)
    with pytest.raises(analysis.DatabaseError, match="junk.db"):
        analysis.load(tmp_path / "junk.db")


def test_profiles_and_views_count_every_repetition(tmp_path):
    db = make_db(tmp_path / "p.db", [("c", 100, SUITE, {
        "det": {1: [run(10)], 2: [run(40)]},
        "sto": {1: [run(5), run(cost=100), run(15)], 2: [run(), run(), run()]}})])
    data = analysis.load(db)
    series, members, times = analysis.profile_times(data)
    # Per-member ERT: sto on member 1 is (5 + 100 + 15) / 2.
    np.testing.assert_array_equal(times, [[10, 60], [40, INF]])
    np.testing.assert_array_equal(analysis.performance_profile(times, [1, 6]), [[1, 1], [0, 0.5]])
    # kappa simplex gradients are 3 kappa evaluations in two dimensions.
    np.testing.assert_array_equal(analysis.data_profile(times, [2, 2], [10 / 3, 20]), [[0.5, 1], [0, 0.5]])
    sto = data.select(series=series[1])
    oc = analysis.operational_characteristic(sto, [5, 15, 100])
    np.testing.assert_allclose(oc["mean"], [1 / 3, 2 / 3, 2 / 3])
    assert oc["best"].tolist() == [1, 1, 1] and oc["worst"].tolist() == [0, 0, 0]
    assert analysis.ecdf_runtime(sto, [5, 15]).tolist() == [1 / 6, 2 / 6]
    assert analysis.ecdf_runtime(sto, [5], [0, -2]).tolist() == [2 / 12]
    with pytest.raises(ValueError, match="not followed"):
        sto[0].time(-3)
    precision, fraction = analysis.ecdf_best_value(sto, 10)
    assert precision.tolist() == pytest.approx([0.001] + [5.0] * 5) and fraction[-1] == 1
    c = analysis.convergence(sto, [0, 1, 15])
    np.testing.assert_allclose(c["median"], [INF, 5, 5])
    np.testing.assert_allclose(c["q25"], [INF, 5, 0.001 + 0.25 * 4.999])
    # Targets met at the first evaluation by most runs (f* + 10) tell nothing apart.
    assert analysis.default_targets(data.runs) == [0, -2]


def test_ert_with_its_interval_quartiles_and_the_literature_table(tmp_path):
    db = make_db(tmp_path / "e.db", [("c", 120, SUITE, {"a": {1: [run(10)], 2: [run(20)], 3: [run()], 4: [run()]}})])
    row = analysis.summary(analysis.load(db))[0]
    # ERT = (10 + 20 + 100 + 100) / 2; the table counts an unsolved run as the budget: (10 + 20 + 120 + 120) / 4.
    assert (row["ert"], row["median_hit"], row["q25_hit"], row["q75_hit"]) == (115, 15, 12.5, 17.5)
    assert (row["table_average"], row["unsolved"], row["mean_cost"]) == (67.5, 2, 100)
    # A sixteenth of the resamples hold no hit: the upper limit is infinite; the lower one comes from
    # resamples of hits only.
    assert 10 <= row["ert_low"] <= 20 and row["ert_high"] == INF
    spent, hit = np.array([10.0, 20, 100, 100]), np.array([True, True, False, False])
    assert analysis.ert_interval(spent, hit) == (row["ert_low"], INF)  # the documented seed: reproducible
    assert analysis.ert_interval(np.array([7.0, 7.0]), np.array([True, True])) == (7, 7)
    assert analysis.ert(spent, np.zeros(4, bool)) == INF


def test_wilson_interval_limits():
    z2 = analysis.Z95 ** 2
    assert analysis.wilson(0, 10) == (0, pytest.approx(z2 / (10 + z2)))
    assert analysis.wilson(10, 10) == (pytest.approx(10 / (10 + z2)), 1)
    assert analysis.wilson(5, 10) == pytest.approx((0.2366, 0.7634), abs=1e-4)


def test_pairwise_comparison_finds_the_clearly_better_solver():
    a, b = np.full(10, 10.0), 100.0 + np.arange(10)
    b[9] = INF  # never solved: ranks behind every finite ERT
    c = analysis.compare(np.column_stack([a, b, b]), ["A", "B", "C"])
    # A is better on all 10 members against B and C: exact p = 2 / 2**10, times 3 and 2 by Holm (the larger
    # kept); B and C tie everywhere: p = 1.
    assert c["p"][0][1] == c["p"][2][0] == pytest.approx(3 * 2 / 1024)
    assert c["p"][1][2] == 1 and c["better"][0][1] == c["better"][2][0] == 0 and c["better"][1][2] is None
    assert analysis.holm([0.01, 0.04, 0.03]) == pytest.approx([0.03, 0.06, 0.06])


def test_log_axes_have_three_labelled_ticks_and_labels_are_no_markup(tmp_path):
    import matplotlib.pyplot as plt
    for lo, hi in ((1, 1000), (2, 90), (300, 900), (5, 5.5), (1e-3, 2e-3)):
        fig, ax = plt.subplots()
        ax.set_xscale("log")
        ax.set_xlim(lo, hi)
        analysis.log_ticks(ax)
        fig.canvas.draw()
        a, b = ax.get_xlim()
        shown = [t for t in ax.xaxis.get_major_ticks() if t.label1.get_text() and a <= t.get_loc() <= b]
        assert len(shown) >= 3, (lo, hi)
        plt.close(fig)
    db = make_db(tmp_path / "m.db", [("c", 100, SUITE, {"_hidden": {1: [run(10)]}, "$x$": {1: [run(20)]}})])
    fig = analysis.plot_ecdf_runtime(analysis.load(db))
    labels = [t.get_text() for t in fig.axes[0].get_legend().get_texts()]
    assert len(labels) == 2 and not any(matplotlib.cbook.is_math_text(t) for t in labels)
    assert [t.replace("\\$", "$").lstrip("\u200b") for t in labels] == ["_hidden", "$x$"]
    plt.close(fig)
    assert F_STAR == -1  # the helpers' f*, on which the precisions above rely
