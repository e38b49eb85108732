// The host database behind one connection: what opens, one statement per
// call, values kept and read back, transactions and injected failures; and
// the addresses that name a server instead of a file.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "core/database_access.h"
#include "host/host_schema.h"
#include "host/server_session.h"
#include "platform/cp1252.h"
#include "platform/database.h"
#include "platform/error.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

class Database : public ::testing::Test {
protected:
    void SetUp() override { conn.Open(connection_string(db)); }
    void TearDown() override { platform::inject_statement_failure(0); }
    // First column of every row, read back through the component.
    std::vector<std::optional<std::string>> column(const std::string& statement) {
        platform::Recordset rs;
        rs.Open(statement, conn);
        std::vector<std::optional<std::string>> out;
        for (; !rs.Eof(); rs.MoveNext()) out.push_back(rs.Field(0));
        return out;
    }
    ScratchDir dir;
    std::string db = make_host_database(dir);
    platform::Connection conn;
};

TEST_F(Database, OnlyARealHostFileOpens) {
    platform::Connection other;
    const std::string missing = dir.file("absent.db");
    EXPECT_NE(error_number([&] { other.Open(connection_string(missing)); }), 0);
    EXPECT_FALSE(std::filesystem::exists(missing)) << "an empty database was made in its place";
    const std::string text = dir.file("club.txt");
    write_bytes(text, std::string(4096, 'x'));
    try {
        other.Open(connection_string(text));
        FAIL() << "a text file opened as a database";
    } catch (const platform::Failure& f) {
        EXPECT_NE(f.error().description.find("file is not a database"), std::string::npos) << f.what();
    }
    EXPECT_EQ(other.State(), 0);
    EXPECT_EQ(error_number([&] { conn.Open(connection_string(db)); }), platform::err::kInvalidCall);
    // A ';' in the folder name does not cut the path short.
    ScratchDir odd;
    std::filesystem::create_directory(odd.path() / "a;b");
    const std::string odd_db = make_host_database(odd, "a;b/club.db");
    other.Open(connection_string(odd_db));
    other.Execute("Update Info Set LastClose = false");
    EXPECT_EQ(sql1(odd_db, "select LastClose from Info"), "0");
}

TEST_F(Database, OneStatementPerCall) {
    EXPECT_NE(error_number([&] { conn.Execute("select 1; select 2"); }), 0);
    EXPECT_NE(error_number([&] {
                  conn.Execute("insert into Piscine (Nom) values ('A'); insert into Piscine (Nom) values ('B')");
              }),
              0);
    EXPECT_NE(error_number([&] { conn.Execute(""); }), 0);
    // A NUL outside quotes would end the text early, leaving another
    // statement: "delete from Piscine".
    conn.Execute("insert into Piscine (Nom) values ('kept')");
    const char bare_nul[] = "delete from Piscine\0 where Nom = 'none'";
    EXPECT_NE(error_number([&] { conn.Execute(std::string(bare_nul, sizeof bare_nul - 1)); }), 0);
    EXPECT_EQ(sql1(db, "select count(*) from Piscine"), "1") << "a cut statement ran";
    conn.Execute("delete from Piscine");
    EXPECT_EQ(sql1(db, "select count(*) from Piscine"), "0") << "part of a refused text ran";
    conn.Execute("insert into Piscine (Nom) values ('C') ");
    conn.Execute("insert into Piscine (Nom) values ('D');");
    // Separators, comments and markers inside a text value are data.
    conn.Execute("insert into Piscine (Nom) values ('E; delete from Club -- ? :x @y $z')");
    EXPECT_EQ(sql(db, "select Nom from Piscine order by Num"),
              (std::vector<std::string>{"C", "D", "E; delete from Club -- ? :x @y $z"}));
}

TEST_F(Database, TextValuesKeepEveryCharacter) {
    conn.Execute("insert into Club (Code_federal, Intitule, Selection) values ('FRA', 'C''EST', false)");
    conn.Execute("insert into Club (Code_federal, Intitule, Selection) values ('007', 'Sébastien Œuvre €"_w +
                 "', true)");
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != '\'') all.push_back(static_cast<char>(b));
    all += std::string("\0end", 4);
    all.push_back('\'');
    // As the import writes a value: bound, whatever bytes it holds.
    const platform::Shape insert{"insert into Club (Code_federal, Intitule, Selection) values (?, ?, false)",
                                 platform::Shape::insert("Club", {"Code_federal", "Intitule", "Selection"})};
    conn.Execute(platform::Sql(insert).quoted("ALL").quoted(all));
    // The file holds UTF-8, so other tools of the club read the same names.
    EXPECT_EQ(sql(db, "select Intitule from Club where Code_federal <> 'ALL' order by Num"),
              (std::vector<std::string>{"C'EST", "Sébastien Œuvre €"}));
    EXPECT_EQ(sql1(db, "select Intitule from Club where Code_federal = 'ALL'"),
              platform::cp1252_to_utf8(all.substr(0, all.find('\0'))));  // the helper reads up to the NUL
    EXPECT_EQ(column("select Intitule from Club where Intitule = 'C''EST'"),
              (std::vector<std::optional<std::string>>{"C'EST"}));
    EXPECT_EQ(column("select Intitule from Club where Code_federal = '007'").at(0), "Sébastien Œuvre €"_w);
    EXPECT_EQ(column("select Intitule from Club where Code_federal = 'ALL'").at(0), all);
    EXPECT_EQ(column("select Code_federal from Club where Selection = true").at(0), "007");  // text, not 7
}

