// A check of an export (the dry run) against a host database on a file or
// on a server: the database must be left exactly as it was, whatever the
// export, whatever statement fails and even when the check is killed, while
// the trace and the result are those of a real import of the same export
// into a copy of the database.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "import/cls_ondival.h"
#include "import/report_json.h"
#include "platform/database.h"
#include "platform/error.h"
#include "samples/sample_export.h"
#include "tests/report_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;

CallOutcome run_call(const std::string& db, const fs::path& source, const std::string& scratch, const std::string& trace,
                     bool check) {
    return call_component(check ? Call::kCheck : Call::kImport, db, source.string(), scratch, trace);
}

// The report with what differs between a check and an import of the same
// export into another database left out: the mode, the database, the
// paths.
nlohmann::json comparable(const std::string& report) {
    nlohmann::json r = nlohmann::json::parse(report);
    r.erase("mode");
    r.erase("database");
    r.erase("trace");
    for (nlohmann::json& f : r["source_files"]) f.erase("copy");
    return r;
}

long rows(const std::string& db, const std::string& table) {
    return std::stol(sql1(db, "select count(*) from " + table));
}

class DryRun : public ::testing::TestWithParam<ExportCase> {
protected:
    FixedClock clock;
    ScratchDir dir;
};

TEST_P(DryRun, LeavesEveryTableAsItWasAndWritesTheTraceOfARealImport) {
    const fs::path source = dir.subdir("export");
    GetParam().write(source);
    const std::string db = make_host_database(dir);
    // A database that already holds an import of the same export, so that
    // the check meets known clubs and licences and an existing competition.
    const CallOutcome first = run_call(db, source, dir.subdir("first").string(), dir.file("first.txt"), false);
    ASSERT_EQ(first.error, 0);
    const std::string twin = copy_host_database(db, dir, "twin.db");

    const std::vector<std::string> before = dump_database(db);
    const std::string file_before = on_server() ? "" : read_bytes(db);
    const CallOutcome check = run_call(db, source, "", dir.file("check.txt"), true);
    EXPECT_EQ(dump_database(db), before);
    if (!on_server()) {
        EXPECT_TRUE(read_bytes(db) == file_before) << "the file's bytes changed";
    }

    const CallOutcome import = run_call(twin, source, dir.subdir("second").string(), dir.file("import.txt"), false);
    EXPECT_EQ(check.result, import.result);
    EXPECT_EQ(check.error, import.error);
    EXPECT_TRUE(check.trace == import.trace) << "the check's trace differs from the import's:\n"
                                             << check.trace << "\n---\n"
                                             << import.trace;
    EXPECT_EQ(comparable(check.report), comparable(import.report));

    // What the check said would be added is what the import added.
    const nlohmann::json added = nlohmann::json::parse(check.report)["added"];
    EXPECT_EQ(added["clubs"], rows(twin, "Club") - rows(db, "Club"));
    EXPECT_EQ(added["licences"].get<long>() + added["swimmers"].get<long>(),
              rows(twin, "Licence") - rows(db, "Licence"));
    EXPECT_EQ(added["performances"],
              rows(twin, "Liffn") + rows(twin, "Liffn_relais") - rows(db, "Liffn") - rows(db, "Liffn_relais"));
    if (import.result == true && fs::exists(source / "liffn.txt")) {
        EXPECT_EQ(nlohmann::json::parse(check.report)["competition"]["name"], "2ème import perf du 20261206");
    }
    EXPECT_EQ(nlohmann::json::parse(check.report)["stop"].is_null(), GetParam().stop.empty());
    expect_valid_reports({first.report, check.report, import.report});
}

INSTANTIATE_TEST_SUITE_P(Exports, DryRun, ::testing::ValuesIn(export_cases()), case_name);

