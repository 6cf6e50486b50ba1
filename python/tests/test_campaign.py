"""Campaigns: bit-identical and resumable on every executor, failures recorded and redone, clean stops, and bad
input refused before anything is written."""

import contextlib
import ctypes
import json
import os
import pathlib
import signal
import sqlite3
import subprocess
import sys
import time

import numpy as np
import pytest

from travo import BudgetExhausted, campaign, results, suites
from travo.campaign import executors
from travo.campaign.execute import Task, execute

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
# The campaign that data/schema1.sql holds, as travo 0.1.0 ran it.
LEGACY = """
name = "legacy"
suite = "2-simple"
tests = [1, 2]
budget = 200
repetitions = 2
targets = [0, -2]
solver = [{ name = "direct-l", repetitions = 1 }, { name = "differential_evolution", options = { popsize = 5 } },
          { name = "lbfgsb-multistart" }, { name = "nlopt:GN_CRS2_LM" }]
"""
# Each test number of FAULTY misbehaves in its own way while TRAVO_TEST_FAULTS is set, with what is recorded.
FAULTS = {2: ("crashed", "signal 11 (SIGSEGV)"), 3: ("timeout", "time limit of 1 s ended the run"),
          4: ("error", "ValueError: boom"), 5: ("error", "SystemExit: 0"), 6: ("error", "SystemExit: 3"),
          7: ("error", "KeyboardInterrupt"), 8: ("error", "GeneratorExit"), 9: ("crashed", "exited with status 3"),
          10: ("timeout", "did not answer")}
FAULTY = """
name = "faulty"
suite = "2-simple"
tests = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]
budget = 40
time_limit = 1
solver = [{ name = "test_campaign:faulty" }]
"""


def slow_random_search(problem, budget, rng, pause=0.0):
    """A user's solver that takes its time, so that a campaign can be stopped part-way."""
    if os.environ.get("TRAVO_TEST_LOG"):  # counts executions, across processes
        with open(os.environ["TRAVO_TEST_LOG"], "a") as log:
            log.write("run\n")
    time.sleep(pause)
    problem.value(rng.uniform(problem.member.lower, problem.member.upper, (budget, problem.dim)))


def faulty(problem, budget, rng):
    """Random search, but while TRAVO_TEST_FAULTS is set each test number from 2 fails as FAULTS says."""
    test = problem.member.parameters.test_number
    problem.value(rng.uniform(problem.member.lower, problem.member.upper))
    if os.environ.get("TRAVO_TEST_FAULTS"):
        if test == 2:
            ctypes.string_at(0)
        if test == 3:
            while True:
                pass
        if test == 10:  # deaf to the time limit's signal: its process is ended
            signal.signal(signal.SIGALRM, signal.SIG_IGN)
            while True:
                pass
        if test in (4, 5, 6, 7, 8):
            raise {4: ValueError("boom"), 5: SystemExit(0), 6: SystemExit(3), 7: KeyboardInterrupt(),
                   8: GeneratorExit()}[test]
        if test == 9:
            os._exit(3)
    problem.value(rng.uniform(problem.member.lower, problem.member.upper, (budget, problem.dim)))


@pytest.fixture(autouse=True)
def helpers_on_path(monkeypatch):
    # This module, for the solvers above, in the command's process (worker processes take the caller's path).
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([str(HERE), os.environ.get("PYTHONPATH", "")]))
    # Under AddressSanitizer, whose runtime is preloaded into every Python process of a sanitized build, the
    # faulty solver's segmentation fault must stay a signal: the sanitizer's own handler would turn it into
    # exit status 1 and hide what the runner records.
    if os.environ.get("ASAN_OPTIONS") is not None:
        monkeypatch.setenv("ASAN_OPTIONS", os.environ["ASAN_OPTIONS"] + ":handle_segv=0")


def write(folder, text, name="c.toml"):
    (folder / name).write_text(text)
    return folder / name


