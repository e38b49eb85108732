// Statements as the import builds them: a declared shape and its values.
// The engines bind the values and the server's early answers trust what a
// shape declares, so a declaration that names a table its text does not
// (or a shape an engine would not take) would make an import differ from
// a line-by-line one without a word; and the text written out for
// messages must read as the statement did.
#include "platform/statement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "core/database_access.h"
#include "platform/database.h"
#include "platform/error.h"
#include "platform/postgres_values.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

using platform::Shape;
using platform::Sql;
using Kind = platform::SqlValue::Kind;

const Shape kTwoValues{"select count(*) from Piscine where Nom = ? and Num = ?", Shape::read({"Piscine"})};

struct InlineCase {
    const char* name;
    std::function<Sql()> build;
    std::string text;  // as a log would show it
    std::vector<Kind> kinds;
};

class InlineText : public ::testing::TestWithParam<InlineCase> {};

TEST_P(InlineText, ReadsAsTheStatementWithItsValues) {
    const Sql sql = GetParam().build();
    EXPECT_EQ(sql.inline_text(), GetParam().text);
    std::vector<Kind> kinds;
    for (const platform::SqlValue& v : sql.values()) kinds.push_back(v.kind);
    EXPECT_EQ(kinds, GetParam().kinds);
}

INSTANTIATE_TEST_SUITE_P(
    Each, InlineText,
    ::testing::Values(
        InlineCase{"QuoteDoubled",
                   [] { return std::move(Sql(kTwoValues).quoted("L'Isle-Adam").bare("12")); },
                   "select count(*) from Piscine where Nom = 'L''Isle-Adam' and Num = 12",
                   {Kind::Text, Kind::Integer}},
        InlineCase{"EveryQuoteDoubled",
                   [] { return std::move(Sql(kTwoValues).quoted("l'île d'Yeu''").bare("1")); },
                   "select count(*) from Piscine where Nom = 'l''île d''Yeu''''' and Num = 1",
                   {Kind::Text, Kind::Integer}},
        InlineCase{"NumbersAsWritten",
                   [] { return std::move(Sql(kTwoValues).bare("-0012").bare("65.30")); },
                   "select count(*) from Piscine where Nom = -0012 and Num = 65.30",
                   {Kind::Integer, Kind::Real}},
        InlineCase{"MarkersAndSeparatorsInAValueAreData",
                   [] { return std::move(Sql(kTwoValues).quoted("?; --").bare(7LL)); },
                   "select count(*) from Piscine where Nom = '?; --' and Num = 7",
                   {Kind::Text, Kind::Integer}},
        InlineCase{"BlankBarePlaceLeftEmpty",
                   [] { return std::move(Sql(kTwoValues).quoted("").bare("")); },
                   "select count(*) from Piscine where Nom = '' and Num = ",
                   {Kind::Text, Kind::Empty}},
        InlineCase{"UndeclaredTextAsItStands",
                   [] { return Sql::text("select 'a?' from Info where x = ?"); },
                   "select 'a?' from Info where x = ?",
                   {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BareValue, OnlyAPlainDecimalNumberIsTaken) {
    for (const char* number : {"12a", "1e3", "0x1F", " 4", "4 ", "1.", ".5", "--1", "1); DROP TABLE Club; --"}) {
        Sql sql(kTwoValues);
        EXPECT_EQ(error_number([&] { sql.bare(number); }), platform::err::kTypeMismatch) << number;
        EXPECT_TRUE(sql.values().empty()) << number;
    }
}

TEST(DeclaredShape, HoldsNoQuoteWhereAValueCouldHide) {
    for (const char* text : {"select Num from Club where Code_federal = 'x'", "select \"Num\" from Club"})
        EXPECT_NE(error_number([&] { Shape s(text, Shape::read({"Club"}, "Num")); }), 0) << text;
    const Shape ok{"select Num from Club where Code_federal = ?", Shape::read({"Club"}, "Num")};
    EXPECT_EQ(ok.markers(), 1u);
    EXPECT_TRUE(ok.declared());
    EXPECT_FALSE(Shape("select 1").declared());
}

bool names(const std::string& text, const std::string& word) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (std::size_t at = lower.find(word); at != std::string::npos; at = lower.find(word, at + 1)) {
        const auto edge = [&](std::size_t i) { return i >= lower.size() || !(std::isalnum(lower[i]) || lower[i] == '_'); };
        if ((at == 0 || edge(at - 1)) && edge(at + word.size())) return true;
    }
    return false;
}

// Every statement shape of the component, as the import and `init` declare
// them: each one's declared tables and columns are words of its text, and
// each one runs on this engine's host database with as many values as it
// has markers (in a transaction rolled back: nothing is kept).
TEST(DeclaredShapes, NameWhatTheirTextNamesAndRunOnTheHostDatabase) {
    const std::vector<const Shape*> shapes = Shape::all_declared();
    ASSERT_GE(shapes.size(), 30u) << "the component's shapes are not all declared";
    ScratchDir dir;
    const std::string db = make_host_database(dir);
    platform::Connection conn;
    conn.Open(connection_string(db));
    for (const Shape* shape : shapes) {
        SCOPED_TRACE(shape->text());
        std::vector<std::string> declared;
        if (shape->reads()) {
            declared = shape->reads()->tables;
            for (const auto* list : {&shape->reads()->select_list, &shape->reads()->where_columns})
                declared.insert(declared.end(), list->begin(), list->end());
            if (!shape->reads()->column.empty()) declared.push_back(shape->reads()->column);
        } else {
            ASSERT_NE(shape->writes().kind, 0) << "a shape that neither reads nor writes";
            declared = shape->writes().columns;
            declared.push_back(shape->writes().table);
        }
        for (const std::string& word : declared) EXPECT_TRUE(names(shape->text(), word)) << word;
        if (shape->reads() && shape->reads()->groupable()) {
            EXPECT_TRUE(shape->reads()->single());
        }

        Sql sql(*shape);
        for (std::size_t i = 0; i < shape->markers(); ++i) sql.quoted("987");  // no reference row has it
        conn.BeginTrans();
        if (shape->reads()) {
            platform::Recordset rs;
            EXPECT_NO_THROW(rs.Open(sql, conn));
        } else {
            EXPECT_NO_THROW(conn.Execute(sql));
        }
        conn.RollbackTrans();
    }
}

TEST(GroupedRead, JoinsTheMembersValuesOnTheWhereColumns) {
    const Shape shape{"select Num from Licence where Code_Club = ? and Licence = ?",
                      Shape::grouped_read("Licence", {"Num"}, {"Code_Club", "Licence"})};
    EXPECT_EQ(platform::pg::grouped_read(*shape.reads(), 2),
              "select t.num, t.code_club, t.licence from licence t join (values ($1, $2), ($3, $4)) v(k0, k1) "
              "on t.code_club = v.k0 and t.licence = v.k1");
}

}  // namespace
}  // namespace ondival::test
