// Brings the Club table in line with the federation's club.txt.
#pragma once

#include <cstdint>

namespace ondival {

void import_clubs(std::int16_t trace_file, std::int16_t club_file, double step);

}  // namespace ondival
