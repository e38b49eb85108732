// An import into a committee's database while others write to it:
// workstations entering licences, the results site, the host's own
// triggers. The import lock keeps other imports out, not them. Whatever
// they do, an import that sends its statements ahead must come to what a
// line-by-line import comes to under the same timing: the same trace byte
// for byte, the same result, the same rows compared without their
// surrogate keys. Each case runs once each way, on two copies of one
// database, with the other session doing the same at the same point of
// the import's progress.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "import/cls_ondival.h"
#include "import/report_json.h"
#include "platform/cp1252.h"
#include "platform/database.h"
#include "samples/sample_export.h"
#include "tests/report_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ServerBesideOtherWriters : public ::testing::Test {
protected:
    void SetUp() override {
        if (!on_server()) GTEST_SKIP() << "other sessions on a server (the PostgreSQL pass)";
    }
    FixedClock clock;
    ScratchDir dir;
};

void write_export(const fs::path& source, int licences, int performances) {
    samples::SampleExportOptions o;
    o.clubs = 6;
    o.licences = licences;
    o.performances = performances;
    o.relays = 20;
    o.seed = 11;
    ASSERT_EQ(samples::generate_sample_export(source.string(), o), "");
}

void expect_same_outcome(const ImportOutcome& speculative, const ImportOutcome& line_by_line) {
    EXPECT_EQ(speculative.result, line_by_line.result);
    EXPECT_EQ(speculative.error, line_by_line.error);
    EXPECT_TRUE(speculative.trace == line_by_line.trace) << "the traces differ:\n"
                                                         << platform::cp1252_to_utf8(speculative.trace) << "\n---\n"
                                                         << platform::cp1252_to_utf8(line_by_line.trace);
    EXPECT_EQ(speculative.rows_without_keys, line_by_line.rows_without_keys);
    EXPECT_EQ(line_by_line.speculations, 0);
}

bool has(const std::string& trace, const std::string& utf8) {
    return platform::cp1252_to_utf8(trace).find(utf8) != std::string::npos;
}

// Another workstation holds a lock on a table from before the import, and
// lets it go `hold` after the import first waits for it. It counts the
// waits of the import it sees (each a lock request of its own start).
class LockHeldElsewhere {
public:
    LockHeldElsewhere(const std::string& db, const std::string& lock, std::chrono::milliseconds hold)
        : db_(db), lock_(lock), hold_(hold), thread_([this] { watch(); }) {
        std::unique_lock<std::mutex> held(mutex_);
        while (!locked_ && error_.empty()) ready_.wait(held);
        if (!error_.empty()) ADD_FAILURE() << error_;
    }
    ~LockHeldElsewhere() {
        stop_ = true;
        thread_.join();
    }
    std::size_t waits() {
        std::lock_guard<std::mutex> held(mutex_);
        if (!error_.empty()) ADD_FAILURE() << error_;
        return waits_.size();
    }

private:
    void watch() {
        try {
            OtherSession holder(db_);
            holder.exec("BEGIN; " + lock_);
            {
                std::lock_guard<std::mutex> held(mutex_);
                locked_ = true;
            }
            ready_.notify_all();
            OtherSession watcher(db_);
            std::optional<std::chrono::steady_clock::time_point> first;
            bool released = false;
            while (!stop_) {
                for (const std::string& start :
                     watcher.rows("SELECT CAST(l.waitstart AS TEXT) FROM pg_locks l JOIN pg_stat_activity a"
                                  " ON a.pid = l.pid WHERE NOT l.granted AND a.application_name = 'ondival'"
                                  " AND a.datname = current_database()")) {
                    std::lock_guard<std::mutex> held(mutex_);
                    waits_.insert(start);
                    if (!first) first = std::chrono::steady_clock::now();
                }
                if (first && !released && std::chrono::steady_clock::now() >= *first + hold_) {
                    holder.exec("COMMIT");
                    released = true;
                }
                std::this_thread::sleep_for(2ms);
            }
        } catch (const std::exception& e) {
            std::lock_guard<std::mutex> held(mutex_);
            error_ = e.what();
            ready_.notify_all();
        }
    }

