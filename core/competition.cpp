#include "core/competition.h"

#include "common/numeric.h"
#include "common/trace.h"
#include "core/cst.h"
#include "core/database_access.h"
#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {
namespace {

using platform::Shape;
using platform::Sql;

// The reference pool and the competition every import's performances are
// attached to, each read back by its name.
const Shape kPoolByName{"SELECT Num from Piscine WHERE Nom = ?", Shape::grouped_read("Piscine", {"Num"}, {"Nom"})};
const Shape kInsertPool{"INSERT INTO Piscine (Nom) VALUES (?);", Shape::insert("Piscine", {"Nom"})};
const Shape kCompetitionByName{"SELECT AutoNum FROM Rcomp WHERE Nom = ?",
                               Shape::grouped_read("Rcomp", {"AutoNum"}, {"Nom"})};
const Shape kInsertCompetition{
    "INSERT INTO Rcomp (Num, Type, Nom, debut, fin, Deroule, Visible, Num_Piscine) "
    "VALUES (?, ?, ?, ?, ?, true, false, ?);",
    Shape::insert("Rcomp", {"Num", "Type", "Nom", "debut", "fin", "Deroule", "Visible", "Num_Piscine"})};

std::string first_value_of_column0() {
    Cst& c = cst();
    if (!c.tabResultat.empty() && c.tabResultat[0].Count() >= 1) {
        std::string v = c.tabResultat[0].Item(1);
        vide_tableau();
        return v;
    }
    return "";
}

}  // namespace

std::string num_piscine_reference() {
    requete_tableau(Sql(kPoolByName).quoted("Null"));
    return first_value_of_column0();
}

std::string num_competition(const std::string& name) {
    requete_tableau(Sql(kCompetitionByName).quoted(name));
    return first_value_of_column0();
}

std::int16_t cree_reference_compet(std::int16_t trace_file, std::string* created_name) {
    try {
        trace(trace_file, "Création de la référence dans la table des compétitions"_w);
        std::string pool = num_piscine_reference();
        if (pool.empty()) {
            trace(trace_file, "Impossible de trouver la piscine référence. Création de celle ci."_w);
            cst().objConnexion->Execute(Sql(kInsertPool).quoted("Null"));
            // The pool is read back by its name rather than taken from the
            // insert: the host's own databases give no other handle on a new
            // row. A few tries, as the host's database could be slow to show
            // a row written through another path; each is a plain lookup.
            for (int i = 0; i < 5 && pool.empty(); ++i) pool = num_piscine_reference();
            if (pool.empty()) {
                trace(trace_file, "La création de la piscine référence a échoué."_w);
                return -1;
            }
            trace(trace_file, "Création réussie de la piscine de référence."_w);
        }
        const std::string day = platform::Yyyymmdd(platform::Now());
        std::string name = "1er import perf du " + day;
        std::int16_t k = 1;
        while (!num_competition(name).empty()) {
            if (k == 32767) platform::raise(platform::err::kOverflow, "Dépassement de capacité"_w);
            ++k;
            name = std::to_string(k) + "ème import perf du "_w + day;
        }
        cst().objConnexion->Execute(
            Sql(kInsertCompetition).quoted(" ").quoted("C").quoted(name).quoted(day).quoted(day).bare(pool));
        // Read back by its name, with the same few tries as the pool: the
        // name is unique for the day, so the row found is this import's.
        std::string number;
        for (int i = 0; i < 5 && number.empty(); ++i) number = num_competition(name);
        if (number.empty()) {
            trace(trace_file, "La création de la référence dans la table des compétitions a échoué."_w + kCrLf);
            return -1;
        }
        trace(trace_file, "Création réussie de la référence dans la table des compétitions."_w + kCrLf);
        const std::int16_t result = entier_16(numeric_value(number));
        // -1 is the driver's failure mark; a competition that really carried
        // it would have its rows taken for staged ones.
        if (result == -1) platform::raise(platform::err::kOverflow, "Dépassement de capacité"_w);
        if (created_name) *created_name = name;
        return result;
    } catch (...) {
        const platform::Error e = platform::current_error();
        trace(trace_file, "Une erreur s'est produite lors de la création de la référence de cette import "_w +
                              "dans la table des compétitions."_w + kCrLf + texte_erreur(e));
        return -1;
    }
}

}  // namespace ondival
