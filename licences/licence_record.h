// The 24 fixed-width fields of a licence.txt line (248 characters).
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "common/keyed_list.h"
#include "common/record_layout.h"

namespace ondival {

// The fields of a licence.txt line in their order, named after the Licence
// column each one feeds; an index into tabChamps.
enum LicenceField : std::size_t {
    kLicCodeClub,  // club code; ending in "0000": a selection
    kLicLicence,   // licence number; R or r first: a relay licence
    kLicNom,       // family name
    kLicPrenom,    // first name
    kLicSexe,
    kLicNaissance,  // birth date, ddmmyyyy in the file
    kLicNationalite,
    kLicAdresse,
    kLicSuiteAdresse,
    kLicCodePostal,
    kLicLocalite,
    kLicTelephone,
    kLicSportive,  // six one-character flags
    kLicSynchro,
    kLicWaterPolo,
    kLicPlongeon,
    kLicDirigeant,
    kLicMaitre,
    kLicDateDepot,         // ddmmyyyy
    kLicDateObliteration,  // ddmmyyyy
    kLicTypeLicence,
    kLicNature,
    kLicOrigine,  // a selection record's origin: club code (13) then licence number (6)
    kLicCodeUnique,
    kLicenceFields
};

inline constexpr RecordLayout<kLicenceFields> kLicenceLayout{
    {13, 6, 25, 20, 1, 8, 3, 30, 30, 7, 26, 14, 1, 1, 1, 1, 1, 1, 8, 8, 1, 1, 19, 22}};
inline constexpr std::size_t kLicenceLineLength = kLicenceLayout.length();
static_assert(kLicenceLineLength == 248, "a licence.txt record is 248 characters");

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

// A selection record's origin: the club and licence the swimmer really
// holds, each trimmed; either may be "".
struct OrigineSelection {
    std::string club, licence;
};
// Cuts an origin as it stands from its first character (the record's
// field kLicOrigine): club code, then licence number.
OrigineSelection coupe_origine(std::string_view origin);
// The origin of a licence.txt line, cut straight from its columns.
OrigineSelection origine_de_ligne(std::string_view line);

// Cuts the line (already through accents_dos) into tabChamps: fields
// trimmed, family name in plain capitals, the three dates as yyyymmdd, and
// a birth date whose year disagrees with the licence number replaced by
// 1 January of the licence number's year. Raises when that year is not one.
void decoupe_licence(const std::string& line, const WidthList& colLargeursLicence, const TextList& colAccents,
                     const TextList& colMajuscules, LicenceRecord& tabChamps);

}  // namespace ondival
