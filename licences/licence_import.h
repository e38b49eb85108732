// Brings the federation's licence.txt into the Licence and Selection tables
// and fills the swimmer caches the performance import reads.
#pragma once

#include <cstdint>

namespace ondival {

void import_licences(std::int16_t trace_file, std::int16_t data_file, double step);

}  // namespace ondival
