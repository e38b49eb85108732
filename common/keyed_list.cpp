#include "common/keyed_list.h"

#include <array>
#include <cstdint>

#include "common/letters.h"

namespace ondival {
namespace {

// The folding table, read once from the letters' own (on first use, so a
// list filled while the program starts finds it ready).
const std::array<unsigned char, 256>& fold_table() {
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        for (int c = 0; c < 256; ++c)
            t[static_cast<std::size_t>(c)] = static_cast<unsigned char>(to_lower_1252(static_cast<char>(c)));
        return t;
    }();
    return table;
}

}  // namespace

std::uint64_t FoldedKeyHash::operator()(std::string_view key) const noexcept {
    const std::array<unsigned char, 256>& fold = fold_table();
    std::uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (char c : key) h = (h ^ fold[static_cast<unsigned char>(c)]) * 1099511628211ull;
    // FNV leaves its low bits poorly mixed (each depends only on the
    // characters' low bits): a final mix spreads every bit over the whole
    // hash, whichever part of it a table picks from.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return h;
}

bool FoldedKeyEqual::operator()(std::string_view a, std::string_view b) const noexcept {
    if (a.size() != b.size()) return false;
    const std::array<unsigned char, 256>& fold = fold_table();
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold[static_cast<unsigned char>(a[i])] != fold[static_cast<unsigned char>(b[i])]) return false;
    return true;
}

bool blit_collection(const TextList& list, std::string_view key, std::string& value) {
    value.clear();
    const std::string* found = list.Find(key);
    if (!found) return false;
    value = *found;
    return true;
}

}  // namespace ondival
