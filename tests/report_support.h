// Shared by the check and report tests: the exports they run, a dump of a
// host database to compare before and after, and the schema check of the
// reports they write.
#pragma once

#include <gtest/gtest.h>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "common/report.h"
#include "tests/test_support.h"

namespace ondival::test {

// An export written into a source directory, with what the tests expect
// of its import.
struct ExportCase {
    std::string name;
    std::function<void(const std::filesystem::path& source)> write;
    std::string stop;  // the file whose import stops at a line, "" when none
};

// Clean, damaged and stopping exports, shared by the check and report suites.
std::vector<ExportCase> export_cases();
inline void PrintTo(const ExportCase& c, std::ostream* os) { *os << c.name; }
std::string case_name(const ::testing::TestParamInfo<ExportCase>& info);

// Every row of every table, as text, table by table in a stable order (and on
// a file the schema too), so two states of a database compare line by line.
std::vector<std::string> dump_database(const std::string& db);

// Every row of every table without its surrogate key (the numbers the
// database drew for clubs, licences, performances, pools, competitions),
// a column naming such a row showing that row's natural key instead
// (a licence's club and number, a competition's or a pool's name), sorted:
// what two imports that drew different keys for the same rows leave alike.
std::vector<std::string> rows_without_keys(const std::string& db);

// Checks every row of a table an import writes, every column as text
// (booleans 1 and 0), a column naming a licence, a competition or a pool
// showing ">" and that row's natural key ("club/licence", the name); on a
// file with each row's surrogate key as its first field, in key order, as
// `expected` gives them; on a server, where a rolled-back speculation may
// leave gaps in the keys, without them (the first field of each expected
// row of a keyed table is dropped) and in any order.
void expect_stored_rows(const std::string& db, const std::string& table, std::vector<std::string> expected);

// What one import came to, for comparing a speculative import with a
// line-by-line one.
struct ImportOutcome {
    std::optional<bool> result;
    int error = 0;      // the number of an error that reached the host
    std::string trace;  // bytes
    std::vector<std::string> rows, rows_without_keys;
    long round_trips = 0;
    long speculations = 0;  // file imports begun speculatively
    long abandoned = 0;     // of them, run again line by line
};

// Imports `source` into `db` (scratch directory and trace named after
// `tag` in dir), speculatively when the engine can or line by line.
// With `report`, the import's report goes there.
ImportOutcome import_once(const std::string& db, const std::filesystem::path& source, const ScratchDir& dir,
                          const std::string& tag, bool speculate, platform::ProgressForm* form = nullptr,
                          Report* report = nullptr);

// Checks reports against doc/report.schema.json, all in one run of the
// validator; adds a test failure naming each problem.
void expect_valid_reports(const std::vector<std::string>& json_texts);

// The located entries of a trace ("Erreur Ligne n° : 3." ...), counted.
std::size_t located_entries(const std::vector<std::string>& trace_lines);

// Checks that a report says what its trace says: every located entry with
// its message lines, in trace order and no other; every summary count as a
// trace line, in order, its count the first number of its text; a stop at a
// line that is the entry the trace shows its file import ending on, no
// other entry after it.
void expect_report_agrees_with_trace(const nlohmann::json& report, const std::vector<std::string>& trace_lines);

}  // namespace ondival::test
