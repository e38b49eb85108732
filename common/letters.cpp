#include "common/letters.h"

#include <array>

namespace ondival {
namespace {

struct CaseTables {
    std::array<unsigned char, 256> lower{}, upper{};
    CaseTables() {
        for (int i = 0; i < 256; ++i) lower[i] = upper[i] = static_cast<unsigned char>(i);
        auto pair = [this](int up, int low) {
            lower[up] = static_cast<unsigned char>(low);
            upper[low] = static_cast<unsigned char>(up);
        };
        for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
        for (int c = 0xC0; c <= 0xDE; ++c)
            if (c != 0xD7) pair(c, c + 32);  // × has no small form
        pair(0x8A, 0x9A);                    // Š š
        pair(0x8C, 0x9C);                    // Œ œ
        pair(0x8E, 0x9E);                    // Ž ž
        pair(0x9F, 0xFF);                    // Ÿ ÿ
    }
};

const CaseTables& tables() {
    static const CaseTables t;
    return t;
}

}  // namespace

char to_lower_1252(char c) { return static_cast<char>(tables().lower[static_cast<unsigned char>(c)]); }

char to_upper_1252(char c) { return static_cast<char>(tables().upper[static_cast<unsigned char>(c)]); }

std::string lower_1252(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = to_lower_1252(c);
    return out;
}

std::string upper_1252(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = to_upper_1252(c);
    return out;
}

}  // namespace ondival
