// Shared fixtures for tests that run the component against a real host
// database: a scratch area, a fresh database made as `ondival init` makes
// it, export files built line by line, and readers for the trace.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/progress_form.h"

namespace ondival::test {

// A fresh directory under the system's temp directory, removed on exit.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // A directory inside it (an export, a scratch directory), created.
    std::filesystem::path subdir(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// Writes bytes as they are (Windows-1252 / DOS text), lines joined by CRLF
// and the last one ended by CRLF too.
void write_lines(const std::filesystem::path& file, const std::vector<std::string>& lines);
void write_bytes(const std::filesystem::path& file, const std::string& bytes);
std::string read_bytes(const std::filesystem::path& file);

// The trace, converted to UTF-8 and cut into lines at CRLF.
std::vector<std::string> trace_lines(const std::filesystem::path& file);

// A valid club code of the host's reference data (Paris), for exports that
// need one club.
inline const std::string kClub = "FRA5110750001";

// Record builders: fields padded with blanks to their widths.
std::string pad(const std::string& text, std::size_t width);
std::string club_line(const std::string& code, const std::string& label);

struct LicenceLine {
    std::string club = "", licence = "", nom = "", prenom = "", sexe = "F", naissance = "03051985";
    std::string nationalite = "FRA", adresse = "1 RUE DU PORT", suite = "", code_postal = "75001", localite = "PARIS",
                telephone = "0102030405";
    std::string flags = "ONNNNN", depot = "01092025", obliteration = "15092025", type = "N", nature = "N", origine = "",
                code_unique = "U1";
    std::string str() const;
};

struct PerfLine {
    std::string nage = "12", club = "", licence = "", bassin = "50", date = "12062025", temps = "10523", nom = "DUPONT",
                prenom = "Marie", lieu = "PARIS", libre = "", date_licence = "01092025", type = "N";
    std::vector<std::string> relayeurs = {};  // up to ten licence numbers
    std::string codifs = "NNNN", passage = "";
    std::string str() const;
};

// What one call of the component came to: its result, or the error that
// reached the host (number and Windows-1252 text); the trace's bytes and
// the report as JSON.
struct CallOutcome {
    std::optional<bool> result;
    int error = 0;
    std::string message;
    std::string trace;
    std::string report;
};
enum class Call { kImport, kCheck };
CallOutcome call_component(Call call, const std::string& db, const std::string& source, const std::string& scratch,
                           const std::string& trace);

// The number of the platform error f raises, 0 when it raises none.
int error_number(const std::function<void()>& f);
// The platform error f raises (number, description, kind); none when it
// raises none.
platform::Error error_of(const std::function<void()>& f);

// Whether this test process keeps its host databases on a PostgreSQL
// server (ONDIVAL_TEST_ENGINE=postgresql, the server's maintenance database
// in ONDIVAL_TEST_PG_URI) instead of in SQLite files.
bool on_server();

// A host database as `ondival init` creates it: a file in dir, or a fresh
// database on the test server, dropped when the test process ends.
std::string make_host_database(const ScratchDir& dir, const std::string& name = "club.db");

// An empty database on the test server, without the host tables; dropped
// when the test process ends.
std::string make_server_database();

// A second host database holding what `db` holds: a copy of the file in dir,
// or a database on the test server made from it (nobody may be connected to
// it meanwhile), dropped when the test process ends.
std::string copy_host_database(const std::string& db, const ScratchDir& dir, const std::string& name);

// Runs one SQL statement on the host database outside the component;
// returns the first column of every row, NULL as "<null>", booleans as 1/0.
std::vector<std::string> sql(const std::string& db, const std::string& statement);
std::string sql1(const std::string& db, const std::string& statement);

// Another workstation's connection to the same host database, for tests of
// what the import does while someone else holds the database.
class OtherSession {
public:
    explicit OtherSession(const std::string& db);
    ~OtherSession();
    OtherSession(const OtherSession&) = delete;
    OtherSession& operator=(const OtherSession&) = delete;
    // Runs statements (several may be given at once); throws on failure.
    void exec(const std::string& statements);
    // The first column of every row of a query, NULL as "<null>".
    std::vector<std::string> rows(const std::string& query);

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

// A progress form that remembers what the import showed.
class RecordingForm : public platform::ProgressForm {
public:
    void SetStepTitle(const std::string& title) override { titles.push_back(title); }
    double Value() const override { return value; }
    void SetValue(double v) override {
        value = v;
        ++sets;
        if (v > max_seen) max_seen = v;
    }
    void Refresh() override { ++refreshes; }

    std::vector<std::string> titles;
    double value = 0, max_seen = 0;
    long sets = 0, refreshes = 0;
};

// Fixes "now" for the dates and the trace for the life of the object.
class FixedClock {
public:
    explicit FixedClock(platform::LocalTime t = {2026, 12, 6, 14, 3, 27});
    ~FixedClock();
};

// A host database, a source directory, a scratch directory and a trace
// path, fresh for each test, with the clock fixed on 6 December 2026.
class ImportFixture {
public:
    ImportFixture();
    std::filesystem::path source() const { return dir.path() / "src"; }
    std::filesystem::path scratch() const { return dir.path() / "tmp"; }
    std::string trace_path() const { return dir.file("trace.txt"); }
    // One call of the component, as a host makes it.
    bool run(platform::ProgressForm* form = nullptr);
    std::string count(const std::string& from_where) const;
    std::vector<std::string> trace() const { return trace_lines(trace_path()); }
    bool trace_has(const std::string& utf8_line) const;
    // The `n` trace lines after the first one that reads `head` (an entry's
    // "Erreur Ligne n° : 2."), fewer where the trace ends; none without it.
    std::vector<std::string> after(const std::string& head, std::size_t n = 1) const;

    FixedClock clock;
    ScratchDir dir;
    std::string db;
};

// Programs run as a script, a nightly job or a host's background job runs
// them: no terminal, and no output beyond what is captured.
struct ProgramRun {
    int exit_code = -1;  // -1 when it did not end on its own
    std::string out, err;
};
// The text as one word of a shell command.
std::string quoted(const std::string& arg);
// Runs `program` (a shell word or more, such as "VAR=x python3") with args
// in directory cwd and waits for it, capturing what it writes.
ProgramRun run_in(const std::filesystem::path& cwd, const std::string& program, const std::vector<std::string>& args);
// The command-line host run in cwd, as a nightly job runs it; with tmpdir,
// its TMPDIR there, so that a temporary directory left behind shows.
ProgramRun ondival(const std::filesystem::path& cwd, const std::vector<std::string>& args,
                   const std::filesystem::path& tmpdir = {});
// A command line refused as a script sees it: exit code 2, nothing on
// stdout, one line on stderr that starts with `starts` and holds `holds`.
void expect_refused(const ProgramRun& run, const std::string& starts, const std::string& holds = "");

// A database made by `ondival init` and an export made by `ondival generate`
// with `generate_options`, a scratch directory and a trace path beside them.
struct CliSetup {
    // 5 clubs, 60 licences, 150 individual and 8 relay lines.
    static const std::vector<std::string> kSmallExport;
    static constexpr int kPerformanceLines = 150 + 8;
    explicit CliSetup(const std::vector<std::string>& generate_options = kSmallExport);
    // `ondival import` of this export into this database, then `extra`.
    std::vector<std::string> import_args(const std::vector<std::string>& extra = {}) const;

    ScratchDir dir;
    std::string db = dir.file("club.db"), source = dir.file("export"), scratch = dir.file("scratch"),
                trace = dir.file("trace.txt");
};

// Every regular file under a directory, with its bytes.
std::map<std::string, std::string> snapshot(const std::filesystem::path& dir);

// Starts args[0] with args, its standard input on /dev/null and its output
// in the files named (on /dev/null when none is), TMPDIR set when given.
int start_detached(const std::vector<std::string>& args, const std::string& out = "", const std::string& err = "",
                   const std::string& tmpdir = "");
// Waits for a process started so, and gives its wait status.
int wait_status(int pid);

}  // namespace ondival::test
