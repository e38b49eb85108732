// What only a host database on a server can do to an import: refuse the
// password, not be there, go away in the middle, keep a transaction alive
// across a failed statement. Run with the PostgreSQL pass of the suite.
#include <gtest/gtest.h>

#include <chrono>

#include "clubs/club_save.h"
#include "core/database_access.h"
#include "import/cls_ondival.h"
#include "platform/cp1252.h"
#include "platform/database.h"
#include "platform/error.h"
#include "samples/sample_export.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

// A small export: the clubs, licences and performances of a club season.
void write_export(const std::filesystem::path& dir) {
    samples::SampleExportOptions o;
    o.clubs = 6;
    o.licences = 120;
    o.performances = 600;
    o.relays = 40;
    const std::string problem = samples::generate_sample_export(dir.string(), o);
    ASSERT_EQ(problem, "");
}

class ServerImport : public ImportFixture, public ::testing::Test {
protected:
    void SetUp() override {
        if (!on_server()) GTEST_SKIP() << "needs the PostgreSQL pass (ONDIVAL_TEST_ENGINE=postgresql)";
    }
};

struct BadServer {
    const char* name;
    std::string (*address)(const std::string& good);
    int number;                // the "Erreur n° " the trace gives
    platform::ErrorKind kind;  // what a host is told it is
};

std::string with_password(const std::string& uri, const std::string& password) {
    const std::size_t from = uri.find("://") + 3;
    const std::size_t colon = uri.find(':', from);
    const std::size_t at = uri.find('@', from);
    return uri.substr(0, colon + 1) + password + uri.substr(at);
}

std::string with_port(const std::string& uri, const std::string& port) {
    const std::size_t at = uri.find('@');
    const std::size_t colon = uri.find(':', at);
    const std::size_t slash = uri.find('/', colon);
    return uri.substr(0, colon + 1) + port + uri.substr(slash);
}

class ServerRefuses : public ServerImport, public ::testing::WithParamInterface<BadServer> {};

TEST_P(ServerRefuses, TheImportStopsAtTheConnectionWithAClearMessage) {
    write_export(source());
    const std::string address = GetParam().address(db);
    const auto start = std::chrono::steady_clock::now();
    const bool result = clsOndival().bimport_perf(address, source().string(), scratch().string(), trace_path(),
                                                  nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(result);
    const auto t = trace();
    ASSERT_GE(t.size(), 5u);
    EXPECT_EQ(t[2], "Erreur de connexion dans dll d'import des licences.");
    EXPECT_EQ(t[4].rfind("Erreur n° " + std::to_string(GetParam().number) + ": ", 0), 0u) << t[4];
    EXPECT_EQ(read_bytes(trace_path()).find("wrong-password"), std::string::npos) << "the trace shows a password";
    EXPECT_EQ(count("Club"), "0");
}

// The same refusals as the connection raises them, each with its kind: the
// two numbered 14 are not the same fault.
TEST_P(ServerRefuses, TheConnectionSaysWhichRefusalItIs) {
    platform::Connection conn;
    const platform::Error error = error_of([&] { conn.Open(connection_string(GetParam().address(db))); });
    EXPECT_EQ(error.number, GetParam().number) << error.description;
    EXPECT_EQ(error.kind, GetParam().kind) << error.description;
}

INSTANTIATE_TEST_SUITE_P(
    Each, ServerRefuses,
    ::testing::Values(
        BadServer{"WrongPassword", [](const std::string& good) { return with_password(good, "wrong-password"); }, 23,
                  platform::ErrorKind::kWrongPassword},
        BadServer{"NothingListens", [](const std::string& good) { return with_port(good, "1"); }, 14,
                  platform::ErrorKind::kNoServer},
        BadServer{"NoSuchDatabase",
                  [](const std::string& good) { return good.substr(0, good.rfind('/') + 1) + "ondival_none"; }, 14,
                  platform::ErrorKind::kNoDatabase}),
    [](const auto& info) { return std::string(info.param.name); });

// The server ends the import's session while the performances go in, as a
// restart or an administrator would.
class CutOffDuringPerformances : public RecordingForm {
public:
    explicit CutOffDuringPerformances(std::string db) : db_(std::move(db)) {}
    void SetStepTitle(const std::string& title) override {
        RecordingForm::SetStepTitle(title);
        in_performances_ = title == "Fichier Liffn.txt";
    }
    void SetValue(double v) override {
        RecordingForm::SetValue(v);
        if (in_performances_ && !done_ && ++seen_ == 50) {
            done_ = true;
            const std::string name = db_.substr(db_.rfind('/') + 1);
            OtherSession(db_).exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + name +
                                   "' AND pid <> pg_backend_pid()");
        }
    }
    bool done() const { return done_; }

private:
    std::string db_;
    bool in_performances_ = false, done_ = false;
    int seen_ = 0;
};

