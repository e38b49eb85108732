// The import's one connection to the host database and the two queries every
// other step reads through. While the import is connected, Info.LastClose is
// false: a host that finds it false at start-up knows an import was cut off.
#pragma once

#include <cstdint>
#include <string>

#include "platform/statement.h"

namespace ondival {

bool bconnexion(const std::string& strFileBase, std::string& strMessage);
bool bdeconnexion(std::string& strMessage);
// Info.LastClose: false while an import is connected, true once it is gone.
void ecrit_lastclose(bool closed);

// First column of the first row as a 32-bit integer (count(*) queries).
std::int32_t requete_valeur(const platform::Sql& statement);

// Fills cst().tabResultat: one list per column, every row's value as text in
// row order; a NULL value becomes the empty text.
void requete_tableau(const platform::Sql& statement);
void vide_tableau();

// The host's database key, carried by the connection string.
inline constexpr const char* kDatabaseKey = "malvoret";

// The connection string the host's provider is opened with, for a database
// file or a server address.
std::string connection_string(const std::string& database);

}  // namespace ondival
