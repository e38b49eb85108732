// The C interface as hosts drive it outside the plain one-call path: a
// cancel from another thread, a signal handler or a callback; two threads
// sharing one importer; callbacks that call back in; a progress bar that
// reads back nonsense; and what the importer says after each of a run of
// calls. The library is loaded with dlopen, as a host loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "include/ondvimp.h"
#include "platform/database.h"
#include "samples/sample_export.h"
#include "tests/report_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;

struct Api {
    void* lib = nullptr;
    decltype(&ondvimp_abi_version) abi_version = nullptr;
    decltype(&ondvimp_create) create = nullptr;
    decltype(&ondvimp_release) release = nullptr;
    decltype(&ondvimp_import) import = nullptr;
    decltype(&ondvimp_check) check = nullptr;
    decltype(&ondvimp_cancel) cancel = nullptr;
    decltype(&ondvimp_last_error_number) error_number = nullptr;
    decltype(&ondvimp_last_error_text) error_text = nullptr;
    decltype(&ondvimp_last_error_kind) error_kind = nullptr;
    decltype(&ondvimp_last_report) report = nullptr;
};

template <typename F>
void resolve(void* lib, const char* name, F& slot) {
    slot = reinterpret_cast<F>(dlsym(lib, name));
}

// Loaded once for the test process and never unloaded, as a host does.
const Api& api() {
    static const Api loaded = [] {
        Api a;
        a.lib = dlopen(ONDIVAL_SHARED_LIB, RTLD_NOW | RTLD_LOCAL);
        if (!a.lib) return a;
        resolve(a.lib, "ondvimp_abi_version", a.abi_version);
        resolve(a.lib, "ondvimp_create", a.create);
        resolve(a.lib, "ondvimp_release", a.release);
        resolve(a.lib, "ondvimp_import", a.import);
        resolve(a.lib, "ondvimp_check", a.check);
        resolve(a.lib, "ondvimp_cancel", a.cancel);
        resolve(a.lib, "ondvimp_last_error_number", a.error_number);
        resolve(a.lib, "ondvimp_last_error_text", a.error_text);
        resolve(a.lib, "ondvimp_last_error_kind", a.error_kind);
        resolve(a.lib, "ondvimp_last_report", a.report);
        return a;
    }();
    return loaded;
}

// One importer, released however the test ends.
class Importer {
public:
    Importer() : handle_(api().create()) {}
    ~Importer() { api().release(handle_); }
    Importer(const Importer&) = delete;
    Importer& operator=(const Importer&) = delete;
    ondvimp_importer* get() const { return handle_; }

private:
    ondvimp_importer* handle_;
};

const char* const kPerformanceStep = "Fichier Liffn.txt";

// A host database and a generated export of a few hundred lines, with a
// scratch directory and a trace path per call.
class CapiCalls : public ::testing::Test {
protected:
    void SetUp() override {
        const Api& a = api();
        ASSERT_NE(a.lib, nullptr) << dlerror();
        ASSERT_TRUE(a.abi_version && a.create && a.release && a.import && a.check && a.cancel && a.error_number &&
                    a.error_text && a.error_kind && a.report);
        ASSERT_EQ(a.abi_version(), ONDVIMP_ABI_VERSION);
        samples::SampleExportOptions options;
        options.clubs = 10;
        options.licences = 200;
        options.performances = 600;
        options.relays = 20;
        ASSERT_EQ(samples::generate_sample_export(source, options), "");
        db = make_host_database(dir);
    }

    // A fresh scratch directory and trace path for the next call.
    std::pair<std::string, std::string> next_paths() {
        ++calls_;
        return {dir.subdir("scratch" + std::to_string(calls_)).string(),
                dir.file("trace" + std::to_string(calls_) + ".txt")};
    }

    int run(ondvimp_importer* importer, bool check, const ondvimp_progress* progress = nullptr,
            std::string* trace = nullptr) {
        const auto [scratch, trace_path] = next_paths();
        if (trace) *trace = trace_path;
        return (check ? api().check : api().import)(importer, db.c_str(), source.c_str(), scratch.c_str(),
                                                    trace_path.c_str(), progress);
    }

