#include "core/speculation.h"

#include <optional>

#include "common/progress.h"
#include "common/report.h"
#include "core/cst.h"
#include "platform/database.h"
#include "platform/error.h"
#include "platform/text_file.h"

namespace ondival {
namespace {

// Everything an import changes outside the database while it runs a file,
// as it stood before the file's transaction: the call's own state whole,
// and where the trace, the statement count, the report and the progress bar
// stood.
struct ImportPoint {
    CallState call_state;
    std::uint64_t trace = 0;
    long statements = 0;
    std::optional<Report> report;
    std::optional<double> progress;
};

ImportPoint resume_point() {
    ImportPoint p{cst().call_state, platform::files().Tell(kTraceFile), platform::statements_run(), std::nullopt,
                  std::nullopt};
    if (const Report* r = current_report()) p.report = *r;
    if (const platform::ProgressForm* form = formulaire_progression()) p.progress = form->Value();
    return p;
}

void resume_at(ImportPoint p) {
    cst().call_state = std::move(p.call_state);
    platform::files().Rewind(kTraceFile, p.trace);
    platform::restore_statements_run(p.statements);
    if (Report* r = current_report(); r && p.report) *r = std::move(*p.report);
    if (platform::ProgressForm* form = formulaire_progression(); form && p.progress) form->SetValue(*p.progress);
}

}  // namespace

void speculative_transaction(const std::function<void()>& transaction) {
    platform::Connection& db = *cst().objConnexion;
    // A transaction that cannot be run again needs no point to go back to.
    if (!db.MaySpeculate()) return transaction();
    ImportPoint start = resume_point();
    db.SpeculateNextTransaction();
    try {
        transaction();
    } catch (const TransactionRunAgain&) {
        // The read-ahead ended the run: the answers went wrong, and the
        // transaction is run again below.
    } catch (...) {
        // An error that stops the transaction is the host's only if the
        // answers it was reached on were right.
        db.SpeculateNextTransaction(false);
        db.SettleSpeculation();
        if (!db.SpeculationFailed()) throw;
        // A host that asked the import to stop wants it stopped, not run
        // again line by line until it meets the request once more.
        if (platform::current_error().number == platform::err::kUserInterrupt) {
            db.AbandonSpeculation();
            throw;
        }
    }
    db.SpeculateNextTransaction(false);
    db.SettleSpeculation();
    if (!db.SpeculationFailed()) return;
    db.AbandonSpeculation();
    resume_at(std::move(start));
    transaction();
}

}  // namespace ondival
