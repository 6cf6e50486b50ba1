"""The report, the exports and the safe writer they share, on hand-made databases."""

import csv
import errno
import json
import os
import pathlib
import re
import stat
import subprocess
import sys
import threading
import xml.etree.ElementTree

import pytest
from campaign_dbs import SUITE, make_db, run

from travo import _files, campaign, export, report

EVIL = 'q" onerror="alert(1)" x=<b>&'


@pytest.fixture
def failing_db(tmp_path):
    """A class with a hostile name, solver labels a spreadsheet or matplotlib would read as code, failed runs;
    and a class where every run failed before evaluating a point."""
    dead = dict(SUITE, name="dead", dim=3, lower=[-1.0] * 3, upper=[1.0] * 3)
    return make_db(tmp_path / "f.db", [
        ("c", 100, dict(SUITE, name=EVIL), {
            "=cmd": {1: [run(10), run(status="error", first=None)], 2: [run(), run(status="crashed", first=None)]},
            "_b$": {1: [run(30)], 2: [run(60)]}}),
        ("d", 100, dead, {"x": {1: [run(status="error", first=None), run(status="timeout", first=None)]}})])


def test_report_leads_with_the_summary_and_survives_failures_and_hostile_names(failing_db, tmp_path):
    out = tmp_path / "out"
    assert report.main([str(failing_db), "-o", str(out)]) == 0
    page = (out / "index.html").read_text()
    xml.etree.ElementTree.fromstring(page)  # well-formed: names escaped, every element closed
    assert "alert(1)" in page and 'onerror="' not in page and "<b>" not in page
    assert page.index("<h2>Summary") < page.index("<h2>Figures") < page.index("<details>")
    assert "no run of this class" in page and "4 runs failed" in page.replace("\n", " ")
    assert all(re.fullmatch(r"[A-Za-z0-9_][A-Za-z0-9._-]*", f) for f in os.listdir(out))
    with open(out / "summary.csv", newline="") as f:
        rows = list(csv.reader(f))
    assert tuple(rows[0]) == report.SUMMARY_FIELDS
    got = [dict(zip(rows[0], r)) for r in rows[1:]]
    # =cmd: 4 runs, 2 failed (left out of costs), one hit at 10 and one run of cost 100 without: ERT 110.
    assert [got[0][k] for k in ("solver", "members", "runs", "solved", "success_rate", "ert", "median_hit",
                                "budget", "mean_cost", "failed")] == \
        ["'=cmd", "2", "4", "1", "0.25", "110.0", "10.0", "100", "100.0", "2"]
    assert (got[1]["solver"], got[1]["ert"], got[1]["ert_low"], got[1]["ert_high"]) == ("_b$", "45.0", "30.0", "60.0")
    assert [got[2][k] for k in ("suite", "runs", "solved", "failed", "ert", "ert_high", "median_hit", "mean_cost")] == \
        ["dead", "2", "0", "2", "", "", "", ""]
    tex = (out / "tables.tex").read_text()
    assert tex.count("\\toprule") == 2 and "\\_b\\$" in tex and "$>$ 55.00 (1 unsolved)" in tex