def dump(db):
    with contextlib.closing(results.connect(db)) as conn:
        return results.runs(conn, trace=True)


def command(*args, **kwargs):
    return subprocess.run([sys.executable, "-m", "travo.campaign", *map(str, args)], capture_output=True, text=True,
                          **kwargs)


def children(pid):
    """Processes whose parent is pid."""
    found = []
    for stat in pathlib.Path("/proc").glob("[0-9]*/stat"):
        with contextlib.suppress(OSError, IndexError):
            if int(stat.read_text().rsplit(")", 1)[1].split()[1]) == pid:
                found.append(int(stat.parent.name))
    return found


def alive(pid):
    with contextlib.suppress(OSError):
        return pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] != "Z"
    return False


@pytest.fixture(scope="module")
def reference_db(tmp_path_factory):
    db = tmp_path_factory.mktemp("reference") / "ref.db"
    counts = campaign.run(write(db.parent, CAMPAIGN), db, workers=0, progress=False)
    assert (counts["planned"], counts["done"], counts["failed"]) == (24, 24, 0)
    return db


def test_the_export_holds_every_run_with_its_fields(reference_db, tmp_path):
    reference = dump(reference_db)
    assert [(r["solver"], r["test"], r["repetition"]) for r in reference[:3]] == [("direct-l", 1, 1), ("direct-l", 1, 2),
                                                                                 ("direct-l", 2, 1)]
    assert all(r["evaluations"] <= r["budget"] == 300 and r["status"] in ("budget", "stopped") for r in reference)
    assert any(r["hit"] is not None for r in reference)
    for form in ("json", "csv"):
        assert campaign.main(["export", str(reference_db), "--format", form, "-o", str(tmp_path / f"runs.{form}")]) == 0
    exported = json.loads((tmp_path / "runs.json").read_text())
    assert [(r["solver"], r["test"], r["best_value"], r["trace"]) for r in exported] == \
        [(r["solver"], r["test"], r["best_value"], r["trace"]) for r in reference]
    assert len((tmp_path / "runs.csv").read_text().splitlines()) == 25


def test_a_schema_1_database_is_read_migrated_in_one_transaction_and_resumed_bit_identically(tmp_path):
    old = tmp_path / "old.db"
    with contextlib.closing(sqlite3.connect(old)) as conn:
        conn.executescript((HERE / "data" / "schema1.sql").read_text())
    as_read = dump(old)  # read as it is, before any migration
    assert len(as_read) == 14 and {r["budget"] for r in as_read} == {200}
    path = write(tmp_path, LEGACY)
    counts = campaign.run(path, old, workers=0, progress=False)
    assert (counts["skipped"], counts["done"]) == (14, 0)
    # Today's runs of the same file are the old ones, bit for bit; a migrated database is a new one.
    campaign.run(path, tmp_path / "new.db", workers=0, progress=False)
    assert dump(old) == as_read

    def unworded(runs):  # the solver's own word, which the old version did not keep
        return [{k: v for k, v in r.items() if k not in ("solver_status", "solver_message")} for r in runs]

    assert unworded(dump(tmp_path / "new.db")) == unworded(as_read)
    schema = "SELECT type, name, sql FROM sqlite_master ORDER BY name"
    with contextlib.closing(sqlite3.connect(old)) as a, contextlib.closing(sqlite3.connect(tmp_path / "new.db")) as b:
        assert a.execute(schema).fetchall() == b.execute(schema).fetchall()
        assert a.execute("PRAGMA user_version").fetchone() == (2,)
    # A migration that fails part-way leaves the database as it was.
    broken = tmp_path / "broken.db"
    with contextlib.closing(sqlite3.connect(broken)) as conn:
        conn.executescript((HERE / "data" / "schema1.sql").read_text())
        conn.execute("UPDATE campaign SET description = json_remove(description, '$.budget')")
        conn.commit()
        before = list(conn.iterdump())
    with pytest.raises(results.DatabaseError, match="NOT NULL"):
        results.connect(broken, create=True)
    with contextlib.closing(sqlite3.connect(broken)) as conn:
        assert list(conn.iterdump()) == before and conn.execute("PRAGMA user_version").fetchone() == (1,)


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM, signal.SIGKILL])
def test_a_stopped_campaign_leaves_no_process_behind_and_resumes_to_the_same_database(reference_db, tmp_path, sig):
    path, db = write(tmp_path, CAMPAIGN), tmp_path / "stopped.db"
    proc = subprocess.Popen([sys.executable, "-m", "travo.campaign", "run", str(path), "--db", str(db), "--workers",
                             "2"], stderr=subprocess.PIPE, text=True)
    finished, deadline = 0, time.monotonic() + 60
    while finished < 18 and time.monotonic() < deadline and proc.poll() is None:
        time.sleep(0.05)
        with contextlib.suppress(sqlite3.Error), sqlite3.connect(f"file:{db}?mode=ro", uri=True, timeout=0.1) as conn:
            finished = conn.execute("SELECT COUNT(*) FROM run").fetchone()[0]
    workers = children(proc.pid)
    proc.send_signal(sig)
    err = proc.communicate(timeout=30)[1]
    assert 18 <= finished < 24 and len(workers) == 2  # stopped part-way, within the slow solver's runs
    if sig == signal.SIGKILL:
        deadline = time.monotonic() + 5
        while any(map(alive, workers)) and time.monotonic() < deadline:
            time.sleep(0.05)
    else:
        assert proc.returncode == 128 + sig and "Traceback" not in err
        assert err.strip().splitlines()[-1].endswith("to do; run the same command to go on")
    assert not any(map(alive, workers))
    counts = campaign.run(path, db, workers=0, progress=False)
    assert counts["skipped"] >= 18 and counts["done"] == 24 - counts["skipped"]
    assert dump(db) == dump(reference_db)


