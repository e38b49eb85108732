"""Stopping an import from a Python host, and the calls the module refuses
before they reach the library: Ctrl-C in a running program, cancel() from
another thread, a progress callable that closes its own importer, and paths
holding a NUL byte."""
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import ondvimp
from conftest import PERFORMANCES, RELAYS, attached, last_close, staged

PERFORMANCE_STEP = "Fichier Liffn.txt"
INTERRUPTED = ["Import interrompu.", "Erreur n° 18: Interruption par l'utilisateur"]

# A host program run from a terminal: it says when the import has reached
# its performances (from progress, or the test reads the trace), and how
# its call ended.
HOST = r"""
import signal, sys
import ondvimp

call, shown, handler, db, source, trace = sys.argv[1:]
handled = []
if handler == "default":
    # As in a terminal, whatever the test runner left SIGINT at.
    signal.signal(signal.SIGINT, signal.default_int_handler)
else:
    signal.signal(signal.SIGINT, lambda *_: handled.append(1))

told = False
def progress(step, percent):
    global told
    if step == "Fichier Liffn.txt" and not told:
        told = True
        print("performances", flush=True)

def restored():
    fd = signal.set_wakeup_fd(-1)
    return fd == -1 and (signal.getsignal(signal.SIGINT) is signal.default_int_handler) == (handler == "default")

with ondvimp.Importer() as importer:
    run = importer.check_export if call == "check" else importer.import_export
    try:
        result = run(db, source, trace=trace, progress=progress if shown == "progress" else None)
    except KeyboardInterrupt:
        print("KeyboardInterrupt", "restored" if restored() else "not restored", flush=True)
        raise
    except ondvimp.Error as error:
        print("Error", error.number, "handled", len(handled), "restored" if restored() else "not restored")
    else:
        print("returned", result.ok)
"""


def wait_for_performances(child, shown, trace):
    """Returns once the child's import is in its performances."""
    if shown == "progress":
        assert child.stdout.readline().strip() == "performances"
        return
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        # The trace reaches the disk at the start of each step.
        if trace.exists() and b"Traitement des performances" in trace.read_bytes():
            return
        time.sleep(0.01)
    pytest.fail("the import never reached its performances")


@pytest.mark.parametrize("call, shown, handler", [
    ("import", "progress", "default"),
    ("import", "silent", "default"),
    ("check", "silent", "default"),
    ("import", "silent", "host's own"),
], ids=["import-with-progress", "import-without-progress", "check", "host-handler"])
def test_ctrl_c_stops_the_call_at_its_next_line_and_surfaces_after_the_rollback(tmp_path, big_export, db, call,
                                                                               shown, handler):
    script = tmp_path / "host.py"
    script.write_text(HOST)
    trace = tmp_path / "trace.txt"
    temporary = tmp_path / "tmp"
    temporary.mkdir()
    before = db.read_bytes()
    module_dir = os.path.dirname(os.path.dirname(ondvimp.__file__))
    environment = dict(os.environ, PYTHONPATH=module_dir, TMPDIR=str(temporary))
    child = subprocess.Popen([sys.executable, str(script), call, shown, handler, str(db), str(big_export),
                              str(trace)], env=environment, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True)
    try:
        wait_for_performances(child, shown, trace)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=120)
    finally:
        child.kill()
        child.wait()

    if handler == "default":
        assert out.splitlines()[-1] == "KeyboardInterrupt restored", err
        # Python ends a program on an uncaught KeyboardInterrupt by SIGINT.
        assert child.returncode == -signal.SIGINT
        assert err.rstrip().endswith("KeyboardInterrupt")
    else:
        # The host's handler runs once; the call says it was interrupted.
        assert out.splitlines()[-1] == "Error 18 handled 1 restored", err
        assert child.returncode == 0
    lines = trace.read_bytes().decode("cp1252").splitlines()
    assert lines[-2:] == INTERRUPTED
    assert staged(db) == 0
    assert attached(db) == 0
    if call == "check":
        assert db.read_bytes() == before
    else:
        assert last_close(db)
    assert os.listdir(temporary) == [], "the call's temporary copies were left behind"


