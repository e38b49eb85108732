// The import's access to the host database: the open mark the connection
// keeps, failures turned into messages, and the query result table.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "core/cst.h"
#include "core/database_access.h"
#include "platform/database.h"
#include "platform/error.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

class DatabaseAccess : public ::testing::Test {
protected:
    void SetUp() override {
        cst().objConnexion = std::make_unique<platform::Connection>();
        cst().objRecordset = std::make_unique<platform::Recordset>();
    }
    void TearDown() override {
        platform::inject_statement_failure(0);
        vide_tableau();
        cst().objRecordset.reset();
        cst().objConnexion.reset();
    }
    std::string last_close() { return sql1(db, "select LastClose from Info"); }
    ScratchDir dir;
    std::string db = make_host_database(dir);
    std::string msg;
};

TEST_F(DatabaseAccess, ConnectionMarksTheDatabaseOpen) {
    const std::string missing = dir.file("absent.db");
    EXPECT_FALSE(bconnexion(missing, msg));
    EXPECT_EQ(msg.rfind("Erreur n° "_w, 0), 0u) << msg;
    EXPECT_FALSE(std::filesystem::exists(missing));

    msg.clear();
    platform::inject_statement_failure(0);
    EXPECT_TRUE(bdeconnexion(msg));  // never opened
    EXPECT_EQ(platform::statements_run(), 0);
    EXPECT_EQ(msg, "");

    ASSERT_TRUE(bconnexion(db, msg)) << msg;
    EXPECT_EQ(last_close(), "0");
    platform::inject_statement_failure(0);
    ASSERT_TRUE(bconnexion(db, msg)) << msg;  // marks closed, closes, reopens, marks open
    EXPECT_EQ(platform::statements_run(), 2);
    EXPECT_EQ(last_close(), "0");
    EXPECT_TRUE(bdeconnexion(msg));
    EXPECT_EQ(last_close(), "1");
    EXPECT_EQ(cst().objConnexion->State(), 0);
}

TEST_F(DatabaseAccess, FailuresReachTheMessageNotTheCaller) {
    ASSERT_TRUE(bconnexion(db, msg)) << msg;
    platform::inject_statement_failure(1);  // the closing mark of the second connection
    EXPECT_FALSE(bconnexion(db, msg));
    EXPECT_EQ(msg, "Erreur n° 10: disk I/O error (injected)"_w);
    EXPECT_EQ(cst().objConnexion->State(), 1);
    EXPECT_TRUE(bdeconnexion(msg));
    EXPECT_EQ(last_close(), "1");

    // A database without Info connects but cannot be marked open: the
    // connection stays open and the engine's message is reported, under
    // the number a missing table has on every engine.
    sql(db, "drop table Info");
    EXPECT_FALSE(bconnexion(db, msg));
    EXPECT_EQ(msg.rfind("Erreur n° 1: "_w, 0), 0u) << msg;
    std::string lower = msg;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(lower.find("info"), std::string::npos) << msg;
    EXPECT_EQ(cst().objConnexion->State(), 1);
}

TEST_F(DatabaseAccess, QueryResultTable) {
    ASSERT_TRUE(bconnexion(db, msg)) << msg;
    const auto& tab = cst().tabResultat;
    requete_tableau(platform::Sql::text("select Code_federal, Intitule from Club"));
    ASSERT_EQ(tab.size(), 2u);
    EXPECT_EQ(tab[0].Count(), 0u);
    EXPECT_EQ(tab[1].Count(), 0u);
    for (const char* row : {"('FRA5110750001', 'CN PARIS')", "('FRA5110750002', NULL)", "('FRA5110750003', 'L''ISLE')"})
        sql(db, std::string("insert into Club (Code_federal, Intitule) values ") + row);
    requete_tableau(platform::Sql::text("select Code_federal, Intitule, Num from Club order by Num"));
    ASSERT_EQ(tab.size(), 3u);
    std::vector<std::string> codes, labels;
    for (std::size_t r = 1; r <= tab[0].Count(); ++r) {
        codes.push_back(tab[0].Item(r));
        labels.push_back(tab[1].Item(r));
    }
    EXPECT_EQ(codes, (std::vector<std::string>{"FRA5110750001", "FRA5110750002", "FRA5110750003"}));
    EXPECT_EQ(labels, (std::vector<std::string>{"CN PARIS", "", "L'ISLE"}));  // NULL reads as ""
    EXPECT_EQ(tab[2].Count(), 3u);
    // A failing query leaves the shared recordset closed for the next one.
    EXPECT_NE(error_number([] { requete_tableau(platform::Sql::text("select x from NoSuchTable")); }), 0);
    EXPECT_FALSE(cst().objRecordset->IsOpen());
    requete_tableau(platform::Sql::text("select count(*) from Club"));
    ASSERT_EQ(tab.size(), 1u);
    EXPECT_EQ(tab[0].Item(1), "3");
    vide_tableau();
    EXPECT_TRUE(tab.empty());

    EXPECT_EQ(requete_valeur(platform::Sql::text("select count(*) from Club")), 3);
    const std::pair<const char*, int> failures[] = {{"select NULL", platform::err::kInvalidUseOfNull},
                                                    {"select 'abc'", platform::err::kTypeMismatch},
                                                    {"select 1 where 0 = 1", 3021},
                                                    {"select 3000000000", platform::err::kOverflow}};
    for (const auto& failure : failures) {
        const char* statement = failure.first;
        EXPECT_EQ(error_number([&] { requete_valeur(platform::Sql::text(statement)); }), failure.second) << statement;
    }
    EXPECT_FALSE(cst().objRecordset->IsOpen());
}

}  // namespace
}  // namespace ondival::test
