"""Fuzzing of campaign files and the suite files they name: any input either runs (exit 0 or 1, a database), or
is refused with one line "error: ..." (exit 2) and nothing written.

The test suite runs TRAVO_FUZZ_EXAMPLES examples (default 40). A long run, which prints its count:

    TRAVO_FUZZ_SECONDS=600 PYTHONPATH=build/python python3 -m pytest -q -s python/tests/test_campaign_fuzz.py

Campaigns that plan more than 200 runs are only loaded, not run.
"""

import contextlib
import copy
import datetime
import io
import json
import math
import os
import pathlib
import tempfile
import time

from hypothesis import HealthCheck, given, seed, settings, strategies as st

from travo import campaign, suites

CAMPAIGN_KEYS = sorted(campaign.loader.CAMPAIGN_KEYS)
SOLVER_KEYS = sorted(campaign.loader.SOLVER_KEYS)
SUITE_KEYS = sorted(suites.SUITE_KEYS)
SOLVERS = ["random-search", "direct", "direct-l", "differential_evolution", "dual_annealing", "shgo", "cmaes",
           "lbfgsb-multistart", "nelder-mead-multistart", "nlopt:GN_CRS2_LM", "nlopt:GN_MLSL", "nlopt:GD_STOGO",
           "nlopt:LN_BOBYQA", "nlopt-local-multistart:LN_COBYLA", "nlopt-local-multistart:GN_ESCH", "nosuch",
           "math:sqrt", "os:_exit", ".rel:f", "no_such_module:f", "json:", ":f", ""]
OPTION_KEYS = ["batch", "popsize", "maxfun", "maxiter", "local", "updating", "strategy", "tol", "sigma", "xtol_rel",
               "maxeval", "maxtime", "population", "options", "n", "polish", "mutation", "unknown"]

texts = st.text(alphabet="ab1 _-/.:*\"'\\\n\t\x00\x7f\u00e9\u03bb\u20ac\U0001f600", max_size=12)
scalars = st.one_of(st.booleans(), st.integers(min_value=-3, max_value=120),
                    st.sampled_from([0, 2**31, 2**63 - 1, 2**63, 2**64, -2**70, 10**400]),
                    st.floats(allow_nan=True, allow_infinity=True), texts,
                    st.sampled_from(["D", "ND", "D2", "d2", "2-hard", "2-simple", "3-simple", "1000 * n", "2 * n",
                                     "n * 3", "n", "hit", "target", "budget", "LN_BOBYQA", "deferred", "best1bin"]),
                    st.dates(), st.datetimes(), st.times())
values = st.recursive(scalars, lambda inner: st.one_of(st.lists(inner, max_size=4),
                                                       st.dictionaries(texts, inner, max_size=3)),
                      max_leaves=8)


def table(keys, special):
    """Tables of known keys (with likely values, or anything) and now and then an unknown one."""
    return st.dictionaries(st.one_of(st.sampled_from(keys), texts),
                           st.deferred(lambda: st.one_of(special, values)), max_size=len(keys))


small_suite = st.fixed_dictionaries(
    {"name": st.sampled_from(["mine"] * 8 + ["2-hard", "a/b", ""]), "dim": st.sampled_from([2, 2, 3, 4, 1, 0])},
    optional={"num_minima": st.integers(min_value=1, max_value=30),
              "tests": st.lists(st.integers(0, 101), min_size=1, max_size=3),
              "kinds": st.lists(st.sampled_from(["D", "ND", "D2", "X"]), min_size=1, max_size=3),
              "lower": st.one_of(st.floats(-3, 0), st.lists(st.floats(-3, 0), max_size=4)),
              "upper": st.one_of(st.floats(0, 3), values), "accuracy": st.one_of(st.floats(0, 1), values),
              "distance": st.floats(0, 2), "radius": st.floats(0, 1), "global_value": st.floats(-2, 1)})
suite_value = st.one_of(st.sampled_from(["2-simple", "3-hard", {"file": "suite.toml"}, {"file": "suite.json"}]),
                        st.sampled_from(["2-simple", "4-hard"]), small_suite)
good_solver = st.one_of(
    st.fixed_dictionaries({"name": st.sampled_from(["random-search", "direct", "direct-l", "differential_evolution",
                                                    "dual_annealing", "shgo", "cmaes", "lbfgsb-multistart",
                                                    "nelder-mead-multistart", "nlopt:GN_CRS2_LM",
                                                    "nlopt-local-multistart:LN_COBYLA"])},
                          optional={"restarts": st.booleans(), "stop": st.sampled_from(["budget", "hit", "target"]),
                                    "repetitions": st.integers(1, 2), "time_limit": st.floats(0.5, 5),
                                    "label": texts}),
    st.fixed_dictionaries({"name": st.just("random-search"), "options": st.fixed_dictionaries(
        {"batch": st.integers(1, 30)})}),
    st.fixed_dictionaries({"name": st.just("nlopt:GN_MLSL_LDS"), "options": st.fixed_dictionaries(
        {"local": st.sampled_from(["LN_BOBYQA", "LN_COBYLA", "LD_MMA"])})}),
    st.fixed_dictionaries({"name": st.just("differential_evolution"), "options": st.fixed_dictionaries(
        {"updating": st.sampled_from(["immediate", "deferred"]), "popsize": st.integers(1, 8)})}))