// The temporary directory a check makes for its copies and its trace is
// gone afterwards; named ones are kept.
TEST(DryRunFiles, TemporaryCopiesAreRemovedNamedOnesKept) {
    const FixedClock clock;
    const ScratchDir dir;
    const fs::path source = dir.path() / "export";
    export_cases().front().write(source);
    const std::string db = make_host_database(dir);

    const CallOutcome unnamed = run_call(db, source, "", "", true);
    EXPECT_EQ(unnamed.result, true);
    // The report is read once the temporary directory is gone: it names
    // none of its files.
    const nlohmann::json report = nlohmann::json::parse(unnamed.report);
    for (const nlohmann::json& f : report["source_files"]) EXPECT_TRUE(f["copy"].is_null()) << f;
    EXPECT_TRUE(report["trace"].is_null()) << report["trace"];
    // Only the copies go when the trace is named, and the other way round.
    const CallOutcome named_trace = run_call(db, source, "", dir.file("kept.txt"), true);
    const nlohmann::json traced = nlohmann::json::parse(named_trace.report);
    EXPECT_EQ(traced["trace"], dir.file("kept.txt"));
    EXPECT_TRUE(traced["source_files"][0]["copy"].is_null());
    fs::create_directories(dir.path() / "kept");
    const CallOutcome named_scratch = run_call(db, source, dir.file("kept"), "", true);
    const nlohmann::json copied = nlohmann::json::parse(named_scratch.report);
    EXPECT_TRUE(copied["trace"].is_null());
    EXPECT_EQ(copied["source_files"][0]["copy"], dir.file("kept") + "/liffn.txt");
    expect_valid_reports({unnamed.report, named_trace.report, named_scratch.report});

    fs::create_directories(dir.path() / "scratch");
    const CallOutcome named = run_call(db, source, dir.file("scratch"), dir.file("trace.txt"), true);
    EXPECT_TRUE(fs::exists(dir.path() / "scratch" / "liffn.txt"));
    EXPECT_EQ(named.trace, read_bytes(dir.file("trace.txt")));
    EXPECT_FALSE(named.trace.empty());
}

// Every statement of a check failing in turn, as a disk or a server would
// fail it, on one database: after each, the database is as it was.
TEST(DryRunFaults, EveryFailingStatementLeavesTheDatabaseAsItWas) {
    const FixedClock clock;
    const ScratchDir dir;
    const fs::path source = dir.subdir("export");
    write_lines(source / "club.txt", {club_line("FRA5110750001", "CN PARIS")});
    write_lines(source / "licence.txt",
                {LicenceLine{.club = "FRA5110750001", .licence = "851234", .nom = "MARTIN"}.str(),
                 LicenceLine{.club = "FRA5110920002", .licence = "902001", .nom = "DURAND"}.str()});
    write_lines(source / "liffn.txt",
                {PerfLine{.club = "FRA5110750001", .licence = "851234"}.str(),
                 PerfLine{.club = "FRA5110750001", .licence = "104321", .nom = "NOUVEAU"}.str(),
                 PerfLine{.nage = "18", .club = "FRA5110750001", .licence = "R0012", .relayeurs = {"851234"}}.str()});
    const std::string db = make_host_database(dir);
    const std::vector<std::string> before = dump_database(db);

    platform::inject_statement_failure(0);
    const CallOutcome clean = run_call(db, source, "", dir.file("clean.txt"), true);
    const long total = platform::statements_run();
    ASSERT_EQ(clean.result, true);
    ASSERT_GT(total, 10);
    std::vector<std::string> reports;
    for (long k = 1; k <= total; ++k) {
        SCOPED_TRACE("failing statement " + std::to_string(k));
        platform::inject_statement_failure(k);
        const CallOutcome failed = run_call(db, source, "", dir.file("failed.txt"), true);
        platform::inject_statement_failure(0);
        // A failure the import lets pass without a word leaves the rows
        // added unknown in the report.
        const nlohmann::json added = nlohmann::json::parse(failed.report)["added"];
        const bool counted = !added["clubs"].is_null() && !added["licences"].is_null() &&
                             !added["swimmers"].is_null() && !added["performances"].is_null();
        EXPECT_TRUE(failed.trace.find("Erreur") != std::string::npos || !counted)
            << "the trace says nothing of the failure" << added;
        EXPECT_EQ(dump_database(db), before);
        if (k % 7 == 0) reports.push_back(failed.report);
    }
    // The database still takes a check, and then a real import, as before.
    EXPECT_EQ(run_call(db, source, "", dir.file("again.txt"), true).trace, clean.trace);
    EXPECT_EQ(run_call(db, source, dir.path().string(), dir.file("import.txt"), false).trace, clean.trace);
    expect_valid_reports(reports);
}