def test_failed_runs_are_recorded_the_campaign_goes_on_and_retry_redoes_them(tmp_path, monkeypatch):
    path, db = write(tmp_path, FAULTY), tmp_path / "faulty.db"
    monkeypatch.setenv("TRAVO_TEST_FAULTS", "1")
    done = command("run", path, "--db", db, "--workers", "2")
    assert done.returncode == 1 and "9 runs did not finish normally" in done.stderr and "Traceback" not in done.stderr
    failed = {r["test"]: (r["status"], r["message"]) for r in dump(db) if r["status"] in results.FAILED}
    assert failed.keys() == FAULTS.keys()
    for test, (status, message) in FAULTS.items():
        assert failed[test][0] == status and message in failed[test][1], (test, failed[test])
    listed = command("status", db, "--errors").stdout.splitlines()
    assert len(listed) == 9 and listed[0].startswith("faulty  test_campaign:faulty  2-simple/D/2  repetition 1  "
                                                     "crashed: the run's process killed by signal 11")
    assert campaign.run(path, db, workers=0, progress=False)["done"] == 0  # failures are not redone
    monkeypatch.delenv("TRAVO_TEST_FAULTS")  # the solver is mended
    assert command("run", path, "--db", db, "--retry-failed", "--workers", "2").returncode == 0
    campaign.run(path, tmp_path / "clean.db", workers=0, progress=False)
    assert [dict(r, seconds=0) for r in dump(db)] == [dict(r, seconds=0) for r in dump(tmp_path / "clean.db")]


