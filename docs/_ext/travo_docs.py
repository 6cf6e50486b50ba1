"""Sphinx extension of travo's site: pages generated from the code at build
time, and formulas typeset by KaTeX.

A page line ``<!-- generated: NAME -->`` is replaced, when the page is
read, by the Markdown of generator NAME, so that no page can drift from
what it describes:

``cli``
    Every command and option of the tool, from its own ``--help`` (the same
    reading of the help that makes the manual page ``travo.1``).
``octave``
    The help texts of the Octave and MATLAB entries and examples (what
    ``help NAME`` prints).
``classes``
    The table of the eight standard classes, from ``travo.suites``.
``database``
    Every table and column of a new results database, from the package.
``campaign-cli``
    The help of ``python -m travo.campaign`` and ``python -m travo.report``.

A table right after a line ``<!-- keys: module.NAME -->`` must list in its
first column exactly the keys of that set (the keys a file format accepts).
"""

from __future__ import annotations

import importlib.util
import os
import pathlib
import re
import shutil
import sys

from sphinx.application import Sphinx
from sphinx.errors import ExtensionError
from sphinx.ext import mathjax

KATEX = pathlib.Path("/usr/share/javascript/katex")


def _root(app: Sphinx) -> pathlib.Path:
    return pathlib.Path(app.srcdir).parent


def _help_pages(app: Sphinx):
    path = _root(app) / "tools" / "cli" / "help_pages.py"
    if "travo_help_pages" not in sys.modules:
        spec = importlib.util.spec_from_file_location("travo_help_pages", path)
        module = importlib.util.module_from_spec(spec)
        sys.modules[spec.name] = module  # dataclasses look their module up there
        spec.loader.exec_module(module)
    return sys.modules["travo_help_pages"]


def _write(path: pathlib.Path, text: str) -> None:
    """Writes only a changed file, so that Sphinx rereads only what changed."""
    if not path.exists() or path.read_text() != text:
        path.write_text(text)


def cli_page(app: Sphinx) -> str:
    tool = shutil.which("travo")
    if tool is None:
        raise ExtensionError("the tool 'travo' is not on PATH: build it first (TRAVO_BUILD_DIR/bin)")
    pages = _help_pages(app)
    return pages.markdown(pages.read_tool(tool))


def octave_help(path: pathlib.Path) -> str:
    """The help text of an .m file: its first block of comment lines."""
    lines, started = [], False
    for line in path.read_text().splitlines():
        stripped = line.strip()
        if stripped.startswith("%"):
            started = True
            text = stripped[1:]
            lines.append(text[1:] if text.startswith(" ") else text)
        elif started:
            break
    return "\n".join(lines).rstrip() + "\n"


def octave_page(app: Sphinx) -> str:
    root = _root(app) / "octave"
    out = []
    # Under the page's section of help texts.
    for title, folder in (("Entries", root / "inst"), ("Examples", root / "examples")):
        out.append(f"### {title}\n")
        for path in sorted(folder.glob("*.m")):
            name = path.stem
            out.append(f"#### `{name}`\n\n`{path.relative_to(_root(app))}`; `help {name}` prints:\n")
            out.append("```text\n" + octave_help(path) + "```\n")
    return "\n".join(out)


SUPERSCRIPTS = str.maketrans("0123456789", "⁰¹²³⁴⁵⁶⁷⁸⁹")


def classes_page(app: Sphinx) -> str:
    from travo import suites

    rows = ["| class | n | m | global value | d | R | Δ | box | tests |", "|---|---|---|---|---|---|---|---|---|"]
    for suite in suites.STANDARD.values():
        box = f"[{suite.lower[0]:g}, {suite.upper[0]:g}]" + str(suite.dim).translate(SUPERSCRIPTS)
        tests = f"{suite.tests[0]} to {suite.tests[-1]}"
        rows.append(f"| `{suite.name}` | {suite.dim} | {suite.num_minima} | {suite.global_value:g} | "
                    f"{suite.distance:g} | {suite.radius:g} | {suite.accuracy:g} | {box} | {tests} |")
    return "\n".join(rows) + "\n"


def database_page(app: Sphinx) -> str:
    """Every table and column of a results database as the package creates it."""
    import sqlite3
    import tempfile

    from travo import results

    out = []
    with tempfile.TemporaryDirectory() as folder:
        conn = results.connect(pathlib.Path(folder) / "new.db", create=True)
        try:
            version = results.schema_version(conn)
            tables = [row[0] for row in conn.execute(
                "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' ORDER BY rowid")]
            out.append(f"A new database has schema version {version} and these tables:\n")
            for table in tables:
                out += [f"### `{table}`\n", "| column | type | empty allowed | default |", "|---|---|---|---|"]
                for _, name, kind, notnull, default, key in conn.execute(f'PRAGMA table_info("{table}")'):
                    kind = (kind or "any") + (", primary key" if key else "")
                    default = "" if default is None else f"`{default}`"
                    out.append(f"| `{name}` | {kind} | {'no' if notnull or key else 'yes'} | {default} |")
                out.append("")
        finally:
            conn.close()
    return "\n".join(out)


