// The component's one door: the host creates a clsOndival and calls
// bimport_perf once per import of a federation export.
#pragma once

#include <string>

#include "platform/progress_form.h"

namespace ondival {

class clsOndival {
public:
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
    // purged, the database marked closed and the trace file closed.
    bool bimport_perf(const std::string& strFileBase_P, const std::string& strRepSource,
                      const std::string& strRepTempo, const std::string& strFileTrace_P,
                      platform::ProgressForm* objFormCible);
};

}  // namespace ondival
