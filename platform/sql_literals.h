// The import builds every statement as text with its values inline, in the
// host's dialect ('text', bare numbers, true/false). To run that text fast
// and safely, the database layer lifts the literals out of it: the rest of
// the text (its "shape") is prepared once and reused, and the literals are
// bound as values. The statement the engine runs means exactly what the text
// says; a NUL or any other byte inside a quoted text stays data.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ondival::platform {

struct SqlLiteral {
    enum class Kind { Text, Integer, Real };
    Kind kind = Kind::Text;
    std::string text;  // Text: the value with its doubled quotes undone;
                       // numbers: the digits as written
};

// Splits `sql` into its shape (literals replaced by '?') and its literals in
// order. Returns false when the text cannot be split with certainty (an
// unterminated quote, a '?' already present); the caller then hands the text
// to the engine as it stands, so the engine reports the fault.
bool split_literals(std::string_view sql, std::string& shape, std::vector<SqlLiteral>& literals);

}  // namespace ondival::platform
