#include "tests/report_support.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "import/cls_ondival.h"
#include "platform/database.h"
#include "platform/error.h"
#include "samples/sample_export.h"

namespace ondival::test {
namespace fs = std::filesystem;

namespace {


void write_generated(const fs::path& source, double faults) {
    samples::SampleExportOptions o;
    o.clubs = 6;
    o.licences = 80;
    o.performances = 160;
    o.relays = 10;
    o.seed = 7;
    o.faults = faults;
    const std::string problem = samples::generate_sample_export(source, o);
    if (!problem.empty()) throw std::runtime_error(problem);
}

// Two good performance lines, then a stroke code the database does not know:
// the import stops at line 3 and withdraws what it staged.
void write_stopping(const fs::path& source) {
    write_lines(source / "club.txt", {club_line(kClub, "CN PARIS"), "SHORT"});
    write_lines(source / "licence.txt",
                {LicenceLine{.club = kClub, .licence = "851234", .nom = "MARTIN", .prenom = "Paul"}.str()});
    write_lines(source / "liffn.txt", {PerfLine{.club = kClub, .licence = "851234", .nom = "MARTIN"}.str(),
                                       PerfLine{.club = kClub, .licence = "902001", .nom = "DURAND"}.str(),
                                       PerfLine{.nage = "99", .club = kClub, .licence = "851234"}.str(),
                                       PerfLine{.club = kClub, .licence = "851234"}.str()});
}

// A line refused (a blank one names no club) and gone past, then a licence
// number without a year that stops the licence import at line 3; the
// performances go in.
void write_licences_stopping(const fs::path& source) {
    const LicenceLine good{.club = kClub, .licence = "851234", .nom = "MARTIN", .prenom = "Paul"};
    write_lines(source / "club.txt", {club_line(kClub, "CN PARIS")});
    write_lines(source / "licence.txt", {good.str(), "", LicenceLine{.club = kClub, .licence = "AB1234"}.str(),
                                         LicenceLine{.club = kClub, .licence = "902001"}.str()});
    write_lines(source / "liffn.txt", {PerfLine{.club = kClub, .licence = "851234", .nom = "MARTIN"}.str()});
}

// Bytes Windows-1252 leaves undefined, a NUL and control bytes in codes and
// names that the trace quotes back: the report must still be valid JSON.
void write_odd_bytes(const fs::path& source) {
    const std::string odd = std::string("X\x81\x8D\x8F\x90\x9D", 6) + std::string(1, '\0') + "\x01\x1f\"\\";
    write_lines(source / "club.txt", {club_line(kClub, "CN PARIS"), club_line("FRA51" + odd, "C" + odd)});
    write_lines(source / "licence.txt",
                {LicenceLine{.club = kClub, .licence = "851234", .nom = "MARTIN", .prenom = "Paul"}.str(),
                 LicenceLine{.club = kClub, .licence = "851234", .nom = "N" + odd, .prenom = odd}.str()});
    write_lines(source / "liffn.txt", {PerfLine{.club = kClub, .licence = "851234", .nom = "MARTIN"}.str()});
    write_lines(source / "origine.txt", {"Export " + odd});
}

std::vector<std::string> dump_sqlite(const std::string& path) {
    sqlite3* h = nullptr;
    if (sqlite3_open_v2(path.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(h);
        throw std::runtime_error("cannot open " + path);
    }
    sqlite3_busy_timeout(h, 5000);
    auto rows_of = [&](const std::string& statement) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(h, statement.c_str(), -1, &s, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(h) + (": " + statement));
        std::vector<std::string> rows;
        while (sqlite3_step(s) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(s); ++i) {
                const unsigned char* t = sqlite3_column_text(s, i);
                row += (i ? "|" : "") + std::string(sqlite3_column_type(s, i) == SQLITE_NULL
                                                        ? "<null>"
                                                        : reinterpret_cast<const char*>(t));
            }
            rows.push_back(std::move(row));
        }
        sqlite3_finalize(s);
        return rows;
    };
    std::vector<std::string> dump = rows_of("SELECT type, name, sql FROM sqlite_master ORDER BY type, name");
    for (const std::string& table : rows_of("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
        std::vector<std::string> rows = rows_of("SELECT * FROM \"" + table + "\"");
        std::sort(rows.begin(), rows.end());
        for (std::string& r : rows) dump.push_back(table + ": " + r);
    }
    sqlite3_close(h);
    return dump;
}

// All tables in one statement: a dump is taken after every failing
// statement of a check, and a session per table would dominate the run.
std::vector<std::string> dump_server(const std::string& uri) {
    std::string all;
    for (const std::string& table : sql(uri, "SELECT table_name FROM information_schema.tables"
                                             " WHERE table_schema = 'public' ORDER BY 1")) {
        if (!all.empty()) all += " UNION ALL ";
        all += "SELECT '" + table + ": ' || CAST(t AS TEXT) FROM \"" + table + "\" t";
    }
    return sql(uri, all + " ORDER BY 1");
}

// The host tables' surrogate keys, and the natural key that stands for a
// row where another table names it.
struct KeyedTable {
    const char* table;
    const char* key;
    const char* natural;  // an expression over the row, alias x
};
constexpr KeyedTable kKeyedTables[] = {
    {"club", "num", "x.Code_federal"}, {"licence", "num", "x.Code_club || '/' || x.licence"},
    {"liffn", "num", nullptr},         {"liffn_relais", "num", nullptr},
    {"piscine", "num", "x.Nom"},       {"rcomp", "autonum", "x.Nom"},
};

// The keyed table a column names a row of, or null.
const KeyedTable* named_by(const std::string& table, const std::string& column) {
    const auto keyed = [](const char* name) -> const KeyedTable* {
        for (const KeyedTable& k : kKeyedTables)
            if (name == std::string(k.table)) return &k;
        return nullptr;
    };
    if (column == "num_lic" && (table == "selection" || table == "liffn")) return keyed("licence");
    if (column.rfind("licence", 0) == 0 && column.size() > 7 && table == "liffn_relais") return keyed("licence");
    if (column == "num_compet") return keyed("rcomp");
    if (column == "num_piscine") return keyed("piscine");
    return nullptr;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int first_number(const std::string& text) {
    const std::size_t at = text.find_first_of("0123456789");
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at);
}

bool is_entry_header(const std::string& line) {
    return line.rfind("Erreur Ligne n° : ", 0) == 0 || line.rfind("Warning Ligne n° : ", 0) == 0;
}

}  // namespace

std::vector<ExportCase> export_cases() {
    return {
        {"CleanExport", [](const fs::path& s) { write_generated(s, 0.0); }, ""},
        {"DamagedExport", [](const fs::path& s) { write_generated(s, 0.08); }, "liffn.txt"},
        {"StopsAtALine", write_stopping, "liffn.txt"},
        {"LicencesStopAfterARefusedLine", write_licences_stopping, "licence.txt"},
        {"OddBytesInTexts", write_odd_bytes, ""},
        {"OnlyClubsWithoutPerformances",
         [](const fs::path& s) { write_lines(s / "club.txt", {club_line(kClub, "CN PARIS")}); }, ""},
    };
}

std::string case_name(const ::testing::TestParamInfo<ExportCase>& info) { return info.param.name; }

std::vector<std::string> dump_database(const std::string& db) {
    return platform::is_postgres_uri(db) ? dump_server(db) : dump_sqlite(db);
}

namespace {

// One row of `table` as text, column by column, NULL as "<null>", booleans
// as 1 and 0 on both engines, a column naming a row of a keyed table
// showing that row's natural key (">FRA5110750001/851234"); with the row's
// own surrogate key or without it.
std::string row_text(const std::string& db, const std::string& table, bool keep_key) {
    const bool server = platform::is_postgres_uri(db);
    const std::string t = lower(table);
    const std::vector<std::string> columns =
        server ? sql(db, "SELECT column_name || '|' || data_type FROM information_schema.columns"
                         " WHERE table_schema = 'public' AND table_name = '" +
                             t + "' ORDER BY ordinal_position")
               : sql(db, "SELECT name || '|' || lower(type) FROM pragma_table_info('" + table + "') ORDER BY cid");
    const KeyedTable* own = nullptr;
    for (const KeyedTable& k : kKeyedTables)
        if (t == k.table) own = &k;
    std::string row = "'" + t + ":'";
    for (const std::string& typed : columns) {
        const std::string column = typed.substr(0, typed.find('|'));
        const std::string c = lower(column);
        if (own && c == own->key && !keep_key) continue;
        std::string value = "t.\"" + column + "\"";
        if (typed.substr(typed.find('|') + 1) == "boolean") value = "CAST(" + value + " AS INTEGER)";
        std::string shown = "COALESCE(CAST(" + value + " AS TEXT), '<null>')";
        if (const KeyedTable* target = named_by(t, c); target && target->natural) {
            // A number that names no row (a staged performance's -1)
            // stays as it is.
            shown = "COALESCE((SELECT '>' || " + std::string(target->natural) + " FROM \"" + target->table +
                    "\" x WHERE x.\"" + target->key + "\" = t.\"" + column + "\"), " + shown + ")";
        }
        row += " || '|' || " + shown;
    }
    return row;
}

std::string without_table(const std::string& row) { return row.substr(row.find(":|") + 2); }

}  // namespace

std::vector<std::string> rows_without_keys(const std::string& db) {
    const std::vector<std::string> tables =
        platform::is_postgres_uri(db)
            ? sql(db, "SELECT table_name FROM information_schema.tables WHERE table_schema = 'public' ORDER BY 1")
            : sql(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' ORDER BY 1");
    std::vector<std::string> rows;
    for (const std::string& table : tables)
        for (std::string& r : sql(db, "SELECT " + row_text(db, table, false) + " FROM \"" + table + "\" t"))
            rows.push_back(std::move(r));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void expect_stored_rows(const std::string& db, const std::string& table, std::vector<std::string> expected) {
    const KeyedTable* keyed = nullptr;
    for (const KeyedTable& k : kKeyedTables)
        if (lower(table) == k.table) keyed = &k;
    const bool keys = keyed && !platform::is_postgres_uri(db);
    std::vector<std::string> rows = sql(db, "SELECT " + row_text(db, table, keys) + " FROM " + table + " t" +
                                                (keys ? std::string(" ORDER BY t.") + keyed->key : std::string()));
    for (std::string& r : rows) r = without_table(r);
    if (keyed && !keys)
        for (std::string& r : expected) r = r.substr(r.find('|') + 1);
    if (!keys) {
        std::sort(rows.begin(), rows.end());
        std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(rows, expected) << "rows of " << table;
}

ImportOutcome import_once(const std::string& db, const fs::path& source, const ScratchDir& dir, const std::string& tag,
                          bool speculate, platform::ProgressForm* form, Report* report) {
    ImportOutcome out;
    const fs::path scratch = dir.subdir("scratch-" + tag);
    platform::allow_speculation(speculate);
    const long round_trips = platform::round_trips();
    const long speculations = platform::speculations_begun();
    const long abandoned = platform::speculations_abandoned();
    clsOndival importer;
    importer.collect_report(report != nullptr);
    try {
        out.result = importer.bimport_perf(db, source.string(), scratch.string(), dir.file(tag + ".txt"), form);
    } catch (const platform::Failure& f) {
        out.error = f.error().number;
    }
    if (report) *report = importer.rapport();
    out.round_trips = platform::round_trips() - round_trips;
    out.speculations = platform::speculations_begun() - speculations;
    out.abandoned = platform::speculations_abandoned() - abandoned;
    platform::allow_speculation(true);
    out.trace = read_bytes(dir.file(tag + ".txt"));
    out.rows = dump_database(db);
    out.rows_without_keys = rows_without_keys(db);
    return out;
}

void expect_valid_reports(const std::vector<std::string>& json_texts) {
    const ScratchDir dir;
    std::string command = "python3 '" ONDIVAL_SOURCE_DIR "/tests/validate_report.py' '" ONDIVAL_SOURCE_DIR
                          "/doc/report.schema.json'";
    for (std::size_t i = 0; i < json_texts.size(); ++i) {
        const std::string file = dir.file("report" + std::to_string(i) + ".json");
        write_bytes(file, json_texts[i]);
        command += " '" + file + "'";
    }
    const std::string output = dir.file("validation.txt");
    command += " >'" + output + "' 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << read_bytes(output);
}

std::size_t located_entries(const std::vector<std::string>& trace_lines) {
    return static_cast<std::size_t>(std::count_if(trace_lines.begin(), trace_lines.end(), is_entry_header));
}

void expect_report_agrees_with_trace(const nlohmann::json& report, const std::vector<std::string>& trace) {
    const nlohmann::json& entries = report.at("entries");
    EXPECT_EQ(entries.size(), located_entries(trace)) << "entries in the report and in the trace";
    const nlohmann::json& stop = report.at("stop");
    bool stop_found = stop.is_null() || stop.at("line").is_null();
    std::size_t at = 0;
    for (const nlohmann::json& e : entries) {
        const std::string header = e.at("kind").get<std::string>() +
                                   " Ligne n° : " + std::to_string(e.at("line").get<int>()) + ".";
        const auto found = std::find(trace.begin() + static_cast<std::ptrdiff_t>(at), trace.end(), header);
        ASSERT_NE(found, trace.end()) << "no " << header << " after trace line " << at;
        at = static_cast<std::size_t>(found - trace.begin()) + 1;
        for (const nlohmann::json& line : e.at("lines")) {
            ASSERT_LT(at, trace.size());
            EXPECT_EQ(trace[at], line.get<std::string>()) << "under " << header;
            ++at;
        }
        if (!stop_found && e.at("kind") == "Erreur" && e.at("file") == stop.at("file") &&
            e.at("line") == stop.at("line") && e.at("lines") == stop.at("lines")) {
            // The file import ended on it: what follows is the next step.
            std::size_t next = at;
            while (next < trace.size() && trace[next].empty()) ++next;
            stop_found = next == trace.size() || !is_entry_header(trace[next]);
        }
    }
    EXPECT_TRUE(stop_found) << "the report stops at " << stop << ", which is not where the trace shows its file "
                            << "import ending";
    at = 0;
    for (const nlohmann::json& import : report.at("imports")) {
        for (const nlohmann::json& c : import.at("counts")) {
            const std::string text = c.at("text").get<std::string>();
            const auto found = std::find(trace.begin() + static_cast<std::ptrdiff_t>(at), trace.end(), text);
            ASSERT_NE(found, trace.end()) << "count not in the trace: " << text;
            at = static_cast<std::size_t>(found - trace.begin()) + 1;
            EXPECT_EQ(c.at("count").get<int>(), first_number(text)) << text;
        }
    }
}

}  // namespace ondival::test
