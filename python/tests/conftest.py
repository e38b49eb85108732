"""Fixtures of the ondvimp module's tests: host databases made by `ondival
init` and exports written by `ondival generate`, with the ondival named by
ONDIVAL_CLI (else the one on PATH)."""
import contextlib
import os
import shutil
import sqlite3
import subprocess

import pytest

PERFORMANCES, RELAYS = 150, 8


def ondival(*args):
    cli = os.environ.get("ONDIVAL_CLI") or shutil.which("ondival")
    if not cli:
        pytest.skip("no ondival: set ONDIVAL_CLI")
    return subprocess.run([cli, *map(str, args)], check=True, capture_output=True, text=True)


@pytest.fixture(scope="session")
def export(tmp_path_factory):
    """A small export; an import only reads it, so every test shares it."""
    path = tmp_path_factory.mktemp("export") / "export"
    ondival("generate", path, "--clubs", 5, "--licences", 60, "--performances", PERFORMANCES, "--relays", RELAYS)
    return path


@pytest.fixture(scope="session")
def big_export(tmp_path_factory):
    """An export whose import takes a second or more, long enough to be
    interrupted in the middle of its performances."""
    path = tmp_path_factory.mktemp("big") / "export"
    ondival("generate", path, "--clubs", 20, "--licences", 5000, "--performances", 100000, "--relays", 100)
    return path


@pytest.fixture
def db(tmp_path):
    path = tmp_path / "club.db"
    ondival("init", path)
    return path


def attached(db):
    """Performances this database holds attached to a competition."""
    with contextlib.closing(sqlite3.connect(db)) as c:
        return sum(c.execute(f"SELECT COUNT(*) FROM {t} WHERE Num_compet <> -1").fetchone()[0]
                   for t in ("Liffn", "Liffn_relais"))


def staged(db):
    """Performances this database holds staged, attached to no competition yet."""
    with contextlib.closing(sqlite3.connect(db)) as c:
        return sum(c.execute(f"SELECT COUNT(*) FROM {t} WHERE Num_compet = -1").fetchone()[0]
                   for t in ("Liffn", "Liffn_relais"))


def last_close(db):
    """Whether the database is marked as closed properly (Info.LastClose)."""
    with contextlib.closing(sqlite3.connect(db)) as c:
        return bool(c.execute("SELECT LastClose FROM Info").fetchone()[0])
