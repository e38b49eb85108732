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

// Values given to the shape above, and the statement a log shows after
// "select count(*) from Piscine where ".
struct InlineCase {
    const char* name;
    std::function<void(Sql&)> values;
    std::string where;
    std::vector<Kind> kinds;
};

class InlineText : public ::testing::TestWithParam<InlineCase> {};

TEST_P(InlineText, ReadsAsTheStatementWithItsValues) {
    Sql sql(kTwoValues);
    GetParam().values(sql);
    EXPECT_EQ(sql.inline_text(), "select count(*) from Piscine where " + GetParam().where);
    std::vector<Kind> kinds;
    for (const platform::SqlValue& v : sql.values()) kinds.push_back(v.kind);
    EXPECT_EQ(kinds, GetParam().kinds);
}

INSTANTIATE_TEST_SUITE_P(Each, InlineText,
                         ::testing::Values(InlineCase{"QuoteDoubled",
                                                      [](Sql& s) { s.quoted("L'Isle-Adam").bare("12"); },
                                                      "Nom = 'L''Isle-Adam' and Num = 12",
                                                      {Kind::Text, Kind::Integer}},
                                           InlineCase{"EveryQuoteDoubled",
                                                      [](Sql& s) { s.quoted("l'île d'Yeu''").bare("1"); },
                                                      "Nom = 'l''île d''Yeu''''' and Num = 1",
                                                      {Kind::Text, Kind::Integer}},
                                           InlineCase{"NumbersAsWritten",
                                                      [](Sql& s) { s.bare("-0012").bare("65.30"); },
                                                      "Nom = -0012 and Num = 65.30",
                                                      {Kind::Integer, Kind::Real}},
                                           InlineCase{"MarkersAndSeparatorsInAValueAreData",
                                                      [](Sql& s) { s.quoted("?; --").bare(7LL); },
                                                      "Nom = '?; --' and Num = 7",
                                                      {Kind::Text, Kind::Integer}},
                                           InlineCase{"BlankBarePlaceLeftEmpty",
                                                      [](Sql& s) { s.quoted("").bare(""); },
                                                      "Nom = '' and Num = ",
                                                      {Kind::Text, Kind::Empty}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A text no one declared is run, and shown, as it stands: its '?' and
// quotes are its own.
TEST(UndeclaredText, ReadsAsItStands) {
    const Sql sql = Sql::text("select 'a?' from Info where x = ?");
    EXPECT_EQ(sql.inline_text(), "select 'a?' from Info where x = ?");
    EXPECT_TRUE(sql.values().empty());
}

TEST(BareValue, OnlyAPlainDecimalNumberIsTaken) {
    for (const char* number : {"12a", "1e3", "0x1F", " 4", "4 ", "1.", ".5", "--1", "1); DROP TABLE Club; --"}) {
        Sql sql(kTwoValues);
        EXPECT_EQ(error_number([&] { sql.bare(number); }), platform::err::kTypeMismatch) << number;
        EXPECT_TRUE(sql.values().empty()) << number;
    }
}

// A whole number is read once, when it is given; one too long for 64 bits
// stays a number the engine reads from its digits (as a real), never a
// wrapped-around integer.
TEST(BareValue, WholeNumbersAreReadOnceAndOnlyWhenTheyFit) {
    const struct {
        const char* digits;
        bool fits;
        long long value;
    } cases[] = {
        {"0", true, 0},
        {"-0", true, 0},
        {"007", true, 7},
        {"-42", true, -42},
        {"9223372036854775807", true, 9223372036854775807LL},
        {"-9223372036854775808", true, -9223372036854775807LL - 1},
        {"9223372036854775808", false, 0},
        {"-9223372036854775809", false, 0},
        {"123456789012345678901234", false, 0},
    };
    for (const auto& c : cases) {
        Sql sql(kTwoValues);
        sql.bare(c.digits);
        ASSERT_EQ(sql.values().size(), 1u);
        const platform::SqlValue& v = sql.values().front();
        EXPECT_EQ(v.kind, Kind::Integer) << c.digits;
        EXPECT_EQ(v.text, c.digits);
        EXPECT_EQ(v.fits, c.fits) << c.digits;
        if (c.fits) {
            EXPECT_EQ(v.integer, c.value) << c.digits;
        }
    }
    Sql real(kTwoValues);
    EXPECT_FALSE(real.bare("12.5").values().front().fits);
}

TEST(DeclaredShape, HoldsNoQuoteWhereAValueCouldHide) {
    for (const char* text : {"select Num from Club where Code_federal = 'x'", "select \"Num\" from Club"})
        EXPECT_NE(error_number([&] { Shape s(text, Shape::read({"Club"}, "Num")); }), 0) << text;
    const Shape ok{"select Num from Club where Code_federal = ?", Shape::read({"Club"}, "Num")};
    EXPECT_EQ(ok.markers(), 1u);
    EXPECT_TRUE(ok.declared());
    EXPECT_FALSE(Shape("select 1").declared());
}

// The shape's text cut into lower-case words and single signs.
std::vector<std::string> words_of(const std::string& text) {
    std::vector<std::string> words;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (std::isspace(c)) {
            ++i;
        } else if (std::isalnum(c) || c == '_') {
            std::string w;
            while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_'))
                w.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(text[i++]))));
            words.push_back(std::move(w));
        } else {
            words.emplace_back(1, text[i++]);
        }
    }
    return words;
}