    std::string db_, lock_;
    std::chrono::milliseconds hold_;
    std::mutex mutex_;
    std::condition_variable ready_;
    bool locked_ = false;
    std::string error_;
    std::set<std::string> waits_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A workstation holds the performances' table (LOCK TABLE ... IN SHARE
// MODE) and lets it go a second after the import gave up waiting for it.
// A line-by-line import waits for the first performance until its lock
// timeout (or the host's statement timeout, when shorter), stops there,
// withdraws the performances (a delete that waits in turn) and returns
// false. The import sent ahead meets the same refusal in its first run and
// must not take it for a wrong guess: run again line by line, it stops at
// the same statement without waiting for the lock a second time, and so
// comes to the same end.
struct LockCase {
    std::string name;
    std::string setting;             // for the import's sessions on that database
    std::chrono::milliseconds hold;  // from the import's first wait to the lock's end
    std::string message;             // where the line-by-line import stops
};

class ServerBesideALock : public ServerBesideOtherWriters, public ::testing::WithParamInterface<LockCase> {};

TEST_P(ServerBesideALock, TheImportEndsAsLineByLineWaitingOnce) {
    const fs::path source = dir.subdir("export");
    write_export(source, 60, 200);
    const std::string db = make_host_database(dir);
    const std::string twin = copy_host_database(db, dir, "twin");
    const auto import_beside_lock = [&](const std::string& into, const std::string& tag, bool speculate,
                                        std::size_t& waits) {
        if (!GetParam().setting.empty()) {
            const std::string name = into.substr(into.rfind('/') + 1);
            sql(into, "ALTER DATABASE " + name + " SET " + GetParam().setting);
        }
        LockHeldElsewhere lock(into, "LOCK TABLE Liffn IN SHARE MODE", GetParam().hold);
        ImportOutcome o = import_once(into, source, dir, tag, speculate);
        waits = lock.waits();
        return o;
    };
    std::size_t speculative_waits = 0, line_by_line_waits = 0;
    const ImportOutcome speculative = import_beside_lock(db, "speculative", true, speculative_waits);
    const ImportOutcome line_by_line = import_beside_lock(twin, "line-by-line", false, line_by_line_waits);

    expect_same_outcome(speculative, line_by_line);
    EXPECT_EQ(line_by_line.result, false);
    EXPECT_TRUE(has(line_by_line.trace, GetParam().message)) << platform::cp1252_to_utf8(line_by_line.trace);
    EXPECT_TRUE(has(line_by_line.trace, "Efface toutes les données déjà importées."));
    // The performance file's transaction was sent ahead once and run again
    // once; the lock was waited for as often as line by line: the first
    // performance, then the withdrawal.
    EXPECT_EQ(speculative.abandoned, 1);
    EXPECT_EQ(speculative_waits, line_by_line_waits);
    EXPECT_EQ(line_by_line_waits, 2u);
}

INSTANTIATE_TEST_SUITE_P(Each, ServerBesideALock,
                         ::testing::Values(LockCase{"LockTimeout", "", 6000ms,
                                                    "Erreur n° 5: canceling statement due to lock timeout"},
                                           LockCase{"StatementTimeout", "statement_timeout = '1500ms'", 10000ms,
                                                    "Erreur n° 9: canceling statement due to statement timeout"}),
                         [](const ::testing::TestParamInfo<LockCase>& info) { return info.param.name; });

// The host's own objects on a table the import writes. The import's early
// answers and foreseen keys cannot see what they do: a trigger that creates
// a club when one licence goes in makes a later line's club known, where
// the club's answer read ahead for the batch says it is not. Found when the
// session opens, they keep every file import line by line, and the report
// names them; an object on a table the import only reads changes nothing.
struct HostObjectCase {
    std::string name;
    std::string sql;   // made on the database before the import
    std::string note;  // the report's line_by_line, "" when it speculates
    bool makes_club;   // inserting licence 851234 creates club ZZZ0000000001
};

class ServerHostObjects : public ServerBesideOtherWriters, public ::testing::WithParamInterface<HostObjectCase> {};

TEST_P(ServerHostObjects, KeepTheImportLineByLineAndTheReportSaysWhy) {
    const fs::path source = dir.subdir("export");
    const std::string club = "FRA5110750001", made = "ZZZ0000000001";
    write_lines(source / "club.txt", {club_line(club, "CN PARIS")});
    write_lines(source / "licence.txt",
                {LicenceLine{.club = club, .licence = "851234", .nom = "MARTIN", .prenom = "Paul"}.str(),
                 LicenceLine{.club = made, .licence = "851235", .nom = "DURAND", .prenom = "Lea"}.str()});
    write_lines(source / "liffn.txt", {PerfLine{.club = club, .licence = "851234", .nom = "MARTIN"}.str()});
    const std::string db = make_host_database(dir);
    sql(db, GetParam().sql);
    const std::string twin = copy_host_database(db, dir, "twin");

    Report report;
    const ImportOutcome speculative = import_once(db, source, dir, "speculative", true, nullptr, &report);
    const ImportOutcome line_by_line = import_once(twin, source, dir, "line-by-line", false);

    expect_same_outcome(speculative, line_by_line);
    EXPECT_EQ(speculative.rows, line_by_line.rows);
    const std::string licence_of_made_club =
        sql1(db, "SELECT count(*) FROM Licence WHERE Code_club = '" + made + "' AND licence = '851235'");
    EXPECT_EQ(licence_of_made_club, GetParam().makes_club ? "1" : "0") << platform::cp1252_to_utf8(speculative.trace);
    if (GetParam().note.empty()) {
        EXPECT_GT(speculative.speculations, 0);
        EXPECT_TRUE(report.line_by_line.empty());
    } else {
        EXPECT_EQ(speculative.speculations, 0);
        EXPECT_EQ(report.line_by_line, std::vector<std::string>{GetParam().note});
    }
    const std::string json = rapport_json(report);
    EXPECT_EQ(json.find("\"line_by_line\"") != std::string::npos, !GetParam().note.empty()) << json;
    expect_valid_reports({json});
}

const char* const kMakeClub =
    "INSERT INTO Club (Code_federal, Intitule, Selection) VALUES ('ZZZ0000000001', 'CLUB DU COMITE', false)";

INSTANTIATE_TEST_SUITE_P(
    Each, ServerHostObjects,
    ::testing::Values(
        HostObjectCase{"TriggerCreatingAClub",
                       "CREATE FUNCTION make_club() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF NEW.licence = "
                       "'851234' THEN " +
                           std::string(kMakeClub) +
                           "; END IF; RETURN NULL; END $$; CREATE TRIGGER make_club AFTER INSERT ON Licence "
                           "FOR EACH ROW EXECUTE FUNCTION make_club()",
                       "trigger make_club on licence", true},
        HostObjectCase{"RuleCreatingAClub",
                       "CREATE RULE make_club AS ON INSERT TO Licence WHERE NEW.licence = '851234' DO ALSO " +
                           std::string(kMakeClub),
                       "rule make_club on licence", true},
        HostObjectCase{"RowLevelSecurity",
                       "ALTER TABLE Selection ENABLE ROW LEVEL SECURITY; "
                       "CREATE POLICY everything ON Selection USING (true)",
                       "row level security on selection", false},
        HostObjectCase{"TableMadeAView",
                       "ALTER TABLE Piscine RENAME TO piscine_rows; CREATE VIEW Piscine AS SELECT * FROM piscine_rows",
                       "view piscine", false},
        HostObjectCase{"TriggerOnATableOnlyRead",
                       "CREATE FUNCTION count_countries() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RETURN NULL; "
                       "END $$; CREATE TRIGGER count_countries AFTER INSERT ON Pays "
                       "FOR EACH ROW EXECUTE FUNCTION count_countries()",
                       "", false}),
    [](const ::testing::TestParamInfo<HostObjectCase>& info) { return info.param.name; });

}  // namespace
}  // namespace ondival::test
