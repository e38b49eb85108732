// An import into a database on a server does not wait for each statement:
// it sends writes ahead, reads the lines' lookups in batches and foresees
// the keys of the rows it inserts. Whatever the export and whatever the
// server refuses, the import must come to what a line-by-line run comes to:
// the same result, the same trace byte for byte, the same rows compared
// without their surrogate keys (a transaction run again draws fresh keys;
// when none was, the keys are the same too). Each case imports into two
// copies of one database, once each way, and compares.
// On a file database both runs are line by line, and the cases hold too.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "import/cls_ondival.h"
#include "import/report_json.h"
#include "licences/licence_record.h"
#include "platform/database.h"
#include "platform/error.h"
#include "samples/sample_export.h"
#include "tests/report_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;

// A season of a few clubs, long enough for several batches of lines.
samples::SampleExportOptions season() {
    samples::SampleExportOptions o;
    o.clubs = 8;
    o.licences = 1200;
    o.performances = 1500;
    o.relays = 60;
    o.seed = 3;
    return o;
}

void write_export(const fs::path& source, const samples::SampleExportOptions& o) {
    ASSERT_EQ(samples::generate_sample_export(source.string(), o), "");
}

void write_season(const fs::path& source) { write_export(source, season()); }

// The licence number of an ordinary line of licence.txt well inside the
// file (not a relay team, not a selection record).
std::string licence_inside(const fs::path& source, std::size_t from_line) {
    const std::vector<std::string> lines = trace_lines(source / "licence.txt");
    for (std::size_t i = from_line; i < lines.size(); ++i) {
        const std::string club = lines[i].substr(kLicenceLayout.first(kLicCodeClub) - 1, 13);
        const std::string licence = lines[i].substr(kLicenceLayout.first(kLicLicence) - 1, 6);
        if (licence[0] != 'R' && club.compare(club.size() - 4, 4, "0000") != 0) return licence;
    }
    return "";
}

// The database refuses some inserts: what a host's own constraint, a full
// disk or a rule does to one row in the middle of an import. On a server a
// check constraint, which leaves the import sending its statements ahead
// (a trigger would keep it line by line); on a file, a trigger.
void refuse_inserts(const std::string& db, const std::string& table, const std::string& check,
                    const std::string& file_condition) {
    if (on_server()) {
        sql(db, "ALTER TABLE " + table + " ADD CONSTRAINT refused_by_the_host CHECK (" + check + ")");
    } else {
        sql(db, "CREATE TRIGGER refuse BEFORE INSERT ON " + table + " WHEN " + file_condition +
                    " BEGIN SELECT RAISE(ABORT, 'refused by the host'); END");
    }
}
struct SpeculationCase {
    std::string name;
    std::function<void(const fs::path& source)> write;
    // Done to the database before the import (and before it is copied).
    std::function<void(const std::string& db, const fs::path& source)> prepare;
    // File imports the server makes the speculative import run again;
    // nullopt where the damage drawn decides.
    std::optional<long> reruns = 0;
    std::vector<std::string> traced = {};  // lines both traces must hold (UTF-8)
};

std::vector<SpeculationCase> speculation_cases() {
    const auto nothing = [](const std::string&, const fs::path&) {};
    std::vector<SpeculationCase> cases;
    for (const ExportCase& e : export_cases()) cases.push_back({e.name, e.write, nothing, 0});
    cases.push_back({"SeveralBatchesOfLines", write_season, nothing, 0});
    cases.push_back({"SecondImportOfTheDay", write_season,
                     [](const std::string& db, const fs::path& source) {
                         const ScratchDir first;
                         fs::create_directories(first.path() / "tmp");
                         clsOndival().bimport_perf(db, source.string(), (first.path() / "tmp").string(),
                                                   first.file("trace.txt"), nullptr);
                     },
                     0});
    cases.push_back({"LicenceRefusedByTheDatabase", write_season,
                     [](const std::string& db, const fs::path& source) {
                         const std::string licence = licence_inside(source, 700);
                         refuse_inserts(db, "Licence", "licence <> '" + licence + "'",
                                        "NEW.licence = '" + licence + "'");
                     },
                     // The licence file, and the performance file that
                     // creates the swimmer the refused licence was for.
                     2});
    // Refused by the server while the club file was sent ahead: the line
    // is reported and the file import goes on, as line by line, rather than
    // the whole file being lost with the transaction.
    cases.push_back(
        {"ClubRefusedByTheDatabase",
         [](const fs::path& source) {
             write_lines(source / "club.txt",
                         {club_line("FRA5110750001", "CN PARIS"), club_line("FRA5110920002", "CN BOULOGNE"),
                          club_line("FRA1320590003", "LILLE NATATION")});
             write_lines(source / "liffn.txt", {PerfLine{.club = "FRA5110750001", .licence = "851234"}.str()});
         },
         [](const std::string& db, const fs::path&) {
             refuse_inserts(db, "Club", "Code_federal <> 'FRA1320590003'", "NEW.Code_federal = 'FRA1320590003'");
         },
         1,
         {"Erreur Ligne n° : 3.", "Récupération de 2 clubs sur 3."}});
    cases.push_back({"PerformanceRefusedByTheDatabase", write_season,
                     [](const std::string& db, const fs::path&) {
                         // A check may not hold a query; a function it calls may.
                         if (on_server())
                             sql(db, "CREATE FUNCTION room_for_one_more() RETURNS boolean LANGUAGE sql AS "
                                     "'SELECT count(*) < 900 FROM Liffn'");
                         refuse_inserts(db, "Liffn", "room_for_one_more()", "(SELECT count(*) FROM Liffn) >= 900");
                     },
                     1});
    // Generated exports of several seeds, damage rates and sizes, whose
    // files end just before, on or after a batch of lines read ahead.
    struct Generated {
        std::uint64_t seed;
        double faults;
        int licences, performances;
    };
    for (const Generated& g :
         {Generated{21, 0.0, 499, 501}, Generated{22, 0.02, 500, 1000}, Generated{23, 0.05, 1001, 999},
          Generated{24, 0.1, 760, 1500}, Generated{25, 0.25, 260, 820}}) {
        char name[64];
        std::snprintf(name, sizeof name, "Seed%lluDamage%02d", static_cast<unsigned long long>(g.seed),
                      static_cast<int>(g.faults * 100 + 0.5));
        cases.push_back({name,
                         [g](const fs::path& source) {
                             samples::SampleExportOptions o;
                             o.clubs = 12;
                             o.licences = g.licences;
                             o.performances = g.performances;
                             o.relays = 40;
                             o.seed = g.seed;
                             o.faults = g.faults;
                             ASSERT_EQ(samples::generate_sample_export(source.string(), o), "");
                         },
                         nothing, g.faults > 0 ? std::nullopt : std::optional<long>(0)});
    }
    // A sequence set (by a restore, or by hand) and not called since: the
    // catalogue shows no last value, and the next key is the one set.
    cases.push_back({"SequenceSetAndNotCalledSince", write_season,
                     [](const std::string& db, const fs::path&) {
                         if (!on_server()) return;
                         sql(db, "SELECT setval(pg_get_serial_sequence('licence', 'num'), 5000, false), "
                                 "setval(pg_get_serial_sequence('liffn', 'num'), 70000, false)");
                     },
                     0});
    return cases;
}

