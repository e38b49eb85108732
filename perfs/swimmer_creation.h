// A swimmer that a performance line names but the database lacks becomes a
// reduced licence, built from what the line carries.
#pragma once

#include <cstdint>
#include <string>

#include "perfs/perf_record.h"
#include "platform/statement.h"

namespace ondival {

// The read of a stroke's sex, for a swimmer created from its performance.
platform::Sql stroke_sex_query(const std::string& stroke_code);

// Returns the new licence's Num, or "" with the message set.
std::string cree_nageur(std::int16_t trace_file, PerfRecord& record, const std::string& stroke_code,
                        const std::string& club, const std::string& licence, const std::string& birth,
                        std::string& message);

}  // namespace ondival
