// The paths a call is given, checked against each other before anything is
// opened, created or emptied. A person who types the database's path where
// the trace goes, or the export's directory where the scratch copies go,
// must get a refusal, not a database replaced by a trace or copies left in
// the federation's export.
#pragma once

#include <string>

namespace ondival {

struct CallPaths {
    std::string database;  // a file, or a server address (not a path: left out)
    std::string source_dir;
    std::string scratch_dir;
    std::string trace;
    std::string report;  // the host's report file; empty when there is none
    // A check may be given no scratch directory and no trace: it makes
    // temporary ones, which clash with nothing.
    bool temporary_allowed = false;
    std::string page{};  // the host's report as an HTML page; empty when there is none
};

// Raises (nothing touched) when a path the call needs is empty, or when two
// roles reach the same file or folder: the trace, the report or its page is
// the database, a file of the export or another of them, the scratch directory is
// the source directory, the database is a file of the export. The error
// names both roles and the path: "Le fichier de trace est la base de
// données : /home/club/club.db".
void check_call_paths(const CallPaths& paths);

}  // namespace ondival
