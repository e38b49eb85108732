// The 27 fixed-width fields of a liffn.txt line (202 characters).
#pragma once

#include <array>
#include <string>

#include "common/keyed_list.h"
#include "common/record_layout.h"

namespace ondival {

// The fields of a liffn.txt line in their order; an index into the parsed
// record.
enum PerfField : std::size_t {
    kPerfNage,  // stroke code (Code_Nage of table Nage)
    kPerfCodeClub,
    kPerfLicence,  // the swimmer's licence number; R first: a relay line and its number
    kPerfBassin,   // pool length, 25 or 50
    kPerfDate,     // ddmmyyyy in the file, yyyymmdd once parsed
    kPerfTemps,
    kPerfNom,
    kPerfPrenom,
    kPerfLieu,
    kPerfLibre,        // not used by the import
    kPerfDateLicence,  // ddmmyyyy
    kPerfTypeLicence,
    kPerfRelayeur1,  // ten relay members' licence numbers follow
    kPerfRelayeur10 = kPerfRelayeur1 + 9,
    kPerfCodifFede,
    kPerfCodifInter,
    kPerfCodifReg,
    kPerfCodifDepart,
    kPerfPassageRelais,  // "R": an individual time swum as a relay leg
    kLiffnFields
};

inline constexpr RecordLayout<kLiffnFields> kPerfLayout{
    {2, 13, 6, 2, 8, 7, 25, 15, 20, 30, 8, 1, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 1, 1, 1, 1, 1}};
inline constexpr std::size_t kLiffnLineLength = kPerfLayout.length();
static_assert(kLiffnLineLength == 202, "a liffn.txt record is 202 characters");

using PerfRecord = std::array<std::string, kLiffnFields>;

void charge_largeurs_liffn(WidthList& colLargeursLiffn);

// Cuts the line (already through accents_dos). False, with the message,
// when the pool length is neither 25 nor 50; the fields after it stay "".
bool decoupe_liffn(const std::string& line, const WidthList& colLargeursLiffn, const TextList& colAccents,
                   const TextList& colMajuscules, PerfRecord& record, std::string& message);

}  // namespace ondival
