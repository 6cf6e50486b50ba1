#!/usr/bin/env python3
"""The tool's reference from its own help: the manual page travo.1 and the
site's command-line reference, so that neither can drift from the options.

    help_pages.py TRAVO --man travo.1 [--markdown cli.md]

Runs ``TRAVO --help``, ``TRAVO --version`` and ``TRAVO COMMAND --help`` for
every command the main help lists, reads CLI11's layout (a description, a
``Usage:`` line, sections of ``NAME  description`` entries, a footer) and
writes the page in roff (man macros) or Markdown. The build writes travo.1
beside the tool; the documentation site includes the Markdown.
"""

from __future__ import annotations

import argparse
import dataclasses
import re
import subprocess
import sys



@dataclasses.dataclass
class Command:
    name: str  # "travo" or "travo eval"
    description: list[str]
    usage: str
    sections: list[tuple[str, list[tuple[str, str]]]]
    footer: list[str]


@dataclasses.dataclass
class Tool:
    version: str
    main: Command
    commands: list[Command]


def parse(name: str, text: str) -> Command:
    """One command's help, as CLI11 lays it out: entries of a section start
    two columns in, their descriptions at the column of the help flag's."""
    lines = text.rstrip("\n").split("\n")
    column = next(line.index("Print this help message") for line in lines if "Print this help message" in line)
    at = next(i for i, line in enumerate(lines) if line.startswith("Usage: "))
    description, usage = lines[:at], lines[at][len("Usage: "):]
    sections: list[tuple[str, list[tuple[str, str]]]] = []
    footer: list[str] = []
    for line in lines[at + 1:]:
        if not line.strip():
            continue
        if not line.startswith(" "):
            if line.endswith(":") and " " not in line[:-1].strip():
                sections.append((line[:-1], []))
            else:
                footer.append(line)
            continue
        if not sections or footer:
            raise ValueError(f"{name}: unexpected help line {line!r}")
        entries = sections[-1][1]
        if not line.startswith("   "):
            fits = len(line) <= column or line[column - 1] == " "
            entries.append((line[:column].strip(), line[column:].strip()) if fits else (line.strip(), ""))
        elif entries:  # a description on the line after a long name
            label, words = entries[-1]
            entries[-1] = (label, (words + " " + line.strip()).strip())
        else:
            raise ValueError(f"{name}: unexpected help line {line!r}")
    return Command(name, [d for d in description if d.strip()], usage, sections, footer)


def run(tool: str, *args: str) -> str:
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def read_tool(tool: str) -> Tool:
    main = parse("travo", run(tool, "--help"))
    names = [entry for title, entries in main.sections if title == "Subcommands" for entry, _ in entries]
    commands = [parse(f"travo {n}", run(tool, n, "--help")) for n in names]
    return Tool(run(tool, "--version").split()[-1], main, commands)


def shared_section(tool: Tool, title: str) -> list[tuple[str, str]] | None:
    """A section that every command has, word for word (the member options)."""
    found = [dict(c.sections).get(title) for c in tool.commands]
    return found[0] if found and all(f == found[0] for f in found) else None


def option_label(label: str) -> str:
    """``-k,--kind TEXT:{ND,D,D2}=D2`` read more easily: ``-k, --kind TEXT:{ND,D,D2}=D2``."""
    return re.sub(r",(?=-)", ", ", label)


# --- Markdown -------------------------------------------------------------

def md_code(text: str) -> str:
    return f"`` {text} ``" if "`" in text else f"`{text}`"


def md_entries(entries: list[tuple[str, str]]) -> list[str]:
    out = []
    for label, words in entries:
        out += [md_code(option_label(label)), f": {words}" if words else ": (no description)", ""]
    return out


