// Windows-1252 is the component's inner text: one byte a character, so the
// federation's fixed-width columns are cut by position. The database, the
// file names of Linux and the host's screen speak UTF-8; these conversions
// are used only where text crosses one of those edges.
#pragma once

#include <string>
#include <string_view>

namespace ondival::platform {

// The five bytes Windows-1252 leaves undefined (81, 8D, 8F, 90, 9D) map to the
// C1 control characters of the same value, so every byte survives a round
// trip through the database.
std::string cp1252_to_utf8(std::string_view text);
// The same into `out`, which keeps its room from one call to the next.
void cp1252_to_utf8(std::string_view text, std::string& out);

// Characters Windows-1252 cannot hold, and malformed UTF-8, become '?'.
std::string utf8_to_cp1252(std::string_view text);

// True when the text is plain ASCII, which needs no conversion either way.
bool is_ascii(std::string_view text);

}  // namespace ondival::platform

namespace ondival {

// Messages are written in the sources in UTF-8 and used as Windows-1252:
// "Début de l'import : "_w.
inline std::string operator""_w(const char* text, std::size_t size) {
    return platform::utf8_to_cp1252(std::string_view(text, size));
}

}  // namespace ondival
