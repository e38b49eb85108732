#include "perfs/perf_insert.h"

#include "common/numeric.h"
#include "common/report.h"
#include "common/trace.h"
#include "core/cst.h"
#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {
namespace {

class Values {
public:
    // A number written without quotes. The file's own columns (stroke code,
    // pool, time, relay members) reach SQL this way, so anything that is not
    // a plain decimal number is refused before it can become SQL.
    void bare(const std::string& v) {
        if (!v.empty() && !est_nombre_decimal(v))
            platform::raise(platform::err::kTypeMismatch, "Type incompatible : \""_w + v + "\" n'est pas un nombre");
        sep();
        text_ += v;
    }
    void quoted(const std::string& v) {
        sep();
        text_ += '\'';
        text_ += double_quotes(v);
        text_ += '\'';
    }
    std::string end() { return "VALUES (" + text_ + ", -1);"; }

private:
    void sep() {
        if (!first_) text_ += ", ";
        first_ = false;
    }
    std::string text_;
    bool first_ = true;
};

std::string failure_message(const char* what) {
    return platform::utf8_to_cp1252(what) + kCrLf + "Importation annulée."_w + kCrLf +
           texte_erreur(platform::current_error());
}

}  // namespace

bool ajoute_perf_individuelle(const PerfRecord& r, const std::string& num, const std::string& age,
                              std::string& message) {
    try {
        Values v;
        v.bare(r[kPerfNage]);
        v.quoted(r[kPerfCodeClub]);
        v.bare(num);
        v.bare(r[kPerfBassin]);
        v.quoted(r[kPerfDate]);
        v.bare(r[kPerfTemps]);
        v.quoted(r[kPerfLieu]);
        for (std::size_t i = kPerfCodifFede; i <= kPerfPassageRelais; ++i) v.quoted(r[i]);
        v.bare(age);
        cst().objConnexion->Execute(std::string("INSERT INTO Liffn (Code_epreuve, Code_club, Num_Lic, ") +
                                    "Type_bassin, Date_perf, Tps, Lieu, Codif_Fede, Codif_Inter, Codif_Reg, " +
                                    "Codif_Depart, Passage_relais, Age, Num_compet) " + v.end());
        report_row_inserted(AddedRow::kPerformance);
        return true;
    } catch (...) {
        message = failure_message("Une erreur s'est produite lors de l'ajout de la performance individuelle.");
        return false;
    }
}

bool ajoute_perf_relais(const PerfRecord& r, std::string& message) {
    try {
        Values v;
        v.bare(r[kPerfNage]);
        v.quoted(r[kPerfCodeClub]);
        v.bare(r[kPerfLicence]);
        v.bare(r[kPerfBassin]);
        v.quoted(r[kPerfDate]);
        v.bare(r[kPerfTemps]);
        v.quoted(r[kPerfLieu]);
        for (std::size_t i = kPerfRelayeur1; i <= kPerfRelayeur10; ++i) v.bare(r[i]);
        for (std::size_t i = kPerfCodifFede; i <= kPerfCodifDepart; ++i) v.quoted(r[i]);
        cst().objConnexion->Execute(std::string("INSERT INTO Liffn_relais (Code_epreuve, Code_club, Num_Lic, ") +
                                    "Type_bassin, Date_perf, Tps, Lieu, " +
                                    "Licence1, Licence2, Licence3, Licence4, Licence5, " +
                                    "Licence6, Licence7, Licence8, Licence9, Licence10, " +
                                    "Codif_Fede, Codif_Inter, Codif_Reg, Codif_Depart, Num_compet) " + v.end());
        report_row_inserted(AddedRow::kPerformance);
        return true;
    } catch (...) {
        message = failure_message("Une erreur s'est produite lors de l'ajout de la performance relais.");
        return false;
    }
}

}  // namespace ondival
