// A club's import killed outright (power cut, the host killed from the task
// manager) at several points of a mid-size export, on a file or on a
// server: the database must come back intact, hold no staged performance and no half-attached
// competition, and the same import run again must end with the clubs,
// licences, selections and performances an uninterrupted import gives.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// What one run of `ondival import` came to.
struct Outcome {
    bool killed = false;  // the signal reached a running import
    int exit_code = -1;   // when it ended on its own
};

pid_t start_import(const std::string& db, const fs::path& source, const fs::path& scratch, const fs::path& trace) {
    return start_detached({ONDIVAL_CLI, "import", db, source.string(), scratch.string(), trace.string(), "--quiet"});
}

Outcome wait_for(pid_t pid) {
    const int status = wait_status(pid);
    Outcome run;
    run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Where an import is killed: once its trace shows a step (or, without one,
// once its copies of the export are made), then after a fraction of an
// uninterrupted import's time. Following the import's own progress rather
// than the clock alone, a machine busier or idler than during the timed
// import moves a kill no further than within its step.
struct KillPoint {
    const char* step;  // nullptr: once the copies are there
    double fraction;
};

std::string describe(const KillPoint& point) {
    return std::string(point.step ? point.step : "the copies") + " + " + std::to_string(point.fraction);
}

// One import, killed at `point` unless it is over by then. Each run gets a
// scratch directory of its own, as a host gives each call a fresh one.
Outcome import_killed_at(const std::string& db, const fs::path& source, const ScratchDir& dir, const KillPoint& point,
                         Clock::duration duration) {
    static int serial = 0;
    const fs::path scratch = dir.path() / ("tmp" + std::to_string(++serial));
    const fs::path trace = dir.path() / ("trace" + std::to_string(serial) + ".txt");
    fs::create_directories(scratch);
    const pid_t pid = start_import(db, source, scratch, trace);
    const auto reached = [&] {
        if (!fs::exists(scratch / "origine.txt")) return false;
        return !point.step || read_bytes(trace).find(point.step) != std::string::npos;
    };
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!reached() && Clock::now() < deadline && waitpid(pid, nullptr, WNOHANG) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::duration_cast<Clock::duration>(duration * point.fraction));
    kill(pid, SIGKILL);
    return wait_for(pid);
}

Outcome import_to_the_end(const std::string& db, const fs::path& source, const ScratchDir& dir) {
    static int serial = 0;
    const fs::path scratch = dir.path() / ("full" + std::to_string(++serial));
    fs::create_directories(scratch);
    return wait_for(start_import(db, source, scratch, dir.path() / ("full" + std::to_string(serial) + ".txt")));
}

// The rows an import means to leave, by their natural keys rather than
// their row numbers, so two databases can be compared line by line.
std::vector<std::string> clubs(const std::string& db) {
    return sql(db, "SELECT Code_federal || '|' || COALESCE(Intitule, '') || '|' ||"
                   " COALESCE(CAST(CAST(Selection AS INTEGER) AS TEXT), '') FROM Club ORDER BY 1");
}
std::vector<std::string> licences(const std::string& db) {
    return sql(db, "SELECT Code_club || '|' || licence || '|' || COALESCE(Nom, '') || '|' || COALESCE(Prenom, '')"
                   " || '|' || COALESCE(Date_Naissance, '') || '|' || COALESCE(Type_licence, '')"
                   " FROM Licence ORDER BY 1");
}
std::vector<std::string> selections(const std::string& db) {
    return sql(db, "SELECT s.Code_Sel || '|' || l.Code_club || '|' || l.licence"
                   " FROM Selection s JOIN Licence l ON l.Num = s.Num_Lic ORDER BY 1");
}
// The performances of the newest competition, each with its swimmer.
std::vector<std::string> last_performances(const std::string& db) {
    return sql(db, "SELECT l.Code_club || '|' || l.licence || '|' || p.Code_epreuve || '|' || p.Type_bassin"
                   " || '|' || p.Date_perf || '|' || p.Tps || '|' || COALESCE(CAST(p.Age AS TEXT), '')"
                   " FROM Liffn p JOIN Licence l ON l.Num = p.Num_Lic"
                   " WHERE p.Num_compet = (SELECT MAX(AutoNum) FROM Rcomp) ORDER BY 1");
}

long number(const std::string& db, const std::string& statement) { return std::stol(sql1(db, statement)); }

// One export and one uninterrupted import of it, shared by every case:
// what each interrupted database is held to, and the time the kill points
// are spread over.
struct Reference {
    ScratchDir dir;
    fs::path source = dir.path() / "export";
    std::string db;
    Clock::duration duration{};
    long individuals = 0, relays = 0;  // lines of liffn.txt
    std::vector<std::string> clubs, licences, selections, performances;
};

const Reference& reference() {
    static const std::unique_ptr<Reference> made = [] {
        auto r = std::make_unique<Reference>();
        const Outcome generated =
            wait_for(start_detached({ONDIVAL_CLI, "generate", r->source.string(), "--clubs", "100", "--licences",
                                     "5000", "--performances", "20000", "--relays", "500"}));
        if (generated.exit_code != 0) throw std::runtime_error("ondival generate failed");
        // A relay line's licence field (column 16) starts with R.
        const std::string liffn = read_bytes(r->source / "liffn.txt");
        for (std::size_t from = 0; from < liffn.size();) {
            std::size_t end = liffn.find("\r\n", from);
            if (end == std::string::npos) end = liffn.size();
            if (end > from) ++(end - from > 15 && liffn[from + 15] == 'R' ? r->relays : r->individuals);
            from = end + 2;
        }
        r->db = make_host_database(r->dir, "reference.db");
        const auto started = Clock::now();
        const Outcome run = import_to_the_end(r->db, r->source, r->dir);
        r->duration = Clock::now() - started;
        if (run.exit_code != 0) throw std::runtime_error("the uninterrupted import failed");
        // The kill points are fractions of this time: an estimate taken
        // while the machine was busier than later would put them after the
        // end of the imports they mean to interrupt. The shorter of two runs
        // is the safer measure.
        const std::string second = make_host_database(r->dir, "reference2.db");
        const auto again = Clock::now();
        if (import_to_the_end(second, r->source, r->dir).exit_code != 0)
            throw std::runtime_error("the uninterrupted import failed");
        r->duration = std::min(r->duration, Clock::now() - again);
        r->clubs = clubs(r->db);
        r->licences = licences(r->db);
        r->selections = selections(r->db);
        r->performances = last_performances(r->db);
        return r;
    }();
    return *made;
}

class Interruption : public ::testing::Test {
protected:
    void SetUp() override {
        const Reference& r = reference();
        ASSERT_EQ(number(r.db, "SELECT COUNT(*) FROM Liffn"), r.individuals);
        ASSERT_EQ(number(r.db, "SELECT COUNT(*) FROM Liffn_relais"), r.relays);
        ASSERT_GT(r.relays, 0);
        ASSERT_FALSE(r.selections.empty()) << "the export should hold selection records";
    }

    // What an interrupted database must hold at any moment: an intact
    // file, no staged performance, and every competition either complete
    // or absent. (A server keeps its own files intact; what it shows other
    // sessions is what was committed.)
    static void expect_consistent(const std::string& db) {
        const Reference& r = reference();
        if (!on_server()) {
            EXPECT_EQ(sql1(db, "PRAGMA integrity_check"), "ok");
        }
        EXPECT_EQ(number(db, "SELECT COUNT(*) FROM Liffn WHERE Num_compet = -1"), 0);
        EXPECT_EQ(number(db, "SELECT COUNT(*) FROM Liffn_relais WHERE Num_compet = -1"), 0);
        EXPECT_EQ(sql(db, "SELECT AutoNum FROM Rcomp"
                          " WHERE (SELECT COUNT(*) FROM Liffn WHERE Num_compet = AutoNum) <> " +
                              std::to_string(r.individuals) +
                              " OR (SELECT COUNT(*) FROM Liffn_relais WHERE Num_compet = AutoNum) <> " +
                              std::to_string(r.relays)),
                  std::vector<std::string>{})
            << "competitions half attached";
        EXPECT_EQ(number(db, "SELECT COUNT(*) FROM Liffn WHERE Num_compet NOT IN (SELECT AutoNum FROM Rcomp)") +
                      number(db, "SELECT COUNT(*) FROM Liffn_relais"
                                 " WHERE Num_compet NOT IN (SELECT AutoNum FROM Rcomp)"),
                  0)
            << "performances attached to no competition";
    }

    // After the import was run again to its end: what the reference holds,
    // with the performances attached once per import that got that far.
    static void expect_as_uninterrupted(const std::string& db) {
        const Reference& r = reference();
        expect_consistent(db);
        EXPECT_EQ(sql1(db, "SELECT LastClose FROM Info"), "1");
        EXPECT_EQ(clubs(db), r.clubs);
        EXPECT_EQ(licences(db), r.licences);
        EXPECT_EQ(selections(db), r.selections);
        EXPECT_EQ(last_performances(db), r.performances);
    }

    // The time the fractions of the kill points are taken of.
    Clock::duration duration() const { return std::min(reference().duration, seen_); }

    // Times an uninterrupted import; a faster one than the reference moves
    // the next kill points earlier.
    Outcome timed_import_to_the_end(const std::string& db, const ScratchDir& dir) {
        const auto started = Clock::now();
        Outcome run = import_to_the_end(db, reference().source, dir);
        seen_ = std::min(seen_, Clock::now() - started);
        return run;
    }

    Clock::duration seen_ = Clock::duration::max();
};

// The points the import is killed at: from the club file to the
// performances (most of an import's time). One test walks them all, since
// every test process pays for its own reference import.
constexpr KillPoint kKillPoints[] = {{nullptr, 0.0},
                                     {"Traitement des licences", 0.0},
                                     {"Traitement des licences", 0.05},
                                     {"Traitement des performances", 0.0},
                                     {"Traitement des performances", 0.25}};

TEST_F(Interruption, KilledImportRunAgainEndsAsAnUninterruptedOne) {
    int interrupted = 0;
    for (const KillPoint& point : kKillPoints) {
        SCOPED_TRACE("killed at " + describe(point));
        const ScratchDir dir;
        const std::string db = make_host_database(dir);

        const Outcome killed = import_killed_at(db, reference().source, dir, point, duration());
        if (killed.killed) {
            ++interrupted;
        } else {
            EXPECT_EQ(killed.exit_code, 0) << "an import that ended before the kill must succeed";
        }
        const long competitions = number(db, "SELECT COUNT(*) FROM Rcomp");
        EXPECT_LE(competitions, 1);
        expect_consistent(db);

        EXPECT_EQ(timed_import_to_the_end(db, dir).exit_code, 0);
        expect_as_uninterrupted(db);
        EXPECT_EQ(number(db, "SELECT COUNT(*) FROM Rcomp"), competitions + 1);
    }
    EXPECT_GE(interrupted, 3) << "most kills should land while the import runs";
}

// A club that keeps losing power: the same database interrupted at every
// point in turn, each attempt starting from what the last one left.
TEST_F(Interruption, RepeatedKillsOnOneDatabaseLoseAndDuplicateNothing) {
    const ScratchDir dir;
    const std::string db = make_host_database(dir);
    int interrupted = 0;
    for (auto point = std::rbegin(kKillPoints); point != std::rend(kKillPoints); ++point) {
        SCOPED_TRACE("killed at " + describe(*point));
        const Outcome killed = import_killed_at(db, reference().source, dir, *point, duration());
        interrupted += killed.killed ? 1 : 0;
        expect_consistent(db);
    }
    EXPECT_GE(interrupted, 3) << "most kills should land while the import runs";
    const long competitions = number(db, "SELECT COUNT(*) FROM Rcomp");

    EXPECT_EQ(import_to_the_end(db, reference().source, dir).exit_code, 0);
    expect_as_uninterrupted(db);
    EXPECT_EQ(number(db, "SELECT COUNT(*) FROM Rcomp"), competitions + 1);
}

}  // namespace
}  // namespace ondival::test
