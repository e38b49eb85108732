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

}  // namespace
}  // namespace ondival::test