// Another import writing the database: the check waits as long as an import
// would, then stops the same way with the same busy message.
TEST(DryRunBusy, ACheckHearsTheBusyMessageOfAnImport) {
    const FixedClock clock;
    const ScratchDir dir;
    const fs::path source = dir.path() / "export";
    export_cases().front().write(source);
    const std::string db = make_host_database(dir);
    const std::vector<std::string> before = dump_database(db);
    OtherSession other(db);
    // What an import holds while it writes: the file's write lock, or the
    // server's import lock.
    other.exec(on_server() ? "BEGIN; SELECT pg_advisory_xact_lock(" + std::to_string(platform::kImportLockKey) + ")"
                           : "BEGIN IMMEDIATE");
    fs::create_directories(dir.path() / "scratch");
    const auto start = std::chrono::steady_clock::now();
    const CallOutcome import = run_call(db, source, dir.file("scratch"), dir.file("import.txt"), false);
    const CallOutcome check = run_call(db, source, "", dir.file("check.txt"), true);
    const auto waited = std::chrono::steady_clock::now() - start;
    other.exec("ROLLBACK");
    EXPECT_GE(waited, 2 * std::chrono::milliseconds(platform::kBusyTimeoutMs - 500));
    EXPECT_NE(check.trace.find("Erreur n\xb0 5: "), std::string::npos) << check.trace;
    EXPECT_EQ(check.trace, import.trace);
    EXPECT_EQ(check.result, import.result);
    EXPECT_EQ(check.error, import.error);
    EXPECT_EQ(dump_database(db), before);
}

// The connection of a check, statement by statement: the import's
// transactions become savepoints that commit, roll back and nest as its
// driver expects, closing keeps nothing, and once the outer transaction is
// gone (a file database ends one by itself after some disk errors) no
// statement runs, since outside a transaction it would be kept.
TEST(DryRunConnection, SavepointsInsideOneTransactionThatIsNeverKept) {
    const ScratchDir dir;
    const std::string db = make_host_database(dir);
    const std::vector<std::string> before = dump_database(db);
    {
        platform::Connection conn;
        conn.SetDryRun(true);
        conn.Open(db);
        EXPECT_FALSE(conn.InTransaction());
        conn.BeginTrans();
        EXPECT_TRUE(conn.InTransaction());
        EXPECT_EQ(error_number([&] { conn.BeginTrans(); }), platform::err::kInvalidCall);
        conn.Execute("INSERT INTO Piscine (Nom) VALUES ('kept until the end')");
        conn.CommitTrans();
        EXPECT_FALSE(conn.InTransaction());
        conn.BeginTrans();
        conn.Execute("INSERT INTO Piscine (Nom) VALUES ('rolled back')");
        // A failed statement leaves the savepoint usable, as a transaction.
        EXPECT_NE(error_number([&] { conn.Execute("INSERT INTO NoSuchTable (x) VALUES (1)"); }), 0);
        conn.RollbackTrans();
        EXPECT_FALSE(conn.InTransaction());
        platform::Recordset rs;
        rs.Open("SELECT Nom FROM Piscine", conn);
        ASSERT_FALSE(rs.Eof());
        EXPECT_EQ(rs.Field(0), "kept until the end");
        rs.MoveNext();
        EXPECT_TRUE(rs.Eof());
        rs.Close();

        // A statement that ends the outer transaction, as the engine may.
        try {
            conn.Execute("ROLLBACK");
        } catch (const platform::Failure&) {
        }
        EXPECT_NE(error_number([&] { conn.Execute("INSERT INTO Piscine (Nom) VALUES ('kept?')"); }), 0);
        EXPECT_NE(error_number([&] { conn.BeginTrans(); }), 0);
    }
    EXPECT_EQ(dump_database(db), before);
}

