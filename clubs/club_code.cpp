#include "clubs/club_code.h"

#include "common/numeric.h"
#include "core/database_access.h"

namespace ondival {
namespace {

using platform::Shape;
using platform::Sql;

bool found(const Sql& statement) { return requete_valeur(statement) != 0; }

const Shape kCountry{"select count(*) from Pays where code = ?", Shape::read({"Pays"})};
const Shape kInterRegion{"select count(*) from Inter_Region where code = ?", Shape::read({"Inter_Region"})};
const Shape kRegion{"SELECT count(*) FROM Inter_Region Inter_Region, Region Region "
                    "WHERE Inter_Region.Code = Region.CodeInter AND Region.Code = ? AND Inter_Region.Code = ?",
                    Shape::read({"Inter_Region", "Region"})};
const Shape kDepartement{"SELECT count(*) FROM Region Region, Departement Departement "
                         "WHERE Region.Code = Departement.Region AND Departement.Code = ? AND region.code = ?",
                         Shape::read({"Region", "Departement"})};

// The parts of a federal code: country, inter-region, region, department.
struct CodeParts {
    std::string P, I, R, D;
};

CodeParts parts_of(const std::string& code) {
    return {code.substr(0, 3), code.substr(3, 1), code.substr(4, 2), code.substr(6, 3)};
}

Sql pays(const CodeParts& c) { return std::move(Sql(kCountry).quoted(c.P)); }

// The inter-region goes in bare, as the number it is: callers check first
// that it is a digit.
Sql inter_region(const CodeParts& c) { return std::move(Sql(kInterRegion).bare(c.I)); }

Sql region(const CodeParts& c) { return std::move(Sql(kRegion).quoted(c.R).bare(c.I)); }

Sql departement(const CodeParts& c) { return std::move(Sql(kDepartement).quoted(c.D).quoted(c.R)); }

bool digit(const std::string& s) { return s[0] >= '0' && s[0] <= '9'; }

}  // namespace

bool code_club_valide(const std::string& code) {
    if (code.size() != 13) return false;
    const CodeParts c = parts_of(code);
    if (!found(pays(c))) return false;
    if (!digit(c.I)) return false;
    if (!found(inter_region(c))) return false;
    if (c.P != "FRA") return c.I == "0";
    if (c.I == "0") return c.R == "00" && c.D == "000";
    if (c.R == "00") return c.D == "000";
    if (!found(region(c))) return false;
    if (c.D == "000") return true;
    return found(departement(c));
}

void lectures_code_club(const std::string& code, std::vector<platform::Sql>& reads) {
    if (code.size() != 13) return;
    const CodeParts c = parts_of(code);
    reads.push_back(pays(c));
    if (!digit(c.I)) return;
    reads.push_back(inter_region(c));
    if (c.P != "FRA" || c.I == "0" || c.R == "00") return;
    reads.push_back(region(c));
    if (c.D != "000") reads.push_back(departement(c));
}

}  // namespace ondival
