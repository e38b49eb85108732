// Checks that a federal club code names a country, inter-region, region and
// department that the host database knows, each inside the level above.
#pragma once

#include <string>

namespace ondival {

bool code_club_valide(const std::string& code);

}  // namespace ondival
