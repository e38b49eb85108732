// Checks that a federal club code names a country, inter-region, region and
// department that the host database knows, each inside the level above.
#pragma once

#include <string>
#include <vector>

#include "platform/statement.h"

namespace ondival {

bool code_club_valide(const std::string& code);
// The reads code_club_valide may make for `code`, in its order (those its
// answers could spare included).
void lectures_code_club(const std::string& code, std::vector<platform::Sql>& reads);

}  // namespace ondival
