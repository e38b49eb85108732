// The shared state of one import: the connection and its one recordset, the
// paths of the source files and of the trace, the host's progress form, the
// stroke-code table, the last query's result table and the three lists that
// live for one call (clubs already handled, and the swimmer caches filled by
// the licence import and read by the performance import).
//
// One set per calling thread: a host may run imports on several threads,
// each its own.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/keyed_list.h"
#include "common/progress.h"
#include "platform/database.h"
#include "platform/progress_form.h"

namespace ondival {

// What an import's calls change as they go, outside the database and the
// files: the last query's table and the caches of clubs and swimmers. A
// file import run again (see speculative_transaction) must find all of it
// as it stood before the first run; kept in one value, it is taken and put
// back whole, so that nothing added here can be forgotten there.
struct CallState {
    // One list per column of the last requete_tableau, values as text.
    std::vector<TextList> tabResultat;

    TextList colClubsTraites;  // club codes settled in this import
    TextList colNumLicences;   // licence Num, keyed by club code + licence number
    TextList colNaissances;    // birth date yyyymmdd, same key
};

struct Cst {
    std::unique_ptr<platform::Connection> objConnexion;
    std::unique_ptr<platform::Recordset> objRecordset;

    std::string strFileBase;
    std::string strFileLicence;
    std::string strFileClub;
    std::string strFileOrigine;
    std::string strFileLiffn;
    std::string strFileTrace;

    // Index = stroke code; -1 when table Nage holds it.
    std::array<std::int16_t, 100> tabNages{};

    platform::ProgressForm*& objForm = formulaire_progression();  // the progress display's own

    CallState call_state;
    // Its parts, under the names the import's code gives them.
    std::vector<TextList>& tabResultat = call_state.tabResultat;
    TextList& colClubsTraites = call_state.colClubsTraites;
    TextList& colNumLicences = call_state.colNumLicences;
    TextList& colNaissances = call_state.colNaissances;
};

Cst& cst();

// Empties the three lists of one call.
void vide_listes();

// The trace and the data file always go by these numbers.
inline constexpr std::int16_t kTraceFile = 1;
inline constexpr std::int16_t kDataFile = 2;

}  // namespace ondival
