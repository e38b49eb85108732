// Dates of the federation's files (ddmmyyyy), of the host database
// (yyyymmdd) and of licence numbers (two digits of a birth year). "" stands
// for no valid date throughout.
#pragma once

#include <string>
#include <string_view>

namespace ondival {

// 1 January of the year as yyyymmdd. Two-digit years follow the 1930-2029
// window, and a year after today goes back a century, so a licence "27..."
// read in 2026 belongs to a swimmer born in 1927. Raises a type-mismatch
// error when the text is not a year.
std::string date_annee(std::string_view year);

// A yyyymmdd text written as "d mmmm yyyy" (French month names) or with the
// pattern given; "" when the text is not 8 characters. Raises a
// type-mismatch error for a text of 8 characters that is not a real date.
std::string date_texte(std::string_view yyyymmdd, std::string_view pattern = "");

// ddmmyyyy -> yyyymmdd, or "" when the text is not 8 characters or its day
// or month is out of range (the day is not checked against its month).
std::string date_aaaammjj(std::string_view ddmmyyyy);

bool date_valide(std::string_view year, std::string_view month, std::string_view day);

// Reads a date text written by date_texte back as a calendar date; raises a
// type-mismatch error when it is not one.
struct CalendarDate {
    int year = 0, month = 0, day = 0;
};
CalendarDate lit_date(std::string_view text);

// A yyyymmdd text read as lit_date(date_texte(text)) reads it, the same date
// or the same error, without writing out the text between: the age at a
// performance reads two dates a line.
CalendarDate read_stored_date(std::string_view yyyymmdd);

}  // namespace ondival
