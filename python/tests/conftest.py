"""Shared helpers: the travo command-line tool as an independent reference."""

import os
import subprocess

import numpy as np
import pytest

import travo


def cli_options(p: travo.Parameters) -> list:
    box = ",".join(f"{lo!r},{hi!r}" for lo, hi in zip(p.lower, p.upper))
    return ["--dim", str(p.dim), "--minima", str(p.num_minima), "--global-value", repr(p.global_value),
            "--distance", repr(p.distance), "--radius", repr(p.radius), "--test", str(p.test_number), "--box", box]


def run_cli(*args: str, stdin: str = "") -> list:
    """Rows of the tool's CSV output (header dropped), every field read back exactly."""
    tool = os.environ.get("TRAVO_CLI")
    if not tool:
        pytest.skip("TRAVO_CLI (the travo tool) not set")
    done = subprocess.run([tool, *args], input=stdin, capture_output=True, text=True, check=True)
    return [line.split(",") for line in done.stdout.splitlines()[1:]]


def cli_eval(p: travo.Parameters, points: np.ndarray, kind: str) -> dict:
    """Values, gradients (D, D2) and Hessians (D2) of the tool at the points (k, n)."""
    extra = {"ND": [], "D": ["--gradient"], "D2": ["--gradient", "--hessian"]}[kind]
    text = "".join(",".join(repr(float(c)) for c in point) + "\n" for point in points)
    rows = np.array([[float(f) for f in row] for row in run_cli("eval", *cli_options(p), "--kind", kind.lower(),
                                                                  *extra, stdin=text)])
    n, k = p.dim, len(points)
    out = {"value": rows[:, n]}
    if kind != "ND":
        out["gradient"] = rows[:, n + 1:2 * n + 1]
    if kind == "D2":
        out["hessian"] = rows[:, 2 * n + 1:].reshape(k, n, n)
    return out


def same_bits(a, b) -> bool:
    a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
    return a.shape == b.shape and a.tobytes() == b.tobytes()
