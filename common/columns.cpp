#include "common/columns.h"

namespace ondival {

std::string_view colonne(std::string_view line, std::size_t first, std::size_t width) {
    if (first < 1 || first > line.size()) return {};
    return line.substr(first - 1, width);
}

std::string_view sans_blancs(std::string_view text) {
    const std::size_t b = text.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    const std::size_t e = text.find_last_not_of(' ');
    return text.substr(b, e - b + 1);
}

}  // namespace ondival
