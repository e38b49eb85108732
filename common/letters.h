// Letter case and accents of Windows-1252 text: the federation's family
// names are stored in capitals without accents, and list keys ignore case.
#pragma once

#include <string>
#include <string_view>

namespace ondival {

char to_lower_1252(char c);
char to_upper_1252(char c);
std::string lower_1252(std::string_view text);
std::string upper_1252(std::string_view text);

}  // namespace ondival
