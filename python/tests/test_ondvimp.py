"""The ondvimp module as a Python host uses it: results, errors, progress,
temporary directories, importers across threads, and where the library
comes from."""
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import threading
import uuid

import pytest

import ondvimp
from conftest import PERFORMANCES, RELAYS, attached, last_close, ondival, staged


@pytest.mark.parametrize("scratch_given", [True, False], ids=["scratch", "temporary-scratch"])
@pytest.mark.parametrize("trace_given", [True, False], ids=["trace", "temporary-trace"])
def test_an_import_goes_in_and_leaves_only_what_was_asked_for(tmp_path, monkeypatch, export, db, scratch_given,
                                                             trace_given):
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path / "tmp"))
    (tmp_path / "tmp").mkdir()
    # Accents in the paths: the library takes UTF-8.
    scratch = tmp_path / "copies été"
    scratch.mkdir()
    trace = tmp_path / "trace é.txt"
    check_scratch = tmp_path / "check copies"
    check_scratch.mkdir()

    with ondvimp.Importer() as importer:
        checked = importer.check_export(db, export, check_scratch if scratch_given else None,
                                        trace if trace_given else None)
        check_report = importer.last_report()
        result = importer.import_export(db, export, scratch if scratch_given else None,
                                        trace if trace_given else None)
        import_report = importer.last_report()

    # The reports name only files that are still there: a temporary trace
    # or copies are None.
    for report, copies in ((check_report, check_scratch), (import_report, scratch)):
        assert report["trace"] == (str(trace) if trace_given else None)
        for f in report["source_files"]:
            if scratch_given:
                assert f["copy"] == str(copies / f["name"]) and os.path.exists(f["copy"])
            else:
                assert f["copy"] is None
    assert checked and result and result.ok is True
    assert attached(db) == PERFORMANCES + RELAYS
    assert result.trace.startswith("Début de l'import : ")
    assert "\r" not in result.trace
    assert result.trace_path == (str(trace) if trace_given else None)
    if trace_given:
        assert trace.read_bytes().decode("cp1252").replace("\r\n", "\n") == result.trace
    assert sorted(os.listdir(scratch)) == (["club.txt", "licence.txt", "liffn.txt", "origine.txt"]
                                           if scratch_given else [])
    assert os.listdir(tmp_path / "tmp") == [], "a temporary directory was left behind"


@pytest.mark.parametrize("case", ["export without liffn.txt", "database missing", "database not a database"])
def test_a_false_import_is_a_false_result_with_its_reason_in_the_trace(tmp_path, export, db, case):
    source = export
    if case == "export without liffn.txt":
        source = tmp_path / "no-liffn"
        shutil.copytree(export, source)
        (source / "liffn.txt").unlink()
        reason = "Fichier liffn.txt non trouvé dans le répertoire"
    else:
        db = tmp_path / ("missing.db" if case == "database missing" else "notes.txt")
        if case == "database not a database":
            db.write_text("the club's own notes\n")
        reason = "Erreur de connexion dans dll d'import des licences."

    result = ondvimp.import_export(db, source)

    assert not result and result.ok is False
    assert reason in result.trace
    if case == "export without liffn.txt":
        assert attached(db) == 0
    elif case == "database missing":
        assert not db.exists(), "an empty database was left for the club application to open"


@pytest.mark.parametrize("case", ["source missing", "trace unwritable"])
def test_an_error_reaching_the_host_is_raised_with_its_number_and_text(tmp_path, export, db, case):
    source, trace = export, tmp_path / "trace.txt"
    if case == "source missing":
        source = tmp_path / "nowhere"
    else:
        trace = tmp_path / "no such directory" / "trace.txt"

    with pytest.raises(ondvimp.Error) as raised:
        ondvimp.import_export(db, source, trace=trace)

    error = raised.value
    assert error.number > 0 and error.text
    assert str(error) == f"Erreur n° {error.number}: {error.text}"
    # A directory that is not there, in either case.
    assert isinstance(error, ondvimp.PathNotFound) and error.kind == ondvimp.ErrorKind.PATH_NOT_FOUND
    if case == "source missing":
        assert error.number == 76 and str(source) in error.text
        assert "Import interrompu." in error.trace
    else:
        assert error.trace == ""
    assert attached(db) == 0


