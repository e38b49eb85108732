// The database layer lifts the values out of every statement the import
// writes and binds them. A value lifted wrongly changes what the statement
// does: a quote inside a comment taken for the start of a text, a column
// number after ORDER BY bound as a constant, digits of a column name bound
// as a number. A text it cannot split with certainty goes to the engine as
// it stands, which then reports its fault.
#include "platform/sql_literals.h"

#include <gtest/gtest.h>

namespace ondival::platform {
namespace {

using Kind = SqlLiteral::Kind;

struct SplitCase {
    const char* name;
    std::string sql;
    bool split;  // false: handed to the engine as it stands
    std::string shape;
    std::vector<std::pair<Kind, std::string>> literals;
};

class SplitLiterals : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitLiterals, LiftsExactlyTheValues) {
    const SplitCase& c = GetParam();
    std::string shape;
    std::vector<SqlLiteral> literals;
    ASSERT_EQ(split_literals(c.sql, shape, literals), c.split);
    if (!c.split) return;
    EXPECT_EQ(shape, c.shape);
    std::vector<std::pair<Kind, std::string>> got;
    for (const SqlLiteral& lit : literals) got.emplace_back(lit.kind, lit.text);
    EXPECT_EQ(got, c.literals);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, SplitLiterals,
    ::testing::Values(
        SplitCase{"DoubledQuoteIsOneQuoteOfTheValue",
                  "select Num from Club where Code_federal = 'L''Isle'",
                  true,
                  "select Num from Club where Code_federal = ?",
                  {{Kind::Text, "L'Isle"}}},
        SplitCase{"DigitsOfANameStayInTheName",
                  "select Licence1 from Liffn_relais where Num_compet = -1",
                  true,
                  "select Licence1 from Liffn_relais where Num_compet = -?",
                  {{Kind::Integer, "1"}}},
        SplitCase{"RealsWithPointOrExponent",
                  "INSERT INTO Liffn (Temps, Age) VALUES (105.5, 1e3);",
                  true,
                  "INSERT INTO Liffn (Temps, Age) VALUES (?, ?);",
                  {{Kind::Real, "105.5"}, {Kind::Real, "1e3"}}},
        SplitCase{"ColumnNumberAfterOrderByStays",
                  "select Code_Nage, Sexe from Nage order by 2",
                  true,
                  "select Code_Nage, Sexe from Nage order by 2",
                  {}},
        SplitCase{"QuoteInALineCommentOpensNoText",
                  "select 1 -- l'heure\nfrom Info where LastClose = 'x'",
                  true,
                  "select ? -- l'heure\nfrom Info where LastClose = ?",
                  {{Kind::Integer, "1"}, {Kind::Text, "x"}}},
        SplitCase{"BlockCommentKeepsItsValues",
                  "select /* 'x' 2 */ Num from Club",
                  true,
                  "select /* 'x' 2 */ Num from Club",
                  {}},
        SplitCase{"QuotedIdentifiersStayAsWritten",
                  "select \"Code 2\", [Nom d'usage] from `T 3`",
                  true,
                  "select \"Code 2\", [Nom d'usage] from `T 3`",
                  {}},
        SplitCase{"HexLikeWordIsLeftToTheEngine", "select 0x1F from Info", true, "select 0x1F from Info", {}},
        SplitCase{"NulInsideAQuotedTextIsData",
                  std::string("values ('a\0b')", 14),
                  true,
                  "values (?)",
                  {{Kind::Text, std::string("a\0b", 3)}}},
        SplitCase{"UnterminatedText", "select Num from Club where Code_federal = 'FRA", false, "", {}},
        SplitCase{"UnterminatedIdentifier", "select \"Num from Club", false, "", {}},
        SplitCase{"QuestionMarkMarker", "select Num from Club where Code_federal = ?", false, "", {}},
        SplitCase{"NamedMarker", "select Num from Club where Code_federal = :code", false, "", {}},
        SplitCase{"NumberedMarker", "select Num from Club where Num = $1", false, "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ondival::platform