good = st.fixed_dictionaries(
    {"name": st.just("f"), "suite": suite_value,
     "tests": st.lists(st.integers(1, 100), min_size=1, max_size=3, unique=True),
     "budget": st.one_of(st.integers(1, 40), st.integers(1, 10).map(lambda k: f"{k} * n")),
     "solver": st.lists(good_solver, min_size=1, max_size=2)},
    optional={"kinds": st.lists(st.sampled_from(["D", "ND", "D2"]), min_size=1, max_size=3, unique=True),
              "repetitions": st.integers(1, 2), "targets": st.lists(st.integers(-10, 3), max_size=4),
              "stop": st.sampled_from(["budget", "hit", "target"]), "time_limit": st.floats(0.5, 5),
              "restarts": st.booleans()})


def mutated(d, changes):
    """A campaign with some keys (of it or of a solver table) set to other values or removed."""
    d = copy.deepcopy(d)
    for where, key, value in changes:
        solvers = d.get("solver")
        target = solvers[0] if where == "solver" and isinstance(solvers, list) and solvers and \
            isinstance(solvers[0], dict) else d
        if value is _REMOVE:
            target.pop(key, None)
        else:
            target[key] = value
    return d


_REMOVE = object()
change = st.tuples(st.sampled_from(["campaign", "solver"]),
                   st.one_of(st.sampled_from(CAMPAIGN_KEYS + SOLVER_KEYS + ["options"]), texts),
                   st.one_of(st.just(_REMOVE), st.deferred(lambda: likely), values))
solver = table(SOLVER_KEYS, st.one_of(st.sampled_from(SOLVERS),
                                      st.dictionaries(st.sampled_from(OPTION_KEYS), values, max_size=3)))
likely = st.one_of(suite_value, st.lists(suite_value, max_size=3), st.lists(st.integers(0, 101), max_size=3),
                   st.integers(1, 40), st.lists(solver, min_size=1, max_size=3),
                   st.lists(st.integers(-10, 3), max_size=4), st.sampled_from(["hit", "target", "1000 * n"]),
                   st.dictionaries(st.sampled_from(OPTION_KEYS), values, max_size=3))
# Weighted by repetition: half valid campaigns, a third with a few keys changed, the rest anything.
changed = st.builds(mutated, good, st.lists(change, min_size=1, max_size=3))
campaigns = st.one_of(good, good, good, changed, changed, table(CAMPAIGN_KEYS, likely))


def toml_value(v):
    if isinstance(v, bool):
        return "true" if v else "false"
    if isinstance(v, (int, datetime.date, datetime.time)):
        return v.isoformat() if not isinstance(v, int) else str(v)
    if isinstance(v, float):
        return "nan" if math.isnan(v) else ("inf" if v > 0 else "-inf") if math.isinf(v) else repr(v)
    if isinstance(v, str):
        return json.dumps(v)
    if isinstance(v, list):
        return "[" + ", ".join(toml_value(x) for x in v) + "]"
    return "{" + ", ".join(f"{json.dumps(k)} = {toml_value(x)}" for k, x in v.items()) + "}"


def serialised(d, form):
    if form == "json":
        return json.dumps(d, default=str)
    return "".join(f"{json.dumps(k)} = {toml_value(v)}\n" for k, v in d.items())


written = st.tuples(campaigns, st.sampled_from(["toml", "json"])).map(lambda c: ("c." + c[1], serialised(*c).encode()))
files = st.one_of(written, written, written, st.tuples(st.sampled_from(["c.toml", "c.json", "c.txt"]),
                                                       st.binary(max_size=200)))
suite_files = st.tuples(small_suite, st.sampled_from(["toml", "json"])).map(lambda s: serialised(*s).encode())

examples = 0


def check(file, suite_file, budget=200):
    global examples
    examples += 1
    with tempfile.TemporaryDirectory() as folder:
        folder = pathlib.Path(folder)
        name, data = file
        (folder / name).write_bytes(data)
        for suite_name in ("suite.toml", "suite.json"):
            (folder / suite_name).write_bytes(suite_file)
        before = sorted(os.listdir(folder))
        try:
            planned = campaign.load(folder / name).planned()
        except campaign.CampaignError:
            planned = 0
        if planned > budget:
            return
        err = io.StringIO()
        with contextlib.redirect_stderr(err), contextlib.redirect_stdout(io.StringIO()):
            status = campaign.main(["run", str(folder / name), "--db", str(folder / "out.db"), "--workers", "0",
                                    "--quiet"])
        text = err.getvalue()
        if status == 2:
            assert text.startswith("error: ") and text.count("\n") == 1, text
            assert sorted(os.listdir(folder)) == before, text
        else:
            assert status in (0, 1) and (folder / "out.db").is_file(), (status, text)


@settings(max_examples=int(os.environ.get("TRAVO_FUZZ_EXAMPLES", "40")), deadline=None, database=None,
          suppress_health_check=list(HealthCheck))
@given(files, suite_files)
def fuzz(file, suite_file):
    check(file, suite_file)


def test_any_campaign_file_runs_or_is_refused_in_one_line():
    seconds = float(os.environ.get("TRAVO_FUZZ_SECONDS", "0"))
    if not seconds:
        fuzz()
        return
    end, round_ = time.monotonic() + seconds, 0
    while time.monotonic() < end:
        round_ += 1
        seed(round_)(fuzz)()
    print(f"\n{examples} examples in {seconds:g} s")
