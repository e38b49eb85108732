// The component's one door: the host creates a clsOndival and calls
// bimport_perf once per import of a federation export.
#pragma once

#include <atomic>
#include <string>

#include "common/report.h"
#include "platform/error.h"
#include "platform/progress_form.h"

namespace ondival {

class clsOndival {
public:
    // Before anything is opened, created or emptied, the paths are checked
    // against each other (see check_call_paths): an empty one, or a trace
    // that is the database or a file of the export, is an error that reaches
    // the caller with nothing touched and no trace written.
    //
    // strFileBase_P: the host database file, or the postgresql:// address of
    // a database on a server; strRepSource: the directory of the export
    // (often a removable drive); strRepTempo: scratch directory that
    // receives copies of the export files; strFileTrace_P: the trace
    // file, created or emptied; objFormCible: the host's progress form, may
    // be null. Paths are native (UTF-8 on Linux).
    //
    // Returns true when this call's performances were attached to a new
    // competition, or when liffn.txt held no line and nothing failed; false
    // when the call stopped early (drive not ready, connection failed,
    // liffn.txt missing) or the performances were purged. An error that no
    // step handles is thrown as platform::Failure, after the staged rows are
    // purged, the database marked closed and the trace file closed; its
    // kind (platform::ErrorKind) tells a busy database from a refused
    // argument where their numbers are the same.
    bool bimport_perf(const std::string& strFileBase_P, const std::string& strRepSource, const std::string& strRepTempo,
                      const std::string& strFileTrace_P, platform::ProgressForm* objFormCible);

    // Checks an export against the database: the whole import as
    // bimport_perf runs it (the same trace, the same result, the same
    // errors), after which the database is as it was, since everything it
    // wrote stays inside one transaction that is rolled back, and
    // Info.LastClose is not marked. A check killed half-way leaves the
    // database as it was too. An empty strRepTempo puts the scratch copies
    // in a temporary directory removed afterwards; an empty strFileTrace_P
    // puts the trace there as well. The report is always gathered.
    bool bcontrole_perf(const std::string& strFileBase_P, const std::string& strRepSource,
                        const std::string& strRepTempo, const std::string& strFileTrace_P,
                        platform::ProgressForm* objFormCible);

    // Asks the call under way to stop at its next line (the user pressed
    // Ctrl-C or Cancel). It ends as a call that met an error does: the open
    // step rolled back, no staged performance left, the database marked
    // closed, "Import interrompu." in the trace, and platform::Failure with
    // error 18 thrown to the caller. Safe from any thread and from a signal
    // handler. A request made between two calls stops the next one at its
    // first step; each call forgets the request as it ends.
    void request_stop() noexcept { bStop.store(true, std::memory_order_relaxed); }

    // Gather a report of each later bimport_perf call (off by default:
    // counting the files' lines costs a little).
    void collect_report(bool on) { bRapport = on; }
    // What the last call did, when a report was gathered; empty before.
    const Report& rapport() const { return objRapport; }
    // The error the last call threw: its number, text and kind; none
    // (number 0, kind kNone) when it returned, and before the first call.
    const platform::Error& last_error() const { return objErreur; }

private:
    bool run(const std::string& strFileBase_P, const std::string& strRepSource, const std::string& strRepTempo,
             const std::string& strFileTrace_P, platform::ProgressForm* objFormCible, bool check);

    bool bRapport = false;
    Report objRapport;
    platform::Error objErreur;
    std::atomic<bool> bStop{false};
};

}  // namespace ondival