    long staged() const {
        return std::stol(sql1(db, "SELECT COUNT(*) FROM Liffn WHERE Num_compet = -1")) +
               std::stol(sql1(db, "SELECT COUNT(*) FROM Liffn_relais WHERE Num_compet = -1"));
    }
    long attached() const {
        return std::stol(sql1(db, "SELECT COUNT(*) FROM Liffn WHERE Num_compet <> -1")) +
               std::stol(sql1(db, "SELECT COUNT(*) FROM Liffn_relais WHERE Num_compet <> -1"));
    }

    ScratchDir dir;
    fs::path source = dir.path() / "export";
    std::string db;

private:
    int calls_ = 0;
};

// --- Cancelling -------------------------------------------------------------

// Who asks the call to stop, once it has reached a chosen step and shown
// its first line there.
enum class Canceller { OtherThread, SignalHandler, Callback };

struct CancelCase {
    std::string name;
    bool check;
    std::string step;  // the step the cancel lands in
    Canceller by;
};
void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }

// What the SIGUSR1 handler reaches: lock-free atomics only.
std::atomic<decltype(&ondvimp_cancel)> g_cancel{nullptr};
std::atomic<ondvimp_importer*> g_signalled_importer{nullptr};
std::atomic<int> g_signal_answer{-1};

extern "C" void cancel_on_signal(int) { g_signal_answer.store(g_cancel.load()(g_signalled_importer.load())); }

// The host's display during a cancelled call: it records the step under
// way and, on the first line of the chosen step, has the cancel made and
// waits until it has been, so the call is stopped mid-step every time.
struct CancellingDisplay {
    std::string wanted_step;
    Canceller by = Canceller::OtherThread;
    ondvimp_importer* importer = nullptr;
    std::string step;
    bool fired = false;
    std::atomic<bool> reached{false}, cancelled{false};
    int answer = -1;  // what ondvimp_cancel said, when made here
    long lines_after_cancel = 0;

    static void on_title(void* user, const char* title) { static_cast<CancellingDisplay*>(user)->step = title; }
    static void on_value(void* user, double value) {
        auto* d = static_cast<CancellingDisplay*>(user);
        if (d->fired) {
            ++d->lines_after_cancel;
            return;
        }
        if (d->step != d->wanted_step || value == 0) return;
        d->fired = true;
        switch (d->by) {
            case Canceller::Callback:
                d->answer = api().cancel(d->importer);
                break;
            case Canceller::SignalHandler:
                g_cancel.store(api().cancel);
                g_signalled_importer.store(d->importer);
                raise(SIGUSR1);  // delivered to this thread before raise returns
                d->answer = g_signal_answer.load();
                break;
            case Canceller::OtherThread:
                d->reached.store(true);
                while (!d->cancelled.load()) std::this_thread::yield();
                break;
        }
    }
};

class CapiCancel : public CapiCalls, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CapiCancel, StopsTheCallAtItsNextLineAsAFailedCall) {
    const CancelCase& c = GetParam();
    const std::vector<std::string> before = dump_database(db);
    struct sigaction action {
    }, previous{};
    action.sa_handler = cancel_on_signal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    const Importer importer;
    CancellingDisplay display;
    display.wanted_step = c.step;
    display.by = c.by;
    display.importer = importer.get();
    const ondvimp_progress progress{&display, CancellingDisplay::on_title, nullptr, CancellingDisplay::on_value,
                                    nullptr};
    std::thread canceller;
    if (c.by == Canceller::OtherThread) {
        canceller = std::thread([&] {
            while (!display.reached.load()) std::this_thread::yield();
            display.answer = api().cancel(importer.get());
            display.cancelled.store(true);
        });
    }
    std::string trace_path;
    const int result = run(importer.get(), c.check, &progress, &trace_path);
    if (canceller.joinable()) canceller.join();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_TRUE(display.fired) << "the call never reached " << c.step;
    EXPECT_EQ(display.answer, 1) << "the cancel did not find the call running";
    EXPECT_EQ(display.lines_after_cancel, 0) << "the call went on after the cancel";
    EXPECT_EQ(result, -1);
    EXPECT_EQ(api().error_number(importer.get()), 18);
    EXPECT_EQ(api().error_kind(importer.get()), ONDVIMP_INTERRUPTED);
    EXPECT_STREQ(api().error_text(importer.get()), "Interruption par l'utilisateur");
    const std::vector<std::string> trace = trace_lines(trace_path);
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace[trace.size() - 2], "Import interrompu.");
    EXPECT_EQ(trace.back(), "Erreur n° 18: Interruption par l'utilisateur");
    const nlohmann::json report = nlohmann::json::parse(api().report(importer.get()));
    EXPECT_EQ(report["error"]["number"], 18);
    EXPECT_EQ(staged(), 0);
    EXPECT_EQ(attached(), 0);
    if (c.check) {
        EXPECT_EQ(dump_database(db), before);
    } else {
        EXPECT_EQ(sql1(db, "SELECT LastClose FROM Info"), "1");
    }

    // The request ended with the call: the next one runs to its end.
    EXPECT_EQ(run(importer.get(), false), 1) << api().error_text(importer.get());
    EXPECT_EQ(api().error_number(importer.get()), 0);
    EXPECT_GT(attached(), 0);
}

