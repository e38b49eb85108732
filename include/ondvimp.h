/*
 * libondvimp: the import of a swimming federation's export (club.txt,
 * licence.txt, liffn.txt, origine.txt) into a club's host database, for
 * hosts written in C or in any language that can call C (Python's ctypes,
 * for one).
 *
 * One import is one call of ondvimp_import(). It copies the export files
 * into a scratch directory, imports the clubs, the licences and the
 * performances, attaches the performances to a new competition (or
 * withdraws all of them), and writes a French trace file in Windows-1252
 * with CRLF line ends.
 *
 * Text conventions: every path and every text crossing this interface is
 * UTF-8 and ends with a NUL byte.
 *
 * Threads: an importer serves one call at a time, and the component keeps
 * the state of an import per thread, so imports may run on several threads
 * at once, each through its own importer. An importer may be handed to
 * another thread between calls. A second call on an importer that is
 * already running one (from another thread, or from one of its own progress
 * callbacks) is refused at once with -1 and changes nothing: the importer's
 * last error and last report stay those of the call under way, and are read
 * by its caller once it returns. A progress callback must not start another
 * import on its own thread through another importer either: that call is
 * refused with -1 and error 5, recorded on that other importer. Only
 * ondvimp_cancel() may be called on an importer from another thread (or a
 * signal handler) while it runs a call; ondvimp_release() must wait until
 * the call has returned.
 *
 * No C++ exception ever leaves a function of this interface.
 */
#ifndef ONDVIMP_H
#define ONDVIMP_H

