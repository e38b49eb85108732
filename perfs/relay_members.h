// Turns the ten member licence numbers of a relay line into licence Nums.
#pragma once

#include <cstdint>
#include <string>

#include "perfs/perf_record.h"

namespace ondival {

// Empty slots and members the relay's own club does not hold get the
// reference licence, with one warning per unknown member.
void resout_relayeurs(std::int16_t trace_file, PerfRecord& record, const std::string& reference_num,
                      const std::string& club, std::int32_t line);

}  // namespace ondival
