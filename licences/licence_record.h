// The 24 fixed-width fields of a licence.txt line (248 characters).
#pragma once

#include <array>
#include <string>

#include "common/keyed_list.h"

namespace ondival {

inline constexpr std::size_t kLicenceFields = 24;
using LicenceRecord = std::array<std::string, kLicenceFields>;  // tabChamps

void charge_largeurs_licence(WidthList& colLargeursLicence);

// The birth date kept for a licence: a licence number begins with the last
// two digits of its holder's birth year, so when characters 3 and 4 of the
// birth date (yyyymmdd) say otherwise, the number wins and the date becomes
// 1 January of that year. Two texts are compared, both possibly short or
// empty: a licence cut before its number and a missing date agree, and the
// date stays as it is. Raises a type-mismatch error only on a real
// disagreement whose licence number does not begin with a year.
std::string annee_naissance_licence(const std::string& birth, const std::string& licence);

// Cuts the line (already through accents_dos) into tabChamps: fields
// trimmed, family name in plain capitals, the three dates as yyyymmdd, and
// a birth date whose year disagrees with the licence number replaced by
// 1 January of the licence number's year. Raises when that year is not one.
void decoupe_licence(const std::string& line, const WidthList& colLargeursLicence,
                     const TextList& colAccents, const TextList& colMajuscules, LicenceRecord& tabChamps);

}  // namespace ondival