// Accented texts of a write are converted into buffers the engine keeps
// for each place. Short ones live inside their buffer: on a fresh
// connection, a write with such texts in many places must store each one
// as given, and so must the next write of other texts in the same places.
TEST_F(Database, ShortAccentedTextsInEveryPlaceOfAWriteAreStoredAsGiven) {
    const platform::Shape insert{
        "insert into Licence (Code_club, licence, Nom, Prenom, sexe, Nationalite, Adresse, Localite, Telephone) "
        "values (?, ?, ?, ?, ?, ?, ?, ?, ?)",
        platform::Shape::insert("Licence", {"Code_club", "licence", "Nom", "Prenom", "sexe", "Nationalite", "Adresse",
                                            "Localite", "Telephone"})};
    const std::vector<std::vector<std::string>> rows = {
        {"é1", "ç2", "Sète", "Nîmes", "à", "Hélène", "Ève", "Brûlé", "ô9"},
        {"A1", "è", "Zoé", "Noël", "ï", "Éa", "Léa", "Gaël", "ü"},
    };
    for (const std::vector<std::string>& row : rows) {
        platform::Sql sql(insert);
        for (const std::string& value : row) sql.quoted(platform::utf8_to_cp1252(value));
        conn.Execute(sql);
    }
    for (std::size_t r = 0; r < rows.size(); ++r)
        EXPECT_EQ(sql(db, "select Code_club || '|' || licence || '|' || Nom || '|' || Prenom || '|' || sexe || '|' || "
                          "Nationalite || '|' || Adresse || '|' || Localite || '|' || Telephone from Licence "
                          "where Code_club = '" +
                              rows[r][0] + "'"),
                  (std::vector<std::string>{rows[r][0] + "|" + rows[r][1] + "|" + rows[r][2] + "|" + rows[r][3] + "|" +
                                            rows[r][4] + "|" + rows[r][5] + "|" + rows[r][6] + "|" + rows[r][7] + "|" +
                                            rows[r][8]}))
            << r;
}

