// Staged performance rows: every row goes in with Num_compet = -1 and is
// attached to the import's competition, or deleted, at the end.
#pragma once

#include <string>

#include "perfs/perf_record.h"

namespace ondival {

bool ajoute_perf_individuelle(const PerfRecord& record, const std::string& num, const std::string& age,
                              std::string& message);
bool ajoute_perf_relais(const PerfRecord& record, std::string& message);

}  // namespace ondival