std::string cancel_case_name(const ::testing::TestParamInfo<CancelCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Steps, CapiCancel,
    ::testing::Values(
        CancelCase{"ImportClubsFromAnotherThread", false, "Fichier club.txt", Canceller::OtherThread},
        CancelCase{"ImportLicencesFromAnotherThread", false, "Fichier licence.txt", Canceller::OtherThread},
        CancelCase{"ImportPerformancesFromAnotherThread", false, kPerformanceStep, Canceller::OtherThread},
        CancelCase{"ImportPerformancesFromASignalHandler", false, kPerformanceStep, Canceller::SignalHandler},
        CancelCase{"ImportPerformancesFromTheCallback", false, kPerformanceStep, Canceller::Callback},
        CancelCase{"CheckLicencesFromAnotherThread", true, "Fichier licence.txt", Canceller::OtherThread},
        CancelCase{"CheckPerformancesFromASignalHandler", true, kPerformanceStep, Canceller::SignalHandler}),
    cancel_case_name);

TEST_F(CapiCalls, ACancelBetweenCallsIsDroppedAndTheNextCallRunsToItsEnd) {
    const Importer importer;
    EXPECT_EQ(api().cancel(nullptr), 0);
    EXPECT_EQ(api().cancel(importer.get()), 0);  // before the first call
    EXPECT_EQ(run(importer.get(), true), 1) << api().error_text(importer.get());
    EXPECT_EQ(api().cancel(importer.get()), 0);  // between two calls
    EXPECT_EQ(api().cancel(importer.get()), 0);
    EXPECT_EQ(run(importer.get(), false), 1) << api().error_text(importer.get());
    EXPECT_EQ(api().error_number(importer.get()), 0);
    EXPECT_EQ(staged(), 0);
    EXPECT_GT(attached(), 0);
}

// A cancel with no progress table at all, from a thread that asks until
// the call is under way: the import itself, not a callback, sees it.
TEST_F(CapiCalls, ACancelReachesACallWithoutProgressTable) {
    const Importer importer;
    std::atomic<bool> done{false};
    std::atomic<int> answered{0};
    std::thread canceller([&] {
        while (!done.load() && answered.load() == 0) answered.store(api().cancel(importer.get()));
    });
    std::string trace_path;
    const int result = run(importer.get(), false, nullptr, &trace_path);
    done.store(true);
    canceller.join();
    ASSERT_EQ(answered.load(), 1) << "the call ended before any cancel reached it";
    EXPECT_EQ(result, -1);
    EXPECT_EQ(api().error_number(importer.get()), 18);
    const std::vector<std::string> trace = trace_lines(trace_path);
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace[trace.size() - 2], "Import interrompu.");
    EXPECT_EQ(staged(), 0);
    EXPECT_EQ(attached(), 0);
    EXPECT_EQ(sql1(db, "SELECT LastClose FROM Info"), "1");
}

// --- One importer, one caller -----------------------------------------------

