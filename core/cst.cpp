#include "core/cst.h"

namespace ondival {

Cst& cst() {
    thread_local Cst state;
    return state;
}

void vide_listes() {
    Cst& c = cst();
    vide_collection(c.colClubsTraites);
    vide_collection(c.colNumLicences);
    vide_collection(c.colNaissances);
}

}  // namespace ondival
