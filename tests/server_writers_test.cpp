// An import into a committee's database while others write to it
// (workstations, the results site, the host's own triggers; the import lock
// keeps out only other imports). An import that sends its statements ahead
// must come to what a line-by-line one comes to under the same timing: the
// same trace bytes, result and rows without their surrogate keys. Each case
// runs both ways on two copies of one database, the other session acting at
// the same point of the import's progress.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
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

// The keyed tables the import inserts into, each with its key column.
const std::vector<std::pair<std::string, std::string>> kKeyedTables = {{"club", "num"},    {"licence", "num"},
                                                                       {"liffn", "num"},   {"liffn_relais", "num"},
                                                                       {"piscine", "num"}, {"rcomp", "autonum"}};

// The last key drawn from each keyed table's sequence (0 before the first),
// as "table=key".
std::string last_keys_query() {
    std::string values;
    for (const auto& [table, column] : kKeyedTables)
        values += (values.empty() ? "('" : ", ('") + table + "', '" + column + "')";
    return "SELECT v.t || '=' || COALESCE((SELECT CASE WHEN s.last_value IS NULL THEN 0 ELSE s.last_value END FROM "
           "pg_sequences s WHERE format('%I.%I', s.schemaname, s.sequencename) = pg_get_serial_sequence(v.t, v.c)), 0)"
           " FROM (VALUES " +
           values + ") v(t, c) ORDER BY 1";
}

std::map<std::string, long long> last_keys(const std::vector<std::string>& rows) {
    std::map<std::string, long long> out;
    for (const std::string& row : rows) out[row.substr(0, row.find('='))] = std::stoll(row.substr(row.find('=') + 1));
    return out;
}

// Another session reading the sequences every few milliseconds while imports
// run, noting each one that went down.
class SequenceWatch {
public:
    explicit SequenceWatch(const std::string& db) : db_(db), thread_([this] { watch(); }) {}
    ~SequenceWatch() {
        stop_ = true;
        thread_.join();
    }
    // "table: from -> to" for each step back seen; the samples taken.
    std::vector<std::string> steps_back() {
        std::lock_guard<std::mutex> held(mutex_);
        return steps_back_;
    }
    long samples() {
        std::lock_guard<std::mutex> held(mutex_);
        return samples_;
    }

private:
    void watch() {
        try {
            OtherSession session(db_);
            const std::string query = last_keys_query();
            std::map<std::string, long long> seen;
            do {
                const std::map<std::string, long long> now = last_keys(session.rows(query));
                std::lock_guard<std::mutex> held(mutex_);
                for (const auto& [table, key] : now)
                    if (seen.count(table) && key < seen[table])
                        steps_back_.push_back(table + ": " + std::to_string(seen[table]) + " -> " +
                                              std::to_string(key));
                seen = now;
                ++samples_;
                std::this_thread::sleep_for(2ms);
            } while (!stop_);
        } catch (const std::exception& e) {
            std::lock_guard<std::mutex> held(mutex_);
            steps_back_.push_back(std::string("the watch failed: ") + e.what());
        }
    }

    std::string db_;
    std::mutex mutex_;
    std::vector<std::string> steps_back_;
    long samples_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The licence number of an ordinary line of licence.txt from `from_line`
// on (not a relay team, not a selection record).
std::string licence_inside(const fs::path& source, std::size_t from_line) {
    const std::vector<std::string> lines = trace_lines(source / "licence.txt");
    for (std::size_t i = from_line; i < lines.size(); ++i) {
        const std::string club = lines[i].substr(0, 13), licence = lines[i].substr(13, 6);
        if (licence[0] != 'R' && club.compare(9, 4, "0000") != 0) return licence;
    }
    return "";
}

// A workstation enters a licence during the import's licences and commits it
// once the import is at its performances. Its key falls among the import's,
// so the keys foreseen are wrong and the licence file is run again; the
// import sent ahead must lose nothing either (it once set the sequence back
// below the other's key and drew it again: one licence fewer, "Erreur n°
// 2067" or a lock timeout).
class LicenceCommittedLate : public RecordingForm {
public:
    LicenceCommittedLate(const std::string& db, int at_line, bool late = true)
        : other_(db), at_line_(at_line), late_(late) {}
    void SetStepTitle(const std::string& title) override {
        RecordingForm::SetStepTitle(title);
        in_licences_ = title == "Fichier licence.txt";
        if (title == "Fichier Liffn.txt" && begun_ && !committed_) {
            other_.exec("COMMIT");
            committed_ = true;
        }
    }
    void SetValue(double v) override {
        RecordingForm::SetValue(v);
        if (in_licences_ && !begun_ && ++lines_ == at_line_) {
            other_.exec(std::string(late_ ? "BEGIN; " : "") +
                        "INSERT INTO Licence (Code_club, licence, Nom, Prenom) "
                        "VALUES ('FRA5110759901', '990001', 'AUTRE', 'Poste')");
            begun_ = true;
            committed_ = !late_;
        }
    }
    bool committed() const { return committed_; }

private:
    OtherSession other_;
    int at_line_, lines_ = 0;
    bool late_;
    bool in_licences_ = false, begun_ = false, committed_ = false;
};

// The same licence committed at once: the key the import foresaw for its
// next licence is then a row the import can see, someone else's, and only
// the check of the foreseen keys keeps the import's selections and
// performances from being given to that swimmer.
class ServerBesideALicenceCommitted : public ServerBesideOtherWriters, public ::testing::WithParamInterface<bool> {};

TEST_P(ServerBesideALicenceCommitted, CostsNoLicenceAndGivesNothingToIt) {
    const bool late = GetParam();
    const fs::path source = dir.subdir("export");
    write_export(source, 1200, 600);
    const std::string db = make_host_database(dir);
    const std::string twin = copy_host_database(db, dir, "twin");
    LicenceCommittedLate beside_speculative(db, 300, late), beside_line_by_line(twin, 300, late);
    const ImportOutcome speculative = import_once(db, source, dir, "speculative", true, &beside_speculative);
    const ImportOutcome line_by_line = import_once(twin, source, dir, "line-by-line", false, &beside_line_by_line);
    ASSERT_TRUE(beside_speculative.committed() && beside_line_by_line.committed());

    expect_same_outcome(speculative, line_by_line);
    EXPECT_EQ(line_by_line.result, true);
    EXPECT_FALSE(has(speculative.trace, "Erreur n°"));
    EXPECT_EQ(sql1(db, "SELECT count(*) FROM Licence WHERE licence = '990001'"), "1");
    EXPECT_EQ(sql1(db, "SELECT count(*) FROM Licence"), sql1(twin, "SELECT count(*) FROM Licence"));
    // The licence file's transaction was run again, once.
    EXPECT_EQ(speculative.abandoned, 1);
    for (const char* table : {"Selection", "Liffn"})
        EXPECT_EQ(sql1(db, std::string("SELECT count(*) FROM ") + table +
                               " WHERE Num_Lic IN (SELECT Num FROM Licence WHERE licence = '990001')"),
                  "0")
            << table;
}

INSTANTIATE_TEST_SUITE_P(Each, ServerBesideALicenceCommitted, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Late" : "AtOnce");
                         });