// The second caller comes while the first is certainly inside its call:
// the first one's display holds it on its first line until the second has
// been answered.
TEST_F(CapiCalls, ASecondThreadOnABusyImporterIsRefusedAndTouchesNothing) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const Importer importer;
        struct Hold {
            std::atomic<bool> inside{false}, answered{false};
        } hold;
        const ondvimp_progress progress{&hold, nullptr, nullptr,
                                        [](void* user, double) {
                                            auto* h = static_cast<Hold*>(user);
                                            h->inside.store(true);
                                            while (!h->answered.load()) std::this_thread::yield();
                                        },
                                        nullptr};
        const auto [scratch, trace] = next_paths();
        int second = 0;
        std::thread other([&] {
            while (!hold.inside.load()) std::this_thread::yield();
            second = api().import(importer.get(), db.c_str(), source.c_str(), scratch.c_str(), trace.c_str(), nullptr);
            hold.answered.store(true);
        });
        const int first = run(importer.get(), false, &progress);
        other.join();
        EXPECT_EQ(second, -1);
        EXPECT_EQ(first, 1) << api().error_text(importer.get());
        EXPECT_EQ(api().error_number(importer.get()), 0);
        EXPECT_STREQ(api().error_text(importer.get()), "");
        EXPECT_EQ(nlohmann::json::parse(api().report(importer.get()))["result"], true);
        EXPECT_FALSE(fs::exists(trace)) << "the refused call wrote a trace";
    }
}

// Two threads let loose on one importer, as the host that crashed did, each
// with a database of its own so that nothing but the importer holds them
// apart: whatever the timing, each call is either refused or runs whole,
// and neither database is left with a staged row.
TEST_F(CapiCalls, TwoThreadsRacingOnOneImporterNeverCorruptIt) {
    const Importer importer;
    const std::string dbs[2] = {db, copy_host_database(db, dir, "second.db")};
    // When each call saw its first and its last line: two calls that both
    // ran must not have run at once.
    struct Span {
        std::atomic<long long> first{0}, last{0};
        static long long now() { return std::chrono::steady_clock::now().time_since_epoch().count(); }
        static void on_value(void* user, double) {
            auto* s = static_cast<Span*>(user);
            long long unset = 0;
            s->first.compare_exchange_strong(unset, now());
            s->last.store(now());
        }
    };
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::atomic<bool> go{false};
        int results[2] = {0, 0};
        Span spans[2];
        const std::pair<std::string, std::string> paths[2] = {next_paths(), next_paths()};
        std::vector<std::thread> threads;
        for (int i = 0; i < 2; ++i) {
            threads.emplace_back([&, i] {
                const ondvimp_progress progress{&spans[i], nullptr, nullptr, Span::on_value, nullptr};
                while (!go.load()) std::this_thread::yield();
                results[i] = (round % 2 ? api().check : api().import)(importer.get(), dbs[i].c_str(), source.c_str(),
                                                                      paths[i].first.c_str(), paths[i].second.c_str(),
                                                                      &progress);
            });
        }
        go.store(true);
        for (std::thread& t : threads) t.join();
        for (const int r : results) EXPECT_TRUE(r == 1 || r == -1) << r;
        EXPECT_TRUE(results[0] == 1 || results[1] == 1);
        if (results[0] == 1 && results[1] == 1) {
            EXPECT_TRUE(spans[0].last < spans[1].first || spans[1].last < spans[0].first)
                << "two calls ran on one importer at once";
        }
        for (const std::string& d : dbs) EXPECT_EQ(sql1(d, "SELECT COUNT(*) FROM Liffn WHERE Num_compet = -1"), "0");
    }
    EXPECT_EQ(api().error_number(importer.get()), 0);
}

// A progress callback that calls back into the importer of its own call:
// the nested calls are refused and leave the outer call's error and report
// alone, and the outer call ends true with no error.
TEST_F(CapiCalls, ACallbackCallingBackIntoItsOwnImporterIsRefusedAndLeavesNoError) {
    const Importer importer;
    const auto [scratch, trace] = next_paths();
    struct Reentry {
        ondvimp_importer* importer;
        std::string db, source, scratch, trace;
        std::vector<int> results, errors_seen;
        static void on_title(void* user, const char* title) {
            auto* r = static_cast<Reentry*>(user);
            if (std::string(title) != kPerformanceStep) return;
            r->results.push_back(api().import(r->importer, r->db.c_str(), r->source.c_str(), r->scratch.c_str(),
                                              r->trace.c_str(), nullptr));
            r->results.push_back(api().check(r->importer, r->db.c_str(), r->source.c_str(), nullptr, nullptr, nullptr));
            r->results.push_back(api().check(r->importer, nullptr, nullptr, nullptr, nullptr, nullptr));
            r->errors_seen.push_back(api().error_number(r->importer));
        }
    } reentry{importer.get(), db, source.string(), scratch, trace, {}, {}};
    const ondvimp_progress progress{&reentry, Reentry::on_title, nullptr, nullptr, nullptr};

    for (const bool check : {false, true}) {
        SCOPED_TRACE(check ? "check" : "import");
        reentry.results.clear();
        reentry.errors_seen.clear();
        EXPECT_EQ(run(importer.get(), check, &progress), 1) << api().error_text(importer.get());
        EXPECT_EQ(reentry.results, (std::vector<int>{-1, -1, -1}));
        EXPECT_EQ(reentry.errors_seen, std::vector<int>{0});
        EXPECT_EQ(api().error_number(importer.get()), 0);
        EXPECT_STREQ(api().error_text(importer.get()), "");
        const nlohmann::json report = nlohmann::json::parse(api().report(importer.get()));
        EXPECT_EQ(report["mode"], check ? "check" : "import");
        EXPECT_EQ(report["result"], true);
        EXPECT_FALSE(fs::exists(trace)) << "a refused nested call wrote a trace";
    }
}