def campaign_cli_page(app: Sphinx) -> str:
    """The help of ``python -m travo.campaign`` and its commands, and of ``python -m travo.report``."""
    import subprocess

    def helped(*args: str) -> str:
        done = subprocess.run([sys.executable, "-m", *args, "--help"], capture_output=True, text=True, check=True,
                              env=dict(os.environ, COLUMNS="100"))
        return done.stdout

    out = []
    for title, args in (("python -m travo.campaign", ("travo.campaign",)),
                        ("python -m travo.campaign run", ("travo.campaign", "run")),
                        ("python -m travo.campaign status", ("travo.campaign", "status")),
                        ("python -m travo.campaign export", ("travo.campaign", "export")),
                        ("python -m travo.report", ("travo.report",))):
        out += [f"### `{title}`\n", "```text", helped(*args).rstrip(), "```", ""]
    return "\n".join(out)


GENERATORS = {"cli": cli_page, "octave": octave_page, "classes": classes_page, "database": database_page,
              "campaign-cli": campaign_cli_page}
KEYS = re.compile(r"^<!-- keys: ([\w.]+) -->\n\n(\|.*\n)+", re.MULTILINE)


def check_keys(docname: str, text: str) -> None:
    """A table after ``<!-- keys: module.NAME -->`` lists in its first column
    exactly the keys of the set module.NAME, so that the reference of a file
    format cannot miss a key the code reads, nor name one it refuses."""
    import importlib

    for match in KEYS.finditer(text):
        module, _, name = match.group(1).rpartition(".")
        expected = set(getattr(importlib.import_module(module), name))
        listed = set()
        for row in match.group(0).splitlines()[3:]:
            listed |= set(re.findall(r"`([\w\[\]]+)`", row.split("|")[1]))
        listed = {key.strip("[]") for key in listed}
        if listed != expected:
            raise ExtensionError(f"{docname}: the table of {match.group(1)} lists {sorted(listed - expected)} "
                                 f"that the code does not read, and misses {sorted(expected - listed)}")

MARKER = re.compile(r"^<!-- generated: (\w+) -->$", re.MULTILINE)


def fill_in(app: Sphinx, docname: str, source: list[str]) -> None:
    """Replaces each marker line ``<!-- generated: NAME -->`` of a page by
    the Markdown its generator writes, before the page is parsed."""

    def generated(match: re.Match) -> str:
        make = GENERATORS.get(match.group(1))
        if make is None:
            raise ExtensionError(f"{docname}: no generator named {match.group(1)!r}")
        return make(app)

    source[0] = MARKER.sub(generated, source[0])
    check_keys(docname, source[0])


def always_reread(app: Sphinx, env, added, changed, removed) -> list[str]:
    """Pages with generated parts are read again at every build: what they
    show comes from the code, not from their own files."""
    return [doc for doc in env.found_docs
            if MARKER.search(pathlib.Path(env.doc2path(doc)).read_text(encoding="utf-8"))]


def add_katex(app: Sphinx) -> None:
    if app.builder.format != "html":
        return
    if not (KATEX / "katex.min.js").exists():
        raise ExtensionError(f"KaTeX is not installed in {KATEX} (Debian: libjs-katex)")
    app.add_css_file("katex/katex.min.css")
    app.add_js_file("katex/katex.min.js", defer="defer")
    app.add_js_file("katex/contrib/auto-render.js", defer="defer")
    app.add_js_file("katex-init.js", defer="defer")


def copy_katex(app: Sphinx, exception: Exception | None) -> None:
    if exception is not None or app.builder.format != "html":
        return
    target = pathlib.Path(app.outdir) / "_static" / "katex"
    if target.exists():
        shutil.rmtree(target)
    shutil.copytree(KATEX, target, ignore=shutil.ignore_patterns("*.mjs", "mhchem*", "copy-tex*", "mathtex*",
                                                                 "render-a11y*", "katex.js", "katex.css"))


def setup(app: Sphinx) -> dict:
    # Sphinx writes formulas as \( \) and \[ \] in spans and divs, as for
    # MathJax; KaTeX's auto-render typesets them in place.
    app.setup_extension("sphinx.ext.mathjax")
    app.add_html_math_renderer("katex", (mathjax.html_visit_math, None),
                               (mathjax.html_visit_displaymath, None))
    app.connect("source-read", fill_in)
    app.connect("env-get-outdated", always_reread)
    app.connect("builder-inited", add_katex)
    app.connect("build-finished", copy_katex)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