def test_dask_gives_the_same_results_without_recomputing_and_records_crashes(reference_db, tmp_path, monkeypatch):
    distributed = pytest.importorskip("distributed")
    path = write(tmp_path, CAMPAIGN)
    monkeypatch.setenv("TRAVO_TEST_LOG", str(tmp_path / "executions"))
    monkeypatch.setenv("TRAVO_TEST_FAULTS", "1")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address=None,
                                  processes=True) as cluster, distributed.Client(cluster) as client:
        pids, killed = list(client.run(os.getpid).values()), []

        def kill_one(done, total, failed):  # the Dask run loses a worker part-way
            if not killed:
                os.kill(pids[0], signal.SIGKILL)
                killed.append(done)

        counts = campaign.run(path, tmp_path / "killed.db", scheduler=client, progress=kill_one)
        assert killed and (counts["done"], counts["failed"]) == (24, 0)
        assert dump(tmp_path / "killed.db") == dump(reference_db)
        # Only the runs in flight on the lost worker ran twice: written ones were released.
        assert 8 <= len((tmp_path / "executions").read_text().splitlines()) <= 8 + 2
        faulty_db = tmp_path / "faulty.db"
        campaign.run(write(tmp_path, FAULTY.replace("4, 5, 6, 7, 8, 9, 10", "4"), "f.toml"), faulty_db,
                     scheduler=client, progress=False)
    assert [r["status"] for r in dump(faulty_db)] == ["budget", "crashed", "timeout", "error"]


def test_a_crash_inside_a_bundle_is_recorded_and_the_rest_of_the_bundle_runs_again(tmp_path, monkeypatch):
    monkeypatch.setenv("TRAVO_TEST_FAULTS", "1")
    c = campaign.load(write(tmp_path, FAULTY.replace("3, 4, 5, 6, 7, 8, 9, 10", "4, 11")))
    s = c.solvers[0]
    todo = [(i, Task(s.name, s.options, m, 1, i, 40, c.targets, time_limit=5)) for i, m in enumerate(c.members())]
    box = executors.Sandbox()
    box.submit(todo)
    assert [(key, record["status"]) for key, _, record in box.results()] == [(0, "budget"), (1, "crashed")]
    assert box.left == todo[2:]
    # On local workers, the runs after the crash go to a new worker: each run is recorded once.
    written = []
    executors.run_local(todo, lambda key, record: written.append((key, record["status"])), lambda: None, 1, 4)
    assert written == [(0, "budget"), (1, "crashed"), (2, "error"), (3, "budget")]


HEAD, DIRECT = 'name = "x"\nsuite = "2-hard"\n', '[[solver]]\nname = "direct"\n'
SOLVER = 'name = "x"\nsuite = "2-hard"\nbudget = 5\n[[solver]]\n'
NESTED = '{"name": "x", "suite": "2-hard", "budget": 5, "solver": [{"name": "direct", "options": {"a": ' + \
    "[" * 100000 + "]" * 100000 + "}}]}"


