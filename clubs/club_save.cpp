#include "clubs/club_save.h"

#include "clubs/club_code.h"
#include "common/numeric.h"
#include "common/report.h"
#include "common/trace.h"
#include "core/cst.h"
#include "core/database_access.h"
#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {

bool est_selection(const std::string& code) {
    if (code.size() < 4) return code == "0000";
    return code.compare(code.size() - 4, 4, "0000") == 0;
}

namespace {

using platform::Shape;
using platform::Sql;

const Shape kClubByCode{"select Num, Intitule from Club where Code_federal = ?",
                        Shape::grouped_read("Club", {"Num", "Intitule"}, {"Code_federal"})};
const Shape kRelabelClub{"Update Club set Intitule = ? where Num = ?", Shape::update("Club")};
const Shape kInsertClub{"INSERT INTO Club (Code_federal, Intitule, Selection) VALUES (?, ?, false);",
                        Shape::insert("Club", {"Code_federal", "Intitule", "Selection"})};
const Shape kInsertSelectionClub{"INSERT INTO Club (Code_federal, Intitule, Selection) VALUES (?, ?, true);",
                                 Shape::insert("Club", {"Code_federal", "Intitule", "Selection"})};

}  // namespace

Sql requete_club(const std::string& code) { return std::move(Sql(kClubByCode).quoted(code)); }

void lectures_club(const std::string& code, std::vector<Sql>& reads) {
    if (cst().colClubsTraites.Contains(code)) return;
    reads.push_back(requete_club(code));
    lectures_code_club(code, reads);
}

std::int16_t sauve_club(const std::string& code, const std::string& label, std::string& message) {
    try {
        std::string unused;
        if (blit_collection(cst().colClubsTraites, code, unused)) return kClubHandled;
        message.clear();
        requete_tableau(requete_club(code));
        const std::vector<TextList>& tab = cst().tabResultat;
        if (!tab.empty() && tab[0].Count() >= 1) {
            const std::string num = tab[0].Item(1);
            const std::string stored = tab.size() > 1 ? tab[1].Item(1) : std::string();
            if (stored == kLabelNull && label != kLabelNull) {
                // Num comes from the database's own integer key; bare.
                cst().objConnexion->Execute(Sql(kRelabelClub).quoted(label).bare(num));
                return kClubRelabelled;
            }
            if (stored != label) {
                message = "Le code club " + code + " est déjà utilisé pour le club : "_w + stored;
                return kClubOtherLabel;
            }
            return kClubKnown;
        }
        if (!code_club_valide(code)) {
            message = "Le code club est erronné : "_w + code;
            return kClubNotSaved;
        }
        std::string scratch;
        if (!insere_club(code, label, scratch)) {
            message = "Erreur lors de la sauvegarde du club avec le code " + code + ".";
            return kClubNotSaved;
        }
        return kClubCreated;
    } catch (...) {
        message = texte_erreur(platform::current_error());
        return kClubFailure;
    }
}

bool insere_club(const std::string& code, const std::string& label, std::string& message) {
    try {
        cst().objConnexion->Execute(
            Sql(est_selection(code) ? kInsertSelectionClub : kInsertClub).quoted(code).quoted(label));
        report_club_inserted(code, label);
        return true;
    } catch (...) {
        message = texte_erreur(platform::current_error());
        return false;
    }
}

void signale_club_cree(std::int16_t trace_file, std::int32_t line, const std::string& code, std::int32_t& clubs_added) {
    ++clubs_added;
    trace_ligne(trace_file, line,
                "Code club (" + code + ") inconnu de la base. Création avec Le libelle "_w + kLabelNull, "Warning");
    cst().colClubsTraites.Add(code, code);
}

}  // namespace ondival
