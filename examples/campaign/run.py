"""Reruns the worked campaign on the eight standard classes and writes its report.

    PYTHONPATH=build/python /usr/bin/python3 examples/campaign/run.py [--db worked.db] [--out report] [--workers K]

The campaign is classes.toml (DIRECT, its locally biased form, differential
evolution and multistart L-BFGS-B with exact gradients; 1000 evaluations per
run; 3 repetitions of the stochastic methods) on each class. Runs already in
the database are kept, so an interrupted rerun resumes. --docs copies the
main figures into docs/campaign.
"""

import argparse
import pathlib
import shutil
import sys
import tomllib

from travo import campaign, report, suites

HERE = pathlib.Path(__file__).resolve().parent
MAIN_FIGURES = ("operational-all.png", "performance-profile.png", "data-profile.png", "convergence-2-simple.png")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--db", default="worked-campaign.db")
    parser.add_argument("--out", default="worked-campaign-report")
    parser.add_argument("--workers", type=int, default=None)
    parser.add_argument("--docs", action="store_true", help="copy the main figures into docs/campaign")
    args = parser.parse_args()
    template = tomllib.loads((HERE / "classes.toml").read_text())
    for name in suites.STANDARD:
        c = campaign.from_dict(dict(template, name=f"worked-{name}", suite=name), HERE)
        print(f"class {name}", file=sys.stderr)
        try:
            campaign.run(c, args.db, workers=args.workers)
        except campaign.Stopped as e:
            print("stopped; run the same command to go on", file=sys.stderr)
            return 128 + e.signum
    report.write(args.db, args.out)
    if args.docs:
        docs = HERE.parent.parent / "docs" / "campaign"
        docs.mkdir(exist_ok=True)
        for f in MAIN_FIGURES:
            shutil.copy(pathlib.Path(args.out) / f, docs / f)
    return 0


if __name__ == "__main__":
    sys.exit(main())
