#include "common/dates.h"

#include <array>
#include <cstdio>

#include "common/numeric.h"
#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {
namespace {

const char* const kMonths[12] = {"janvier", "février", "mars",      "avril",   "mai",      "juin",
                                 "juillet", "août",    "septembre", "octobre", "novembre", "décembre"};

const std::string& month_name(int month) {
    static const auto names = [] {
        std::array<std::string, 12> n;
        for (int i = 0; i < 12; ++i) n[i] = platform::utf8_to_cp1252(kMonths[i]);
        return n;
    }();
    return names[month - 1];
}

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

[[noreturn]] void not_a_date(std::string_view text) {
    platform::raise(platform::err::kTypeMismatch,
                    "Type incompatible : \""_w + std::string(text) + "\" n'est pas une date");
}

std::string yyyymmdd(int y, int m, int d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
    return buf;
}

}  // namespace

std::string date_annee(std::string_view year) {
    // Blanks around the year are tolerated, as a date reading would.
    std::size_t b = 0, e = year.size();
    while (b < e && year[b] == ' ') ++b;
    while (e > b && year[e - 1] == ' ') --e;
    const std::string_view y = year.substr(b, e - b);
    if (!all_digits(y) || y.size() == 3 || y.size() > 4) not_a_date("01/01/" + std::string(year));
    int value = std::stoi(std::string(y));
    if (y.size() <= 2) value += value < 30 ? 2000 : 1900;
    if (value < 100) not_a_date("01/01/" + std::string(year));
    std::string r = yyyymmdd(value, 1, 1);
    const std::string today = platform::Yyyymmdd(platform::Now());
    if (r > today) r = yyyymmdd(value - 100, 1, 1);
    return r;
}

namespace {

int two_digits(std::string_view s) { return (s[0] - '0') * 10 + (s[1] - '0'); }

// An 8-character yyyymmdd text as a real calendar date; raises when it is
// not one.
CalendarDate checked_date(std::string_view date) {
    const std::string_view y = date.substr(0, 4), m = date.substr(4, 2), d = date.substr(6, 2);
    if (!all_digits(y) || !all_digits(m) || !all_digits(d)) not_a_date(date);
    const int year = two_digits(y) * 100 + two_digits(y.substr(2)), month = two_digits(m), day = two_digits(d);
    if (year < 100 || month < 1 || month > 12 || day < 1 || day > days_in(year, month)) not_a_date(date);
    return CalendarDate{year, month, day};
}

}  // namespace

CalendarDate read_stored_date(std::string_view yyyymmdd) {
    // date_texte gives "" for a text that is not 8 characters, and "" is
    // no date to lit_date.
    if (yyyymmdd.size() != 8) not_a_date("");
    return checked_date(yyyymmdd);
}

std::string date_texte(std::string_view date, std::string_view pattern) {
    if (date.size() != 8) return "";
    const std::string_view y = date.substr(0, 4), m = date.substr(4, 2), d = date.substr(6, 2);
    const CalendarDate checked = checked_date(date);
    if (pattern.empty()) pattern = "d mmmm yyyy";
    // The three tokens the import uses; anything else is copied.
    std::string out;
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern.compare(i, 4, "yyyy") == 0) {
            out += std::string(y);  // four digits, as the date reading expects
            i += 4;
        } else if (pattern.compare(i, 4, "mmmm") == 0) {
            out += month_name(checked.month);
            i += 4;
        } else if (pattern.compare(i, 2, "mm") == 0) {
            out += std::string(m);
            i += 2;
        } else if (pattern.compare(i, 2, "dd") == 0) {
            out += std::string(d);
            i += 2;
        } else if (pattern[i] == 'd') {
            out += std::to_string(checked.day);
            i += 1;
        } else {
            out.push_back(pattern[i++]);
        }
    }
    return out;
}

CalendarDate lit_date(std::string_view text) {
    // "d mmmm yyyy" as date_texte writes it.
    const auto sp1 = text.find(' ');
    const auto sp2 = sp1 == std::string_view::npos ? sp1 : text.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos) not_a_date(text);
    const std::string_view d = text.substr(0, sp1), mn = text.substr(sp1 + 1, sp2 - sp1 - 1), y = text.substr(sp2 + 1);
    if (!all_digits(d) || !all_digits(y) || d.size() > 2 || y.size() != 4) not_a_date(text);
    int month = 0;
    for (int i = 1; i <= 12; ++i)
        if (mn == month_name(i)) month = i;
    const int year = std::stoi(std::string(y)), day = std::stoi(std::string(d));
    if (month == 0 || day < 1 || day > days_in(year, month)) not_a_date(text);
    return CalendarDate{year, month, day};
}

std::string date_aaaammjj(std::string_view date) {
    if (date.size() != 8) return "";
    const std::string_view day = date.substr(0, 2), month = date.substr(2, 2), year = date.substr(4, 4);
    if (!date_valide(year, month, day)) return "";
    std::string out;
    out.reserve(8);
    out.append(year).append(month).append(day);
    return out;
}

bool date_valide(std::string_view year, std::string_view month, std::string_view day) {
    if (month.empty() || day.empty() || year.size() < 4) return false;
    const double d = numeric_value(day), m = numeric_value(month);
    return d >= 1 && d <= 31 && m >= 1 && m <= 12;
}

}  // namespace ondival
