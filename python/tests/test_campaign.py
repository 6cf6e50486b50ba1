"""Campaigns: resumable, identical on every executor, and bad files refused before anything is written."""

import contextlib
import json
import os
import pathlib
import signal
import sqlite3
import subprocess
import sys
import time

import pytest

from travo import campaign, results, suites

HERE = pathlib.Path(__file__).resolve().parent
CAMPAIGN = """
name = "tiny"
suite = "2-simple"
tests = [1, 2, 3, 4]
budget = 300
repetitions = 2
targets = [0, -2]
solver = [{ name = "direct-l" }, { name = "differential_evolution", options = { popsize = 5 } },
          { name = "test_campaign:slow_random_search", options = { pause = 0.1 } }]
"""


def slow_random_search(problem, budget, rng, pause=0.0):
    """A user's solver that takes its time, so that a campaign can be killed part-way."""
    time.sleep(pause)
    problem.value(rng.uniform(problem.member.lower, problem.member.upper, (budget, problem.dim)))


@pytest.fixture(autouse=True)
def helpers_on_path(monkeypatch):
    # This module, for the solver above, in the worker processes and the command's process.
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([str(HERE), os.environ.get("PYTHONPATH", "")]))


def write_campaign(folder):
    (folder / "tiny.toml").write_text(CAMPAIGN)
    return folder / "tiny.toml"


def dump(db):
    with contextlib.closing(results.connect(db)) as conn:
        return results.runs(conn, trace=True)


@pytest.fixture(scope="module")
def reference_db(tmp_path_factory):
    db = tmp_path_factory.mktemp("reference") / "ref.db"
    counts = campaign.run(write_campaign(db.parent), db, workers=1, progress=False)
    assert counts == {"planned": 24, "skipped": 0, "done": 24, "failed": 0}
    return db


def test_the_export_holds_every_run_with_its_fields(reference_db, tmp_path):
    reference = dump(reference_db)
    assert [(r["solver"], r["test"], r["repetition"]) for r in reference[:3]] == [("direct-l", 1, 1), ("direct-l", 1, 2),
                                                                                 ("direct-l", 2, 1)]
    assert all(r["evaluations"] <= 300 and r["status"] != "error" for r in reference)
    assert any(r["hit"] is not None for r in reference)
    for form in ("json", "csv"):
        assert campaign.main(["export", str(reference_db), "--format", form, "-o", str(tmp_path / f"runs.{form}")]) == 0
    exported = json.loads((tmp_path / "runs.json").read_text())
    assert [(r["solver"], r["test"], r["best_value"], r["trace"]) for r in exported] == \
        [(r["solver"], r["test"], r["best_value"], r["trace"]) for r in reference]
    assert len((tmp_path / "runs.csv").read_text().splitlines()) == 25


def test_a_killed_campaign_resumes_to_the_same_database(reference_db, tmp_path):
    path, db = write_campaign(tmp_path), tmp_path / "killed.db"
    proc = subprocess.Popen([sys.executable, "-m", "travo.campaign", "run", str(path), "--db", str(db), "--workers",
                             "1", "--quiet"])
    finished, deadline = 0, time.monotonic() + 60
    while finished < 18 and time.monotonic() < deadline and proc.poll() is None:
        time.sleep(0.05)
        with contextlib.suppress(sqlite3.Error), sqlite3.connect(f"file:{db}?mode=ro", uri=True, timeout=0.1) as conn:
            finished = conn.execute("SELECT COUNT(*) FROM run").fetchone()[0]
    proc.send_signal(signal.SIGKILL)
    proc.wait()
    assert 18 <= finished < 24  # killed part-way, within the slow solver's runs
    counts = campaign.run(path, db, workers=2, progress=False)
    assert counts["skipped"] >= 18 and counts["done"] == 24 - counts["skipped"]
    assert dump(db) == dump(reference_db)