bool is_name(const std::string& w) {
    return !w.empty() && (std::isalpha(static_cast<unsigned char>(w[0])) || w[0] == '_');
}

// What a reader of the shape's text finds in it, to hold its declaration
// against: the tables after each FROM, the plain columns selected (the key
// column when there is one), the columns compared with a value, and the
// table and columns a write names.
platform::Reach reach_read_from(const std::string& text) {
    const std::vector<std::string> w = words_of(text);
    platform::Reach r;
    if (w.empty()) return r;
    if (w[0] == "insert" || w[0] == "update" || w[0] == "delete") {
        const std::size_t at = w[0] == "update" ? 1 : 2;
        r.write = {w[0][0] == 'i' ? 'i' : w[0][0] == 'u' ? 'u' : 'd', w.at(at), {}};
        if (r.write.kind == 'i')
            for (std::size_t i = at + 2; i < w.size() && w[i] != ")"; ++i)
                if (is_name(w[i])) r.write.columns.push_back(w[i]);
        return r;
    }
    platform::ReadShape read;
    std::size_t from = 0;
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (w[i] != "from") continue;
        if (!from) from = i;
        // "FROM Region Region, Departement Departement": each table under its
        // own name, commas between.
        for (std::size_t k = i + 1; k < w.size() && (is_name(w[k]) || w[k] == ",") && w[k] != "where"; ++k)
            if (w[k] != "," && std::find(read.tables.begin(), read.tables.end(), w[k]) == read.tables.end())
                read.tables.push_back(w[k]);
    }
    std::vector<std::string> selected;
    for (std::size_t i = 1; i < from; ++i) {
        if (i % 2 == 1 && is_name(w[i]) && w[i] != "count") {
            selected.push_back(w[i]);
        } else if (!(i % 2 == 0 && w[i] == ",")) {
            selected.clear();
            break;
        }
    }
    if (selected.size() == 1) read.column = selected.front();
    for (std::size_t i = 0; i + 2 < w.size(); ++i)
        if (is_name(w[i]) && w[i + 1] == "=" && w[i + 2] == "?") read.where_columns.push_back(w[i]);
    read.select_list = selected;
    r.read = read;
    return r;
}

// Every statement shape of the component, as the import and `init` declare
// them: each one declares the tables and columns its text names, and
// each one runs on this engine's host database with as many values as it
// has markers (in a transaction rolled back: nothing is kept).
TEST(DeclaredShapes, DeclareWhatTheirTextNamesAndRunOnTheHostDatabase) {
    const std::vector<const Shape*> shapes = Shape::all_declared();
    ASSERT_GE(shapes.size(), 30u) << "the component's shapes are not all declared";
    ScratchDir dir;
    const std::string db = make_host_database(dir);
    platform::Connection conn;
    conn.Open(connection_string(db));
    for (const Shape* shape : shapes) {
        SCOPED_TRACE(shape->text());
        const platform::Reach found = reach_read_from(shape->text());
        ASSERT_EQ(shape->reads().has_value(), found.read.has_value());
        if (shape->reads()) {
            const platform::ReadShape& declared = *shape->reads();
            std::vector<std::string> tables = declared.tables;
            std::sort(tables.begin(), tables.end());
            std::vector<std::string> named = found.read->tables;
            std::sort(named.begin(), named.end());
            EXPECT_EQ(tables, named);
            EXPECT_EQ(declared.column, found.read->column);
            if (declared.groupable()) {
                EXPECT_TRUE(declared.single());
                EXPECT_EQ(declared.select_list, found.read->select_list);
                EXPECT_EQ(declared.where_columns, found.read->where_columns);
            }
        } else {
            EXPECT_EQ(shape->writes().kind, found.write.kind);
            EXPECT_EQ(shape->writes().table, found.write.table);
            EXPECT_EQ(shape->writes().columns, found.write.columns);
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
