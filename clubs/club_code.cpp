#include "clubs/club_code.h"

#include "common/numeric.h"
#include "import/database_access.h"

namespace ondival {
namespace {

bool found(const std::string& statement) { return requete_valeur(statement) != 0; }

}  // namespace

bool code_club_valide(const std::string& code) {
    if (code.size() != 13) return false;
    const std::string P = code.substr(0, 3);
    const std::string I = code.substr(3, 1);
    const std::string R = code.substr(4, 2);
    const std::string D = code.substr(6, 3);

    if (!found("select count(*) from Pays where code = '" + double_quotes(P) + "'")) return false;
    // The inter-region goes in bare, as the number it is; a character that
    // is not a digit would end up as SQL text, so it cannot be valid.
    if (I[0] < '0' || I[0] > '9') return false;
    if (!found("select count(*) from Inter_Region where code = " + I)) return false;
    if (P != "FRA") return I == "0";
    if (I == "0") return R == "00" && D == "000";
    if (R == "00") return D == "000";
    if (!found(std::string("SELECT count(*) ") + "FROM Inter_Region Inter_Region, Region Region " +
               "WHERE Inter_Region.Code = Region.CodeInter " + "AND Region.Code = '" + double_quotes(R) + "' " +
               "AND Inter_Region.Code = " + I))
        return false;
    if (D == "000") return true;
    return found(std::string("SELECT count(*) ") + "FROM Region Region, Departement Departement " +
                 "WHERE Region.Code = Departement.Region " + "AND Departement.Code = '" + double_quotes(D) + "' " +
                 "AND region.code = '" + double_quotes(R) + "'");
}

}  // namespace ondival