class Speculation : public ::testing::TestWithParam<SpeculationCase> {
protected:
    FixedClock clock;
    ScratchDir dir;
};

TEST_P(Speculation, ComesToWhatALineByLineImportComesTo) {
    const fs::path source = dir.subdir("export");
    GetParam().write(source);
    const std::string db = make_host_database(dir);
    GetParam().prepare(db, source);
    const std::string twin = copy_host_database(db, dir, "twin.db");

    Report report;
    const ImportOutcome speculative = import_once(db, source, dir, "speculative", true, nullptr, &report);
    const ImportOutcome line_by_line = import_once(twin, source, dir, "line-by-line", false);

    EXPECT_EQ(speculative.result, line_by_line.result);
    EXPECT_EQ(speculative.error, line_by_line.error);
    EXPECT_TRUE(speculative.trace == line_by_line.trace) << "the traces differ:\n"
                                                         << speculative.trace << "\n---\n"
                                                         << line_by_line.trace;
    EXPECT_EQ(speculative.rows_without_keys, line_by_line.rows_without_keys);
    // A file import run again reports what its run again wrote, nothing of the run it abandoned.
    expect_report_agrees_with_trace(nlohmann::json::parse(report_to_json(report)),
                                    trace_lines(dir.file("speculative.txt")));
    if (speculative.abandoned == 0) {
        EXPECT_EQ(speculative.rows, line_by_line.rows);
    }
    EXPECT_EQ(line_by_line.abandoned, 0);
    const std::vector<std::string> traced = trace_lines(dir.file("line-by-line.txt"));
    for (const std::string& line : GetParam().traced)
        EXPECT_NE(std::find(traced.begin(), traced.end(), line), traced.end()) << line;
    if (GetParam().reruns) {
        EXPECT_EQ(speculative.abandoned, on_server() ? *GetParam().reruns : 0);
    }
    if (on_server()) {
        EXPECT_LE(speculative.round_trips, line_by_line.round_trips);
    } else {
        EXPECT_EQ(speculative.round_trips, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Each, Speculation, ::testing::ValuesIn(speculation_cases()),
                         [](const ::testing::TestParamInfo<SpeculationCase>& info) { return info.param.name; });

// The count that must not grow back: a season's import (about 2,800 lines)
// waits for the server some forty times (a batch of lines, each file's
// transaction, the competition), where one wait per statement meant about
// five thousand.
TEST(SpeculationRoundTrips, ASeasonWaitsForTheServerAFewDozenTimes) {
    if (!on_server()) GTEST_SKIP() << "a file database is never waited for";
    FixedClock clock;
    ScratchDir dir;
    const fs::path source = dir.subdir("export");
    write_season(source);
    const std::string db = make_host_database(dir);
    const ImportOutcome o = import_once(db, source, dir, "season", true);
    ASSERT_EQ(o.result, true);
    EXPECT_LE(o.round_trips, 60) << "round trips: " << o.round_trips;
}

// The swimmers a performance file creates are read back by the key the
// server will give them, foreseen and checked with their batch: even when
// no licence line came first to teach the engine that the licence's key is
// read back, 477 swimmers created must not cost a wait each.
TEST(SpeculationRoundTrips, SwimmersCreatedWithoutALicenceFileAreNotWaitedFor) {
    if (!on_server()) GTEST_SKIP() << "a file database is never waited for";
    FixedClock clock;
    ScratchDir dir;
    const fs::path source = dir.subdir("export");
    samples::SampleExportOptions o = season();
    o.licences = 50;
    o.relays = 0;
    o.unknown = 1.0;
    write_export(source, o);
    write_bytes((source / "licence.txt").string(), "");
    const std::string db = make_host_database(dir);
    const ImportOutcome outcome = import_once(db, source, dir, "swimmers", true);
    ASSERT_EQ(outcome.result, true);
    EXPECT_EQ(sql1(db, "select count(*) from Licence"), "478");
    EXPECT_LE(outcome.round_trips, 25) << "round trips: " << outcome.round_trips;  // 21 when written
}

}  // namespace
}  // namespace ondival::test