def test_ctrl_c_handling_is_given_back_after_each_call(export, db):
    handler = signal.getsignal(signal.SIGINT)
    with ondvimp.Importer() as importer:
        assert importer.import_export(db, export, progress=lambda *_: None)
        assert importer.check_export(db, export)
    assert signal.getsignal(signal.SIGINT) is handler
    fd = signal.set_wakeup_fd(-1)
    signal.set_wakeup_fd(fd)
    assert fd == -1, "the call left its own wakeup descriptor in place"


def test_cancel_from_another_thread_stops_a_call_made_off_the_main_thread(tmp_path, big_export, db):
    reached = threading.Event()
    outcome = {}

    def progress(step, percent):
        if step == PERFORMANCE_STEP:
            reached.set()

    with ondvimp.Importer() as importer:
        assert importer.cancel() is False, "a cancel between calls said a call was running"

        def run():
            try:
                outcome["result"] = importer.import_export(db, big_export, trace=tmp_path / "trace.txt",
                                                           progress=progress)
            except BaseException as e:  # what the thread met is the test's answer
                outcome["raised"] = e

        worker = threading.Thread(target=run)
        worker.start()
        assert reached.wait(120)
        assert importer.cancel() is True
        worker.join()
        assert importer.cancel() is False

    error = outcome.get("raised")
    assert isinstance(error, ondvimp.Interrupted) and isinstance(error, ondvimp.Error), outcome
    assert error.number == 18 and error.text == "Interruption par l'utilisateur"
    assert error.kind == ondvimp.ErrorKind.INTERRUPTED
    assert error.trace.splitlines()[-2:] == INTERRUPTED
    assert staged(db) == 0 and attached(db) == 0
    assert last_close(db)


def test_a_cancel_between_calls_is_dropped(export, db):
    with ondvimp.Importer() as importer:
        assert importer.cancel() is False
        assert importer.import_export(db, export)
    assert attached(db) == PERFORMANCES + RELAYS
    importer.close()
    assert importer.cancel() is False  # closed


def test_a_progress_callable_closing_its_own_importer_is_refused(export, db):
    importer = ondvimp.Importer()
    outcome = {}

    def progress(step, percent):
        importer.close()

    def run():
        try:
            outcome["result"] = importer.import_export(db, export, progress=progress)
        except BaseException as e:  # what the thread met is the test's answer
            outcome["raised"] = e

    # On a thread of its own, so that a close() waiting for its own call
    # fails the test instead of hanging it.
    worker = threading.Thread(target=run, daemon=True)
    worker.start()
    worker.join(60)
    assert not worker.is_alive(), "close() from progress waited for its own call"
    assert isinstance(outcome.get("raised"), RuntimeError), outcome
    assert "close()" in str(outcome["raised"])
    # Like any fault of the host's display, it did not throw the import away.
    assert attached(db) == PERFORMANCES + RELAYS
    assert not importer.closed
    importer.close()
    assert importer.closed


@pytest.mark.parametrize("argument", ["db", "source", "scratch", "trace"])
@pytest.mark.parametrize("kind", [str, bytes], ids=["str", "bytes"])
def test_a_path_with_a_nul_byte_is_refused_before_anything_is_touched(tmp_path, export, db, argument, kind):
    scratch, trace = tmp_path / "scratch", tmp_path / "trace.txt"
    scratch.mkdir()
    paths = {"db": db, "source": export, "scratch": scratch, "trace": trace}
    # What the library would take once the path is cut at the NUL names a
    # real file or directory.
    path = os.fspath(paths[argument])
    paths[argument] = os.fsencode(path) + b"\0.archive" if kind is bytes else path + "\0.archive"
    before = db.read_bytes()

    with pytest.raises(ValueError, match="embedded null byte"):
        ondvimp.import_export(paths["db"], paths["source"], paths["scratch"], paths["trace"])

    assert db.read_bytes() == before
    assert not trace.exists()
    assert os.listdir(scratch) == []
