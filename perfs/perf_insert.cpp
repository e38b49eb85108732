#include "perfs/perf_insert.h"

#include "common/report.h"
#include "common/trace.h"
#include "core/cst.h"
#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {
namespace {

using platform::Shape;
using platform::Sql;

// Staged with Num_compet -1 until the competition they belong to exists.
// The file's own numeric columns (stroke code, pool, time, relay members)
// are bare values: a text that is not a plain decimal number is refused
// with what was met, and a blank one leaves its place empty, so that the
// statement fails as its text would.
const Shape kInsertPerf{"INSERT INTO Liffn (Code_epreuve, Code_club, Num_Lic, Type_bassin, Date_perf, Tps, Lieu, "
                        "Codif_Fede, Codif_Inter, Codif_Reg, Codif_Depart, Passage_relais, Age, Num_compet) "
                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, -1);",
                        Shape::insert("Liffn", {"Code_epreuve", "Code_club", "Num_Lic", "Type_bassin", "Date_perf",
                                                "Tps", "Lieu", "Codif_Fede", "Codif_Inter", "Codif_Reg", "Codif_Depart",
                                                "Passage_relais", "Age", "Num_compet"})};
const Shape kInsertRelay{
    "INSERT INTO Liffn_relais (Code_epreuve, Code_club, Num_Lic, Type_bassin, Date_perf, Tps, Lieu, "
    "Licence1, Licence2, Licence3, Licence4, Licence5, Licence6, Licence7, Licence8, Licence9, Licence10, "
    "Codif_Fede, Codif_Inter, Codif_Reg, Codif_Depart, Num_compet) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, -1);",
    Shape::insert("Liffn_relais", {"Code_epreuve", "Code_club", "Num_Lic", "Type_bassin", "Date_perf", "Tps", "Lieu",
                                   "Licence1", "Licence2", "Licence3", "Licence4", "Licence5", "Licence6", "Licence7",
                                   "Licence8", "Licence9", "Licence10", "Codif_Fede", "Codif_Inter", "Codif_Reg",
                                   "Codif_Depart", "Num_compet"})};

std::string failure_message(const char* what) {
    return platform::utf8_to_cp1252(what) + kCrLf + "Importation annulée."_w + kCrLf +
           texte_erreur(platform::current_error());
}

}  // namespace

Sql insertion_perf_individuelle(const PerfRecord& r, const std::string& num, const std::string& age) {
    Sql sql(kInsertPerf);
    sql.bare(r[kPerfNage]).quoted(r[kPerfCodeClub]);
    sql.bare(num);
    sql.bare(r[kPerfBassin]).quoted(r[kPerfDate]);
    sql.bare(r[kPerfTemps]).quoted(r[kPerfLieu]);
    for (std::size_t i = kPerfCodifFede; i <= kPerfPassageRelais; ++i) sql.quoted(r[i]);
    sql.bare(age);
    return sql;
}

Sql insertion_perf_relais(const PerfRecord& r) {
    Sql sql(kInsertRelay);
    sql.bare(r[kPerfNage]).quoted(r[kPerfCodeClub]);
    sql.bare(r[kPerfLicence]);
    sql.bare(r[kPerfBassin]).quoted(r[kPerfDate]);
    sql.bare(r[kPerfTemps]).quoted(r[kPerfLieu]);
    for (std::size_t i = kPerfRelayeur1; i <= kPerfRelayeur10; ++i) sql.bare(r[i]);
    for (std::size_t i = kPerfCodifFede; i <= kPerfCodifDepart; ++i) sql.quoted(r[i]);
    return sql;
}

bool ajoute_perf_individuelle(const PerfRecord& r, const std::string& num, const std::string& age,
                              std::string& message) {
    try {
        cst().objConnexion->Execute(insertion_perf_individuelle(r, num, age));
        report_row_inserted(AddedRow::kPerformance);
        return true;
    } catch (...) {
        message = failure_message("Une erreur s'est produite lors de l'ajout de la performance individuelle.");
        return false;
    }
}

bool ajoute_perf_relais(const PerfRecord& r, std::string& message) {
    try {
        cst().objConnexion->Execute(insertion_perf_relais(r));
        report_row_inserted(AddedRow::kPerformance);
        return true;
    } catch (...) {
        message = failure_message("Une erreur s'est produite lors de l'ajout de la performance relais.");
        return false;
    }
}

}  // namespace ondival
