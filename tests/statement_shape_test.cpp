// What the server engine tells from a statement's shape decides which early
// answers a write throws away and which reads it asks together: a read
// taken for groupable when it is not, or a write whose table is missed,
// would give the import an answer a line-by-line run would not.
#include "platform/statement_shape.h"

#include <gtest/gtest.h>

namespace ondival::platform {
namespace {

struct ReadCase {
    const char* name;
    const char* shape;
    std::vector<std::string> tables;  // empty: not a read whose reach is told
    std::string column;
    std::vector<std::string> where;  // empty: not groupable
};

class ReadShapes : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadShapes, TablesColumnAndGrouping) {
    const ReadCase& c = GetParam();
    const ShapeInfo info = analyse_shape(c.shape);
    if (c.tables.empty()) {
        EXPECT_FALSE(info.read.has_value());
        return;
    }
    ASSERT_TRUE(info.read.has_value());
    EXPECT_EQ(info.read->tables, c.tables);
    EXPECT_EQ(info.read->column, c.column);
    EXPECT_EQ(info.read->where_columns, c.where);
    EXPECT_EQ(info.write.kind, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Each, ReadShapes,
    ::testing::Values(
        ReadCase{"ClubLookup", "select Num, Intitule from Club where Code_federal = ?", {"club"}, "", {"code_federal"}},
        ReadCase{"LicenceLookup",
                 "select Nom, Prenom, Num, Date_Naissance from Licence where Code_Club = ? and Licence = ?",
                 {"licence"},
                 "",
                 {"code_club", "licence"}},
        ReadCase{"KeyReadBack",
                 "SELECT Num from Licence where Code_Club = ? AND Licence = ?",
                 {"licence"},
                 "num",
                 {"code_club", "licence"}},
        ReadCase{"CountIsNotGrouped",
                 "select count(*) from Selection where Code_Sel = ? and Num_Lic = ?",
                 {"selection"},
                 "",
                 {}},
        ReadCase{"NegativeValueIsNotGrouped",
                 "select count(*) from Liffn_relais where Num_compet = -?",
                 {"liffn_relais"},
                 "",
                 {}},
        ReadCase{
            "AlternativesAreNotGrouped", "select Num from Licence where Nom = ? or Prenom = ?", {"licence"}, "num", {}},
        ReadCase{
            "ColumnTwiceIsNotGrouped", "select Num from Licence where Nom = ? and Nom = ?", {"licence"}, "num", {}},
        ReadCase{"StarIsNotGrouped", "select * from Licence where Nom = ?", {"licence"}, "", {}},
        ReadCase{"TablesUnderTheirOwnNames",
                 "SELECT count(*) FROM Region Region, Departement Departement WHERE Region.Code = Departement.Region",
                 {"region", "region", "departement", "departement"},
                 "",
                 {}},
        ReadCase{"TableUnderItsOwnName",
                 "SELECT count(*) FROM Inter_Region Inter_Region WHERE Code = ?",
                 {"inter_region"},
                 "",
                 {}},
        ReadCase{"ReadInsideARead", "select Num from Licence where Num in (select Num_Lic from Selection)", {}, "", {}},
        ReadCase{"Join", "select l.Num from Licence l join Selection s on s.Num_Lic = l.Num", {}, "", {}},
        ReadCase{"NotARead", "UPDATE Liffn set Num_compet = ? where Num_compet = -?", {}, "", {}}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

struct WriteCase {
    const char* name;
    const char* shape;
    char kind;
    std::string table;
    std::vector<std::string> columns;
};

class WriteShapes : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteShapes, KindTableAndColumns) {
    const WriteShape w = analyse_shape(GetParam().shape).write;
    EXPECT_EQ(w.kind, GetParam().kind);
    EXPECT_EQ(w.table, GetParam().table);
    EXPECT_EQ(w.columns, GetParam().columns);
}

INSTANTIATE_TEST_SUITE_P(
    Each, WriteShapes,
    ::testing::Values(WriteCase{"Insert",
                                "INSERT INTO Selection (Code_Sel, Num_Lic) VALUES (?, ?);",
                                'i',
                                "selection",
                                {"code_sel", "num_lic"}},
                      WriteCase{"InsertWithoutColumns", "insert into Club values (?, ?)", 'i', "club", {}},
                      WriteCase{"Update", "Update Club set Intitule = ? where Num = ?", 'u', "club", {}},
                      WriteCase{"Delete", "Delete from Liffn where Num_compet = -?", 'd', "liffn", {}},
                      WriteCase{"UnknownReach", "VACUUM", 0, "", {}}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

TEST(GroupedRead, JoinsTheMembersValuesOnTheWhereColumns) {
    const ShapeInfo info = analyse_shape("select Num from Licence where Code_Club = ? and Licence = ?");
    EXPECT_EQ(grouped_read(*info.read, 2),
              "select t.num, t.code_club, t.licence from licence t join (values ($1, $2), ($3, $4)) v(k0, k1) "
              "on t.code_club = v.k0 and t.licence = v.k1");
}

}  // namespace
}  // namespace ondival::platform
