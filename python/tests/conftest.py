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
    """Rows of the tool's CSV output (record lines and header dropped), split into their text fields."""
    tool = os.environ.get("TRAVO_CLI")
    if not tool:
        pytest.skip("TRAVO_CLI (the travo tool) not set")
    done = subprocess.run([tool, *args], input=stdin, capture_output=True, text=True, check=True)
    lines = [line for line in done.stdout.splitlines() if not line.startswith("#")]
    return [line.split(",") for line in lines[1:]]


def same_bits(a, b) -> bool:
    a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
    return a.shape == b.shape and a.tobytes() == b.tobytes()
