"""Benchmarking campaigns: suites x kinds x solvers x repetitions, each run within a budget.

Command line (``travo.campaign.cli``)::

    python -m travo.campaign run FILE --db DB [--workers K | --scheduler ADDRESS] [--retry-failed] [--quiet]
    python -m travo.campaign status DB [--errors] [--campaign NAME]
    python -m travo.campaign export DB --format json|csv [-o OUT] [--campaign NAME]

A campaign file (TOML or JSON; docs/reference/campaign-file.md describes every key)::

    name = "demo"
    suites = ["2-simple", "2-hard"]   # or suite = ...: a standard class, a table, or {file = "suite.toml"}
    kinds = ["D", "D2"]               # or kind = "D" (the default)
    budget = "1000 * n"               # a number, or a multiple of the dimension
    repetitions = 5
    stop = "hit"                      # "budget" (default), "hit" or "target"
    time_limit = 60                   # seconds per run

    [[solver]]
    name = "differential_evolution"
    options = { popsize = 10 }
    restarts = true

``run`` executes the runs that the database does not hold yet, on local
worker processes or on a Dask cluster, and writes each finished run in one
transaction. Every run's random generator is seeded from the campaign name,
the solver's label and options, the member and the repetition, so results
do not depend on the executor or the number of workers.
"""

from .execute import Task, execute
from .loader import MAX_RUNS, Campaign, CampaignError, SolverEntry, from_dict, load, plan, seed
from .runner import Stopped, run
from .cli import main

__all__ = ["MAX_RUNS", "Campaign", "CampaignError", "SolverEntry", "Stopped", "Task", "execute", "from_dict", "load",
           "main", "plan", "run", "seed"]
