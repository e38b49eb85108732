#include "cli/terminal_text.h"

namespace ondival::cli {

std::string visible_controls(std::string_view utf8) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte == '\n' || byte == '\t') {
            out += static_cast<char>(byte);
        } else if (byte < 0x20) {
            out += '^';
            out += static_cast<char>(byte + 0x40);
        } else if (byte == 0x7F) {
            out += "^?";
        } else if (byte == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
            // U+0080 to U+009F: terminals that take 8-bit controls read
            // U+009B as the start of an escape sequence.
            const auto code = static_cast<unsigned char>(utf8[++i]);
            out += '<';
            out += kHex[code >> 4];
            out += kHex[code & 0xF];
            out += '>';
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

void write_all(std::FILE* out, std::string_view text) { std::fwrite(text.data(), 1, text.size(), out); }

}  // namespace ondival::cli
