// What one import did, gathered while it runs, for the hosts and scripts
// that must act on the outcome (a federation's nightly import, a host that
// lists the refused lines in a grid) rather than read the French trace.
//
// It is fed by the very calls that write the trace: every located entry
// ("Erreur"/"Warning" under a line number) and every summary count, plus
// what the entry point, the source checks and the driver know (files found,
// the competition or the purge, the rows added). Texts stay Windows-1252,
// as the trace holds them; the host side turns the report into JSON.
//
// Nothing is gathered unless a report is being collected on the calling
// thread (ReportScope), so an import that nobody asks a report of pays
// nothing for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/error.h"

namespace ondival {

// A located entry of the trace: "<kind> Ligne n° : <line>." and its message.
struct ReportEntry {
    std::string file;  // the data file being imported ("" outside a file import)
    std::int32_t line = 0;
    std::string kind;                // "Erreur" or "Warning"
    std::vector<std::string> lines;  // the message, one item per trace line
};

// An error the trace gives without a line (an origin file that cannot be
// read, a performance import that failed before its first line).
struct ReportMessage {
    std::string file;
    std::vector<std::string> lines;
};

// One summary count, as the trace writes it ("Récupération de 2 clubs sur 2.").
struct ReportCount {
    std::int32_t count = 0;
    std::string text;
};

struct ReportSourceFile {
    std::string name;  // "club.txt", ...
    bool found = false;
    std::string copy;                    // the scratch copy the import read
    std::int64_t lines = 0;              // lines of the copy the import read
    bool short_lines = false;            // the first line is shorter than a record
    std::int32_t first_line_length = 0;  // with its line end, as the import measures it
    std::int32_t record_length = 0;      // what it was measured against
};

// One file import (clubs, licences, performances) that ran.
struct ReportImport {
    std::string file;
    std::vector<ReportCount> counts;  // empty when the import stopped before its summary
    bool running = true;
};

struct ReportCompetition {
    std::int32_t number = 0;
    std::string name;
};

// Rows the import left in the database that were not there before it:
// clubs, licences from licence.txt, swimmers created for unknown
// performance lines, performances attached to the new competition. Counted
// from the import's own inserts as their transactions commit, never from
// the tables (another workstation's rows are not the import's). -1 when the
// import did not get to the end of its files.
struct ReportAdded {
    std::int64_t clubs = -1, licences = -1, swimmers = -1, performances = -1;
};
// A call that stopped before its file imports added nothing.
inline constexpr ReportAdded kNothingAdded{0, 0, 0, 0};

struct Report {
    bool check = false;    // a dry run: nothing was kept
    std::string database;  // as it may be shown (no password)
    std::string source_dir;
    std::string trace_path;
    platform::LocalTime started, ended;
    std::optional<bool> result;            // empty when an error reached the host
    std::optional<platform::Error> error;  // the error that reached the host
    std::vector<ReportSourceFile> source_files;
    std::vector<ReportImport> imports;
    std::vector<ReportEntry> entries;
    std::vector<ReportMessage> messages;
    std::optional<ReportCompetition> competition;
    bool purged = false;  // the staged performances were deleted
    ReportAdded added = kNothingAdded;
    // The import's inserts so far: those of its committed transactions, and
    // those of the transaction under way.
    ReportAdded inserted = kNothingAdded, inserting = kNothingAdded;
    // On a server: the host's objects (triggers, rules, views, row-level
    // security) on the tables the import writes, for which it ran every
    // statement on its own; empty when it did not have to.
    std::vector<std::string> line_by_line;
};

// The report being collected on this thread, or null.
Report* current_report();

// Collects into `report` for the life of the scope (one import call).
class ReportScope {
public:
    explicit ReportScope(Report& report);
    ~ReportScope();
    ReportScope(const ReportScope&) = delete;
    ReportScope& operator=(const ReportScope&) = delete;

private:
    Report* previous_;
};

// Fed by the trace and the driver; each does nothing without a report.
void report_entry(std::int32_t line, std::string_view kind, std::string_view message);
void report_message(std::string_view message);
void report_count(std::int32_t count, std::string_view text);
void report_import_started(std::string_view file);
void report_import_ended();
ReportSourceFile* report_source_file(std::string_view name);  // added when new; null without a report

// A row the import inserted, in the transaction under way; the rows of the
// transaction count once it commits, and not if it is rolled back. Staged
// performances the import deletes again no longer count.
enum class AddedRow { kClub, kLicence, kSwimmer, kPerformance };
void report_row_inserted(AddedRow row);
void report_rows_committed();
void report_rows_rolled_back();
void report_staged_performances_deleted();

// Once a temporary directory of the call (a check's copies and trace, a
// host's own scratch directory) is removed, the report must not send a
// reader to files that are gone: the trace and the copies that lay under
// `removed_dir` are forgotten (null in the JSON).
void forget_removed_files(Report& report, const std::string& removed_dir);

// The trace text cut at its CRLFs, blank lines at either end dropped.
std::vector<std::string> report_lines(std::string_view text);

// Where the import stopped: the file import that ended without its summary,
// with its last error (located or not). Empty when every file import ran to
// its summary.
struct ReportStop {
    std::string file;
    std::optional<std::int32_t> line;
    std::vector<std::string> lines;
};
std::optional<ReportStop> first_stop(const Report& report);

}  // namespace ondival