TEST_F(CapiCalls, ACallbackStartingAnImportOnAnotherImporterIsRefusedThereOnly) {
    const Importer importer, other;
    const auto [scratch, trace] = next_paths();
    struct Nested {
        ondvimp_importer* other;
        std::string db, source, scratch, trace;
        int result = 0, error = 0;
        std::string text;
        static void on_title(void* user, const char* title) {
            auto* n = static_cast<Nested*>(user);
            if (std::string(title) != kPerformanceStep) return;
            n->result = api().import(n->other, n->db.c_str(), n->source.c_str(), n->scratch.c_str(), n->trace.c_str(),
                                     nullptr);
            n->error = api().error_number(n->other);
            n->text = api().error_text(n->other);
        }
    } nested{other.get(), db, source.string(), scratch, trace, 0, 0, ""};
    const ondvimp_progress progress{&nested, Nested::on_title, nullptr, nullptr, nullptr};

    EXPECT_EQ(run(importer.get(), false, &progress), 1) << api().error_text(importer.get());
    EXPECT_EQ(nested.result, -1);
    EXPECT_EQ(nested.error, 5);
    EXPECT_EQ(nested.text, "Un import est déjà en cours sur ce thread.");
    EXPECT_EQ(api().error_number(importer.get()), 0);
    EXPECT_EQ(api().error_number(other.get()), 5);  // kept on the importer that was refused
    EXPECT_STREQ(api().report(other.get()), "");
}

// --- The host's progress bar ------------------------------------------------

struct BarCase {
    std::string name;
    double reads;  // what the host's get_value returns, every time
};
void PrintTo(const BarCase& c, std::ostream* os) { *os << c.name; }

class CapiBar : public CapiCalls, public ::testing::WithParamInterface<BarCase> {};

TEST_P(CapiBar, WhatGetValueReturnsNeverTakesSetValueOutOfTheBar) {
    struct Bar {
        double reads;
        long sets = 0, outside = 0;
        double highest = -1;
        static double get(void* user) { return static_cast<Bar*>(user)->reads; }
        static void set(void* user, double value) {
            auto* b = static_cast<Bar*>(user);
            ++b->sets;
            if (!(value >= 0 && value <= 100)) ++b->outside;  // NaN counts as outside
            b->highest = std::max(b->highest, value);
        }
    } bar{GetParam().reads};
    const ondvimp_progress progress{&bar, nullptr, Bar::get, Bar::set, nullptr};
    const Importer importer;
    EXPECT_EQ(run(importer.get(), false, &progress), 1) << api().error_text(importer.get());
    EXPECT_GT(bar.sets, 600);
    EXPECT_EQ(bar.outside, 0);
    if (std::isnan(GetParam().reads) || std::isinf(GetParam().reads)) {
        // Read as the last value set: the bar runs through the step as it
        // would without get_value.
        EXPECT_GT(bar.highest, 99);
    }
}

INSTANTIATE_TEST_SUITE_P(HostValues, CapiBar,
                         ::testing::Values(BarCase{"NaN", std::numeric_limits<double>::quiet_NaN()},
                                           BarCase{"PlusInfinity", std::numeric_limits<double>::infinity()},
                                           BarCase{"MinusInfinity", -std::numeric_limits<double>::infinity()},
                                           BarCase{"HugeNegative", -1e308}, BarCase{"Negative", -5},
                                           BarCase{"Huge", 1e308}, BarCase{"OtherScale", 250}),
                         [](const ::testing::TestParamInfo<BarCase>& info) { return info.param.name; });

