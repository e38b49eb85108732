// The report of an import as one HTML page in French, for the club
// secretary or the committee member who ran it: whether it worked, what was
// refused and why (lines grouped by kind of message, with the export's own
// text), which clubs and swimmers were created, and where to look in the
// export. One self-contained file: inline styles, no network, readable
// printed and without script; everything that comes from the export or the
// file system is shown as text, never as markup.
//
// The page is drawn from the JSON report (report_to_json), for a call just
// made as for a report kept earlier, so that the page and the JSON never
// say two different things.
#pragma once

#include <string>
#include <string_view>

#include "common/report.h"

namespace ondival {

// The page of the report just gathered.
std::string report_to_html(const Report& report);

// The page of a report kept as JSON. A report of an earlier build (without
// the created lists or the lines' texts) gives a page without them. Raises
// platform::err::kInvalidCall when the text is not an ondival report.
std::string report_html_from_json(std::string_view report_json);

}  // namespace ondival
