"""Imports a swimming federation's export (club.txt, licence.txt, liffn.txt,
origine.txt) into a club's host database, through libondvimp.

    import ondvimp

    with ondvimp.Importer() as importer:
        result = importer.import_export("club.db", "export")
    if not result:
        print(result.trace)

The database is a SQLite file made by `ondival init`, or the address of a
database on a PostgreSQL server, postgresql://user@host:port/dbname, whose
password libpq finds in PGPASSWORD, ~/.pgpass (or PGPASSFILE) or a service
file.

The library is the one named by the environment variable ONDVIMP_LIBRARY,
else the one installed with this module, else libondvimp.so.1 wherever the
dynamic loader finds it.
"""
import codecs
import contextlib
import json
import os
import tempfile
import threading
from dataclasses import dataclass
from typing import Callable, Optional, Union

from . import _library

__all__ = ["Error", "Importer", "Result", "abi_version", "import_export", "library_path", "version"]

PathArgument = Union[str, bytes, "os.PathLike[str]"]
Progress = Callable[[str, float], None]


class Error(Exception):
    """An error that stopped an import and reached the host: a missing source
    directory, a trace that cannot be written, a database error that nothing
    handled. The number is the library's (SQLite result codes for database
    faults, 53 file not found, 76 path not found, ...), the text is French, as
    in the trace. The database holds no half-imported performance."""

    def __init__(self, number: int, text: str, trace: str = ""):
        super().__init__(number, text)
        self.number = number
        self.text = text
        self.trace = trace  # the trace as far as it was written ("" when it could not be opened)

    def __str__(self):
        return f"Erreur n° {self.number}: {self.text}"


@dataclass(frozen=True)
class Result:
    """How an import ended. True (ok) when this import's performances were
    attached to a new competition, or liffn.txt held no line and nothing
    failed; false when it stopped early or withdrew its performances, and the
    trace says why."""

    ok: bool
    trace: str  # the trace, decoded from Windows-1252, lines ended by "\n"
    trace_path: Optional[str]  # where it was written; None when it was temporary

    def __bool__(self):
        return self.ok


def _windows_1252_undefined(error):
    # The component reads the five bytes Windows-1252 leaves undefined as the
    # characters of the same value, and writes them back so into the trace.
    return "".join(chr(b) for b in error.object[error.start:error.end]), error.end


codecs.register_error("ondvimp-undefined", _windows_1252_undefined)


def _read_trace(path: str) -> str:
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return ""
    return data.decode("cp1252", "ondvimp-undefined").replace("\r\n", "\n")


def _argument(value, name: str) -> bytes:
    if value is None:
        raise TypeError(f"{name} must be a path, not None")
    return os.fsencode(value)


class _Display:
    """The library's progress table, driving a Python callable. The library
    moves the bar once per line; the callable is called only when the step
    changes or the bar passes a whole percent, so that a Python host is not
    called a hundred thousand times for a national export."""

    def __init__(self, progress: Progress):
        self._progress = progress
        self._step = ""
        self._shown = None
        self.raised = None  # the first exception the callable raised
        # No get_value: the library reads back the last value it set. No
        # repaint: the callable draws when it is called.
        self.table = _library.ProgressTable(None, _library.STEP_TITLE(self._on_step), _library.GET_VALUE(),
                                            _library.SET_VALUE(self._on_value), _library.REPAINT())

    def _on_step(self, _user, title):
        self._step = title.decode("utf-8", "replace")
        self._shown = None

    def _on_value(self, _user, value):
        whole = int(value)
        if whole == self._shown or self.raised is not None:
            return
        self._shown = whole
        try:
            self._progress(self._step, value)
        except BaseException as e:  # an exception cannot cross the C library: kept, raised on return
            self.raised = e