// --- What the importer says after each call ----------------------------------

enum class Call { Import, Check, ImportMissingSource, CheckNullDb };

struct Expected {
    Call call;
    int result;
    int error;           // ondvimp_last_error_number
    int kind;            // ondvimp_last_error_kind
    bool text;           // a last error text
    const char* report;  // the report's mode, "" for no report
};

struct SequenceCase {
    std::string name;
    std::vector<Expected> calls;
};
void PrintTo(const SequenceCase& c, std::ostream* os) { *os << c.name; }

class CapiSequence : public CapiCalls, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(CapiSequence, EachCallLeavesOnlyItsOwnErrorAndReport) {
    const Importer importer;
    int step = 0;
    for (const Expected& e : GetParam().calls) {
        SCOPED_TRACE("call " + std::to_string(++step));
        const auto [scratch, trace] = next_paths();
        const std::string missing = dir.file("no such export");
        int result = 0;
        switch (e.call) {
            case Call::Import:
                result = api().import(importer.get(), db.c_str(), source.c_str(), scratch.c_str(), trace.c_str(),
                                      nullptr);
                break;
            case Call::Check:
                result = api().check(importer.get(), db.c_str(), source.c_str(), nullptr, nullptr, nullptr);
                break;
            case Call::ImportMissingSource:
                result = api().import(importer.get(), db.c_str(), missing.c_str(), scratch.c_str(), trace.c_str(),
                                      nullptr);
                break;
            case Call::CheckNullDb:
                result = api().check(importer.get(), nullptr, source.c_str(), nullptr, nullptr, nullptr);
                break;
        }
        EXPECT_EQ(result, e.result);
        EXPECT_EQ(api().error_number(importer.get()), e.error);
        EXPECT_EQ(api().error_kind(importer.get()), e.kind);
        EXPECT_EQ(std::string(api().error_text(importer.get())).empty(), !e.text) << api().error_text(importer.get());
        const std::string report = api().report(importer.get());
        if (*e.report == '\0') {
            EXPECT_EQ(report, "");
        } else {
            ASSERT_FALSE(report.empty());
            const nlohmann::json parsed = nlohmann::json::parse(report);
            EXPECT_EQ(parsed["mode"], e.report);
            EXPECT_EQ(parsed["error"].is_null(), e.error == 0);
            // Every file the report names is there once the call has
            // returned: a check's temporary trace and copies are null.
            if (!parsed["trace"].is_null()) {
                EXPECT_TRUE(fs::exists(parsed["trace"].get<std::string>())) << parsed["trace"];
            }
            EXPECT_EQ(parsed["trace"].is_null(), e.call == Call::Check);
            for (const nlohmann::json& f : parsed["source_files"]) {
                if (!f["copy"].is_null()) {
                    EXPECT_TRUE(fs::exists(f["copy"].get<std::string>())) << f;
                }
                EXPECT_EQ(f["copy"].is_null(), e.call == Call::Check || f["found"] == false) << f;
            }
        }
    }
}

// Paths a host gets wrong reach the component's own check: -1, the error
// naming both roles, the database and the export as they were and nothing
// written to the root.
TEST_F(CapiCalls, PathsThatClashAreRefusedBeforeAnythingIsTouched) {
    if (on_server()) GTEST_SKIP() << "paths of a database file";
    const Importer importer;
    const std::string db_bytes = read_bytes(db), liffn = (source / "liffn.txt").string(),
                      liffn_bytes = read_bytes(liffn), scratch = dir.subdir("scratch").string();
    struct Case {
        std::string scratch, trace;
        int number, kind;
        const char* text;
    };
    for (const Case& c :
         {Case{"", dir.file("t.txt"), 5, ONDVIMP_INVALID_ARGUMENT,
               "Argument ou appel de procédure incorrect : le répertoire "},
          Case{scratch, db, 75, ONDVIMP_PATH_CLASH, "Le fichier de trace est la base de données : "},
          Case{scratch, liffn, 75, ONDVIMP_PATH_CLASH, "Le fichier de trace est le fichier liffn.txt de l'export : "},
          Case{source.string(), dir.file("t.txt"), 75, ONDVIMP_PATH_CLASH,
               "Le répertoire de travail est le répertoire source : "}}) {
        EXPECT_EQ(api().import(importer.get(), db.c_str(), source.c_str(), c.scratch.c_str(), c.trace.c_str(), nullptr),
                  -1);
        EXPECT_EQ(api().error_number(importer.get()), c.number);
        EXPECT_EQ(api().error_kind(importer.get()), c.kind);
        EXPECT_EQ(std::string(api().error_text(importer.get())).rfind(c.text, 0), 0u)
            << api().error_text(importer.get());
        EXPECT_TRUE(read_bytes(db) == db_bytes);
        EXPECT_TRUE(read_bytes(liffn) == liffn_bytes);
        EXPECT_FALSE(fs::exists("/liffn.txt") || fs::exists("/club.txt"));
        EXPECT_EQ(std::distance(fs::directory_iterator(source), fs::directory_iterator()), 4);
    }
}

