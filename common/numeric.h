// Numbers read out of the federation's text, the way the host reads them:
// the decimal number at the start of a text, blanks skipped, reading
// stopping at the first character that cannot continue it, 0 when there is
// none ("7 " is 7, "1a" is 1, "AB" is 0).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ondival {

double numeric_value(std::string_view text);

// Rounds to the nearest whole number, a half to the even neighbour.
double arrondi_pair(double value);

// A number written back as text: whole numbers without a point, others with
// up to 15 significant digits ("12", "1.5", "-3").
std::string texte_nombre(double value);

// 16-bit conversion of a rounded value; raises an overflow error outside
// -32768..32767.
std::int16_t entier_16(double value);

// True for a plain decimal number: an optional minus, digits, optionally a
// point and more digits ("10523", "-1", "65.32"). Only such a text may go
// bare into a statement.
bool est_nombre_decimal(std::string_view text);

}  // namespace ondival
