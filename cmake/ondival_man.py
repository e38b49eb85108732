#!/usr/bin/env python3
"""Writes the manual page of ondival from the program's own help, at build
time, so that the page and `ondival COMMAND --help` cannot tell different
stories.

    ondival_man.py ONDIVAL OUTPUT

The page holds the overview (`ondival --help`) and, for each command it
lists, that command's help. Help texts are blocks separated by blank lines:
"Heading:" lines, lists of "  term   description" lines (deeper indented
lines continue a description), and paragraphs, which the page lets man
fill to the reader's width.
"""
import re
import subprocess
import sys

TERM = re.compile(r"^  (\S.*?)\s{2,}(\S.*)$")


def escape(text):
    """roff for a line of help text: backslashes and minus signs escaped,
    anything beyond ASCII by its code point, a leading dot or quote made
    plain text."""
    out = []
    for c in text:
        if c == "\\":
            out.append("\\e")
        elif c == "-":
            out.append("\\-")
        elif ord(c) > 126:
            out.append(f"\\[u{ord(c):04X}]")
        else:
            out.append(c)
    line = "".join(out)
    return "\\&" + line if line[:1] in (".", "'") else line


def blocks(text):
    block = []
    for line in text.splitlines():
        if line.strip():
            block.append(line)
        elif block:
            yield block
            block = []
    if block:
        yield block


def body(text):
    """The roff of a help text, without its Usage line (the synopsis has it)."""
    roff = []
    for block in blocks(text):
        if block[0].startswith("Usage: "):
            block = block[1:]
            if not block:
                continue
        if not block[0].startswith(" ") and block[0].endswith(":") and len(block) > 1 and block[1].startswith("  "):
            roff += [".PP", f"\\fB{escape(block[0])}\\fR"]
            block = block[1:]
        if block[0].startswith("  "):
            for line in block:
                term = TERM.match(line)
                if term and not line.startswith("   "):
                    roff += [".TP", f"\\fB{escape(term.group(1))}\\fR", escape(term.group(2))]
                elif line.startswith("   ") and roff and roff[-1] != ".PP":
                    roff.append(escape(line.strip()))
                else:
                    roff += [".TP", f"\\fB{escape(line.strip())}\\fR"]
        else:
            roff.append(".PP")
            roff += [escape(line) for line in block]
    return roff


def main(ondival, output):
    def run(*args):
        return subprocess.run([ondival, *args], check=True, capture_output=True, text=True).stdout

    overview = run("--help")
    version = run("--version").split()[-1]
    commands = []
    for block in blocks(overview):
        if block[0] == "Commands:":
            commands = [line.split()[0] for line in block[1:] if TERM.match(line)]
    if not commands:
        sys.exit("ondival_man.py: no Commands: list in ondival --help")
    helps = {c: run(c, "--help") for c in commands}

    summary = next(b for b in blocks(overview) if not b[0].startswith("Usage: "))
    name = " ".join(summary).rstrip(".")
    name = name[0].lower() + name[1:]
    page = [
        f'.TH ONDIVAL 1 "" "ondival {version}" "User Commands"',
        ".SH NAME",
        f"ondival \\- {escape(name)}",
        ".SH SYNOPSIS",
        ".nf",
    ]
    for c in commands:
        usage = helps[c].splitlines()[0].removeprefix("Usage: ondival ")
        page.append(f"\\fBondival\\fR {escape(usage)}")
    page += ["\\fBondival\\fR \\-\\-help | \\-\\-version | \\fICOMMAND\\fR \\-\\-help", ".fi", ".SH DESCRIPTION"]
    page += body(overview)
    page.append(".SH COMMANDS")
    for c in commands:
        page.append(f'.SS "{escape(helps[c].splitlines()[0].removeprefix("Usage: "))}"')
        page += body(helps[c])
    with open(output, "w", encoding="ascii") as f:
        f.write("\n".join(page) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip())
    main(sys.argv[1], sys.argv[2])
