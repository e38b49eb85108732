// The C interface of libondvimp.so over clsOndival: the host's progress
// table stands in for the progress form, and every error the component
// raises is caught at this edge and kept in the importer as a number, a
// UTF-8 text and a kind, since a C host has no way to receive a C++
// exception.
#include "ondvimp.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "import/cls_ondival.h"
#include "import/report_html.h"
#include "import/report_json.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "platform/progress_form.h"

#ifndef ONDIVAL_VERSION
#error "ONDIVAL_VERSION must be defined for the ondvimp target (target_compile_definitions in CMakeLists.txt)"
#endif

struct ondvimp_importer {
    int error_number = 0;
    int error_kind = ONDVIMP_NO_ERROR;
    std::string error_text;  // UTF-8
    std::string report;      // JSON, UTF-8
    // The report as a page, made at the first request after a call: most
    // hosts never ask for it, and a season's export makes a page of some
    // megabytes. Hosts may read an importer from several threads between
    // calls, hence the lock.
    mutable std::mutex page_lock;
    mutable std::string page;
    mutable bool page_made = false;

    // Claimed by the one call running on this importer. A second caller (a
    // thread sharing the importer, a progress callback calling back) is
    // turned away without touching the error and the report above, which
    // belong to the call under way.
    std::atomic<bool> busy{false};
    // The component of the call under way, null between calls, for
    // ondvimp_cancel; `cancelling` counts the cancels that may still be using
    // it, so that the call does not end (and its component go) under them.
    std::atomic<ondival::clsOndival*> running{nullptr};
    std::atomic<int> cancelling{0};
};

// A signal handler may call ondvimp_cancel: what it touches must not take a
// lock.
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
              std::atomic<ondival::clsOndival*>::is_always_lock_free);

namespace {

using ondival::platform::Error;
using ondival::platform::ErrorKind;

// The one place the component's kinds become the header's values.
ondvimp_error_kind c_kind(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::kNone:
            return ONDVIMP_NO_ERROR;
        case ErrorKind::kInvalidArgument:
            return ONDVIMP_INVALID_ARGUMENT;
        case ErrorKind::kBusy:
            return ONDVIMP_BUSY;
        case ErrorKind::kWrongPassword:
            return ONDVIMP_WRONG_PASSWORD;
        case ErrorKind::kNoServer:
            return ONDVIMP_NO_SERVER;
        case ErrorKind::kServerGone:
            return ONDVIMP_SERVER_GONE;
        case ErrorKind::kNoDatabase:
            return ONDVIMP_NO_DATABASE;
        case ErrorKind::kDiskFull:
            return ONDVIMP_DISK_FULL;
        case ErrorKind::kFileNotFound:
            return ONDVIMP_FILE_NOT_FOUND;
        case ErrorKind::kPathNotFound:
            return ONDVIMP_PATH_NOT_FOUND;
        case ErrorKind::kPermission:
            return ONDVIMP_PERMISSION;
        case ErrorKind::kPathClash:
            return ONDVIMP_PATH_CLASH;
        case ErrorKind::kBadData:
            return ONDVIMP_BAD_DATA;
        case ErrorKind::kIoError:
            return ONDVIMP_IO_ERROR;
        case ErrorKind::kDatabase:
            return ONDVIMP_DATABASE;
        case ErrorKind::kOutOfMemory:
            return ONDVIMP_OUT_OF_MEMORY;
        case ErrorKind::kInterrupted:
            return ONDVIMP_INTERRUPTED;
        case ErrorKind::kInternal:
            return ONDVIMP_INTERNAL;
    }
    return ONDVIMP_INTERNAL;
}

class CallbackForm final : public ondival::platform::ProgressForm {
public:
    explicit CallbackForm(const ondvimp_progress& table) : table_(table) {}