// `ondival check` killed outright at several points of a mid-size export,
// each time once it has its transaction open and has copied the files: the
// database is as it was (on a file, intact and the same bytes).
TEST(DryRunKilled, AKilledCheckLeavesTheDatabaseAsItWas) {
    const ScratchDir dir;
    const fs::path source = dir.path() / "export";
    samples::SampleExportOptions o;
    o.clubs = 60;
    o.licences = 3000;
    o.performances = 12000;
    o.relays = 300;
    ASSERT_EQ(samples::generate_sample_export(source, o), "");
    const std::string db = make_host_database(dir);
    // Some rows already there, so that "as it was" is more than empty
    // tables; the time this import takes spreads the kill points.
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(run_call(db, source, dir.subdir("first").string(), dir.file("first.txt"), false).result, true);
    const auto imported = std::chrono::steady_clock::now() - started;
    const std::vector<std::string> before = dump_database(db);
    const std::string file_before = on_server() ? "" : read_bytes(db);

    int serial = 0;
    const auto start_check = [&](const fs::path& scratch) {
        fs::create_directories(scratch);
        // Named scratch and trace: a killed check cannot remove a
        // temporary directory of its own.
        return start_detached({ONDIVAL_CLI, "check", db, source.string(), "--scratch", scratch.string(), "--trace",
                               (scratch / "trace.txt").string(), "--quiet"});
    };

    // One whole check, timed as well, for the last kill point: a fraction of
    // the shorter of the two times, so that a busy moment during either one
    // does not put it after the check's end.
    const auto check_started = std::chrono::steady_clock::now();
    const int whole = wait_status(start_check(dir.path() / ("scratch" + std::to_string(++serial))));
    ASSERT_TRUE(WIFEXITED(whole) && WEXITSTATUS(whole) == 0);
    const auto duration = std::min(imported, std::chrono::steady_clock::now() - check_started);
    EXPECT_EQ(dump_database(db), before);

    // The kill points follow the check's own progress, as its trace shows
    // each step when it starts (the copies are made once its transaction
    // is open), rather than the clock alone: a machine busier or idler than
    // during the timed check moves them no further than a step.
    struct KillPoint {
        const char* step;  // nullptr: once the copies are there
        double fraction;   // then this fraction of the check's time
    };
    int killed = 0;
    for (const KillPoint& point :
         {KillPoint{nullptr, 0.0}, KillPoint{"Traitement des licences", 0.0},
          KillPoint{"Traitement des performances", 0.0}, KillPoint{"Traitement des performances", 0.25}}) {
        SCOPED_TRACE(std::string("killed at ") + (point.step ? point.step : "the copies") + " + " +
                     std::to_string(point.fraction));
        const fs::path scratch = dir.path() / ("scratch" + std::to_string(++serial));
        const pid_t pid = start_check(scratch);
        const auto reached = [&] {
            if (!fs::exists(scratch / "origine.txt")) return false;
            return !point.step || read_bytes(scratch / "trace.txt").find(point.step) != std::string::npos;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!reached() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(duration * point.fraction));
        kill(pid, SIGKILL);
        killed += WIFSIGNALED(wait_status(pid)) ? 1 : 0;
        if (!on_server()) {
            // Opening the file rolls the killed check's journal back.
            EXPECT_EQ(sql1(db, "PRAGMA integrity_check"), "ok");
            EXPECT_TRUE(read_bytes(db) == file_before) << "the file's bytes changed";
        }
        EXPECT_EQ(dump_database(db), before);
    }
    EXPECT_GE(killed, 3) << "most kills should land while the check runs";
}

}  // namespace
}  // namespace ondival::test