def markdown(tool: Tool) -> str:
    member = shared_section(tool, "Member")
    out = ["<!-- Generated from the tool's --help by tools/cli/help_pages.py; do not edit. -->", ""]
    out += ["## Synopsis", "", "```text"]
    out += [command.usage for command in tool.commands]
    out += ["travo --help | --version", "travo COMMAND --help", "```", ""]
    out += [" ".join(tool.main.description), ""]
    for command in tool.commands:
        out += [f"## {md_code(command.name)}", "", " ".join(command.description), "",
                f"Usage: {md_code(command.usage)}", ""]
        for title, entries in command.sections:
            if title == "Member" and member is not None:
                out += ["And every [member option](#member-options).", ""]
                continue
            out += [f"{title}:", ""] + md_entries(entries)
    if member is not None:
        out += ["## Member options", "", "Every command takes the options that fix the member:", ""]
        out += md_entries(member)
    out += ["## Notes", ""]
    out += [line + ("  " if i + 1 < len(tool.main.footer) else "") for i, line in enumerate(tool.main.footer)]
    out += ["", f"This page is the help of travo {tool.version}; `man travo` shows the same as a manual page.", ""]
    return "\n".join(out)


# --- roff -----------------------------------------------------------------

def roff_text(text: str) -> str:
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def roff_entries(entries: list[tuple[str, str]]) -> list[str]:
    out = []
    for label, words in entries:
        out += [".TP", f"\\fB{roff_text(option_label(label))}\\fR", roff_text(words)]
    return out


def man(tool: Tool) -> str:
    member = shared_section(tool, "Member")
    summary = tool.main.description[0].split(": ", 1)[-1].rstrip(".")
    out = [".\\\" Generated from the tool's --help by tools/cli/help_pages.py; do not edit.",
           f".TH TRAVO 1 \"\" \"travo {tool.version}\" \"User Commands\"",
           ".SH NAME", f"travo \\- {roff_text(summary)}",
           ".SH SYNOPSIS", ".nf"]
    for command in tool.commands:
        words = command.usage.split(" ", 2)
        out.append(f"\\fB{' '.join(words[:2])}\\fR {roff_text(words[2]) if len(words) > 2 else ''}".rstrip())
    out += ["\\fBtravo\\fR \\-\\-help | \\-\\-version", ".fi", ".SH DESCRIPTION"]
    out += [roff_text(" ".join(tool.main.description[1:] or tool.main.description))]
    out += [".SH COMMANDS"]
    for command in tool.commands:
        out += [f".SS {command.name.split()[1]}", roff_text(" ".join(command.description)),
                ".PP", f"Usage: \\fB{roff_text(command.usage)}\\fR"]
        for title, entries in command.sections:
            if title == "Member" and member is not None:
                out += [".PP", "And every option of MEMBER OPTIONS."]
                continue
            out += [".PP", f"{roff_text(title)}:", ".RS"] + roff_entries(entries) + [".RE"]
    if member is not None:
        out += [".SH MEMBER OPTIONS", "Every command takes the options that fix the member:"]
        out += roff_entries(member)
    exit_lines = [line for line in tool.main.footer if line.startswith("Exit status")]
    notes = [line for line in tool.main.footer if not line.startswith("Exit status")]
    if exit_lines:
        out += [".SH EXIT STATUS", roff_text(exit_lines[0].split(": ", 1)[1])]
    if notes:
        out += [".SH NOTES"] + [roff_text(line) for line in notes]
    out += [".SH SEE ALSO", "\\fBoctave\\fR(1), \\fBpython3\\fR(1)", ""]
    return "\n".join(out)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("tool")
    parser.add_argument("--man", help="write the manual page here")
    parser.add_argument("--markdown", help="write the Markdown reference here")
    args = parser.parse_args()
    tool = read_tool(args.tool)
    for path, render in ((args.man, man), (args.markdown, markdown)):
        if path:
            with open(path, "w", encoding="utf-8") as f:
                f.write(render(tool))
    return 0


if __name__ == "__main__":
    sys.exit(main())
