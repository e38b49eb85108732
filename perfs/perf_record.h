// The 27 fixed-width fields of a liffn.txt line (202 characters).
#pragma once

#include <array>
#include <string>

#include "common/keyed_list.h"

namespace ondival {

inline constexpr std::size_t kLiffnFields = 27;
using PerfRecord = std::array<std::string, kLiffnFields>;

void charge_largeurs_liffn(WidthList& colLargeursLiffn);

// Cuts the line (already through accents_dos). False, with the message,
// when the pool length is neither 25 nor 50; the fields after it stay "".
bool decoupe_liffn(const std::string& line, const WidthList& colLargeursLiffn, const TextList& colAccents,
                   const TextList& colMajuscules, PerfRecord& record, std::string& message);

}  // namespace ondival