// Two errors numbered 5 that a host must tell apart: a database another
// workstation holds, which a later try may get, and an argument refused.
TEST_F(CapiCalls, ABusyDatabaseAndARefusedArgumentAreBothError5OfTwoKinds) {
    const Importer importer;
    // Another workstation starts writing as the first step shows, and is
    // done a while after the import has given up waiting for it.
    struct Holder {
        std::string db;
        std::thread thread;
        std::atomic<bool> holding{false};
        static void on_title(void* user, const char*) {
            auto* h = static_cast<Holder*>(user);
            if (h->thread.joinable()) return;
            h->thread = std::thread([h] {
                OtherSession other(h->db);
                other.exec(on_server() ? "BEGIN; SELECT pg_advisory_xact_lock(4207150977)" : "BEGIN IMMEDIATE");
                h->holding = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(platform::kBusyTimeoutMs + 2000));
                other.exec("ROLLBACK");
            });
            while (!h->holding) std::this_thread::yield();
        }
    } holder{db, {}, {}};
    const ondvimp_progress progress{&holder, Holder::on_title, nullptr, nullptr, nullptr};
    const auto [scratch, trace] = next_paths();
    const int busy = api().import(importer.get(), db.c_str(), source.c_str(), scratch.c_str(), trace.c_str(),
                                  &progress);
    const int busy_number = api().error_number(importer.get()), busy_kind = api().error_kind(importer.get());
    holder.thread.join();
    EXPECT_EQ(busy, -1);
    EXPECT_EQ(busy_number, 5);
    EXPECT_EQ(busy_kind, ONDVIMP_BUSY);
    EXPECT_EQ(staged(), 0);

    EXPECT_EQ(api().import(importer.get(), nullptr, source.c_str(), scratch.c_str(), trace.c_str(), nullptr), -1);
    EXPECT_EQ(api().error_number(importer.get()), 5);
    EXPECT_EQ(api().error_kind(importer.get()), ONDVIMP_INVALID_ARGUMENT);
}

const Expected kImported{Call::Import, 1, 0, ONDVIMP_NO_ERROR, false, "import"};
const Expected kChecked{Call::Check, 1, 0, ONDVIMP_NO_ERROR, false, "check"};
const Expected kSourceMissing{Call::ImportMissingSource, -1, 76, ONDVIMP_PATH_NOT_FOUND, true, "import"};
const Expected kNullDb{Call::CheckNullDb, -1, 5, ONDVIMP_INVALID_ARGUMENT, true, ""};

INSTANTIATE_TEST_SUITE_P(Calls, CapiSequence,
                         ::testing::Values(SequenceCase{"FailThenSucceed", {kSourceMissing, kImported}},
                                           SequenceCase{"RefusedThenSucceed", {kNullDb, kChecked}},
                                           SequenceCase{"SucceedThenFail", {kImported, kSourceMissing}},
                                           SequenceCase{"SucceedThenRefused", {kChecked, kNullDb}},
                                           SequenceCase{"ImportThenCheck", {kImported, kChecked}},
                                           SequenceCase{"CheckThenImport", {kChecked, kImported}},
                                           SequenceCase{"FailTwiceThenCheck", {kNullDb, kSourceMissing, kChecked}}),
                         [](const ::testing::TestParamInfo<SequenceCase>& info) { return info.param.name; });

}  // namespace
}  // namespace ondival::test
