// The two fixed-width fields of a club.txt line (43 characters).
#pragma once

#include <cstddef>

#include "common/record_layout.h"

namespace ondival {

enum ClubField : std::size_t {
    kClubCode,      // federal club code
    kClubIntitule,  // the club's label; blank: "Null"
    kClubFields
};

inline constexpr RecordLayout<kClubFields> kClubLayout{{13, 30}};
inline constexpr std::size_t kClubLineLength = kClubLayout.length();
static_assert(kClubLineLength == 43, "a club.txt record is 43 characters");

}  // namespace ondival
