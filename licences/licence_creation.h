// Licence rows and selection memberships.
#pragma once

#include <cstdint>
#include <string>

#include "licences/licence_record.h"
#include "platform/statement.h"

namespace ondival {

// Writes the Licence row of a parsed licence.txt record and gives its Num.
// A selection record is written under the swimmer's real club and licence
// (field 23), which replace fields 1 and 2, and the swimmer joins the
// selection.
bool ajoute_licence(LicenceRecord& tabChamps, std::int16_t trace_file, std::int32_t& clubs_added, std::string& num,
                    std::int32_t line);
bool ajoute_selection(const std::string& selection_code, const std::string& num, std::string& message);

// Whether licence Num is already a member of the selection (one count).
bool dans_selection(const std::string& selection_code, const std::string& num);
// Its read.
platform::Sql requete_dans_selection(const std::string& selection_code, const std::string& num);
// Makes licence Num a member of the selection unless it already is; false,
// with the error text in message, when the membership cannot be written.
bool rejoint_selection(const std::string& selection_code, const std::string& num, std::string& message);

// Num of the placeholder swimmer "Null" that fills empty relay slots.
std::string licence_reference();

// The read that finds a licence of licence.txt in the database, with what
// the import compares and keeps of it.
platform::Sql requete_licence(const std::string& club, const std::string& licence);
// The read of a licence's Num by club and licence number: the read-back of
// a licence just written, and the performance import's look-up of a
// swimmer, read ahead like any other.
platform::Sql requete_num_licence(const std::string& club, const std::string& licence);

}  // namespace ondival