@pytest.mark.parametrize("text,message", [
    ('name = "x"\nbudget = 5\n' + DIRECT, "key 'suite' is missing"),
    ('name = "x"\nsuite = "6-hard"\nbudget = 5\n' + DIRECT, "unknown suite '6-hard'"),
    (HEAD + "budget = 0\n" + DIRECT, "'budget' must be a positive integer"),
    (HEAD + "budget = true\n" + DIRECT, "'budget' must be a positive integer"),
    (HEAD + f"budget = {2**64}\n" + DIRECT, "below 2**63"),
    (HEAD + 'budget = "n * n"\n' + DIRECT, "is not a budget rule"),
    (HEAD + "budget = 5\ntests = [0]\n" + DIRECT, "test number 0"),
    (HEAD + "budgte = 5\n" + DIRECT, "unknown key 'budgte'"),
    (HEAD + 'budget = 5\nkind = "D"\nkinds = ["D"]\n' + DIRECT, "give 'kind' or 'kinds', not both"),
    (HEAD + 'budget = 5\nstop = "never"\n' + DIRECT, "'stop' must be one of"),
    (HEAD + "budget = 5\ntime_limit = 0\n" + DIRECT, "'time_limit' must be a number of seconds above 0"),
    (HEAD + "budget = 5\nrepetitions = 1000000\n" + DIRECT, "plans 100000000 runs; at most 1000000"),
    (HEAD + 'budget = 5\nstop = "target"\ntargets = []\n' + DIRECT, "needs at least one value target"),
    (SOLVER + 'name = "nosuch"', "unknown solver 'nosuch'"),
    (HEAD + "budget = 5\n" + DIRECT * 2, "'direct' is used twice"),
    (HEAD + "budget = 5\n", "[[solver]]"),
    (SOLVER + 'name = "direct"\noptions = { maxfun = "10" }', "option 'maxfun' must be a positive integer"),
    (SOLVER + 'name = "direct"\noptions = { popsize = 10 }', "unknown option 'popsize'"),
    (SOLVER + 'name = "nlopt:GN_ESCH"\noptions = { maxtime = 10 }', "makes results depend on the machine"),
    (SOLVER + 'name = "nlopt:GN_MLSL_LDS"', "needs a local optimiser"),
    (SOLVER + 'name = "differential_evolution"\noptions = { when = 1979-05-27 }', "is a date or time"),
    (SOLVER + 'name = "test_campaign:faulty"\noptions = { speed = 2 }', "unknown option 'speed'"),
    (SOLVER + 'name = ".relative:solve"', "absolute module name"),
    (SOLVER + 'name = "test_campaign_broken_module:solve"', "cannot import 'test_campaign_broken_module': "
                                                            "ZeroDivisionError"),
    ('name = "x"\nsuite = "2-hard"\nkinds = ["ND"]\nbudget = 5\n[[solver]]\nname = "lbfgsb-multistart"',
     "solver 1 ('lbfgsb-multistart'): needs gradients, which kind ND has none of"),
    ('name = "x"\nsuite = {name = "s", dim = 2, distance = 0.5, radius = 0.4}\nbudget = 5\n' + DIRECT, "refuses"),
    ('name = "x"\nsuite = {name = "s", dim = 1000, num_minima = 10000}\nbudget = 5\n' + DIRECT, "from 2 to 1000"),
    ('name = "x"\nsuite = {file = "missing.toml"}\nbudget = 5\n' + DIRECT, "cannot read"),
    ('name = "x"\nsuite = {file = "/dev/zero"}\nbudget = 5\n' + DIRECT, "not a regular file"),
    ('name = "x"\nsuite = {file = "fifo.toml"}\nbudget = 5\n' + DIRECT, "not a regular file"),
    ('name = "x\nsuite = "2-hard"', "not valid TOML"),
    (NESTED, "nested too deeply"),
], ids=lambda v: v[:40])
def test_bad_campaign_files_are_refused_and_nothing_is_written(tmp_path, monkeypatch, capsys, text, message):
    name = "bad.json" if text.startswith("{") else "bad.toml"
    write(tmp_path, text, name)
    (tmp_path / "test_campaign_broken_module.py").write_text("1 / 0\n")
    os.mkfifo(tmp_path / "fifo.toml")
    monkeypatch.chdir(tmp_path)
    monkeypatch.syspath_prepend(str(tmp_path))
    before = sorted(os.listdir(tmp_path))
    assert campaign.main(["run", name, "--db", "out.db"]) == 2
    err = capsys.readouterr().err
    assert len(err.splitlines()) == 1 and err.startswith("error: ") and name in err and message in err, err
    assert sorted(os.listdir(tmp_path)) == before


def _other_columns(db):
    with contextlib.closing(sqlite3.connect(db)) as conn:
        conn.executescript("CREATE TABLE meta (k); CREATE TABLE campaign (k); CREATE TABLE solver (k); "
                           "CREATE TABLE member (k); CREATE TABLE run (k); PRAGMA user_version = 2;")


