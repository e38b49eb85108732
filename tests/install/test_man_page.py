"""The installed manual page of ondival, as man shows it: it renders without
a roff warning, and says, word for word, what `ondival --help` and each
command's help say. Run by tools/test_install.sh with ONDIVAL_CLI and
ONDIVAL_MAN_PAGE naming the installed program and page."""
import os
import re
import shutil
import subprocess

import pytest

CLI = os.environ.get("ONDIVAL_CLI", "ondival")
PAGE = os.environ.get("ONDIVAL_MAN_PAGE", "")

pytestmark = pytest.mark.skipif(not PAGE or not shutil.which("groff"), reason="needs ONDIVAL_MAN_PAGE and groff")


def helps():
    """Every help the program gives: the overview, then each command listed under Commands:."""
    overview = subprocess.run([CLI, "--help"], check=True, capture_output=True, text=True).stdout
    listed = overview.split("\nCommands:\n", 1)[1].split("\n\n", 1)[0]
    commands = [line.split()[0] for line in listed.splitlines()]
    return [("overview", overview)] + [
        (c, subprocess.run([CLI, c, "--help"], check=True, capture_output=True, text=True).stdout) for c in commands]


def words(text):
    # What rendering may change: typographic dashes and quotes, spacing.
    for typographic, plain in {"\u2212": "-", "\u2010": "-", "\u2018": "'", "\u2019": "'"}.items():
        text = text.replace(typographic, plain)
    return " ".join(text.split())


def render(*options):
    run = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-P-cbou", *options, PAGE], capture_output=True,
                         text=True)
    assert run.returncode == 0, run.stderr
    return run


def test_the_page_renders_without_a_warning():
    assert render("-z").stderr == ""


HELPS = helps() if PAGE else []


@pytest.mark.parametrize("name,text", HELPS, ids=[name for name, _ in HELPS])
def test_the_page_says_what_the_help_says(name, text):
    # No hyphenation and a wide line, so that every sentence reads on.
    page = words(render("-rHY=0", "-rLL=300n").stdout)
    usage, *blocks = [b for b in re.split(r"\n\s*\n", text) if b.strip()]
    if name != "overview":  # the synopsis spells out each command instead
        assert words(usage.replace("Usage: ", "", 1)) in page
    for block in blocks:
        assert words(block) in page, f"the page lacks, from the {name} help:\n{block}"
