#include "common/numeric.h"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "platform/cp1252.h"
#include "platform/error.h"
#include "platform/statement.h"

namespace ondival {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The common case of a field of the federation's files: a whole number of
// at most 15 digits, blanks allowed around and between them. Such a number
// is exact in a double, so it reads as the general reading below would.
bool whole_number(std::string_view text, double& value) {
    std::uint64_t whole = 0;
    int count = 0;
    bool negative = false, sign = false;
    for (const char c : text) {
        if (is_digit(c)) {
            if (++count > 15) return false;
            whole = whole * 10 + static_cast<std::uint64_t>(c - '0');
        } else if (is_blank(c)) {
            continue;
        } else if ((c == '-' || c == '+') && count == 0 && !sign) {
            sign = true;
            negative = c == '-';
        } else {
            return false;
        }
    }
    const double v = static_cast<double>(whole);
    value = count == 0 ? 0.0 : negative ? -v : v;
    return true;
}

}  // namespace

double numeric_value(std::string_view text) {
    if (double v; whole_number(text, v)) return v;
    std::string digits;
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto skip = [&] {
        while (i < n && is_blank(text[i])) ++i;
    };
    skip();
    if (i < n && (text[i] == '-' || text[i] == '+')) {
        if (text[i] == '-') digits.push_back('-');
        ++i;
        skip();
    }
    bool any = false, point = false;
    while (i < n) {
        const char c = text[i];
        if (is_digit(c)) {
            digits.push_back(c);
            any = true;
        } else if (c == '.' && !point) {
            digits.push_back('.');
            point = true;
        } else if (!is_blank(c)) {
            break;
        }
        ++i;
    }
    if (any && i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        std::string exp = "e";
        if (j < n && (text[j] == '-' || text[j] == '+')) exp.push_back(text[j++]);
        std::size_t k = j;
        while (k < n && is_digit(text[k])) exp.push_back(text[k++]);
        if (k > j) digits += exp;
    }
    if (!any) return 0.0;
    return std::strtod(digits.c_str(), nullptr);
}

double arrondi_pair(double value) {
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(value);
    std::fesetround(saved);
    return r;
}

std::string texte_nombre(double value) {
    if (value == 0) return "0";
    char buf[40];
    if (std::fabs(value) < 1e15 && value == std::floor(value))
        std::snprintf(buf, sizeof buf, "%.0f", value);
    else
        std::snprintf(buf, sizeof buf, "%.15g", value);
    return buf;
}

std::int16_t entier_16(double value) {
    const double r = arrondi_pair(value);
    if (!(r >= -32768.0 && r <= 32767.0)) platform::raise(platform::err::kOverflow, "Dépassement de capacité"_w);
    return static_cast<std::int16_t>(r);
}

bool est_nombre_decimal(std::string_view text) { return platform::plain_decimal(text); }

}  // namespace ondival
