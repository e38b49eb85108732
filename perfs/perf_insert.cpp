#include "perfs/perf_insert.h"

#include "common/numeric.h"
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

// A number written without quotes. The file's own columns (stroke code,
// pool, time, relay members) are bare, so anything that is not a plain
// decimal number is refused with the text that was met. A blank column
// leaves its place empty, and the statement fails as its text would.
Sql& bare(Sql& sql, const std::string& v) {
    if (!v.empty() && !est_nombre_decimal(v))
        platform::raise(platform::err::kTypeMismatch, "Type incompatible : \""_w + v + "\" n'est pas un nombre");
    return sql.bare(v);
}

std::string failure_message(const char* what) {
    return platform::utf8_to_cp1252(what) + kCrLf + "Importation annulée."_w + kCrLf +
           texte_erreur(platform::current_error());
}

}  // namespace

Sql insertion_perf_individuelle(const PerfRecord& r, const std::string& num, const std::string& age) {
    Sql sql(kInsertPerf);
    bare(sql, r[kPerfNage]).quoted(r[kPerfCodeClub]);
    bare(sql, num);
    bare(sql, r[kPerfBassin]).quoted(r[kPerfDate]);
    bare(sql, r[kPerfTemps]).quoted(r[kPerfLieu]);
    for (std::size_t i = kPerfCodifFede; i <= kPerfPassageRelais; ++i) sql.quoted(r[i]);
    bare(sql, age);
    return sql;
}

Sql insertion_perf_relais(const PerfRecord& r) {
    Sql sql(kInsertRelay);
    bare(sql, r[kPerfNage]).quoted(r[kPerfCodeClub]);
    bare(sql, r[kPerfLicence]);
    bare(sql, r[kPerfBassin]).quoted(r[kPerfDate]);
    bare(sql, r[kPerfTemps]).quoted(r[kPerfLieu]);
    for (std::size_t i = kPerfRelayeur1; i <= kPerfRelayeur10; ++i) bare(sql, r[i]);
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