    void SetStepTitle(const std::string& title_utf8) override {
        if (table_.step_title) table_.step_title(table_.user, title_utf8.c_str());
    }
    // The host's bar may say anything (a widget not yet drawn gives NaN, a
    // slider of another scale gives 250); the import moves it on from what
    // it reads, so what it reads is brought back within the bar first: the
    // host is promised values from 0 to 100.
    double Value() const override { return table_.get_value ? within_bar(table_.get_value(table_.user)) : value_; }
    void SetValue(double value) override {
        value_ = within_bar(value);
        if (table_.set_value) table_.set_value(table_.user, value_);
    }
    void Refresh() override {
        if (table_.repaint) table_.repaint(table_.user);
    }

private:
    // Clamped to 0..100; a value that is no number at all stands for the
    // last one set.
    double within_bar(double value) const { return std::isfinite(value) ? std::clamp(value, 0.0, 100.0) : value_; }

    const ondvimp_progress table_;  // copied, so the host's table need only be valid as the call starts
    double value_ = 0;              // the bar as last set, for hosts without get_value
};

// The component's shared state is per thread and one import at a time: a
// progress callback that started another import on the same thread would
// overwrite the connection and the swimmer caches of the one under way.
thread_local bool t_import_running = false;

class RunningImport {
public:
    RunningImport() { t_import_running = true; }
    ~RunningImport() { t_import_running = false; }
    RunningImport(const RunningImport&) = delete;
    RunningImport& operator=(const RunningImport&) = delete;
};

// The importer claimed for one call, and given back when it ends.
class ClaimedImporter {
public:
    explicit ClaimedImporter(ondvimp_importer& importer)
        : importer_(importer), claimed_(!importer.busy.exchange(true, std::memory_order_acquire)) {}
    ~ClaimedImporter() {
        if (claimed_) importer_.busy.store(false, std::memory_order_release);
    }
    ClaimedImporter(const ClaimedImporter&) = delete;
    ClaimedImporter& operator=(const ClaimedImporter&) = delete;
    bool claimed() const { return claimed_; }

private:
    ondvimp_importer& importer_;
    const bool claimed_;
};

// Makes the call's component reachable by ondvimp_cancel for the length of
// the call. As it ends it waits for the cancels that found the component
// (a few instructions each, on other threads: one made by a signal handler
// on this thread has ended before this code runs again), so none of them
// outlives the component.
class CancellableCall {
public:
    CancellableCall(ondvimp_importer& importer, ondival::clsOndival& component) : importer_(importer) {
        importer_.running.store(&component);
    }
    ~CancellableCall() {
        importer_.running.store(nullptr);
        while (importer_.cancelling.load() != 0) std::this_thread::yield();
    }
    CancellableCall(const CancellableCall&) = delete;
    CancellableCall& operator=(const CancellableCall&) = delete;

private:
    ondvimp_importer& importer_;
};

void record(ondvimp_importer& importer, const Error& error) noexcept {
    importer.error_number = error.number;
    // An error has a kind, whatever built it.
    importer.error_kind = error.number == 0                ? ONDVIMP_NO_ERROR
                          : error.kind == ErrorKind::kNone ? ONDVIMP_INTERNAL
                                                           : c_kind(error.kind);
    try {
        importer.error_text = ondival::platform::cp1252_to_utf8(error.description);
    } catch (...) {
        // Out of memory while keeping the text: the number still tells.
        importer.error_text.clear();
    }
}

// The first of the import's arguments that is NULL, or nullptr.
const char* null_argument(const char* db, const char* source_dir, const char* scratch_dir, const char* trace_path) {
    if (!db) return "db";
    if (!source_dir) return "source_dir";
    if (!scratch_dir) return "scratch_dir";
    if (!trace_path) return "trace_path";
    return nullptr;
}

}  // namespace

extern "C" {

const char* ondvimp_version(void) { return ONDIVAL_VERSION; }

int ondvimp_abi_version(void) { return ONDVIMP_ABI_VERSION; }

ondvimp_importer* ondvimp_create(void) { return new (std::nothrow) ondvimp_importer(); }

void ondvimp_release(ondvimp_importer* importer) { delete importer; }

}  // extern "C"