@pytest.mark.parametrize("case, number, kind, text", [
    ("trace is the database", 75, ondvimp.PathClash, "Le fichier de trace est la base de données : "),
    ("trace is an export file", 75, ondvimp.PathClash, "Le fichier de trace est le fichier liffn.txt de l'export : "),
    ("scratch is the export", 75, ondvimp.PathClash, "Le répertoire de travail est le répertoire source : "),
    ("scratch is empty", 5, ondvimp.InvalidArgument,
     "Argument ou appel de procédure incorrect : le répertoire de travail est vide"),
])
def test_paths_that_clash_are_refused_with_nothing_touched(tmp_path, export, db, case, number, kind, text):
    scratch, trace = tmp_path / "scratch", tmp_path / "trace.txt"
    scratch.mkdir()
    if case == "trace is the database":
        trace = db
    elif case == "trace is an export file":
        trace = export / "liffn.txt"
    elif case == "scratch is the export":
        scratch = export
    else:
        scratch = ""
    before = {p: p.read_bytes() for p in [db, *export.iterdir()]}

    with pytest.raises(kind) as raised:
        ondvimp.import_export(db, export, scratch, trace)

    assert isinstance(raised.value, ondvimp.Error) and raised.value.kind == kind.kind
    assert raised.value.number == number and raised.value.text.startswith(text)
    assert {p: p.read_bytes() for p in [db, *export.iterdir()]} == before
    assert not os.path.exists("/liffn.txt")


def test_a_busy_database_and_an_empty_argument_are_both_error_5_of_two_kinds(tmp_path, export, db):
    """Busy is the one a host tries again later; both are Errors."""
    holder = sqlite3.connect(db, isolation_level=None, check_same_thread=False)
    released = []

    def progress(step, percent):
        # Another workstation starts writing as the first step shows, and is
        # done a while after the import has given up waiting (5 s).
        if not released:
            holder.execute("BEGIN IMMEDIATE")
            released.append(threading.Timer(7, holder.execute, ["ROLLBACK"]))
            released[0].start()

    try:
        with pytest.raises(ondvimp.Busy) as busy:
            ondvimp.import_export(db, export, progress=progress)
    finally:
        for timer in released:
            timer.join()
        holder.close()
    assert isinstance(busy.value, ondvimp.Error)
    assert busy.value.number == 5 and busy.value.kind == ondvimp.ErrorKind.BUSY
    assert staged(db) == 0

    with pytest.raises(ondvimp.InvalidArgument) as refused:
        ondvimp.import_export("", export)
    assert isinstance(refused.value, ondvimp.Error)
    assert refused.value.number == 5 and refused.value.kind == ondvimp.ErrorKind.INVALID_ARGUMENT


@pytest.mark.parametrize("argument", ["db", "source"])
def test_a_missing_argument_is_a_type_error_not_a_null_pointer(export, db, argument):
    arguments = {"db": db, "source": export, argument: None}
    with pytest.raises(TypeError, match=argument):
        ondvimp.import_export(**arguments)


def test_progress_is_told_each_step_from_zero_and_each_whole_percent(export, db):
    seen = []
    result = ondvimp.import_export(db, export, progress=lambda step, percent: seen.append((step, percent)))

    assert result
    steps = list(dict.fromkeys(step for step, _ in seen))
    assert steps == ["Fichier club.txt", "Fichier licence.txt", "Fichier Liffn.txt"]
    for step in steps:
        percents = [p for s, p in seen if s == step]
        assert percents[0] == 0
        assert percents == sorted(percents) and percents[-1] <= 100
        assert percents[-1] >= 99 or step != "Fichier Liffn.txt"
        # One call per whole percent at most, however many lines the step has.
        assert len({int(p) for p in percents}) == len(percents)


