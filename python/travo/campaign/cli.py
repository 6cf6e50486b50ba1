"""The command line: ``python -m travo.campaign run|status|export``.

Exit status: 0 when everything finished normally; 1 when a run of this
``run`` did not (error, crashed, timeout, or lost by the executor); 2 for a
refused input (one line ``error: ...`` on standard error, nothing written);
130 or 143 after a SIGINT or SIGTERM stopped ``run`` cleanly.
"""

from __future__ import annotations

import argparse
import os
import sqlite3
import sys

from .. import export, results
from .executors import WorkerError
from .loader import CampaignError, load
from .runner import Stopped, run

PROG = "python -m travo.campaign"


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog=PROG, description="Benchmarking campaigns with travo.")
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("run", help="run the runs of a campaign file that the database does not hold yet")
    p.add_argument("file", help="campaign file (TOML or JSON)")
    p.add_argument("--db", required=True, help="results database (SQLite; created if missing)")
    where = p.add_mutually_exclusive_group()
    where.add_argument("--workers", type=int, default=None,
                       help="local worker processes (default: the cores available; 0: in this process, without "
                            "isolation, for debugging)")
    where.add_argument("--scheduler", default=None, help="address of a Dask scheduler, such as tcp://host:8786")
    p.add_argument("--retry-failed", action="store_true",
                   help="also run again the recorded runs that failed (error, crashed, timeout), with the same seeds")
    p.add_argument("--quiet", action="store_true", help="no progress line")
    p = sub.add_parser("status", help="campaigns in a database: runs planned, recorded, by status, solved")
    p.add_argument("db")
    p.add_argument("--errors", action="store_true", help="list each run that failed, with its message")
    p.add_argument("--campaign", default=None, help="only this campaign")
    p = sub.add_parser("export", help="runs for analysis elsewhere (see travo.export)")
    p.add_argument("db")
    p.add_argument("--format", choices=export.FORMATS, required=True)
    p.add_argument("-o", "--output", default=None, help="output file, or folder for iohprofiler (default: stdout)")
    p.add_argument("--campaign", action="append", default=None, help="only this campaign (may be repeated)")
    return parser


def _runs(n: int) -> str:
    return f"{n} run" + ("" if n == 1 else "s")


def _one_line(text: str) -> str:
    return " ".join(str(text).split())


def _statuses(by_status: dict) -> str:
    return ", ".join(f"{s} {by_status[s]}" for s in results.STATUSES if by_status.get(s))


def _run(args) -> int:
    counts = run(load(args.file), args.db, workers=args.workers, scheduler=args.scheduler,
                 progress=not args.quiet, retry_failed=args.retry_failed)
    statuses = _statuses(counts["statuses"])
    print(f"{_runs(counts['done'])} recorded" + (f" ({statuses})" if statuses else "") +
          f", {counts['solved']} solved; {counts['skipped']} already recorded, of {counts['planned']} planned",
          file=sys.stderr)
    if counts["failed"]:
        lost = f" ({counts['lost']} lost by the executor, still to do)" if counts["lost"] else ""
        print(f"{_runs(counts['failed'])} did not finish normally{lost}: '{PROG} status {args.db} --errors' tells "
              f"which, '{PROG} run {args.file} --db {args.db} --retry-failed' runs them again", file=sys.stderr)
        return 1
    return 0


def _status(args) -> int:
    conn = results.connect(args.db)
    try:
        shown = [c for c in results.campaigns(conn) if args.campaign in (None, c["name"])]
        if args.campaign is not None and not shown:
            raise CampaignError(f"{args.db}: no campaign {args.campaign!r}")
        if args.errors:
            for r in results.failed_runs(conn, args.campaign):
                print(f"{r['campaign']}  {r['solver']}  {r['suite']}/{r['kind']}/{r['test']}  repetition "
                      f"{r['repetition']}  {r['status']}: {_one_line(r['message'])}")
            return 0
        for c in shown:
            _print_campaign(c, args.db)
    finally:
        conn.close()
    return 0


def _print_campaign(c: dict, db: str) -> None:
    fields = results.campaign_fields(c["description"])
    suites = ", ".join(s["name"] for s in fields["suites"] or [])
    print(f"campaign {c['name']}: {c['finished']} of {c['planned']} runs recorded; suites {suites}; kinds "
          f"{', '.join(fields['kinds'] or ['D'])}; budget {fields['budget']}; travo {c['travo_version']}")
    present = [s for s in results.STATUSES if any(sv["statuses"].get(s) for sv in c["solvers"])]
    width = max([len("solver")] + [len(sv["label"]) for sv in c["solvers"]])
    restarting = any(sv["settings"]["restarts"] for sv in c["solvers"])
    head = ["planned", "recorded"] + present + ["solved", "budget used"] + (["restarts"] if restarting else [])
    print(f"  {'solver':<{width}}  " + "  ".join(f"{h:>{max(len(h), 6)}}" for h in head))
    for sv in c["solvers"]:
        used = "-" if sv["budget_used"] is None else f"{100 * sv['budget_used']:.0f}%"
        restarts = "-" if sv["restarts"] is None or not sv["settings"]["restarts"] else f"{sv['restarts']:.2f}"
        cells = [sv["planned"], sv["finished"]] + [sv["statuses"].get(s, 0) for s in present] + \
                [sv["hits"], used] + ([restarts] if restarting else [])
        print(f"  {sv['label']:<{width}}  " + "  ".join(f"{str(v):>{max(len(h), 6)}}" for h, v in zip(head, cells)))
    failed = sum(sv["failed"] for sv in c["solvers"])
    if failed:
        print(f"  {_runs(failed)} failed: '{PROG} status {db} --errors' tells which")


def _export(args) -> int:
    # The export formats are travo.export's; this is their one entry from the command line.
    export.export(args.db, args.format, args.output, args.campaign)
    return 0


def main(argv: list[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    try:
        if args.command == "run":
            if args.workers is not None and args.workers < 0:
                raise CampaignError("--workers must be 0 (this process) or more")
            return _run(args)
        return _status(args) if args.command == "status" else _export(args)
    except Stopped as e:
        c = e.counts
        print(f"stopped: {c['skipped'] + c['done']} runs recorded, {c['planned'] - c['skipped'] - c['done']} to do; "
              "run the same command to go on", file=sys.stderr)
        return 128 + e.signum
    except KeyboardInterrupt:  # before the campaign's own handling of signals began, or after it ended
        print("stopped", file=sys.stderr)
        return 130
    except BrokenPipeError:
        # The reader went away (status | head): nothing more to say.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 0
    except (ValueError, OSError, sqlite3.Error, WorkerError) as e:
        text = results.describe_error(e) if isinstance(e, sqlite3.Error) else str(e)
        print(f"error: {_one_line(text)}", file=sys.stderr)
        return 2
