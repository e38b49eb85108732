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

Ctrl-C during a call made on the main thread stops the import at its next
line: it is rolled back as a failed import is, and KeyboardInterrupt is
raised once it has been. Python delivers signals to the main thread only: a
call made on another thread is not stopped by Ctrl-C, but by
Importer.cancel() from any thread.

The library is the one named by the environment variable ONDVIMP_LIBRARY,
else the one installed with this module, else libondvimp.so.1 wherever the
dynamic loader finds it.
"""
import codecs
import contextlib
import enum
import json
import os
import signal
import socket
import tempfile
import threading
import time
from dataclasses import dataclass
from typing import Callable, Optional, Union

from . import _library

__all__ = ["AuthenticationFailed", "BadData", "Busy", "DatabaseError", "DatabaseNotFound", "DiskFull", "Error",
           "ErrorKind", "FileNotFound", "IOFailure", "Importer", "InternalError", "Interrupted", "InvalidArgument",
           "OutOfMemory", "PathClash", "PathNotFound", "PermissionDenied", "Result", "ServerGone",
           "ServerUnavailable", "abi_version", "import_export", "library_path", "version"]

PathArgument = Union[str, bytes, "os.PathLike[str]"]
Progress = Callable[[str, float], None]


class ErrorKind(enum.IntEnum):
    """What kind of fault an Error is: enum ondvimp_error_kind of the C
    header, which describes each. The numbers collide (5 is a refused
    argument and a busy database alike); the kinds do not."""

    NO_ERROR = 0
    INVALID_ARGUMENT = 1
    BUSY = 2
    WRONG_PASSWORD = 3
    NO_SERVER = 4
    SERVER_GONE = 5
    NO_DATABASE = 6
    DISK_FULL = 7
    FILE_NOT_FOUND = 8
    PATH_NOT_FOUND = 9
    PERMISSION = 10
    PATH_CLASH = 11
    BAD_DATA = 12
    IO_ERROR = 13
    DATABASE = 14
    OUT_OF_MEMORY = 15
    INTERRUPTED = 16
    INTERNAL = 17


class Error(Exception):
    """An error that stopped an import and reached the host: a missing source
    directory, a trace that cannot be written, a database error that nothing
    handled. The number is the library's (SQLite result codes for database
    faults, 53 file not found, 76 path not found, ...), the text is French, as
    in the trace, and kind (an ErrorKind) says what kind of fault it is. The
    error raised is the subclass of its kind (Busy, AuthenticationFailed, ...),
    so that a host catches the faults it acts on by class. The database holds
    no half-imported performance."""

    kind = ErrorKind.INTERNAL  # what an Error made without a kind stands for

    def __init__(self, number: int, text: str, trace: str = "", kind: Optional[int] = None):
        super().__init__(number, text)
        self.number = number
        self.text = text
        self.trace = trace  # the trace as far as it was written ("" when it could not be opened)
        if kind is not None:
            self.kind = _kind(kind)

    def __str__(self):
        return f"Erreur n° {self.number}: {self.text}"


class InvalidArgument(Error):
    """The call was made wrongly: an empty path, another import started from
    a progress callable (error 5)."""

    kind = ErrorKind.INVALID_ARGUMENT


class Busy(Error):
    """Another session held the database longer than the import waits (a
    file's lock, a server's lock timeout): trying again later may succeed."""

    kind = ErrorKind.BUSY


class AuthenticationFailed(Error):
    """The server refused the user or its password."""

    kind = ErrorKind.WRONG_PASSWORD


class ServerUnavailable(Error):
    """No server answered at the address, or it takes no connection now."""

    kind = ErrorKind.NO_SERVER


class ServerGone(Error):
    """The server ended the connection during the call, or the link broke."""

    kind = ErrorKind.SERVER_GONE


class DatabaseNotFound(Error):
    """No such database: no such file, or no such database on the server."""

    kind = ErrorKind.NO_DATABASE


class DiskFull(Error):
    """The disk of the database, the trace or the copies is full."""

    kind = ErrorKind.DISK_FULL


class FileNotFound(Error):
    """A file named by the call is not there."""

    kind = ErrorKind.FILE_NOT_FOUND


class PathNotFound(Error):
    """A directory named by the call is not there."""

    kind = ErrorKind.PATH_NOT_FOUND


class PermissionDenied(Error):
    """A right is missing: on a file or a directory, on a table, or the
    database is read-only."""

    kind = ErrorKind.PERMISSION


class PathClash(Error):
    """Two paths of the call are the same place (the trace is the database,
    the scratch directory is the export...)."""

    kind = ErrorKind.PATH_CLASH


class BadData(Error):
    """A file or a value is not what it should be: a bad archive (error
    321), a damaged database, a value the import cannot read."""

    kind = ErrorKind.BAD_DATA


class IOFailure(Error):
    """A read or a write failed, for no reason more precise."""

    kind = ErrorKind.IO_ERROR


class DatabaseError(Error):
    """Any other refusal of the database: a statement, a constraint."""

    kind = ErrorKind.DATABASE


class OutOfMemory(Error):
    """The library ran out of memory."""

    kind = ErrorKind.OUT_OF_MEMORY


class Interrupted(Error):
    """The call was stopped by Importer.cancel() (error 18). Ctrl-C raises
    KeyboardInterrupt instead."""

    kind = ErrorKind.INTERRUPTED


class InternalError(Error):
    """A fault of the library itself."""

    kind = ErrorKind.INTERNAL


def _kind(value: int) -> ErrorKind:
    # A kind this module does not know yet (a newer library) is an internal
    # error's, as the C header asks of its hosts.
    try:
        return ErrorKind(value)
    except ValueError:
        return ErrorKind.INTERNAL


_ERRORS = {c.kind: c for c in (InvalidArgument, Busy, AuthenticationFailed, ServerUnavailable, ServerGone,
                               DatabaseNotFound, DiskFull, FileNotFound, PathNotFound, PermissionDenied, PathClash,
                               BadData, IOFailure, DatabaseError, OutOfMemory, Interrupted, InternalError)}


def _error(number: int, text: str, trace: str, kind: int) -> Error:
    """The error the library reported, as the subclass of its kind."""
    return _ERRORS.get(_kind(kind), Error)(number, text, trace, kind)


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
    path = os.fsencode(value)
    # The library reads a path up to its first NUL: "db\0.archive" would be
    # the database "db". Refused, as os.stat refuses it.
    if b"\0" in path:
        raise ValueError(f"{name}: embedded null byte")
    return path


class _Interruptions:
    """Ctrl-C while a call of the library runs on the main thread.

    While the main thread is inside the library, Python cannot run its
    SIGINT handler: it only notes the signal, and writes its number to the
    wakeup file descriptor. For the length of the call, that descriptor is a
    socket that a watcher thread reads, asking the library to stop the call
    when SIGINT comes; SIGINT's Python handler becomes one that only notes
    it (so that no KeyboardInterrupt is raised half-way through this module,
    or inside the host's progress callable, whatever it is doing). Once the
    call has returned, both are restored and a SIGINT that came meanwhile is
    raised again, so that the host's own handler (Python's raises
    KeyboardInterrupt) sees it once, after the rollback.

    Off the main thread, or when SIGINT is not handled by Python (ignored,
    or left to its default action), nothing is changed."""

    def __init__(self, cancel: Callable[[], bool]):
        self._cancel = cancel  # asks the library once; True when a call was running
        self.interrupted = False
        self._active = False
        self._calling = False

    def __enter__(self):
        if threading.current_thread() is not threading.main_thread():
            return self
        if not callable(signal.getsignal(signal.SIGINT)):
            return self
        self._reader, self._writer = socket.socketpair()
        self._writer.setblocking(False)
        self._previous_fd = signal.set_wakeup_fd(self._writer.fileno(), warn_on_full_buffer=False)
        try:
            self._previous_handler = signal.signal(signal.SIGINT, self._on_sigint)
            # The library's own reads and writes go on when the signal
            # comes; it stops at its next line.
            signal.siginterrupt(signal.SIGINT, False)
        except BaseException:
            signal.set_wakeup_fd(self._previous_fd)
            self._reader.close()
            self._writer.close()
            raise
        self._calling = True
        self._active = True
        self._watcher = threading.Thread(target=self._watch, name="ondvimp-ctrl-c", daemon=True)
        self._watcher.start()
        return self

    def __exit__(self, *_):
        if not self._active:
            return False
        self._active = False
        self._calling = False
        signal.set_wakeup_fd(self._previous_fd)
        signal.signal(signal.SIGINT, self._previous_handler)
        self._writer.shutdown(socket.SHUT_WR)  # the watcher reads the end and leaves
        self._watcher.join()
        self._reader.close()
        self._writer.close()
        if self.interrupted:
            signal.raise_signal(signal.SIGINT)  # Python's handler raises KeyboardInterrupt here
        return False

    def _on_sigint(self, _signum, _frame):
        # Runs on the main thread when it is in Python code: in the host's
        # progress callable (the library is waiting for it), or before or
        # after the call.
        self.interrupted = True
        self._cancel()

    def _watch(self):
        while True:
            try:
                data = self._reader.recv(512)
            except InterruptedError:
                continue
            except OSError:
                return
            if not data:
                return
            if signal.SIGINT in data:
                self.interrupted = True
                # In its first instructions a call may not take the request
                # yet: asked again until it does or it has returned.
                while self._calling and not self._cancel():
                    time.sleep(0.001)
            others = bytes(b for b in data if b != signal.SIGINT)
            if others and self._previous_fd >= 0:
                with contextlib.suppress(OSError):  # the other signals, to whoever was watching for them
                    os.write(self._previous_fd, others)


class _Display:
    """The library's progress table, driving a Python callable. The library
    moves the bar once per line; the callable is called only when the step
    changes or the bar passes a whole percent, so that a Python host is not
    called a hundred thousand times for a national export.

    An exception the callable raises cannot cross the library: it is kept
    and raised once the call has returned. KeyboardInterrupt and SystemExit
    (a user or a program that wants to stop) also ask the library to stop
    the call at its next line; any other exception (a fault of the host's
    display) only stops the calls to the callable, and the import goes on
    to its end."""

    def __init__(self, progress: Progress, cancel: Callable[[], bool]):
        self._progress = progress
        self._cancel = cancel
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
            if not isinstance(e, Exception):
                self._cancel()


class Importer:
    """One importer of the library. It serves one call at a time; imports may
    run on several threads at once, each through its own importer. Use it as
    a context manager, or call close()."""

    def __init__(self):
        self._lib = _library.load()
        self._busy = threading.Lock()  # held for the length of a call, and by close()
        self._releasing = threading.Lock()  # held by close() while it releases the handle
        self._caller = None  # the thread running a call, while one runs
        self._removed = None  # the temporary directory of the last call, removed when it ended
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
        """Releases the importer; closing twice is harmless. From another
        thread, it waits for the call under way to end. From the progress
        callable of this importer's own call it raises RuntimeError (it
        would wait for itself)."""
        if self._caller == threading.get_ident():
            raise RuntimeError("close() called from the progress callable of this importer's own call; "
                               "close the importer once the call has returned")
        with self._busy, self._releasing:
            if self._handle is not None:
                self._lib.ondvimp_release(self._handle)
                self._handle = None

    def cancel(self) -> bool:
        """Asks this importer's call under way to stop at its next line, from
        any thread (a Cancel button's, one that watches a deadline) or from
        the call's progress callable. The call then ends as a failed import
        does (rolled back, nothing staged left, the trace saying so) and
        raises Interrupted, an Error with number 18. Returns True when a
        call was running; False otherwise, and then the request is dropped:
        the next call runs to its end (in the first instants of a call,
        before the library has set it up, the answer may still be False: ask
        again). Never waits."""
        if not self._releasing.acquire(blocking=False):
            return False  # being closed: no call runs
        try:
            return self._handle is not None and self._lib.ondvimp_cancel(self._handle) == 1
        finally:
            self._releasing.release()

    def import_export(self, db: PathArgument, source: PathArgument, scratch: Optional[PathArgument] = None,
                      trace: Optional[PathArgument] = None, progress: Optional[Progress] = None) -> Result:
        """Imports the export in source, a directory or the federation's .zip
        archive, into the host database db (a bad archive raises BadData,
        an Error with number 321, nothing imported).

        scratch receives copies of the export files (a temporary directory,
        removed afterwards, when None); trace is the trace file, created or
        emptied (temporary when None: its text is in the result either way).
        progress, when given, is called as progress(step_title, percent), with
        percent from 0 to 100, at the start of each step and each time the bar
        passes a whole percent. An exception it raises is raised once the
        call has returned: KeyboardInterrupt or SystemExit stops the import
        at its next line first (rolled back, as by Ctrl-C), any other
        exception only stops the calls to progress, and the import goes on
        to its end. progress must not close this importer (RuntimeError).

        Ctrl-C on the main thread stops the import at its next line and
        raises KeyboardInterrupt once it is rolled back.

        Returns a Result; raises Error when an error reached the host, as the
        subclass of its kind (Busy, InvalidArgument, ...; Interrupted, number
        18, when the call was stopped by cancel()).
        """
        return self._run(self._lib.ondvimp_import, db, source, scratch, trace, progress)

    def check_export(self, db: PathArgument, source: PathArgument, scratch: Optional[PathArgument] = None,
                     trace: Optional[PathArgument] = None, progress: Optional[Progress] = None) -> Result:
        """Runs the whole import of the export as import_export would (the
        same trace, the same result) and leaves the database as it found it:
        a dry run, whose report says what the import would add. Ctrl-C,
        cancel() and the exceptions of progress stop it as they stop
        import_export. Returns a Result; raises Error when an error reached
        the host."""
        return self._run(self._lib.ondvimp_check, db, source, scratch, trace, progress)

    def last_report(self) -> dict:
        """The report of this importer's last import or check, as the JSON
        object doc/report.schema.json describes; {} before the first. It
        names only files that are still there: the trace and the copies of a
        call given no trace or scratch directory are None."""
        if self._handle is None:
            raise ValueError("the importer is closed")
        text = self._lib.ondvimp_last_report(self._handle).decode("utf-8")
        return _forget_removed(json.loads(text), self._removed) if text else {}

    def last_report_html(self) -> str:
        """The same report as one HTML page in French, self-contained (it
        loads nothing from elsewhere), to save and open in a browser: the
        outcome, each file's lines, the refused lines grouped by kind of
        message, the clubs and swimmers created; "" before the first call."""
        if self._handle is None:
            raise ValueError("the importer is closed")
        return self._lib.ondvimp_last_report_html(self._handle).decode("utf-8")

    def _run(self, function, db, source, scratch, trace, progress):
        # The five arguments every call of the library takes; a new call
        # with the same arguments is one method calling this.
        arguments = [_argument(db, "db"), _argument(source, "source")]
        if scratch is not None:
            scratch = _argument(scratch, "scratch")
        if trace is not None:
            trace = os.fsdecode(_argument(trace, "trace"))
        if not self._busy.acquire(blocking=False):
            raise RuntimeError("this importer is already running an import; give each thread its own Importer")
        try:
            if self._handle is None:
                raise ValueError("the importer is closed")
            self._caller = threading.get_ident()
            handle = self._handle

            def cancel():
                return self._lib.ondvimp_cancel(handle) == 1

            self._removed = None
            with contextlib.ExitStack() as cleanup:
                if scratch is None or trace is None:
                    temporary = cleanup.enter_context(tempfile.TemporaryDirectory(prefix="ondvimp-"))
                    self._removed = temporary
                if scratch is None:
                    scratch = os.path.join(temporary, "scratch")
                    os.mkdir(scratch)
                trace_path = os.path.join(temporary, "trace.txt") if trace is None else trace
                display = _Display(progress, cancel) if progress is not None else None
                with _Interruptions(cancel):
                    code = function(handle, *arguments, os.fsencode(scratch), os.fsencode(trace_path),
                                    None if display is None else display.table)
                text = _read_trace(trace_path)
                number = self._lib.ondvimp_last_error_number(handle)
                message = self._lib.ondvimp_last_error_text(handle).decode("utf-8", "replace")
                kind = self._lib.ondvimp_last_error_kind(handle)
        finally:
            self._caller = None
            self._busy.release()
        if display is not None and display.raised is not None:
            raise display.raised
        if code < 0:
            raise _error(number, message, text, kind)
        return Result(code == 1, text, None if trace is None else trace_path)


def _forget_removed(report: dict, removed: Optional[str]) -> dict:
    """The report without the files of the call's temporary directory, gone
    once the call returned: the trace and the copies there become None, as
    the library's own temporary files are null."""
    if removed is None:
        return report
    prefix = os.path.join(removed, "")

    def gone(path):
        return isinstance(path, str) and path.startswith(prefix)

    if gone(report.get("trace")):
        report["trace"] = None
    for f in report.get("source_files", []):
        if gone(f.get("copy")):
            f["copy"] = None
    return report


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