// One licence refused by a host check constraint, so that two imports run
// their files again; then the constraint dropped and a third import. No
// sequence another session watches may go down, and every key of the third
// import is above every key drawn before, by abandoned runs too (rows purged
// or rolled back may still be named by the host or an exported file).
TEST_F(ServerBesideOtherWriters, KeysAreNeverGivenBackNorDrawnTwice) {
    const fs::path source = dir.subdir("export");
    write_export(source, 300, 600);
    const std::string refused = licence_inside(source, 150);
    ASSERT_FALSE(refused.empty());
    const std::string db = make_host_database(dir);
    sql(db, "ALTER TABLE Licence ADD CONSTRAINT refused_by_the_host CHECK (licence <> '" + refused + "')");
    const std::string twin = copy_host_database(db, dir, "twin");

    struct Run {
        std::vector<ImportOutcome> imports;
        std::vector<std::string> steps_back;
    };
    const auto three_imports = [&](const std::string& into, bool speculate) {
        Run run;
        SequenceWatch watch(into);
        const std::string tag = speculate ? "speculative" : "line-by-line";
        run.imports.push_back(import_once(into, source, dir, tag + "1", speculate));
        run.imports.push_back(import_once(into, source, dir, tag + "2", speculate));
        sql(into, "ALTER TABLE Licence DROP CONSTRAINT refused_by_the_host");
        const std::map<std::string, long long> drawn = last_keys(sql(into, last_keys_query()));
        std::map<std::string, std::set<std::string>> kept;
        for (const auto& [table, column] : kKeyedTables)
            for (const std::string& key : sql(into, "SELECT " + column + " FROM " + table)) kept[table].insert(key);
        run.imports.push_back(import_once(into, source, dir, tag + "3", speculate));
        for (const auto& [table, column] : kKeyedTables) {
            for (const std::string& key : sql(into, "SELECT " + column + " FROM " + table)) {
                if (kept[table].count(key)) continue;
                EXPECT_GT(std::stoll(key), drawn.at(table)) << table << ": a key of the third import was drawn before";
            }
        }
        EXPECT_GT(watch.samples(), 10);
        run.steps_back = watch.steps_back();
        return run;
    };
    const Run speculative = three_imports(db, true);
    const Run line_by_line = three_imports(twin, false);

    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE("import " + std::to_string(i + 1));
        expect_same_outcome(speculative.imports[i], line_by_line.imports[i]);
        EXPECT_TRUE(has(line_by_line.imports[i].trace, refused) == (i < 2));
    }
    EXPECT_EQ(speculative.steps_back, std::vector<std::string>{});
    EXPECT_EQ(line_by_line.steps_back, std::vector<std::string>{});
    // The licence file and the performance file (which creates the refused
    // licence's swimmer) run again in each of the first two imports; the
    // third has nothing to run again.
    EXPECT_EQ(speculative.imports[0].abandoned, 2);
    EXPECT_EQ(speculative.imports[1].abandoned, 2);
    EXPECT_EQ(speculative.imports[2].abandoned, 0);
}

// Another workstation holds a lock from before the import and lets it go
// `hold` after the import first waits for it, counting the import's waits
// (each a lock request of its own start).
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

// A workstation holds the performances' table in SHARE mode until a second
// after the import gave up on it. Line by line, the first performance waits
// until the lock (or the host's statement) timeout, the import stops there,
// withdraws the performances (a delete that waits in turn) and returns
// false. The import sent ahead meets the same refusal and must not take it
// for a wrong guess: run again line by line, it stops at the same statement
// without waiting a second time.
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

// The host's own objects on a table the import writes, whose effects early
// answers and foreseen keys cannot see (a trigger creating a club when a
// licence goes in makes a later line's club known where the answer read
// ahead says it is not). Found when the session opens, they keep every file
// import line by line and the report names them; an object on a table the
// import only reads changes nothing.
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
    const std::string json = report_to_json(report);
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
