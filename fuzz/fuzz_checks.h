// What every fuzz target needs besides its own checks: a verdict that stops
// the run with a readable reason, and a strict UTF-8 test for the texts
// that leave the component for the host database.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace ondival::fuzz {

// A broken promise is a finding like a crash: libFuzzer saves the input
// when the process aborts.
[[noreturn]] inline void violation(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "\n*** invariant broken: %s", what);
    if (!detail.empty()) std::fprintf(stderr, ": %.*s", static_cast<int>(detail.size()), detail.data());
    std::fprintf(stderr, "\n");
    std::abort();
}

inline void require(bool holds, const char* what, std::string_view detail = {}) {
    if (!holds) violation(what, detail);
}

// Well-formed UTF-8 as the host reads it: no overlong form, no surrogate,
// nothing past U+10FFFF, no sequence cut short.
inline bool valid_utf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        unsigned lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (i + len > n) return false;
        if (p[i + 1] < lo || p[i + 1] > hi) return false;
        for (std::size_t k = 2; k < len; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
        i += len;
    }
    return true;
}

}  // namespace ondival::fuzz