def _damaged(db):
    campaign.run(campaign.from_dict({"name": "d", "suite": "2-simple", "tests": list(range(1, 41)), "budget": 20,
                                     "solver": [{"name": "random-search"}]}), db, workers=0, progress=False)
    data = bytearray(db.read_bytes())
    data[len(data) // 2:len(data) // 2 + 4096] = b"\xff" * 4096
    db.write_bytes(bytes(data))


def _newer(db):
    results.connect(db, create=True).execute("PRAGMA user_version = 3").connection.close()


def _changed(db):
    c = campaign.load(write(db.parent, LEGACY.replace("budget = 200", "budget = 100"), "earlier.toml"))
    conn = results.connect(db, create=True)
    results.register_campaign(conn, "legacy", c.description(), c.planned(), campaign.loader.solver_records(c),
                              campaign.loader.member_records(c))
    conn.close()


def _read_only(db):
    results.connect(db, create=True).close()
    db.chmod(0o444)


@pytest.mark.parametrize("make,message", [
    (_other_columns, "not a travo results database of schema version 2 (table 'meta' has no column 'key')"),
    (_damaged, "damaged or not a results database"),
    (_newer, "written by a newer travo (schema version 3)"),
    (_changed, "differs in budget (recorded 100, now 200)"),
    (_read_only, "the database is read-only"),
])
def test_databases_that_cannot_take_the_campaign_are_refused_and_left_as_they_were(tmp_path, make, message):
    if make is _read_only and os.geteuid() == 0:
        pytest.skip("root writes read-only files")
    db = tmp_path / "results.db"
    make(db)
    before = db.read_bytes()
    done = command("run", write(tmp_path, LEGACY), "--db", db)
    assert done.returncode == 2 and len(done.stderr.splitlines()) == 1, done.stderr
    assert done.stderr.startswith("error: ") and message in done.stderr, done.stderr
    assert db.read_bytes() == before


def test_a_campaign_being_run_is_locked_and_can_be_read_meanwhile(reference_db, tmp_path):
    db = tmp_path / "locked.db"
    db.write_bytes(reference_db.read_bytes())
    conn = results.connect(db, create=True)
    lock = results.CampaignLock(conn, db, "tiny")
    lock.announce()
    try:
        done = command("run", write(tmp_path, CAMPAIGN), "--db", db)
        assert done.returncode == 2 and f"campaign 'tiny' is being run by process {os.getpid()}" in done.stderr
        assert command("status", db).returncode == 0 and command("export", db, "--format", "csv").returncode == 0
    finally:
        lock.release()
        conn.close()


def test_a_write_that_fails_shows_its_cause_and_leaves_the_database_consistent(tmp_path):
    import resource
    path, db = write(tmp_path, CAMPAIGN.replace("tests = [1, 2, 3, 4]", "").replace("pause = 0.1", "")), tmp_path / "f.db"
    limit = 300_000

    def small_files():
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    done = subprocess.run([sys.executable, "-m", "travo.campaign", "run", path, "--db", db, "--workers", "0"],
                          capture_output=True, text=True, preexec_fn=small_files)
    assert done.returncode == 2 and len(done.stderr.splitlines()) == 1, done.stderr
    assert "disk I/O error" in done.stderr and f"the file size limit is {limit} bytes" in done.stderr
    with contextlib.closing(sqlite3.connect(db)) as conn:
        assert conn.execute("PRAGMA integrity_check").fetchone() == ("ok",)
        assert 0 < conn.execute("SELECT COUNT(*) FROM run").fetchone()[0] < 600


def test_status_counts_runs_by_status_and_ends_quietly_on_a_closed_pipe(reference_db):
    out = command("status", reference_db).stdout.splitlines()
    assert out[0].startswith("campaign tiny: 24 of 24 runs recorded; suites 2-simple; kinds D; budget 300")
    assert out[1].split() == ["solver", "planned", "recorded", "budget", "stopped", "solved", "budget", "used"]
    assert out[2].split()[:3] == ["direct-l", "8", "8"]
    proc = subprocess.Popen([sys.executable, "-m", "travo.campaign", "status", str(reference_db)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    proc.stdout.close()  # the reader is gone before anything is written
    assert proc.wait() == 0 and proc.stderr.read() == b""
    # A large database's status reads an index, not the runs' rows.
    with contextlib.closing(sqlite3.connect(reference_db)) as conn:
        for sql in ("SELECT status, COUNT(*) FROM run WHERE solver = 1 GROUP BY status",
                    "SELECT COUNT(hit), AVG(cost * 1.0 / budget), AVG(restarts) FROM run WHERE solver = 1"):
            assert "COVERING INDEX run_by_solver" in str(conn.execute("EXPLAIN QUERY PLAN " + sql).fetchall())


def test_several_classes_and_kinds_with_budgets_by_dimension(tmp_path):
    (tmp_path / "mine.json").write_text('{"name": "mine", "dim": 3, "num_minima": 7, "lower": [-1, -2, 0], '
                                        '"upper": 2, "accuracy": 1e-5, "tests": [9, 5], "kinds": ["D2"]}')
    c = campaign.load(write(tmp_path, 'name = "m"\nsuites = ["2-simple", {file = "mine.json"}]\nkinds = ["ND", "D"]\n'
                                      'tests = [5, 9]\nbudget = "20 * n"\n[[solver]]\nname = "random-search"\n'))
    modes = []

    def journal(*counts):  # while the campaign writes: a write-ahead log
        with contextlib.closing(sqlite3.connect(tmp_path / "m.db")) as conn:
            modes.append(conn.execute("PRAGMA journal_mode").fetchone()[0])

    campaign.run(c, tmp_path / "m.db", workers=0, progress=journal)
    runs = dump(tmp_path / "m.db")
    assert [(r["suite"], r["kind"], r["test"], r["budget"]) for r in runs] == [
        ("2-simple", "D", 5, 40), ("2-simple", "D", 9, 40), ("2-simple", "ND", 5, 40), ("2-simple", "ND", 9, 40),
        ("mine", "D2", 5, 60), ("mine", "D2", 9, 60)]
    # The longest expected runs (budget times dimension) were run first; the file keeps no log once written.
    with contextlib.closing(sqlite3.connect(tmp_path / "m.db")) as conn:
        order = conn.execute("SELECT m.suite FROM run r JOIN member m ON m.id = r.member ORDER BY r.id").fetchall()
        assert [s for s, in order[:2]] == ["mine", "mine"]
        assert set(modes) == {"wal"} and conn.execute("PRAGMA journal_mode").fetchone() == ("delete",)
    # A run's seed does not depend on the other classes of its campaign.
    alone = campaign.from_dict({"name": "m", "suite": "2-simple", "kind": "ND", "tests": [9], "budget": 40,
                                "solver": [{"name": "random-search"}]})
    assert runs[3]["seed"] == campaign.seed("m", alone.solvers[0], alone.members()[0], 1)


def test_a_changed_solver_entry_runs_anew_and_leaves_the_others_alone(reference_db, tmp_path):
    db = tmp_path / "c.db"
    db.write_bytes(reference_db.read_bytes())
    told = []
    changed = CAMPAIGN.replace("popsize = 5", "popsize = 6")
    counts = campaign.run(write(tmp_path, changed), db, workers=0, progress=False, tell=told.append)
    assert (counts["skipped"], counts["done"]) == (16, 8) and len(told) == 1
    assert "options {\"popsize\": 5} -> {\"popsize\": 6}" in told[0]
    before, after = dump(reference_db), dump(db)
    assert [r for r in after if r["solver"] != "differential_evolution"] == \
        [r for r in before if r["solver"] != "differential_evolution"]
    # Back to the first options: their runs count again, the second ones are kept aside in turn.
    counts = campaign.run(write(tmp_path, CAMPAIGN), db, workers=0, progress=False, tell=told.append)
    assert (counts["skipped"], counts["done"]) == (24, 0) and "count again" in told[1] and dump(db) == before


member = suites.standard("2-simple").members()[4]


def test_built_in_solvers_run_within_the_budget_and_tell_how_they_ended():
    for name, options in [("direct", {}), ("direct-l", {}), ("dual_annealing", {}), ("differential_evolution", {}),
                          ("shgo", {}), ("lbfgsb-multistart", {}), ("nelder-mead-multistart", {}),
                          ("random-search", {"batch": 7}), ("cmaes", {}), ("nlopt:GN_DIRECT_L", {}),
                          ("nlopt:GN_CRS2_LM", {}), ("nlopt:GN_ESCH", {}),
                          ("nlopt:GN_MLSL_LDS", {"local": "LN_BOBYQA"}), ("nlopt-local-multistart:LD_LBFGS", {})]:
        r = execute(Task(name, options, member, 1, 7, 100, (0,)))
        assert r["status"] in ("budget", "stopped") and 0 < r["cost"] <= 100 and r["best_point"] is not None, (name, r)
        assert (r["status"] == "stopped") <= (r["solver_message"] != ""), (name, r)
    # DIRECT given a larger maxfun of its own ends at the budget, without running on.
    r = execute(Task("direct", {"maxfun": 10**7}, member, 1, 7, 200, (0,)))
    assert r["status"] == "budget" and r["cost"] == 200 and r["seconds"] < 5


def test_batched_differential_evolution_gives_the_per_point_results():
    from scipy.optimize import differential_evolution
    from travo.observed import observe
    r = execute(Task("differential_evolution", {"updating": "deferred", "popsize": 6}, member, 1, 11, 500, (0, -3)))
    p = observe(member.generate(), "D", 500, member.accuracy, (0, -3))
    with contextlib.suppress(BudgetExhausted):
        differential_evolution(p.value, list(zip(p.member.lower, p.member.upper)), seed=np.random.default_rng(11),
                               maxiter=500, updating="deferred", popsize=6)
    assert (r["cost"], r["best_value"], r["hit"], r["target_hits"], r["trace"]) == \
        (p.cost, p.best_value, p.hit, p.target_hits, p.trace.tolist())


def restarting(problem, budget, rng):
    """Ten points from the generator, then returns; its second start begins at the global minimizer."""
    if problem.cost == 10:
        problem.value(problem.member.global_minimizer)
    problem.value(rng.uniform(problem.member.lower, problem.member.upper, (10, problem.dim)))


def test_restarts_hand_on_the_remaining_budget_with_fresh_generators_and_keep_the_hit():
    r = execute(Task("test_campaign:restarting", {}, member, 1, 5, 36, (0,), restarts=True))
    assert (r["status"], r["cost"], r["restarts"], r["hit"]) == ("budget", 36, 3, 11)
    f = member.generate()
    starts = [np.random.default_rng(5)] + [np.random.default_rng([5, k]) for k in (1, 2, 3)]
    points = np.concatenate([s.uniform(f.lower, f.upper, (10, 2)) for s in starts])
    points = np.insert(points, 10, f.global_minimizer, axis=0)[:36]
    values = f.value(points, "D")
    assert r["best_value"] == values.min() and r["best_point"] == points[values.argmin()].tolist()
    assert execute(Task("test_campaign:restarting", {}, member, 1, 5, 36, (0,)))["status"] == "stopped"


@pytest.mark.parametrize("name,options", [("random-search", {"batch": 50}), ("direct-l", {}),
                                          ("differential_evolution", {"updating": "deferred"}),
                                          ("nlopt:GN_CRS2_LM", {})])
def test_stop_rules_end_a_run_at_the_hit_and_the_target_of_a_full_run(name, options):
    third = suites.standard("2-simple").members()[2]
    full = execute(Task(name, options, third, 1, 3, 2000, (0, -1)))
    assert full["hit"] is not None and full["target_hits"][-1] is not None
    for rule, at in (("hit", full["hit"]), ("target", full["target_hits"][-1])):
        r = execute(Task(name, options, third, 1, 3, 2000, (0, -1), stop=rule))
        assert (r["status"], r["cost"], r["hit"] if rule == "hit" else r["target_hits"][-1]) == (rule, at, at)
        assert r["trace"] == [t for t in full["trace"] if t[0] <= at]
