// Turns the ten member licence numbers of a relay line into licence Nums.
#pragma once

#include <cstdint>
#include <string>

#include "perfs/perf_record.h"
#include "platform/statement.h"

namespace ondival {

// Empty slots and members the relay's own club does not hold get the
// reference licence, with one warning per unknown member.
// The read that finds a relay member by club and licence.
platform::Sql requete_relayeur(const std::string& club, const std::string& member);

void resout_relayeurs(std::int16_t trace_file, PerfRecord& record, const std::string& reference_num,
                      const std::string& club, std::int32_t line);

}  // namespace ondival