class Importer:
    """One importer of the library. It serves one call at a time; imports may
    run on several threads at once, each through its own importer. Use it as
    a context manager, or call close()."""

    def __init__(self):
        self._lib = _library.load()
        self._busy = threading.Lock()
        self._handle = self._lib.ondvimp_create()
        if not self._handle:
            raise MemoryError("ondvimp_create")

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None):
            self.close()

    @property
    def closed(self) -> bool:
        return self._handle is None

    def close(self):
        """Releases the importer; closing twice is harmless."""
        with self._busy:
            if self._handle is not None:
                self._lib.ondvimp_release(self._handle)
                self._handle = None

    def import_export(self, db: PathArgument, source: PathArgument, scratch: Optional[PathArgument] = None,
                      trace: Optional[PathArgument] = None, progress: Optional[Progress] = None) -> Result:
        """Imports the export in directory source into the host database db.

        scratch receives copies of the export files (a temporary directory,
        removed afterwards, when None); trace is the trace file, created or
        emptied (temporary when None: its text is in the result either way).
        progress, when given, is called as progress(step_title, percent), with
        percent from 0 to 100, at the start of each step and each time the bar
        passes a whole percent. An exception it raises cannot stop the import
        under way: it stops the calls to progress and is raised when the
        import has ended.

        Returns a Result; raises Error when an error reached the host.
        """
        return self._run(self._lib.ondvimp_import, db, source, scratch, trace, progress)

    def check_export(self, db: PathArgument, source: PathArgument, scratch: Optional[PathArgument] = None,
                     trace: Optional[PathArgument] = None, progress: Optional[Progress] = None) -> Result:
        """Runs the whole import of the export as import_export would (the
        same trace, the same result) and leaves the database as it found it:
        a dry run, whose report says what the import would add. Returns a
        Result; raises Error when an error reached the host."""
        return self._run(self._lib.ondvimp_check, db, source, scratch, trace, progress)

    def last_report(self) -> dict:
        """The report of this importer's last import or check, as the JSON
        object doc/report.schema.json describes; {} before the first."""
        if self._handle is None:
            raise ValueError("the importer is closed")
        text = self._lib.ondvimp_last_report(self._handle).decode("utf-8")
        return json.loads(text) if text else {}

    def _run(self, function, db, source, scratch, trace, progress):
        # The five arguments every call of the library takes; a new call
        # with the same arguments is one method calling this.
        arguments = [_argument(db, "db"), _argument(source, "source")]
        if not self._busy.acquire(blocking=False):
            raise RuntimeError("this importer is already running an import; give each thread its own Importer")
        try:
            if self._handle is None:
                raise ValueError("the importer is closed")
            with contextlib.ExitStack() as cleanup:
                if scratch is None or trace is None:
                    temporary = cleanup.enter_context(tempfile.TemporaryDirectory(prefix="ondvimp-"))
                if scratch is None:
                    scratch = os.path.join(temporary, "scratch")
                    os.mkdir(scratch)
                trace_path = os.path.join(temporary, "trace.txt") if trace is None else os.fsdecode(trace)
                display = _Display(progress) if progress is not None else None
                code = function(self._handle, *arguments, _argument(scratch, "scratch"), os.fsencode(trace_path),
                                None if display is None else display.table)
                text = _read_trace(trace_path)
                number = self._lib.ondvimp_last_error_number(self._handle)
                message = self._lib.ondvimp_last_error_text(self._handle).decode("utf-8", "replace")
        finally:
            self._busy.release()
        if display is not None and display.raised is not None:
            raise display.raised
        if code < 0:
            raise Error(number, message, text)
        return Result(code == 1, text, None if trace is None else trace_path)


def import_export(db: PathArgument, source: PathArgument, scratch: Optional[PathArgument] = None,
                  trace: Optional[PathArgument] = None, progress: Optional[Progress] = None) -> Result:
    """One import through an importer of its own; see Importer.import_export."""
    with Importer() as importer:
        return importer.import_export(db, source, scratch, trace, progress)


def version() -> str:
    """The library's release, such as "1.0.0"."""
    return _library.load().ondvimp_version().decode()


def abi_version() -> int:
    """The interface version the library implements (1 or later)."""
    return _library.load().ondvimp_abi_version()


def library_path() -> str:
    """The library file this process loaded."""
    return _library.path()
