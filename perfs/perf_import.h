// Stages every performance of liffn.txt, or stops at the first line that
// cannot be imported.
#pragma once

#include <cstdint>

namespace ondival {

// True when every line was staged; false when the import stopped (the
// driver then deletes what was staged).
bool import_performances(std::int16_t trace_file, std::int16_t data_file, double step);

}  // namespace ondival