TEST_F(ServerImport, ServerGoneMidImportLeavesNoStagedRowAndTheNextImportGoesIn) {
    write_export(source());
    CutOffDuringPerformances form(db);
    bool result = true, raised = false;
    try {
        result = run(&form);
    } catch (const platform::Failure&) {
        raised = true;
    }
    ASSERT_TRUE(form.done()) << "the performance step never ran";
    EXPECT_TRUE(raised || !result);
    const std::string text = platform::cp1252_to_utf8(read_bytes(trace_path()));
    EXPECT_NE(text.find("Erreur n° 10: "), std::string::npos) << text;
    EXPECT_EQ(count("Liffn where Num_compet = -1"), "0");
    EXPECT_EQ(count("Liffn_relais where Num_compet = -1"), "0");
    EXPECT_EQ(count("Rcomp"), "0");

    // The server is back (it never left for the other sessions): the same
    // export goes in whole.
    std::filesystem::remove_all(scratch());
    std::filesystem::create_directories(scratch());
    EXPECT_TRUE(run());
    EXPECT_EQ(count("Liffn where Num_compet = -1"), "0");
    EXPECT_EQ(count("Liffn where Num_compet in (select AutoNum from Rcomp)"), "600");
    EXPECT_EQ(count("Liffn_relais where Num_compet in (select AutoNum from Rcomp)"), "40");
    EXPECT_EQ(sql1(db, "select LastClose from Info"), "1");
}

// The database layer on a server, where it must behave as on a file.
class ServerConnection : public ::testing::Test {
protected:
    void SetUp() override {
        if (!on_server()) GTEST_SKIP() << "needs the PostgreSQL pass (ONDIVAL_TEST_ENGINE=postgresql)";
        db = make_host_database(dir);
        conn.Open(connection_string(db));
    }
    std::string first(const std::string& statement) { return first(platform::Sql::text(statement)); }
    std::string first(const platform::Sql& statement) {
        platform::Recordset rs;
        rs.Open(statement, conn);
        if (rs.Eof()) return "<none>";
        const auto v = rs.Field(0);
        return v ? *v : "<null>";
    }
    ScratchDir dir;
    std::string db;
    platform::Connection conn;
};

TEST_F(ServerConnection, AFailedStatementLeavesTheTransactionUsable) {
    conn.BeginTrans();
    conn.Execute("INSERT INTO Club (Code_federal, Intitule, Selection) VALUES ('FRA5110750001', 'A', false)");
    EXPECT_NE(error_number([&] { conn.Execute("INSERT INTO Nowhere (x) VALUES (1)"); }), 0);
    EXPECT_EQ(error_number([&] { conn.Execute("INSERT INTO Liffn (Code_epreuve) VALUES ('douze')"); }), 20);
    conn.Execute("INSERT INTO Club (Code_federal, Intitule, Selection) VALUES ('FRA5110750002', 'B', true)");
    EXPECT_TRUE(conn.InTransaction());
    conn.CommitTrans();
    EXPECT_EQ(sql(db, "select Intitule || CAST(Selection AS INTEGER) from Club order by Num"),
              (std::vector<std::string>{"A0", "B1"}));
}