namespace {

// One call of ondvimp_import or ondvimp_check: its arguments checked, the
// call made, its report kept as JSON and every error kept as a number and a
// text.
int run_call(ondvimp_importer* importer, const char* db, const char* source_dir, const char* scratch_dir,
             const char* trace_path, const ondvimp_progress* progress, bool check) {
    if (!importer) return -1;
    // Each call has a component of its own, so a cancel that reaches one as
    // it ends can never stop the next.
    ondival::clsOndival component;
    const ClaimedImporter claim(*importer);
    if (!claim.claimed()) return -1;
    const CancellableCall cancellable(*importer, component);
    importer->error_number = 0;
    importer->error_kind = ONDVIMP_NO_ERROR;
    importer->error_text.clear();
    importer->report.clear();
    {
        const std::lock_guard<std::mutex> lock(importer->page_lock);
        importer->page.clear();
        importer->page_made = false;
    }
    component.collect_report(true);
    bool started = false;
    int result = -1;
    try {
        using ondival::operator""_w;
        // A check may do without a scratch directory and a trace.
        if (const char* missing = check ? null_argument(db, source_dir, "", "")
                                        : null_argument(db, source_dir, scratch_dir, trace_path)) {
            record(*importer, Error{ondival::platform::err::kInvalidCall,
                                    "Argument ou appel de procédure incorrect : "_w + missing + " est NULL",
                                    ErrorKind::kInvalidArgument});
            return -1;
        }
        if (t_import_running) {
            record(*importer, Error{ondival::platform::err::kInvalidCall,
                                    "Un import est déjà en cours sur ce thread."_w, ErrorKind::kInvalidArgument});
            return -1;
        }
        const RunningImport running;
        std::optional<CallbackForm> form;
        if (progress) form.emplace(*progress);
        started = true;
        const bool ok = check
                            ? component.bcontrole_perf(db, source_dir, scratch_dir ? scratch_dir : "",
                                                       trace_path ? trace_path : "", form ? &*form : nullptr)
                            : component.bimport_perf(db, source_dir, scratch_dir, trace_path, form ? &*form : nullptr);
        result = ok ? 1 : 0;
        // Whatever a callback met on the way (a nested call refused), a
        // call that returns 1 or 0 leaves no error behind.
        importer->error_number = 0;
        importer->error_kind = ONDVIMP_NO_ERROR;
        importer->error_text.clear();
    } catch (...) {
        record(*importer, ondival::platform::current_error());
        result = -1;
    }
    if (started) {
        try {
            importer->report = ondival::report_to_json(component.rapport());
        } catch (...) {
            // Out of memory while writing the report: the result still tells.
            importer->report.clear();
        }
    }
    return result;
}

}  // namespace

extern "C" {

int ondvimp_import(ondvimp_importer* importer, const char* db, const char* source_dir, const char* scratch_dir,
                   const char* trace_path, const ondvimp_progress* progress) {
    return run_call(importer, db, source_dir, scratch_dir, trace_path, progress, false);
}

int ondvimp_check(ondvimp_importer* importer, const char* db, const char* source_dir, const char* scratch_dir,
                  const char* trace_path, const ondvimp_progress* progress) {
    return run_call(importer, db, source_dir, scratch_dir, trace_path, progress, true);
}

int ondvimp_cancel(ondvimp_importer* importer) {
    if (!importer) return 0;
    importer->cancelling.fetch_add(1);
    ondival::clsOndival* component = importer->running.load();
    if (component) component->request_stop();
    importer->cancelling.fetch_sub(1);
    return component ? 1 : 0;
}

const char* ondvimp_last_report(const ondvimp_importer* importer) { return importer ? importer->report.c_str() : ""; }

const char* ondvimp_last_report_html(const ondvimp_importer* importer) {
    if (!importer || importer->report.empty()) return "";
    const std::lock_guard<std::mutex> lock(importer->page_lock);
    if (!importer->page_made) {
        try {
            importer->page = ondival::report_html_from_json(importer->report);
        } catch (...) {
            // Out of memory while drawing the page: the JSON still tells.
            importer->page.clear();
        }
        importer->page_made = true;
    }
    return importer->page.c_str();
}

int ondvimp_last_error_number(const ondvimp_importer* importer) { return importer ? importer->error_number : 0; }

int ondvimp_last_error_kind(const ondvimp_importer* importer) {
    return importer ? importer->error_kind : ONDVIMP_NO_ERROR;
}

const char* ondvimp_last_error_text(const ondvimp_importer* importer) {
    return importer ? importer->error_text.c_str() : "";
}

}  // extern "C"