@pytest.mark.parametrize("raised, stops", [(ValueError("the host's display broke"), False),
                                           (KeyboardInterrupt(), True), (SystemExit(3), True)],
                         ids=["error", "interrupt", "exit"])
def test_an_exception_in_progress_is_raised_once_the_call_has_returned(tmp_path, export, db, raised, stops):
    calls = []

    def progress(step, percent):
        calls.append(percent)
        if len(calls) == 3:
            raise raised

    trace = tmp_path / "trace.txt"
    with pytest.raises(type(raised)) as caught:
        ondvimp.import_export(db, export, trace=trace, progress=progress)

    assert caught.value is raised
    assert len(calls) == 3, "progress was called again after it raised"
    lines = trace.read_bytes().decode("cp1252").splitlines()
    assert staged(db) == 0
    if stops:
        # A user or a program that wants to stop: rolled back at the next line.
        assert attached(db) == 0
        assert lines[-2:] == ["Import interrompu.", "Erreur n° 18: Interruption par l'utilisateur"]
        assert last_close(db)
    else:
        # A fault of the host's display does not throw the import away.
        assert attached(db) == PERFORMANCES + RELAYS
        assert "Import interrompu." not in lines


@pytest.mark.parametrize("second", ["same importer", "other importer"])
def test_an_import_started_from_progress_is_refused(tmp_path, export, db, second):
    other_db = tmp_path / "other.db"
    ondival("init", other_db)
    with ondvimp.Importer() as importer, ondvimp.Importer() as other:
        nested = importer if second == "same importer" else other

        def progress(step, percent):
            nested.import_export(other_db, export)

        expected = RuntimeError if second == "same importer" else ondvimp.Error
        with pytest.raises(expected):
            importer.import_export(db, export, progress=progress)
        # The importer serves again once the refused call is over.
        assert importer.import_export(other_db, export)
    assert attached(db) == attached(other_db) == PERFORMANCES + RELAYS


def test_importers_on_several_threads_import_at_once(tmp_path, export):
    dbs = [tmp_path / f"club{i}.db" for i in range(3)]
    for db in dbs:
        ondival("init", db)
    results = {}

    def run(db):
        with ondvimp.Importer() as importer:
            results[db] = importer.import_export(db, export)

    threads = [threading.Thread(target=run, args=(db,)) for db in dbs]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(results[db] for db in dbs)
    assert [attached(db) for db in dbs] == [PERFORMANCES + RELAYS] * 3


def test_a_closed_importer_refuses_to_import(export, db):
    importer = ondvimp.Importer()
    with importer:
        assert not importer.closed
    assert importer.closed
    importer.close()
    with pytest.raises(ValueError, match="closed"):
        importer.import_export(db, export)


def test_the_library_is_the_expected_one():
    assert ondvimp.version() == ondival("--version").stdout.split()[1]
    assert ondvimp.abi_version() >= 1
    loaded = os.path.realpath(ondvimp.library_path())
    expected_dir = os.environ.get("ONDVIMP_TEST_EXPECT_LIBRARY_DIR")
    if expected_dir:
        assert os.path.dirname(loaded) == os.path.realpath(expected_dir)
    elif os.environ.get("ONDVIMP_LIBRARY"):
        assert os.path.samefile(loaded, os.environ["ONDVIMP_LIBRARY"])
    expected_module = os.environ.get("ONDVIMP_TEST_EXPECT_MODULE_DIR")
    if expected_module:
        assert os.path.dirname(os.path.realpath(ondvimp.__file__)) == os.path.realpath(expected_module)


def test_a_library_named_but_missing_is_reported_by_name(tmp_path):
    module_dir = os.path.dirname(os.path.dirname(ondvimp.__file__))
    environment = dict(os.environ, ONDVIMP_LIBRARY=str(tmp_path / "libondvimp.so.1"), PYTHONPATH=module_dir)
    run = subprocess.run([sys.executable, "-c", "import ondvimp; ondvimp.version()"], env=environment,
                         capture_output=True, text=True)
    assert run.returncode != 0
    assert "ONDVIMP_LIBRARY" in run.stderr and str(tmp_path / "libondvimp.so.1") in run.stderr