TEST_F(Database, ValuesComeBackAsTextOrNothing) {
    platform::Recordset rs;
    rs.Open("select NULL, -1, 2.5, 9007199254740993, 'x', ''", conn);
    const std::vector<std::optional<std::string>> expected = {std::nullopt, "-1", "2.5", "9007199254740993", "x", ""};
    ASSERT_FALSE(rs.Eof());
    ASSERT_EQ(rs.FieldCount(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(rs.Field(i), expected[i]) << i;
    EXPECT_EQ(error_number([&] { rs.Field(6); }), platform::err::kSubscript);
    rs.MoveNext();
    EXPECT_TRUE(rs.Eof());
    EXPECT_EQ(error_number([&] { rs.Field(0); }), platform::err::kSubscript);
    rs.Close();
    EXPECT_TRUE(column("select Nom from Piscine").empty());
    // One statement shape, many values: each row keeps its own.
    for (int i = 1; i <= 3; ++i)
        conn.Execute("insert into Liffn_relais (Licence1, Licence10, Num_compet) values (" + std::to_string(i) + ", " +
                     std::to_string(10 * i) + ", -1)");
    EXPECT_EQ(sql(db, "select Licence10 from Liffn_relais where Num_compet = -1 order by Num"),
              (std::vector<std::string>{"10", "20", "30"}));
}

TEST_F(Database, InjectedFailureHitsExactlyTheKthStatement) {
    platform::inject_statement_failure(2);
    conn.Execute("insert into Piscine (Nom) values ('first')");
    EXPECT_EQ(error_number([&] { conn.Execute("insert into Piscine (Nom) values ('second')"); }), 10);
    conn.Execute("insert into Piscine (Nom) values ('third')");
    EXPECT_EQ(platform::statements_run(), 3);
    EXPECT_EQ(sql(db, "select Nom from Piscine order by Num"), (std::vector<std::string>{"first", "third"}));
    platform::inject_statement_failure(1);
    EXPECT_EQ(error_number([&] { column("select 1"); }), 10);  // queries count too
    platform::inject_statement_failure(0);
    EXPECT_EQ(column("select 1").size(), 1u);
}

TEST_F(Database, TransactionsCommitOrRollBack) {
    conn.BeginTrans();
    EXPECT_TRUE(conn.InTransaction());
    conn.Execute("insert into Piscine (Nom) values ('dropped')");
    conn.RollbackTrans();
    EXPECT_FALSE(conn.InTransaction());
    conn.BeginTrans();
    conn.Execute("insert into Piscine (Nom) values ('kept')");
    EXPECT_EQ(sql1(db, "select count(*) from Piscine"), "0");  // not visible before the commit
    conn.CommitTrans();
    conn.BeginTrans();
    conn.Execute("insert into Piscine (Nom) values ('cut off')");
    conn.Close();  // closing inside a transaction rolls it back
    EXPECT_EQ(sql(db, "select Nom from Piscine"), (std::vector<std::string>{"kept"}));
    EXPECT_EQ(error_number([&] { conn.Execute("select 1"); }), platform::err::kInvalidCall);
}

// An init cut short while it writes the reference rows leaves no host
// database to be taken for a whole one: no file, or on a server no tables,
// so that the same init can simply be run again.
TEST(HostInit, AFailureHalfWayLeavesThePlaceFree) {
    const ScratchDir dir;
    const std::string db = on_server() ? make_server_database() : dir.file("club.db");
    platform::inject_statement_failure(5);
    const std::string error = host::create_host_database(db);
    platform::inject_statement_failure(0);
    EXPECT_NE(error.find("disk I/O error (injected)"), std::string::npos) << error;
    EXPECT_EQ(host::create_host_database(db), "");
}

// A column number after ORDER BY must stay a column number: bound as a
// value it would sort by a constant.
TEST_F(Database, ColumnNumbersInOrderByKeepTheirMeaning) {
    for (const char* n : {"B", "A", "C"}) conn.Execute(std::string("insert into Piscine (Nom) values ('") + n + "')");
    EXPECT_EQ(column("select Nom from Piscine order by 1"), (std::vector<std::optional<std::string>>{"A", "B", "C"}));
}

// A host that passes no database must hear that its file is missing, not
// get a fresh empty database without tables.
TEST_F(Database, AnEmptyPathIsNoDatabase) {
    for (const char* path : {"", ":memory:"}) {
        platform::Connection other;
        EXPECT_NE(error_number([&] { other.Open(connection_string(path)); }), 0) << '"' << path << '"';
    }
}

// Guards against a double free: closing the connection finalizes the
// statements it handed out, so the recordset's own Close afterwards must not
// finalize its statement a second time. The fault shows as a crash at best;
// the sanitizer build (tools/test.sh, ONDIVAL_SANITIZE) reports it for sure.
// IsOpen only says the late Close still left the recordset closed.
TEST_F(Database, RecordsetClosedAfterItsConnectionFreesItsStatementOnlyOnce) {
    platform::Recordset rs;
    rs.Open("select 1", conn);
    conn.Close();
    rs.Close();
    EXPECT_FALSE(rs.IsOpen());
}

// Server addresses: which argument is a server, what may be shown of it,
// and where a sibling database lives.
struct AddressCase {
    const char* name;
    const char* given;
    bool server;
    const char* shown;
    const char* sibling;  // of database "t1"
};

class Addresses : public ::testing::TestWithParam<AddressCase> {};

TEST_P(Addresses, EngineShownFormAndSibling) {
    const AddressCase& c = GetParam();
    EXPECT_EQ(platform::is_postgres_uri(c.given), c.server);
    EXPECT_EQ(platform::printable_database(c.given), c.shown);
    if (c.server) {
        EXPECT_EQ(host::sibling_database(c.given, "t1"), c.sibling);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Each, Addresses,
    ::testing::Values(AddressCase{"FilePath", "/data/club.db", false, "/data/club.db", ""},
                      AddressCase{"FileNamedLikeTheScheme", "postgresql.db", false, "postgresql.db", ""},
                      AddressCase{"PasswordBeforeTheHostHidden", "postgresql://u:s3cret@h:5432/club", true,
                                  "postgresql://u:***@h:5432/club", "postgresql://u:s3cret@h:5432/t1"},
                      AddressCase{"ShortSchemeWithSettings", "postgres://u:p@h/club?sslmode=disable", true,
                                  "postgres://u:***@h/club?sslmode=disable", "postgres://u:p@h/t1?sslmode=disable"},
                      AddressCase{"PasswordAmongTheSettingsHidden",
                                  "postgresql://h/club?user=u&password=s3cret&sslmode=disable", true,
                                  "postgresql://h/club?user=u&password=***&sslmode=disable",
                                  "postgresql://h/t1?user=u&password=s3cret&sslmode=disable"},
                      AddressCase{"NoDatabaseNorPassword", "postgresql://u@h:5432", true, "postgresql://u@h:5432",
                                  "postgresql://u@h:5432/t1"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ondival::test
