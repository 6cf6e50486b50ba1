#!/usr/bin/env python3
"""Draws docs/functions-cuts.png: one-dimensional cuts through the global
minimizer's region of the default member, for the ND, D and D2 kinds side by
side, with the paraboloid outside the region shown dashed.

Usage: /usr/bin/python3 docs/figures/cuts.py [path/to/travo] [output.png]
"""
import csv
import io
import subprocess
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

tool = sys.argv[1] if len(sys.argv) > 1 else "build/bin/travo"
output = sys.argv[2] if len(sys.argv) > 2 else "docs/functions-cuts.png"


def member_table():
    text = subprocess.run([tool, "info", "--format", "csv"], check=True, capture_output=True, text=True).stdout
    rows = [r for r in csv.reader(line for line in io.StringIO(text) if not line.startswith("#"))]
    header, body = rows[0], rows[1:]
    return [dict(zip(header, r)) for r in body]


def evaluate(kind, points):
    data = "\n".join(f"{x!r},{y!r}" for x, y in points) + "\n"
    text = subprocess.run([tool, "eval", "--kind", kind, "--no-header"], input=data, check=True,
                          capture_output=True, text=True).stdout
    return np.array([float(line.split(",")[-1]) for line in text.splitlines() if line and not line.startswith("#")])


table = member_table()
vertex = np.array([float(table[0]["x1"]), float(table[0]["x2"])])
centre = np.array([float(table[1]["x1"]), float(table[1]["x2"])])
rho = float(table[1]["radius"])
f = float(table[1]["value"])

# The cut runs through the minimizer towards the vertex, where the region's
# polynomial is least symmetric.
u = (vertex - centre) / np.linalg.norm(vertex - centre)
t = np.linspace(-1.3 * rho, 1.3 * rho, 521)
points = centre[None, :] + t[:, None] * u[None, :]
paraboloid = ((points - vertex) ** 2).sum(axis=1)

fig, axes = plt.subplots(1, 3, figsize=(12, 3.8), sharey=True, constrained_layout=True)
for ax, kind, title in zip(axes, ["nd", "d", "d2"], ["ND (continuous)", "D (C¹)", "D2 (C²)"]):
    values = evaluate(kind, points)
    ax.plot(t, paraboloid, "--", color="0.6", label="paraboloid")
    ax.plot(t, values, color="C0", lw=2, label=f"{kind.upper()} member")
    for edge in (-rho, rho):
        ax.axvline(edge, color="C3", lw=0.8, ls=":")
    ax.plot([0], [f], "o", color="C3", label="global minimizer")
    ax.set_title(title)
    ax.grid(alpha=0.3)
axes[0].set_ylabel("value")
fig.supxlabel("signed distance from the minimizer along the cut (positive: towards the paraboloid vertex)")
handles, labels = axes[0].get_legend_handles_labels()
axes[1].legend(handles, ["paraboloid", "member", "global minimizer"], loc="upper center", fontsize=9)
fig.suptitle("Cuts through the global minimizer's region (default member; dotted: region boundary)")
fig.savefig(output, dpi=110)
print(output)
