// The seam to the outside world: Windows-1252 against UTF-8, the numbered
// text files of the trace and the federation's exports, the file system of
// the source drive, and the host database behind one connection.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <optional>
#include <tuple>

#include "core/cst.h"
#include "core/database_access.h"
#include "host/host_schema.h"
#include "host/server_session.h"
#include "platform/cp1252.h"
#include "platform/database.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/text_file.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

using platform::cp1252_to_utf8;
using platform::utf8_to_cp1252;

TEST(Cp1252, WhatWindows1252CannotHoldBecomesAQuestionMark) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\xC3", "a?"},           {"\x80", "?"}, {"\xFF", "?"}, {"\xC3(", "?("},
        {"\xF0\x9F\x98\x80", "?"}, {"Ā", "?"},    {"中x", "?x"}, {"\xED\xA0\x80", "?"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(utf8_to_cp1252(in), out);
    // An overlong slash must never turn into a path separator.
    EXPECT_EQ(utf8_to_cp1252("\xC0\xAF").find('/'), std::string::npos);
}

class TextFilesTest : public ::testing::Test {
protected:
    void TearDown() override {
        platform::files().Close(1);
        platform::files().Close(2);
    }
    std::vector<std::string> read_all(const std::string& bytes) {
        write_bytes(path, bytes);
        auto& f = platform::files();
        f.OpenInput(2, path);
        std::vector<std::string> lines;
        while (!f.Eof(2)) lines.push_back(f.LineInput(2));
        f.Close(2);
        return lines;
    }
    ScratchDir dir;
    std::string path = dir.file("data.txt");
};

TEST_F(TextFilesTest, EveryLineEndGivesTheSameLines) {
    using L = std::vector<std::string>;
    const std::pair<std::string, L> cases[] = {
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\nb", {"a", "b"}},
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"", {}},
        {"\r\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"a\n\rb", {"a", "", "b"}},
        {std::string("\0x\xFF\r\n", 5), {std::string("\0x\xFF", 3)}},
    };
    for (const auto& [bytes, lines] : cases) EXPECT_EQ(read_all(bytes), lines) << testing::PrintToString(bytes);
}

TEST_F(TextFilesTest, LongLinesAndLineEndsAcrossTheReadBuffer) {
    const std::string mega(1 << 20, 'A');
    EXPECT_EQ(read_all(mega + "\r\nz"), (std::vector<std::string>{mega, "z"}));
    // CR and LF of one line end on either side of a 64 KiB boundary.
    for (std::size_t n : {65535u, 65534u, 65536u}) {
        const std::string line(n, 'x');
        EXPECT_EQ(read_all(line + "\r\nnext\r\n"), (std::vector<std::string>{line, "next"})) << n;
    }
}

TEST_F(TextFilesTest, PrintEndsEveryWriteWithCrLf) {
    auto& f = platform::files();
    write_bytes(path, "old content that must go");
    f.OpenOutput(1, path);
    f.Print(1, "a");
    f.Print(1, "");
    f.Print(1, "b\r\nc");
    f.Flush(1);
    EXPECT_EQ(read_bytes(path), "a\r\n\r\nb\r\nc\r\n");  // visible before the close
    for (int i = 0; i < 20000; ++i) f.Print(1, "0123456789");
    f.Close(1);
    EXPECT_EQ(read_bytes(path).size(), 11u + 20000u * 12u);
}

TEST_F(TextFilesTest, MisuseRaisesTheFileErrors) {
    auto& f = platform::files();
    EXPECT_EQ(error_number([&] { f.OpenInput(2, dir.file("absent.txt")); }), platform::err::kFileNotFound);
    EXPECT_EQ(error_number([&] { f.Print(3, "x"); }), platform::err::kBadFileNumber);
    EXPECT_EQ(error_number([&] { f.OpenOutput(1, dir.file("no/such/dir.txt")); }), platform::err::kPathNotFound);
    write_bytes(path, "only\r\n");
    f.OpenInput(2, path);
    EXPECT_EQ(error_number([&] { f.OpenInput(2, path); }), platform::err::kFileAlreadyOpen);
    EXPECT_EQ(error_number([&] { f.Print(2, "x"); }), platform::err::kBadFileNumber);
    EXPECT_EQ(f.LineInput(2), "only");
    EXPECT_EQ(error_number([&] { f.LineInput(2); }), platform::err::kInputPastEnd);
}

TEST(FileSystem, NamePartsOfSourcePaths) {
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        // path, file name, parent folder, extension
        {"/media/usb/club.txt", "club.txt", "/media/usb", "txt"},
        {"/media/usb//club.txt", "club.txt", "/media/usb", "txt"},
        {"/club.txt", "club.txt", "/", "txt"},
        {"club.txt", "club.txt", "", "txt"},
        {"/media/usb.2/liffn", "liffn", "/media/usb.2", ""},
        {"/tmp/export.tar.gz", "export.tar.gz", "/tmp", "gz"},
    };
    for (const auto& [path, name, parent, ext] : cases) {
        EXPECT_EQ(platform::GetFileName(path), name) << path;
        EXPECT_EQ(platform::GetParentFolderName(path), parent) << path;
        EXPECT_EQ(platform::GetExtensionName(path), ext) << path;
    }
}

TEST(FileSystem, CopySizeExistenceAndDriveReadiness) {
    ScratchDir dir;
    const std::string from = dir.file("club.txt"), to = dir.file("club1.txt");
    write_bytes(from, "new");
    write_bytes(to, "older and longer");
    platform::CopyFile(from, to);
    EXPECT_EQ(read_bytes(to), "new");
    EXPECT_NE(error_number([&] { platform::CopyFile(dir.file("absent.txt"), to); }), 0);
    EXPECT_EQ(read_bytes(to), "new");  // a failed copy leaves the target alone
    EXPECT_EQ(platform::GetFileSize(to), 3u);
    EXPECT_EQ(error_number([&] { platform::GetFileSize(dir.file("absent.txt")); }), platform::err::kFileNotFound);

    EXPECT_TRUE(platform::FileExists(from) && platform::FolderExists(dir.path().string()));
    EXPECT_FALSE(platform::FileExists(dir.path().string()) || platform::FileExists("") || platform::FolderExists(from));

    EXPECT_TRUE(platform::DriveIsReady(dir.path().string()));
    EXPECT_EQ(error_number([&] { platform::DriveIsReady(dir.file("no-such-drive")); }), platform::err::kPathNotFound);
    EXPECT_EQ(error_number([&] { platform::DriveIsReady(from); }), platform::err::kPathNotFound);
    if (geteuid() != 0) {  // root reads every directory
        const std::string locked = dir.file("locked");
        std::filesystem::create_directory(locked);
        std::filesystem::permissions(locked, std::filesystem::perms::none);
        EXPECT_FALSE(platform::DriveIsReady(locked));
        std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    }
}

std::string connection_string(const std::string& path) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";Jet OLEDB:Database Password=" + kDatabaseKey +
           ";";
}

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
    conn.Execute("insert into Club (Code_federal, Intitule, Selection) values ('ALL', '" + all + "', false)");
    // The file holds UTF-8, so other tools of the club read the same names.
    EXPECT_EQ(sql(db, "select Intitule from Club where Code_federal <> 'ALL' order by Num"),
              (std::vector<std::string>{"C'EST", "Sébastien Œuvre €"}));
    EXPECT_EQ(sql1(db, "select Intitule from Club where Code_federal = 'ALL'"),
              cp1252_to_utf8(all.substr(0, all.find('\0'))));  // the helper reads up to the NUL
    EXPECT_EQ(column("select Intitule from Club where Intitule = 'C''EST'"),
              (std::vector<std::optional<std::string>>{"C'EST"}));
    EXPECT_EQ(column("select Intitule from Club where Code_federal = '007'").at(0), "Sébastien Œuvre €"_w);
    EXPECT_EQ(column("select Intitule from Club where Code_federal = 'ALL'").at(0), all);
    EXPECT_EQ(column("select Code_federal from Club where Selection = true").at(0), "007");  // text, not 7
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
    requete_tableau("select Code_federal, Intitule from Club");
    ASSERT_EQ(tab.size(), 2u);
    EXPECT_EQ(tab[0].Count(), 0u);
    EXPECT_EQ(tab[1].Count(), 0u);
    for (const char* row : {"('FRA5110750001', 'CN PARIS')", "('FRA5110750002', NULL)", "('FRA5110750003', 'L''ISLE')"})
        sql(db, std::string("insert into Club (Code_federal, Intitule) values ") + row);
    requete_tableau("select Code_federal, Intitule, Num from Club order by Num");
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
    EXPECT_NE(error_number([] { requete_tableau("select x from NoSuchTable"); }), 0);
    EXPECT_FALSE(cst().objRecordset->IsOpen());
    requete_tableau("select count(*) from Club");
    ASSERT_EQ(tab.size(), 1u);
    EXPECT_EQ(tab[0].Item(1), "3");
    vide_tableau();
    EXPECT_TRUE(tab.empty());

    EXPECT_EQ(requete_valeur("select count(*) from Club"), 3);
    const std::pair<const char*, int> failures[] = {{"select NULL", platform::err::kInvalidUseOfNull},
                                                    {"select 'abc'", platform::err::kTypeMismatch},
                                                    {"select 1 where 0 = 1", 3021},
                                                    {"select 3000000000", platform::err::kOverflow}};
    for (const auto& failure : failures) {
        const char* statement = failure.first;
        EXPECT_EQ(error_number([&] { requete_valeur(statement); }), failure.second) << statement;
    }
    EXPECT_FALSE(cst().objRecordset->IsOpen());
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