def test_trace_bytes_windows_1252_leaves_undefined_are_kept(tmp_path):
    from ondvimp import _read_trace
    trace = tmp_path / "trace.txt"
    trace.write_bytes(b"Ligne \x81\x8d\x8f\x90\x9d \xe9t\xe9 \x80\r\nsuite\r\n")
    assert _read_trace(str(trace)) == "Ligne \x81\x8d\x8f\x90\x9d été €\nsuite\n"


@pytest.fixture
def server_address(monkeypatch):
    """A fresh database on the test server (ONDIVAL_TEST_PG_URI), as an
    address without its password, which goes into PGPASSWORD instead."""
    uri = os.environ.get("ONDIVAL_TEST_PG_URI")
    psql = shutil.which("psql")
    if not uri or not psql:
        pytest.skip("needs a PostgreSQL server (ONDIVAL_TEST_PG_URI) and psql")
    name = "ondival_py" + uuid.uuid4().hex[:12]
    subprocess.run([psql, "-qX", uri, "-c", f"CREATE DATABASE {name}"], check=True, capture_output=True)
    user_password, rest = uri.split("://", 1)[1].split("@", 1)
    user, password = user_password.split(":", 1)
    monkeypatch.setenv("PGPASSWORD", password)
    yield f"postgresql://{user}@{rest.rsplit('/', 1)[0]}/{name}"
    subprocess.run([psql, "-qX", uri, "-c", f"DROP DATABASE {name} WITH (FORCE)"], capture_output=True)


def test_an_import_into_a_server_database_finds_the_password_where_libpq_looks(export, server_address):
    ondival("init", server_address)
    result = ondvimp.import_export(server_address, export)
    assert result, result.trace
    assert "Début de l'import : " in result.trace


def test_a_check_leaves_the_database_as_it_was_and_reports_what_an_import_would_add(export, db):
    before = db.read_bytes()
    with ondvimp.Importer() as importer:
        checked = importer.check_export(db, export)
        would = importer.last_report()
        assert db.read_bytes() == before, "a check changed the database"
        imported = importer.import_export(db, export)
        did = importer.last_report()
        page = importer.last_report_html()
    assert checked and imported
    assert checked.trace.splitlines()[1:-1] == imported.trace.splitlines()[1:-1]  # but the times
    assert would["mode"] == "check" and did["mode"] == "import"
    assert would["added"] == did["added"]
    assert attached(db) == PERFORMANCES + RELAYS
    assert page.startswith("<!DOCTYPE html>") and 'data-result="true"' in page
    assert f'data-added="performances"><b>{PERFORMANCES + RELAYS}</b>' in page


def test_no_page_before_the_first_call_nor_after_close():
    importer = ondvimp.Importer()
    assert importer.last_report_html() == ""
    importer.close()
    with pytest.raises(ValueError):
        importer.last_report_html()


@pytest.mark.parametrize("layout", ["flat", "nested"])
def test_a_zipped_export_imports_as_its_folder_would(tmp_path, export, db, layout):
    import zipfile
    archive = tmp_path / "export.zip"
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        for name in os.listdir(export):
            z.write(export / name, name if layout == "flat" else "FFN 2026/" + name.upper())
    with ondvimp.Importer() as importer:
        assert importer.check_export(db, archive)
        result = importer.import_export(db, archive)
        assert importer.last_report()["source_dir"] == str(archive)
    assert result, result.trace
    assert attached(db) == PERFORMANCES + RELAYS


def test_a_bad_archive_is_an_error_and_imports_nothing(tmp_path, db):
    import zipfile
    archive = tmp_path / "export.zip"
    with zipfile.ZipFile(archive, "w") as z:
        z.writestr("../liffn.txt", "climbs out")
    with pytest.raises(ondvimp.BadData) as raised:
        ondvimp.import_export(db, archive)
    assert raised.value.number == 321
    assert "../liffn.txt" in raised.value.text
    assert not (tmp_path.parent / "liffn.txt").exists()
    assert attached(db) == 0 and staged(db) == 0
