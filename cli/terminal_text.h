// Text from a federation's export on its way to a terminal. A club name or
// a refused code may hold any byte: an escape sequence printed raw would
// move the cursor, retitle the window or worse, and a NUL would cut the
// line short. Every control character is shown as text instead.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace ondival::cli {

// The UTF-8 text with its control characters made visible: C0 controls and
// DEL in caret notation ("^[", "^@", "^?"), C1 controls as "<9B>"; line
// feeds and tabs kept.
std::string visible_controls(std::string_view utf8);

// Writes the whole text, NUL bytes included (fputs would stop at the
// first).
void write_all(std::FILE* out, std::string_view text);

}  // namespace ondival::cli
