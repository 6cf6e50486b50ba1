#!/usr/bin/env python3
"""Runs the examples of the documentation pages, so that none can silently
stop working.

    check_examples.py LANG [options] PAGE...

LANG is one of:

c, cpp
    Every ``c``/``cpp`` block is compiled with every warning an error
    against the built library and run. A block without ``main`` is a
    sequence of statements and runs inside one.
python
    Every ``python`` block runs as a script (``{doctest}`` blocks are the
    doctest builder's).
octave
    Every ``octave`` block runs in Octave with the built modules on the path.
sh
    The ``sh`` and ``python`` blocks of a page run one after another in one
    fresh folder, as a reader would type them, with the built tool and
    package first on the paths.

A ``text`` block right after an example is its output, compared exactly
(Octave's and the shell's standard output, a program's). A block with a
caption (``{code-block} LANG`` with ``:caption: NAME``) is a file of that
name: it is written into the example's folder before the examples that
follow it run. ``--quick FILE`` names a TOML file of replacements
(``[["page", "from", "to"], ...]`` under ``replace``) applied to a page
before its examples run, to shrink the budgets of long tutorials; a
replacement whose text is not on its page is an error.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import tomllib
from dataclasses import dataclass

from markdown_it import MarkdownIt

LANGS = {"c": ("c",), "cpp": ("cpp", "c++"), "python": ("python",), "octave": ("octave", "matlab"),
         "sh": ("sh", "python")}


@dataclass
class Block:
    page: pathlib.Path
    line: int
    lang: str
    code: str
    caption: str | None = None
    output: str | None = None

    def where(self) -> str:
        return f"{self.page}:{self.line}"


def blocks(page: pathlib.Path, text: str) -> list[Block]:
    """The fenced blocks of a page, each with its caption and output."""
    found: list[Block] = []
    tokens = MarkdownIt("commonmark").parse(text)
    previous: Block | None = None  # the example just before, when a fence is right after it
    for token in tokens:
        if token.type != "fence":
            previous = None
            continue
        info = token.info.split()
        lang = info[0] if info else ""
        code, caption = token.content, None
        if lang.startswith("{code-block}") and len(info) > 1:
            lang = info[1]
            lines = code.split("\n")
            while lines and lines[0].startswith(":"):
                key, _, value = lines.pop(0)[1:].partition(":")
                if key.strip() == "caption":
                    caption = value.strip()
            code = "\n".join(lines).lstrip("\n")
        if lang == "text" and previous is not None and previous.output is None and previous.caption is None:
            previous.output = code
            previous = None
            continue
        block = Block(page, token.map[0] + 1, lang, code, caption)
        found.append(block)
        previous = block
    return found


SESSIONS: list[int] = []  # of the blocks of the page being run


def run(args: list[str], where: str, cwd: pathlib.Path, env: dict[str, str], shell: bool = False,
        timeout: float = 600) -> str:
    """Runs one example in a session of its own, so that what it leaves
    running in the background (a Dask scheduler) can be ended with the page."""
    process = subprocess.Popen(args if not shell else args[0], cwd=cwd, env=env, shell=shell, text=True,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True,
                               executable="/bin/bash" if shell else None)
    SESSIONS.append(process.pid)
    try:
        stdout, stderr = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        raise
    done = subprocess.CompletedProcess(args, process.returncode, stdout, stderr)
    if done.returncode != 0:
        raise AssertionError(f"{where}: exit status {done.returncode}\n{done.stdout}\n{done.stderr}")
    return done.stdout


def compare(block: Block, stdout: str) -> None:
    if block.output is not None and stdout.rstrip() != block.output.rstrip():
        raise AssertionError(f"{block.where()}: the output differs from the page's\n--- page\n{block.output}"
                             f"--- run\n{stdout}")


def wrap(block: Block) -> str:
    if "main(" in block.code:
        return block.code
    if block.lang == "c":
        return f"#include <stdio.h>\n#include <travo/travo.h>\nint main(void) {{\n{block.code}\nreturn 0;\n}}\n"
    return f"#include <cstdio>\n#include <travo/travo.hpp>\nint main() {{\n{block.code}\n}}\n"


def check_compiled(block: Block, options: argparse.Namespace, work: pathlib.Path, env: dict[str, str]) -> None:
    source = work / ("example.c" if block.lang == "c" else "example.cpp")
    source.write_text(wrap(block))
    compiler = options.cc if block.lang == "c" else options.cxx
    standard = "-std=c11" if block.lang == "c" else "-std=c++20"
    includes = [f"-I{d}" for d in options.include]
    # Statements shown for their calls may leave results unused.
    relaxed = [] if "main(" in block.code else ["-Wno-unused-variable", "-Wno-unused-but-set-variable"]
    run([compiler, standard, "-Wall", "-Wextra", "-Werror", *relaxed, *includes, str(source), options.library,
         "-lstdc++", "-lm", "-pthread", "-o", str(work / "example")], block.where() + " (compiling)", work, env)
    compare(block, run([str(work / "example")], block.where(), work, env))


def check_octave(block: Block, options: argparse.Namespace, work: pathlib.Path, env: dict[str, str]) -> None:
    script = work / "page_example.m"
    script.write_text(block.code)
    code = f"addpath('{options.mex}', '{work}'); source('{script}');"
    compare(block, run([options.octave, "--no-gui", "--norc", "--quiet", "--no-window-system", "--eval", code],
                       block.where(), work, env))


def check_python(block: Block, options: argparse.Namespace, work: pathlib.Path, env: dict[str, str]) -> None:
    script = work / "page_example.py"
    script.write_text(block.code)
    compare(block, run([sys.executable, str(script)], block.where(), work, env))


def check_sh(block: Block, options: argparse.Namespace, work: pathlib.Path, env: dict[str, str]) -> None:
    if block.lang == "python":
        return check_python(block, options, work, env)
    compare(block, run(["set -euo pipefail\n" + block.code], block.where(), work, env, shell=True,
                       timeout=options.timeout))


@contextlib.contextmanager
def ended_sessions():
    """Ends every process the examples of a page left behind."""
    try:
        yield
    finally:
        for session in SESSIONS:
            with contextlib.suppress(ProcessLookupError, PermissionError):
                os.killpg(session, signal.SIGTERM)
        SESSIONS.clear()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("lang", choices=sorted(LANGS))
    parser.add_argument("pages", nargs="+", type=pathlib.Path)
    parser.add_argument("--build", type=pathlib.Path, required=True, help="the CMake build folder")
    parser.add_argument("--cc", default="cc")
    parser.add_argument("--cxx", default="c++")
    parser.add_argument("--library", help="the static library libtravo.a")
    parser.add_argument("--include", action="append", default=[], help="include folder (repeatable)")
    parser.add_argument("--octave", default="octave-cli")
    parser.add_argument("--quick", type=pathlib.Path, help="TOML file of replacements that shrink the budgets")
    parser.add_argument("--timeout", type=float, default=900, help="seconds for one shell block")
    options = parser.parse_args()
    options.build = options.build.resolve()
    options.mex = str(options.build / "mex")
    options.include = [str(pathlib.Path(d).resolve()) for d in options.include]
    if options.library:
        options.library = str(pathlib.Path(options.library).resolve())

    replacements: list[list[str]] = []
    if options.quick:
        replacements = tomllib.loads(options.quick.read_text())["replace"]

    env = dict(os.environ)
    # The pages' python3 is the interpreter that runs this check (the one
    # the package was built for), whatever else PATH holds.
    interpreter = pathlib.Path(tempfile.mkdtemp(prefix="travo-docs-python-"))
    (interpreter / "python3").symlink_to(sys.executable)
    env["PATH"] = os.pathsep.join((str(options.build / "bin"), str(interpreter), env.get("PATH", "")))
    env["PYTHONPATH"] = os.pathsep.join(p for p in (str(options.build / "python"), env.get("PYTHONPATH")) if p)
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    env["MPLBACKEND"] = "Agg"
    check = {"c": check_compiled, "cpp": check_compiled, "python": check_python, "octave": check_octave,
             "sh": check_sh}[options.lang]

    count, failures = 0, []
    for page in options.pages:
        text = page.read_text()
        for name, old, new in replacements:
            if page.as_posix().endswith(name):
                if old not in text:
                    failures.append(f"{page}: the quick replacement {old!r} is not on the page")
                text = text.replace(old, new)
        with tempfile.TemporaryDirectory(prefix="travo-docs-") as folder, ended_sessions():
            work = pathlib.Path(folder)
            env["HOME"] = str(work)
            for block in blocks(page, text):
                if block.caption is not None:
                    (work / block.caption).write_text(block.code)
                    continue
                if block.lang not in LANGS[options.lang]:
                    continue
                if options.lang == "sh" and not shutil.which("bash"):
                    raise SystemExit("bash is needed")
                count += 1
                try:
                    check(block, options, work, env)
                    print(f"ok: {block.where()}")
                except (AssertionError, subprocess.TimeoutExpired) as e:
                    failures.append(str(e))
                    print(f"FAILED: {block.where()}")
    shutil.rmtree(interpreter)
    for failure in failures:
        print(failure, file=sys.stderr)
    print(f"{count} {options.lang} examples, {len(failures)} failed")
    return 1 if failures or count == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
