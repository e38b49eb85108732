// Cutting fixed-width records by position. The files' text is one byte a
// character, so a column is a byte offset.
#pragma once

#include <string>
#include <string_view>

namespace ondival {

// The characters of columns [first, first + width) counted from 1; fewer when
// the line ends earlier, "" when it ends before first. Inline, with the trim
// below: every field of every line goes through both.
inline std::string_view colonne(std::string_view line, std::size_t first, std::size_t width) {
    if (first < 1 || first > line.size()) return {};
    return line.substr(first - 1, width);
}

// Blanks (the space character only) removed at both ends.
inline std::string_view sans_blancs(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    return text.substr(b, e - b);
}

inline std::string champ(std::string_view line, std::size_t first, std::size_t width) {
    return std::string(sans_blancs(colonne(line, first, width)));
}

// The same field cut into a record's own string, which keeps its room from
// line to line: a national file has hundreds of thousands of lines.
inline void cut_field(std::string& field, std::string_view line, std::size_t first, std::size_t width) {
    field.assign(sans_blancs(colonne(line, first, width)));
}

// Empties every field of a record, keeping each one's room for the next line.
template <typename Record>
void clear_fields(Record& record) {
    for (std::string& field : record) field.clear();
}

}  // namespace ondival
