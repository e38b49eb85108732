#include "core/database_access.h"

#include <cmath>

#include "common/numeric.h"
#include "common/trace.h"
#include "core/cst.h"
#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {
namespace {

platform::Connection& connection() {
    Cst& c = cst();
    if (!c.objConnexion) c.objConnexion = std::make_unique<platform::Connection>();
    return *c.objConnexion;
}

platform::Recordset& recordset() {
    Cst& c = cst();
    if (!c.objRecordset) c.objRecordset = std::make_unique<platform::Recordset>();
    return *c.objRecordset;
}

}  // namespace

std::string connection_string(const std::string& database) {
    return std::string("Provider=Microsoft.Jet.OLEDB.4.0;") + "Data Source=" + database + ";" +
           "Jet OLEDB:Database Password=" + kDatabaseKey + ";";
}

bool bconnexion(const std::string& strFileBase, std::string& strMessage) {
    try {
        if (!bdeconnexion(strMessage)) return false;
        connection().Open(connection_string(strFileBase));
        ecrit_lastclose(false);
        return true;
    } catch (const platform::Failure& f) {
        strMessage = texte_erreur(f.error());
        return false;
    }
}

bool bdeconnexion(std::string& strMessage) {
    try {
        platform::Connection& conn = connection();
        if (conn.State() > 0) {
            ecrit_lastclose(true);
            conn.Close();
        }
        return true;
    } catch (const platform::Failure& f) {
        strMessage = texte_erreur(f.error());
        return false;
    }
}

namespace {
const platform::Shape kLastCloseTrue{"Update Info Set LastClose = true", platform::Shape::update("Info")};
const platform::Shape kLastCloseFalse{"Update Info Set LastClose = false", platform::Shape::update("Info")};
}  // namespace

void ecrit_lastclose(bool closed) {
    // A check keeps nothing, so it has nothing to mark: and a mark held in
    // its open transaction would keep an import on another workstation
    // from writing its own until the check ends.
    if (connection().DryRun()) return;
    connection().Execute(platform::Sql(closed ? kLastCloseTrue : kLastCloseFalse));
}

std::int32_t requete_valeur(const platform::Sql& statement) {
    platform::Recordset& rs = recordset();
    rs.Open(statement, connection());
    if (rs.Eof() || rs.FieldCount() < 1) {
        rs.Close();
        platform::raise(platform::err::kNoCurrentRecord, "Aucun enregistrement en cours"_w);
    }
    const std::optional<std::string> value = rs.Field(0);
    rs.Close();
    if (!value) platform::raise(platform::err::kInvalidUseOfNull, "Utilisation incorrecte de Null"_w);
    if (!est_nombre_decimal(*value)) platform::raise(platform::err::kTypeMismatch, "Type incompatible"_w);
    const double v = arrondi_pair(std::strtod(value->c_str(), nullptr));
    if (!(v >= -2147483648.0 && v <= 2147483647.0))
        platform::raise(platform::err::kOverflow, "Dépassement de capacité"_w);
    return static_cast<std::int32_t>(v);
}

void requete_tableau(const platform::Sql& statement) {
    platform::Recordset& rs = recordset();
    rs.Open(statement, connection());
    std::vector<TextList>& tab = cst().tabResultat;
    tab.assign(static_cast<std::size_t>(rs.FieldCount()), TextList{});
    try {
        while (!rs.Eof()) {
            for (int i = 0; i < rs.FieldCount(); ++i) {
                std::optional<std::string> v = rs.Field(i);
                tab[static_cast<std::size_t>(i)].Add(v ? std::move(*v) : std::string());
            }
            rs.MoveNext();
        }
    } catch (...) {
        rs.Close();
        throw;
    }
    rs.Close();
}

void vide_tableau() { cst().tabResultat.clear(); }

}  // namespace ondival