TEST_F(ServerConnection, ValuesReadAsOnAFile) {
    conn.Execute("INSERT INTO Liffn (Code_epreuve, Code_club, Tps, Lieu, Num_compet) "
                 "VALUES (12, 'C', 105.50, '" +
                 std::string("Béziers d''Hérault"_w) + "', -1)");
    EXPECT_EQ(first("SELECT Tps FROM Liffn"), "105.5");
    EXPECT_EQ(first("SELECT Num_compet FROM Liffn"), "-1");
    EXPECT_EQ(first("SELECT Lieu FROM Liffn"), "Béziers d'Hérault"_w);
    EXPECT_EQ(first("SELECT count(*) FROM Liffn WHERE Num_compet = -1"), "1");
    EXPECT_EQ(first("SELECT LastClose FROM Info"), "1");
    EXPECT_EQ(first("SELECT Codif_Fede FROM Liffn"), "<null>");
    EXPECT_EQ(first("SELECT Code_club FROM Liffn ORDER BY 1"), "C");
}

TEST_F(ServerConnection, OneStatementPerCallAndNoNulInText) {
    EXPECT_EQ(error_number([&] { conn.Execute("UPDATE Info Set LastClose = true; DROP TABLE Club"); }), 1);
    EXPECT_EQ(error_number([&] { conn.Execute("UPDATE Info Set LastClose = true; DROP TABLE Club;"); }), 1);
    EXPECT_EQ(first("SELECT count(*) FROM Club"), "0");  // still there
    // A NUL inside a value is data, which a server text cannot hold.
    const platform::Shape relabel{"UPDATE Club SET Intitule = ?", platform::Shape::update("Club")};
    EXPECT_EQ(error_number([&] { conn.Execute(platform::Sql(relabel).quoted(std::string("a\0b", 3))); }), 20);
    // Outside quotes a NUL would end the text early: "DELETE FROM Club".
    const char bare_nul[] = "DELETE FROM Club\0 WHERE Num = 0";
    conn.Execute("INSERT INTO Club (Code_federal, Intitule, Selection) VALUES ('FRA5110750001', 'A', false)");
    EXPECT_EQ(error_number([&] { conn.Execute(std::string(bare_nul, sizeof bare_nul - 1)); }), 1);
    EXPECT_EQ(first("SELECT count(*) FROM Club"), "1");
    conn.Execute("UPDATE Info Set LastClose = false;");
    EXPECT_EQ(first("SELECT LastClose FROM Info"), "0");
}

// Clubs read early for the coming lines while the import creates one of
// them: the answer read before the club existed must not be handed out
// after, or the next line would create the club a second time.
TEST_F(ServerConnection, AnEarlyAnswerSpoiledByTheImportsOwnWriteIsAskedAgain) {
    const auto read = [](const std::string& code) { return requete_club(code); };
    const platform::Shape insert{"INSERT INTO Club (Code_federal, Intitule, Selection) VALUES (?, ?, false)",
                                 platform::Shape::insert("Club", {"Code_federal", "Intitule", "Selection"})};
    conn.SpeculateNextTransaction();
    conn.BeginTrans();
    ASSERT_TRUE(conn.Speculating());
    conn.Prefetch({read("FRA5110750001"), read("FRA5110750002"), read("FRA5110750003")});
    const long abandoned = platform::speculations_abandoned();
    conn.Execute(platform::Sql(insert).quoted("FRA5110750002").quoted("B"));
    first("select count(*) from Pays");  // a read of its own: every answer on its way is in
    EXPECT_NE(first(read("FRA5110750002")), "<none>");
    EXPECT_EQ(first(read("FRA5110750001")), "<none>");
    conn.CommitTrans();
    EXPECT_EQ(platform::speculations_abandoned(), abandoned);
}

TEST_F(ServerConnection, ASecondWriterWaitsABoundedTimeThenHearsItIsBusy) {
    platform::Connection other;
    other.Open(connection_string(db));
    conn.BeginTrans();
    const auto start = std::chrono::steady_clock::now();
    const platform::Error busy = error_of([&] { other.BeginTrans(); });
    EXPECT_EQ(busy.number, 5);
    EXPECT_EQ(busy.kind, platform::ErrorKind::kBusy);  // a lock timeout, as a file's busy database
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(platform::kBusyTimeoutMs - 500));
    EXPECT_LT(waited, std::chrono::seconds(30));
    EXPECT_FALSE(other.InTransaction());
    conn.RollbackTrans();
    other.BeginTrans();
    other.CommitTrans();
}

}  // namespace
}  // namespace ondival::test