#ifdef __cplusplus
extern "C" {
#endif

#define ONDVIMP_EXPORT __attribute__((visibility("default")))

/*
 * The version of the interface this header describes. A new version only
 * adds functions: those of earlier versions keep working as they did. A host
 * written for version N runs on any library whose ondvimp_abi_version() is N
 * or more; compare it after loading the library.
 *   1  ondvimp_create, ondvimp_import, ondvimp_last_error_number,
 *      ondvimp_last_error_text, ondvimp_release, ondvimp_version,
 *      ondvimp_abi_version
 *   2  ondvimp_check (a dry run) and ondvimp_last_report (a JSON report)
 *   3  ondvimp_cancel (stops the call under way, from any thread or a
 *      signal handler), ondvimp_last_report_html (the last report as an
 *      HTML page) and ondvimp_last_error_kind (what kind of fault the last
 *      error is, enum ondvimp_error_kind). With it, in the library's
 *      behaviour: a second caller on a busy importer is refused with -1
 *      instead of corrupting it, a call that returns 1 or 0 leaves no last
 *      error, and the value get_value gives is brought within 0 to 100
 *      before the bar moves on.
 */
#define ONDVIMP_ABI_VERSION 3

/* An importer: created by ondvimp_create(), released by ondvimp_release(). */
typedef struct ondvimp_importer ondvimp_importer;

/*
 * The host's progress display, as the import drives it. At the start of each
 * step (clubs, licences, performances) the import calls step_title, then
 * set_value(0) and repaint; for every line read it calls get_value and then
 * set_value with the bar moved on, from 0 to at most 100 within the step.
 *
 * Every member may be NULL. Without get_value the import reads back the last
 * value it set, so a host that only draws the bar needs set_value alone.
 * What get_value returns is clamped to 0..100, and a value that is not a
 * number (NaN, an infinity) counts as the last value set, so set_value
 * always receives a value from 0 to 100 whatever the host's bar holds.
 * The table is read during the call only; it may live on the caller's stack.
 * The callbacks run on the calling thread, in the middle of the import: they
 * should return quickly (a host that draws should redraw on a timer, not on
 * every line).
 */
typedef struct ondvimp_progress {
    void* user;                                             /* passed back to every callback */
    void (*step_title)(void* user, const char* title_utf8); /* the step under way */
    double (*get_value)(void* user);                        /* the bar's value, 0 to 100 */
    void (*set_value)(void* user, double value);            /* move the bar */
    void (*repaint)(void* user);                            /* a new step is shown */
} ondvimp_progress;

/* The library's release, such as "1.0.0". A static string. */
ONDVIMP_EXPORT const char* ondvimp_version(void);

/* The interface version the library implements (see ONDVIMP_ABI_VERSION). */
ONDVIMP_EXPORT int ondvimp_abi_version(void);

/* A new importer, or NULL when memory is short. */
ONDVIMP_EXPORT ondvimp_importer* ondvimp_create(void);

/*
 * Releases an importer and its last error text. NULL is accepted. Not while
 * the importer runs a call (nor from its progress callbacks).
 */
ONDVIMP_EXPORT void ondvimp_release(ondvimp_importer* importer);

/*
 * Runs one import.
 *   db           the host database file (it must exist; see `ondival init`),
 *                or postgresql://user@host:port/dbname for a database on
 *                a PostgreSQL server (the password where libpq looks for
 *                it: PGPASSWORD, ~/.pgpass or PGPASSFILE, a service file;
 *                one written in the address works too, but every user of
 *                the machine may see a command line)
 *   source_dir   the directory of the federation's export, or its .zip
 *                archive: the four files found by name whatever their folder
 *                and capitals inside it, unpacked into scratch_dir (and
 *                removed at the end). An archive that is no zip, is damaged,
 *                stores a name with ".." or from the root, holds a file twice
 *                or one far larger than an export is refused with error 321
 *                before the database is opened
 *   scratch_dir  a writable directory that receives copies of the export
 *   trace_path   the trace file, created or emptied
 *   progress     the progress display, or NULL for none
 *
 * Returns
 *    1  the import is true: this import's performances were attached to a
 *       new competition, or liffn.txt held no line and nothing failed;
 *    0  the import is false: it stopped early (source not ready, database
 *       not opened, liffn.txt missing) or its performances were withdrawn;
 *       the trace says why;
 *   -1  an error stopped the import and reached the host (for instance a
 *       source directory that does not exist, a trace path that cannot be
 *       written, a NULL argument, a call stopped by ondvimp_cancel(), error
 *       18); ondvimp_last_error_number() and ondvimp_last_error_text() tell
 *       which, and ondvimp_last_error_kind() what kind of fault it is. The
 *       database is left closed and holds no half-imported performance.
 *       With a NULL importer, or an importer already running a call, the
 *       result is -1 and nothing is recorded.
 *
 * Each call clears the importer's last error and its last report first; a
 * call that returns 1 or 0 leaves no last error (0, ""), whatever its
 * progress callbacks met on the way.
 */
ONDVIMP_EXPORT int ondvimp_import(ondvimp_importer* importer, const char* db, const char* source_dir,
                                  const char* scratch_dir, const char* trace_path, const ondvimp_progress* progress);

/*
 * Since ABI version 2. Checks an export against the database: the whole
 * import as ondvimp_import() runs it, with the same trace, the same result
 * and the same errors, after which the database is exactly as it was (no row
 * added or changed, no competition or pool created, Info.LastClose not
 * marked). Everything the check writes stays in one transaction that is
 * rolled back at its end, on a file and on a server alike, so a check that
 * is killed leaves the database as it was too. Like an import, it waits for
 * an import that is writing, and other imports wait for it.
 *
 *   scratch_dir  may be NULL: the copies go to a temporary directory that is
 *                removed afterwards
 *   trace_path   may be NULL: the trace goes there as well (and is removed)
 *
 * The other arguments and the result are those of ondvimp_import(): 1, 0 or
 * -1 say what the import would have returned. ondvimp_last_report() then
 * says what it would have done; it names only files that are still there
 * (a trace or copies in the temporary directory are null).
 */
ONDVIMP_EXPORT int ondvimp_check(ondvimp_importer* importer, const char* db, const char* source_dir,
                                 const char* scratch_dir, const char* trace_path, const ondvimp_progress* progress);

/*
 * Since ABI version 3. Asks the importer's call under way (ondvimp_import()
 * or ondvimp_check()) to stop at its next line, as a user's Cancel button or
 * Ctrl-C would. That call then ends as a call that met an error does: the
 * step under way rolled back, no staged performance left, the database
 * marked closed (Info.LastClose; a check leaves the database exactly as it
 * was, as always), "Import interrompu." and "Erreur n° 18: Interruption
 * par l'utilisateur" at the end of the trace, and the result -1 with error
 * 18. A call that was already past its last line when asked returns as it
 * would have.
 *
 * May be called from any thread, from a progress callback of the call
 * itself, and from a signal handler (it is async-signal-safe: it only
 * touches lock-free atomic variables and waits for nothing). The importer
 * must stay alive meanwhile.
 *
 * Returns 1 when the importer was running a call, which was asked to stop;
 * 0 when it was not (between calls, or importer NULL): that request is
 * dropped, and the next call runs to its end. In the first instructions of
 * a call, before it has set itself up, the answer may still be 0: a host
 * that must not miss a stop (a thread watching for Ctrl-C) asks again until
 * the answer is 1 or its call has returned.
 */
ONDVIMP_EXPORT int ondvimp_cancel(ondvimp_importer* importer);

/*
 * Since ABI version 2. What the importer's last ondvimp_import() or
 * ondvimp_check() did, as a JSON object in UTF-8 (doc/report.md describes it,
 * doc/report.schema.json is its schema): the result and the error that
 * ended the call, the times, the source files and their line counts, the
 * summary counts of each file import, the competition created or the purge,
 * the rows added (or that would be), where the import stopped, and every
 * located entry of the trace. "" before the first call, for a call refused
 * before it started (NULL argument, import already running on the thread),
 * and for a NULL importer. A call refused because the importer was busy
 * leaves the report where it was. The text belongs to the importer and
 * stays valid until its next call or its release.
 */
ONDVIMP_EXPORT const char* ondvimp_last_report(const ondvimp_importer* importer);

/*
 * Since ABI version 3. The same report as ondvimp_last_report(), as one
 * HTML page in French (UTF-8) for the person who ran the import: the
 * outcome first, then each file's lines, the refused and warned lines
 * grouped by kind of message with the export's own text, the clubs and
 * swimmers created, and the run. The page is self-contained (inline styles,
 * nothing loaded from elsewhere, a Content-Security-Policy that forbids it)
 * and shows every text of the export as text. Drawn from the JSON report,
 * so the two always agree. "" whenever ondvimp_last_report() gives "". The
 * text belongs to the importer and stays valid until its next call or its
 * release; the page is made at the first request after a call.
 */
ONDVIMP_EXPORT const char* ondvimp_last_report_html(const ondvimp_importer* importer);

/*
 * The number of the error that ended the importer's last call with -1, or 0
 * when it did not (or when importer is NULL). Database errors carry the
 * SQLite result code (a server's errors the code of the same kind of fault:
 * 23 wrong password, 14 no server, 10 server gone, 5 busy); file errors
 * carry numbers such as 53 (file not found) or 76 (path not found).
 */
ONDVIMP_EXPORT int ondvimp_last_error_number(const ondvimp_importer* importer);

/*
 * The description of that error, in UTF-8 (French, as in the trace), or ""
 * when there is none. The text belongs to the importer and stays valid until
 * its next ondvimp_import() or ondvimp_check(), or its release.
 */
ONDVIMP_EXPORT const char* ondvimp_last_error_text(const ondvimp_importer* importer);

/*
 * Since ABI version 3. What kind of fault an error is. The error numbers
 * come from numberings that collide (5 is both a refused argument and a
 * busy database, 13 both a type mismatch and a full disk, 18 both a call
 * stopped by ondvimp_cancel() and SQLite's "too big"); the kind tells them
 * apart, the same for a database file and a server. The values are stable;
 * a later version may add kinds at the end, which a host written for this
 * one treats as ONDVIMP_INTERNAL.
 */
enum ondvimp_error_kind {
    ONDVIMP_NO_ERROR = 0,         /* the call did not end with an error */
    ONDVIMP_INVALID_ARGUMENT = 1, /* the call was made wrongly: an argument NULL or empty, another import
                                     started from a progress callback */
    ONDVIMP_BUSY = 2,             /* another session held the database longer than the import waits (a file's
                                     lock, a server's lock timeout, deadlock or statement timeout): trying
                                     again later may succeed */
    ONDVIMP_WRONG_PASSWORD = 3,   /* the server refused the user or its password */
    ONDVIMP_NO_SERVER = 4,        /* no server answered at the address, or it takes no connection now */
    ONDVIMP_SERVER_GONE = 5,      /* the server ended the connection during the call, or the link broke */
    ONDVIMP_NO_DATABASE = 6,      /* no such database: no such file, or no such database on the server */
    ONDVIMP_DISK_FULL = 7,        /* the disk of the database, the trace or the copies is full */
    ONDVIMP_FILE_NOT_FOUND = 8,   /* a file named by the call is not there (a source file, the archive) */
    ONDVIMP_PATH_NOT_FOUND = 9,   /* a directory named by the call is not there */
    ONDVIMP_PERMISSION = 10,      /* a right is missing: on a file or a directory, on a table, or the
                                     database is read-only */
    ONDVIMP_PATH_CLASH = 11,      /* two paths of the call are the same place (the trace is the database,
                                     the scratch directory is the source...) */
    ONDVIMP_BAD_DATA = 12,        /* a file or a value is not what it should be: an archive that is no zip
                                     or is damaged, a damaged database file, a value the import cannot read */
    ONDVIMP_IO_ERROR = 13,        /* a read or a write failed, for no reason more precise */
    ONDVIMP_DATABASE = 14,        /* any other refusal of the database: a statement, a constraint */
    ONDVIMP_OUT_OF_MEMORY = 15,   /* the library ran short of memory */
    ONDVIMP_INTERRUPTED = 16,     /* the call was stopped by ondvimp_cancel() (error 18) */
    ONDVIMP_INTERNAL = 17         /* a fault of the library itself */
};

/*
 * Since ABI version 3. The kind of the error ondvimp_last_error_number()
 * gives, a value of enum ondvimp_error_kind: ONDVIMP_NO_ERROR exactly when
 * that number is 0 (and when importer is NULL).
 */
ONDVIMP_EXPORT int ondvimp_last_error_kind(const ondvimp_importer* importer);

#ifdef __cplusplus
}
#endif

#endif /* ONDVIMP_H */