def test_local_workers_and_dask_give_identical_results_even_when_a_worker_dies(reference_db, tmp_path):
    distributed = pytest.importorskip("distributed")
    path = write_campaign(tmp_path)
    campaign.run(path, tmp_path / "two.db", workers=2, progress=False)
    assert dump(tmp_path / "two.db") == dump(reference_db)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address=None,
                                  processes=True) as cluster, distributed.Client(cluster) as client:
        pids, killed = list(client.run(os.getpid).values()), []

        def kill_one(done, total, failed):  # the Dask run loses a worker part-way
            if not killed:
                os.kill(pids[0], signal.SIGKILL)
                killed.append(done)

        counts = campaign.run(path, tmp_path / "killed.db", scheduler=client, progress=kill_one)
        assert killed and counts == {"planned": 24, "skipped": 0, "done": 24, "failed": 0}
        assert dump(tmp_path / "killed.db") == dump(reference_db)


HEAD, DIRECT = 'name = "x"\nsuite = "2-hard"\n', '[[solver]]\nname = "direct"\n'


@pytest.mark.parametrize("text,message", [
    ('name = "x"\nbudget = 5\n' + DIRECT, "key 'suite' is missing"),
    ('name = "x"\nsuite = "6-hard"\nbudget = 5\n' + DIRECT, "unknown suite '6-hard'"),
    (HEAD + "budget = 0\n" + DIRECT, "'budget' must be a positive integer"),
    (HEAD + "budget = 5\ntests = [0]\n" + DIRECT, "test number 0"),
    (HEAD + "budgte = 5\n" + DIRECT, "unknown key 'budgte'"),
    (HEAD + 'budget = 5\n[[solver]]\nname = "nosuch"', "unknown solver 'nosuch'"),
    (HEAD + "budget = 5\n" + DIRECT * 2, "'direct' is used twice"),
    (HEAD + "budget = 5\n", "[[solver]]"),
    ('name = "x"\nsuite = {name = "s", dim = 2, distance = 0.5, radius = 0.4}\nbudget = 5\n' + DIRECT, "refuses"),
    ('name = "x"\nsuite = {file = "missing.toml"}\nbudget = 5\n' + DIRECT, "cannot read"),
    ('name = "x\nsuite = "2-hard"', "not valid TOML"),
])
def test_bad_campaign_files_are_refused_and_nothing_is_written(tmp_path, capsys, text, message):
    (tmp_path / "bad.toml").write_text(text)
    assert campaign.main(["run", str(tmp_path / "bad.toml"), "--db", str(tmp_path / "out.db")]) == 2
    err = capsys.readouterr().err
    assert err.startswith("error: ") and str(tmp_path / "bad.toml") in err and message in err
    assert os.listdir(tmp_path) == ["bad.toml"]


def test_built_in_solvers_run_within_the_budget():
    member = suites.standard("2-simple").members()[4]
    for name in ("direct", "direct-l", "dual_annealing", "differential_evolution", "shgo", "lbfgsb-multistart",
                 "nlopt:GN_DIRECT_L", "nlopt:GN_CRS2_LM", "nlopt:GN_ESCH"):
        r = campaign.execute(campaign.Task(name, {}, member, 1, 7, 100, (0,)))
        assert r["status"] in ("budget", "stopped") and 0 < r["cost"] <= 100 and r["best_point"] is not None, (name, r)


def test_user_suites_from_json_and_toml_files(tmp_path):
    (tmp_path / "s.json").write_text('{"name": "mine", "dim": 3, "num_minima": 7, "lower": [-1, -2, 0], "upper": 2,'
                                     ' "accuracy": 1e-5, "tests": [9, 5], "kinds": ["D", "D2"]}')
    (tmp_path / "s.toml").write_text('name = "mine"\ndim = 3\nnum_minima = 7\nlower = [-1, -2, 0]\nupper = 2\n'
                                     'accuracy = 1e-5\ntests = [9, 5]\nkinds = ["D", "D2"]\n')
    s = suites.load(tmp_path / "s.json")
    assert s == suites.load(tmp_path / "s.toml")
    assert [m.id for m in s] == ["mine/D/9", "mine/D/5", "mine/D2/9", "mine/D2/5"]
    m = s.members()[1].generate()
    assert m.parameters.test_number == 5 and m.lower.tolist() == [-1, -2, 0] and m.upper.tolist() == [2, 2, 2]
