#include "perfs/relay_members.h"

#include "common/numeric.h"
#include "common/trace.h"
#include "core/cst.h"
#include "core/database_access.h"

namespace ondival {

namespace {
const platform::Shape kRelayMember{"select Num, Date_Naissance from Licence where Code_Club = ? and Licence = ?",
                                   platform::Shape::grouped_read("Licence", {"Num", "Date_Naissance"},
                                                                 {"Code_Club", "Licence"})};
}  // namespace

platform::Sql requete_relayeur(const std::string& club, const std::string& member) {
    return std::move(platform::Sql(kRelayMember).quoted(club).quoted(member));
}

void resout_relayeurs(std::int16_t trace_file, PerfRecord& record, const std::string& reference_num,
                      const std::string& club, std::int32_t line) {
    Cst& c = cst();
    std::string cached;
    for (std::size_t slot = kPerfRelayeur1; slot <= kPerfRelayeur10; ++slot) {
        std::string& member = record[slot];
        if (member.empty()) {
            member = reference_num;
            continue;
        }
        const std::string key = club + member;
        if (blit_collection(c.colNumLicences, key, cached)) {
            member = cached;
            continue;
        }
        requete_tableau(requete_relayeur(club, member));
        if (c.tabResultat.empty() || c.tabResultat[0].Count() == 0) {
            trace_ligne(trace_file, line,
                        "Le relayeur de licence " + member + " est introuvable dans le club de code " + club + ".",
                        "Warning");
            member = reference_num;
            continue;
        }
        const std::string num = c.tabResultat[0].Item(1);
        const std::string birth = c.tabResultat.size() > 1 ? c.tabResultat[1].Item(1) : std::string();
        c.colNumLicences.Add(num, key);
        c.colNaissances.Add(birth, key);
        vide_tableau();
        member = num;
    }
}

}  // namespace ondival
