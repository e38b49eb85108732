// The layout of a fixed-width federation record: its fields' widths in
// order, from which every column position and the line length follow. Each
// file (club.txt, licence.txt, liffn.txt) describes its record once with
// one of these, so that the parse, the columns an import reads straight
// from the line and the line-length check can never disagree.
#pragma once

#include <array>
#include <cstddef>

namespace ondival {

template <std::size_t N>
struct RecordLayout {
    std::array<std::size_t, N> widths;

    static constexpr std::size_t kFields = N;

    // Column of the field's first character, counted from 1 as the files'
    // descriptions count them.
    constexpr std::size_t first(std::size_t field) const {
        std::size_t column = 1;
        for (std::size_t i = 0; i < field; ++i) column += widths[i];
        return column;
    }
    constexpr std::size_t width(std::size_t field) const { return widths[field]; }
    // The record's length, which is also the line length the file must have.
    constexpr std::size_t length() const { return first(N) - 1; }
};

}  // namespace ondival
