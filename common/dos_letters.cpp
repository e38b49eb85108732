#include "common/dos_letters.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "common/letters.h"
#include "platform/cp1252.h"

namespace ondival {
namespace {

const std::array<unsigned char, 256>& dos_table() {
    static const auto table = [] {
        std::array<unsigned char, 256> t{};
        for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
        for (auto [from, to] : kDosLetters) t[from] = to;
        return t;
    }();
    return table;
}

}  // namespace

// Only bytes from 0x80 up change, and a national file is nearly all plain
// ASCII: eight bytes at a time are passed over when none of them is one.
static_assert([] {
    for (auto [from, to] : kDosLetters)
        if (from < 0x80) return false;
    return true;
}());

void accents_dos_in_place(std::string& text) {
    const auto& t = dos_table();
    char* p = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if ((word & 0x8080808080808080ull) == 0) continue;
        for (std::size_t j = i; j < i + 8; ++j) p[j] = static_cast<char>(t[static_cast<unsigned char>(p[j])]);
    }
    for (; i < n; ++i) p[i] = static_cast<char>(t[static_cast<unsigned char>(p[i])]);
}

std::string accents_dos(std::string_view text) {
    std::string out(text);
    accents_dos_in_place(out);
    return out;
}

void charge_accents(TextList& colAccents, TextList& colMajuscules) {
    vide_collection(colAccents);
    vide_collection(colMajuscules);
    static const char* const kPairs[][2] = {
        {"é", "E"}, {"è", "E"}, {"ê", "E"}, {"ë", "E"}, {"à", "A"}, {"ä", "A"}, {"â", "A"},
        {"î", "I"}, {"ï", "I"}, {"ô", "O"}, {"ö", "O"}, {"ü", "U"}, {"û", "U"}, {"ç", "C"},
    };
    for (const auto& pair : kPairs) {
        colAccents.Add(platform::utf8_to_cp1252(pair[0]));
        colMajuscules.Add(pair[1]);
    }
}

std::string majuscules_sans_accents(std::string_view name, const TextList& colAccents, const TextList& colMajuscules) {
    std::string text = lower_1252(name);
    // The map holds one-byte letters; a replacement never matches a later
    // letter of the map, so one pass per pair gives the same result as the
    // search-and-replace of each pair in turn.
    const std::size_t n = colAccents.Count();
    for (std::size_t j = 1; j <= n; ++j) {
        const std::string& from = colAccents.Item(j);
        const std::string& to = colMajuscules.Item(j);
        if (from.empty()) continue;
        std::size_t pos = 0;
        while ((pos = text.find(from, pos)) != std::string::npos) {
            text.replace(pos, from.size(), to);
            pos += to.size();
        }
    }
    return upper_1252(text);
}

}  // namespace ondival
