// The federation writes accented letters in the DOS code page while the
// import reads its files as Windows-1252. accents_dos puts the fifteen small
// accented letters of French names back in place, one byte for one byte, so
// every fixed-width column stays where the record layout says.
#pragma once

#include <string>
#include <string_view>

#include "common/keyed_list.h"

namespace ondival {

std::string accents_dos(std::string_view text);
void accents_dos_in_place(std::string& text);

// The accented-letter map: item j of colMajuscules replaces item j of
// colAccents when a family name is put in plain capitals.
void charge_accents(TextList& colAccents, TextList& colMajuscules);

// Family-name normalisation of licence records: small letters, the map's
// accented letters to their plain capitals, then capitals.
std::string majuscules_sans_accents(std::string_view name, const TextList& colAccents, const TextList& colMajuscules);

}  // namespace ondival
