#include "core/stroke_codes.h"

#include "common/numeric.h"
#include "core/cst.h"
#include "core/database_access.h"
#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {

namespace {
const platform::Shape kStrokeCodes{"select Code_Nage from Nage", platform::Shape::read({"Nage"}, "Code_Nage")};
}  // namespace

void charge_nages() {
    requete_tableau(platform::Sql(kStrokeCodes));
    Cst& c = cst();
    const TextList empty;
    const TextList& codes = c.tabResultat.empty() ? empty : c.tabResultat[0];
    for (std::size_t i = 1; i <= codes.Count(); ++i) {
        const std::int16_t code = entier_16(numeric_value(codes.Item(i)));
        // The table holds the two-character codes of a liffn.txt line; a
        // host event outside 0-99 could never be named by one.
        if (code < 0 || code > 99)
            platform::raise(platform::err::kSubscript,
                            "Code de nage hors de la plage 0 à 99 dans la table Nage : "_w + codes.Item(i));
        c.tabNages[static_cast<std::size_t>(code)] = -1;
    }
    vide_tableau();
}

}  // namespace ondival
