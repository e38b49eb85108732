// The report of an import as JSON (UTF-8), the form hosts and scripts read:
// its fields are described by doc/report.schema.json.
#pragma once

#include <string>

#include "common/report.h"

namespace ondival {

inline constexpr int kReportFormatVersion = 1;

// One JSON object, indented by two blanks, ending with a line end.
std::string report_to_json(const Report& report);

}  // namespace ondival
