// Staged performance rows: every row goes in with Num_compet = -1 and is
// attached to the import's competition, or deleted, at the end.
#pragma once

#include <string>

#include "perfs/perf_record.h"
#include "platform/statement.h"

namespace ondival {

// The inserts themselves, for a performance of the swimmer `num` aged
// `age`, and for a relay whose members were resolved to their Num.
platform::Sql insertion_perf_individuelle(const PerfRecord& record, const std::string& num, const std::string& age);
platform::Sql insertion_perf_relais(const PerfRecord& record);

bool ajoute_perf_individuelle(const PerfRecord& record, const std::string& num, const std::string& age,
                              std::string& message);
bool ajoute_perf_relais(const PerfRecord& record, std::string& message);

}  // namespace ondival