def test_exports_for_spreadsheets_scripts_and_iohanalyzer(failing_db, tmp_path):
    def export_to(fmt, out):
        assert campaign.main(["export", str(failing_db), "--format", fmt, "-o", str(out), "--campaign", "c"]) == 0

    export_to("csv", tmp_path / "runs.csv")
    with open(tmp_path / "runs.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    assert tuple(rows[0]) == export.CSV_FIELDS and len(rows) == 6
    fields = ("suite", "solver", "dim", "status", "budget", "cost", "hit", "best_value", "global_value")
    assert [rows[0][k] for k in fields] == [EVIL, "'=cmd", "2", "budget", "100", "100", "10", "-0.999", "-1.0"]
    export_to("trace-csv", tmp_path / "trace.csv")
    assert (tmp_path / "trace.csv").read_text().splitlines()[:4] == ["run,cost,best_value", "1,1,4.0", "1,10,-0.999",
                                                                     "3,1,4.0"]
    export_to("json", tmp_path / "runs.json")
    first = json.loads((tmp_path / "runs.json").read_text())[0]
    assert first["solver"] == "=cmd" and first["best_point"] == [0.5, 0.5]
    assert first["trace"][1] == [10, 10, 0, 0, -0.999]

    export_to("iohprofiler", tmp_path / "ioh")
    files = sorted(str(p.relative_to(tmp_path / "ioh")) for p in (tmp_path / "ioh").rglob("*") if p.is_file())
    assert files == ["_b_/IOHprofiler_f1_q__onerror__alert_1___x__b__.json",
                     "_b_/data_f1_q__onerror__alert_1___x__b__/IOHprofiler_f1_DIM2.dat",
                     "_cmd/IOHprofiler_f1_q__onerror__alert_1___x__b__.json",
                     "_cmd/data_f1_q__onerror__alert_1___x__b__/IOHprofiler_f1_DIM2.dat"]
    meta = json.loads((tmp_path / "ioh" / files[2]).read_text())
    assert {k: meta[k] for k in ("suite", "function_id", "maximization", "attributes")} == {
        "suite": EVIL, "function_id": 1, "maximization": False, "attributes": ["evaluations", "raw_y"]}
    assert meta["algorithm"]["name"] == "=cmd" and len(meta["scenarios"]) == 1
    scenario = meta["scenarios"][0]
    # The failed runs are left out; each remaining run is a block of improvements ending at its cost.
    assert scenario["dimension"] == 2
    assert [(r["instance"], r["evals"]) for r in scenario["runs"]] == [(1, 100), (2, 100)]
    blocks = (tmp_path / "ioh" / "_cmd" / scenario["path"]).read_text().split("evaluations raw_y\n")
    assert blocks == ["", "1 4.0\n10 -0.999\n100 -0.999\n", "1 4.0\n100 4.0\n"]
    assert scenario["runs"][0]["best"] == {"evals": 10, "y": -0.999, "x": [0.5, 0.5]}


def test_the_safe_writer_replaces_only_regular_files_and_whole(tmp_path, monkeypatch):
    old_mask = os.umask(0o022)
    try:
        _files.write(tmp_path / "new", "a")
        assert stat.S_IMODE(os.stat(tmp_path / "new").st_mode) == 0o644
    finally:
        os.umask(old_mask)
    kept = tmp_path / "kept"
    kept.write_text("x")
    kept.chmod(0o600)
    _files.write(kept, "y")
    assert kept.read_text() == "y" and stat.S_IMODE(kept.stat().st_mode) == 0o600
    (tmp_path / "link").symlink_to(kept)
    (tmp_path / "dangling").symlink_to(tmp_path / "made")
    _files.write(tmp_path / "link", "z")
    _files.write(tmp_path / "dangling", "w")
    assert (tmp_path / "link").is_symlink() and kept.read_text() == "z"
    assert (tmp_path / "dangling").is_symlink() and (tmp_path / "made").read_text() == "w"
    _files.write("/dev/null", "gone")
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode)
    os.mkfifo(tmp_path / "fifo")
    got = []
    reader = threading.Thread(target=lambda: got.append(pathlib.Path(tmp_path / "fifo").read_text()))
    reader.start()
    _files.write(tmp_path / "fifo", "through the pipe")
    reader.join()
    assert got == ["through the pipe"] and stat.S_ISFIFO(os.stat(tmp_path / "fifo").st_mode)
    with pytest.raises(OSError, match="Is a directory"):
        _files.write(tmp_path, "x")
    before = sorted(os.listdir(tmp_path))

    def full_disk(fd, data):
        os.write(fd, data[:1])
        raise OSError(errno.ENOSPC, "No space left on device")

    monkeypatch.setattr(_files, "_write_all", full_disk)
    with pytest.raises(OSError, match="No space left"):
        _files.write(kept, "a longer text")
    monkeypatch.undo()
    with pytest.raises(OSError), _files.Batch() as batch:  # the second file cannot be staged: neither is written
        batch.add(tmp_path / "first", "1")
        batch.add(tmp_path / "no" / "such" / "folder", "2")
    assert kept.read_text() == "z" and sorted(os.listdir(tmp_path)) == before
    # A descriptor the caller redirected (here, appending) is written through, never replaced.
    (tmp_path / "log").write_text("kept\n")
    with open(tmp_path / "log", "a") as log:
        subprocess.run([sys.executable, "-c", "from travo import _files; _files.write('/dev/stdout', 'added\\n')"],
                       stdout=log, check=True)
    assert (tmp_path / "log").read_text() == "kept\nadded\n"
