// Dates as the federation's files, the licence numbers and the host database
// write them: birth years expanded against today, ddmmyyyy turned round to
// yyyymmdd, and the display text the performance import reads back.
#include <gtest/gtest.h>

#include <optional>

#include "common/dates.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

struct YearCase {
    const char* name;
    platform::LocalTime today;
    const char* year;
    const char* expected;
};

class DateAnnee : public ::testing::TestWithParam<YearCase> {};

TEST_P(DateAnnee, ExpandsTheBirthYearOfALicenceAgainstToday) {
    const YearCase& c = GetParam();
    FixedClock clock(c.today);
    EXPECT_EQ(date_annee(c.year), c.expected) << "year " << c.year;
}

constexpr platform::LocalTime kDec2026{2026, 12, 6, 14, 3, 27};
INSTANTIATE_TEST_SUITE_P(
    CenturyRule, DateAnnee,
    ::testing::Values(YearCase{"Year26IsThisYear", kDec2026, "26", "20260101"},
                      YearCase{"Year27NextYearIsACenturyBack", kDec2026, "27", "19270101"},
                      YearCase{"Year29GivesLastCentury", kDec2026, "29", "19290101"},
                      YearCase{"Year00GivesThisCentury", kDec2026, "00", "20000101"},
                      YearCase{"Year05GivesThisCentury", kDec2026, "05", "20050101"},
                      YearCase{"Year30GivesLastCentury", kDec2026, "30", "19300101"},
                      YearCase{"Year85GivesLastCentury", kDec2026, "85", "19850101"},
                      YearCase{"Year99GivesLastCentury", kDec2026, "99", "19990101"},
                      YearCase{"FourDigits1985Kept", kDec2026, "1985", "19850101"},
                      YearCase{"FourDigitsThisYearKept", kDec2026, "2026", "20260101"},
                      YearCase{"FourDigitsNextYearIsACenturyBack", kDec2026, "2027", "19270101"},
                      YearCase{"OneDigitGivesThisCentury", kDec2026, "7", "20070101"},
                      YearCase{"FirstFourDigitYear", kDec2026, "0100", "01000101"},
                      // 1 January itself is today, not after it.
                      YearCase{"OnFirstJanuaryYear26IsThisYear", {2026, 1, 1}, "26", "20260101"},
                      YearCase{"OnLastDayOf2025Year26IsACenturyBack", {2025, 12, 31}, "26", "19260101"},
                      YearCase{"In2030Year29GivesThisCentury", {2030, 6, 1}, "29", "20290101"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DateAnneeFailure, TextThatIsNoYearRaisesATypeMismatch) {
    FixedClock clock;
    for (const char* year : {"AB", "", "8A", "-5", "1.5", "198", "0099", "19850"}) {
        try {
            date_annee(year);
            ADD_FAILURE() << "no error for \"" << year << "\"";
        } catch (const platform::Failure& f) {
            EXPECT_EQ(f.error().number, platform::err::kTypeMismatch) << year;
        }
    }
}

TEST(DateAaaammjj, TurnsTheFederationDateRound) {
    const std::pair<const char*, const char*> cases[] = {
        {"03051985", "19850503"},
        {"01011985", "19850101"},
        {"31121985", "19851231"},
        {"31021985", "19850231"},  // the day is not held against its month
        {"031a1985", "19851a03"},  // the month reads as 1; the characters stay as written
        {"00051985", ""},
        {"32051985", ""},
        {"03001985", ""},
        {"03131985", ""},
        {"0305198", ""},
        {"030519850", ""},
        {"", ""},
        {"AB051985", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(date_aaaammjj(in), out) << in;
}

TEST(DateValide, ReadsDayAndMonthByTheirLeadingNumber) {
    struct Case {
        const char *year, *month, *day;
        bool valid;
    };
    const Case cases[] = {
        {"1985", "1a", "05", true},  {"1985", "12", "31", true},  {"1985", " 7", "7 ", true},
        {"ABCD", "05", "05", true},  // the year's digits are not looked at
        {"1985", "", "05", false},   {"1985", "05", "", false},   {"198", "05", "05", false},
        {"1985", "13", "01", false}, {"1985", "00", "10", false}, {"1985", "-1", "10", false},
        {"1985", "05", "32", false}, {"1985", "05", "AB", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(date_valide(c.year, c.month, c.day), c.valid) << c.year << "/" << c.month << "/" << c.day;
}

TEST(DateTexte, WritesTheFrenchDisplayTextInWindows1252) {
    const std::pair<const char*, std::string> cases[] = {
        {"19850503", "3 mai 1985"_w},
        {"19850812", "12 août 1985"_w},
        {"20261206", "6 décembre 2026"_w},
        {"20000229", "29 février 2000"_w},
        {"20240229", "29 février 2024"_w},
        {"19850101", "1 janvier 1985"},
        {"19851231", "31 décembre 1985"_w},
        {"19850430", "30 avril 1985"},
        {"01000101", "1 janvier 0100"},
        {"", ""},
        {"1985050", ""},
        {"198505030", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(date_texte(in), out) << in;
    EXPECT_EQ(date_texte("19850503", "dd/mm/yyyy"), "03/05/1985");
}

TEST(DateTexte, EightCharactersThatAreNoDateRaise) {
    for (const char* bad : {"19850231", "19851301", "19850500", "19000229", "1985AB03", "20230229", "21000229",
                            "19850431", "19851232", "19850100", "19850001", "00991231"}) {
        try {
            date_texte(bad);
            ADD_FAILURE() << "no error for " << bad;
        } catch (const platform::Failure& f) {
            EXPECT_EQ(f.error().number, platform::err::kTypeMismatch) << bad;
        }
    }
}

// The performance import writes every performance date with date_texte and
// reads it back: every day of a leap year must survive the trip.
TEST(LitDate, ReadsBackEveryDayDateTexteWrites) {
    const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int m = 1; m <= 12; ++m)
        for (int d = 1; d <= days[m - 1]; ++d) {
            const std::string ymd = "2024" + std::to_string(100 + m).substr(1) + std::to_string(100 + d).substr(1);
            const CalendarDate got = lit_date(date_texte(ymd));
            EXPECT_TRUE(got.year == 2024 && got.month == m && got.day == d) << ymd;
        }
    // A damaged performance date from before the year 1000 still reads back.
    EXPECT_EQ(lit_date(date_texte("02520612")).year, 252);
    for (const std::string& bad :
         {"31 février 1985"_w, std::string("3 May 1985"), std::string("3 mai"), std::string(""), "0 mai 1985"_w})
        EXPECT_THROW(lit_date(bad), platform::Failure) << bad;
}

// The age at a performance reads its two dates directly: the same date, or
// the same refusal (number and text), as writing each out and reading it
// back would give.
TEST(ReadStoredDate, ReadsAsTheDateWrittenOutAndReadBack) {
    for (const char* text :
         {"20240229", "19850503", "02520612", "01000101", "19851231", "20230229", "21000229", "19850431", "19851301",
          "19850500", "00991231", "1985AB03", "1985 503", "", "1985050", "198505030", "-1850503"}) {
        std::optional<CalendarDate> via, direct;
        std::string via_error, direct_error;
        try {
            via = lit_date(date_texte(text));
        } catch (const platform::Failure& f) {
            via_error = std::to_string(f.error().number) + f.error().description;
        }
        try {
            direct = read_stored_date(text);
        } catch (const platform::Failure& f) {
            direct_error = std::to_string(f.error().number) + f.error().description;
        }
        ASSERT_EQ(via.has_value(), direct.has_value()) << text;
        EXPECT_EQ(via_error, direct_error) << text;
        if (via) {
            EXPECT_TRUE(via->year == direct->year && via->month == direct->month && via->day == direct->day) << text;
        }
    }
}

}  // namespace
}  // namespace ondival::test
