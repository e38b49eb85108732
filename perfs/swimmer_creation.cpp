#include "perfs/swimmer_creation.h"

#include "clubs/club_save.h"
#include "common/columns.h"
#include "common/dates.h"
#include "common/letters.h"
#include "common/numeric.h"
#include "common/report.h"
#include "common/trace.h"
#include "core/cst.h"
#include "core/database_access.h"
#include "licences/licence_creation.h"
#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {
namespace {

using platform::Shape;
using platform::Sql;

const Shape kStrokeSex{"select Sexe from Nage where Code_Nage = ?", Shape::grouped_read("Nage", {"Sexe"}, {"Code_Nage"})};
const Shape kInsertSwimmer{"INSERT INTO Licence (Code_club, licence, Nom, Prenom, sexe, Date_Naissance, Nationalite, "
                           "Sportive, Date_obliteration, Date_Depot, Type_licence, Nature) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);",
                           Shape::insert("Licence", {"Code_club", "licence", "Nom", "Prenom", "sexe", "Date_Naissance",
                                                     "Nationalite", "Sportive", "Date_obliteration", "Date_Depot",
                                                     "Type_licence", "Nature"})};

std::string first_value(const char* what) {
    const std::vector<TextList>& tab = cst().tabResultat;
    if (tab.empty() || tab[0].Count() == 0) platform::raise(3021, "Aucun enregistrement en cours"_w + " : " + what);
    std::string v = tab[0].Item(1);
    vide_tableau();
    return v;
}

}  // namespace

Sql stroke_sex_query(const std::string& stroke_code) {
    return std::move(Sql(kStrokeSex).bare(sans_blancs(stroke_code)));
}

std::string cree_nageur(std::int16_t trace_file, PerfRecord& record, const std::string& stroke_code,
                        const std::string& club, const std::string& licence, const std::string& birth,
                        std::string& message) {
    try {
        std::string& type = record[kPerfTypeLicence];
        type = upper_1252(type);
        if (type != "R" && type != "T" && type != "N") type = "N";

        // The stroke code reaches SQL bare: it must read as the number the
        // stroke table was checked against.
        if (!est_nombre_decimal(sans_blancs(stroke_code)))
            platform::raise(platform::err::kTypeMismatch, "Type incompatible : code nage \""_w + stroke_code + "\"");
        requete_tableau(stroke_sex_query(stroke_code));
        const std::string sex = first_value("Nage");

        const std::string licence_date = date_aaaammjj(record[kPerfDateLicence]);
        cst().objConnexion->Execute(Sql(kInsertSwimmer)
                                        .quoted(club)
                                        .quoted(licence)
                                        .quoted(record[kPerfNom])
                                        .quoted(record[kPerfPrenom])
                                        .quoted(sex)
                                        .quoted(birth)
                                        .quoted("FRA")
                                        .quoted("O")
                                        .quoted(licence_date)
                                        .quoted(licence_date)
                                        .quoted(type)
                                        .quoted("N"));
        report_swimmer_inserted(ReportSwimmer{club, licence, record[kPerfNom], record[kPerfPrenom], birth});
        trace(trace_file, "Ajout du nageur avec les données suivantes :"_w + kCrLf + "Nom : " + record[kPerfNom] +
                              ", Prénom : "_w + record[kPerfPrenom] + kCrLf + "Licence : " + licence +
                              ", Date naissance : " + birth + kCrLf + "Nationalité : FRA"_w);
        requete_tableau(requete_num_licence(club, licence));
        const std::string num = first_value("Licence");

        if (est_selection(club)) {
            if (!dans_selection(club, num)) {
                std::string why;
                if (!ajoute_selection(club, num, why)) {
                    message = "Erreur lors de l'ajout de la licence dans la sélection de code : "_w + club + "." +
                              kCrLf + why;
                    return "";
                }
            } else {
                trace(trace_file, "Ajout du nageur dans la sélection de code : "_w + club);
            }
        }
        return num;
    } catch (...) {
        message = "Une erreur s'est produite lors de l'ajout de la licence."_w + kCrLf +
                  texte_erreur(platform::current_error());
        return "";
    }
}

}  // namespace ondival
