#include "licences/licence_creation.h"

#include "clubs/club_save.h"
#include "common/columns.h"
#include "common/numeric.h"
#include "common/report.h"
#include "common/trace.h"
#include "core/cst.h"
#include "core/database_access.h"
#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {
namespace {

using platform::Shape;
using platform::Sql;

const Shape kInsertSelection{"INSERT INTO Selection (Code_Sel, Num_Lic) VALUES (?, ?);",
                             Shape::insert("Selection", {"Code_Sel", "Num_Lic"})};
const Shape kInSelection{"select count(*) from Selection where Code_Sel = ? and Num_Lic = ?",
                         Shape::read({"Selection"})};
const Shape kInsertLicence{
    "INSERT INTO Licence (Code_club, licence, Nom, Prenom, sexe, Date_Naissance, Nationalite, Adresse, "
    "Suite_adresse, Code_Postal, Localite, Telephone, Sportive, Synchro, Water_Polo, Plongeon, Dirigeant, Maitre, "
    "Date_Depot, Date_obliteration, Type_licence, Nature, Code_unique, Date_suppr) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);",
    Shape::insert("Licence", {"Code_club", "licence", "Nom", "Prenom", "sexe", "Date_Naissance", "Nationalite",
                              "Adresse", "Suite_adresse", "Code_Postal", "Localite", "Telephone", "Sportive",
                              "Synchro", "Water_Polo", "Plongeon", "Dirigeant", "Maitre", "Date_Depot",
                              "Date_obliteration", "Type_licence", "Nature", "Code_unique", "Date_suppr"})};
const Shape kLicence{"select Nom, Prenom, Num, Date_Naissance from Licence where Code_Club = ? and Licence = ?",
                     Shape::grouped_read("Licence", {"Nom", "Prenom", "Num", "Date_Naissance"},
                                         {"Code_Club", "Licence"})};
const Shape kLicenceNum{"select Num from Licence where Code_Club = ? and Licence = ?",
                        Shape::grouped_read("Licence", {"Num"}, {"Code_Club", "Licence"})};
const Shape kLicenceByName{"select Num from Licence where Nom = ?",
                           Shape::grouped_read("Licence", {"Num"}, {"Nom"})};

}  // namespace

bool ajoute_selection(const std::string& selection_code, const std::string& num, std::string& message) {
    try {
        // Num comes from the database's integer key, so it goes in bare;
        // a text that is not one would turn the value into SQL.
        if (!est_nombre_decimal(num)) platform::raise(platform::err::kTypeMismatch, "Type incompatible"_w);
        cst().objConnexion->Execute(Sql(kInsertSelection).quoted(selection_code).bare(num));
        return true;
    } catch (...) {
        message = texte_erreur(platform::current_error());
        return false;
    }
}

Sql requete_dans_selection(const std::string& selection_code, const std::string& num) {
    return std::move(Sql(kInSelection).quoted(selection_code).bare(num));
}

bool dans_selection(const std::string& selection_code, const std::string& num) {
    return requete_valeur(requete_dans_selection(selection_code, num)) != 0;
}

bool rejoint_selection(const std::string& selection_code, const std::string& num, std::string& message) {
    return dans_selection(selection_code, num) || ajoute_selection(selection_code, num, message);
}

bool ajoute_licence(LicenceRecord& tabChamps, std::int16_t trace_file, std::int32_t& clubs_added, std::string& num,
                    std::int32_t line) {
    try {
        const std::string selection = tabChamps[kLicCodeClub];
        bool is_selection = false;
        if (est_selection(selection)) {
            const auto [club, licence] = coupe_origine(tabChamps[kLicOrigine]);
            if (licence.empty())
                trace_erreur(trace_file,
                             "Véritable numéro de licence introuvable, utilisation de celui de la sélection : "_w +
                                 tabChamps[kLicLicence],
                             line);
            else
                tabChamps[kLicLicence] = licence;
            std::string message;
            const std::int16_t status = sauve_club(club, kLabelNull, message);
            if (status == kClubFailure || status == kClubNotSaved) {
                trace(trace_file,
                      "Une erreur s'est produite dans la fonction d'ajout de club." + std::string(kCrLf) + message);
                return false;
            }
            if (status == kClubCreated) {
                trace(trace_file, "Création d'un club avec le code "_w + club + " et libellé "_w + kLabelNull);
                ++clubs_added;
            }
            tabChamps[kLicCodeClub] = club;
            is_selection = true;
        }
        // Every field but the selection origin, in the columns' order.
        Sql insert(kInsertLicence);
        for (std::size_t i = kLicCodeClub; i <= kLicNature; ++i) insert.quoted(tabChamps[i]);
        insert.quoted(tabChamps[kLicCodeUnique]).quoted("");
        cst().objConnexion->Execute(insert);
        report_row_inserted(AddedRow::kLicence);
        num.clear();
        requete_tableau(requete_num_licence(tabChamps[kLicCodeClub], tabChamps[kLicLicence]));
        const std::vector<TextList>& tab = cst().tabResultat;
        if (!tab.empty() && tab[0].Count() >= 1) {
            num = tab[0].Item(1);
            vide_tableau();
        }
        if (num.empty()) {
            trace_erreur(trace_file,
                         "La licence n'a pas été correctement insérée dans la base."_w + kCrLf +
                             "Impossible de l'ajouter à la sélection."_w,
                         line);
            return false;
        }
        if (is_selection) {
            std::string message;
            if (!ajoute_selection(selection, num, message))
                trace_erreur(trace_file, "Problème lors de l'ajout du nageur dans la sélection."_w + kCrLf + message,
                             line);
        }
        return true;
    } catch (...) {
        const platform::Error e = platform::current_error();
        trace_erreur(trace_file, "Une erreur s'est produite lors de l'ajout d'une licence.", line, &e);
        return false;
    }
}

Sql requete_licence(const std::string& club, const std::string& licence) {
    return std::move(Sql(kLicence).quoted(club).quoted(licence));
}

Sql requete_num_licence(const std::string& club, const std::string& licence) {
    return std::move(Sql(kLicenceNum).quoted(club).quoted(licence));
}

std::string licence_reference() {
    try {
        requete_tableau(Sql(kLicenceByName).quoted(kLabelNull));
        const std::vector<TextList>& tab = cst().tabResultat;
        if (!tab.empty() && tab[0].Count() >= 1) {
            std::string num = tab[0].Item(1);
            vide_tableau();
            return num;
        }
    } catch (const platform::Failure&) {
        // No reference licence to be had: the caller reports it.
    }
    return "";
}

}  // namespace ondival
