// What arrives from a removable drive or a hand-edited export, and what a
// failing database does to an import: a clear trace, a consistent database,
// no crash, and nothing left half open.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "import/cls_ondival.h"
#include "import/report_json.h"
#include "platform/database.h"
#include "platform/error.h"
#include "tests/report_support.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {


void write_export(const std::filesystem::path& src) {
    write_lines(src / "club.txt", {club_line(kClub, "CN PARIS")});
    write_lines(src / "licence.txt",
                {LicenceLine{.club = kClub, .licence = "851234", .nom = "DUPONT", .prenom = "Anne"}.str()});
    write_lines(src / "liffn.txt",
                {PerfLine{.club = kClub, .licence = "851234"}.str(), PerfLine{.club = kClub, .licence = "902001"}.str(),
                 PerfLine{.nage = "18", .club = kClub, .licence = "R0001", .relayeurs = {"851234", "902001", "123456"}}.str()});
    write_lines(src / "origine.txt", {"Tests"});
}

class EntryPoint : public ImportFixture, public ::testing::Test {};

TEST_F(EntryPoint, MissingSourceDirectoryRaisesAfterClosingTheTrace) {
    const std::string missing = (dir.path() / "no-such-drive").string();
    try {
        clsOndival().bimport_perf(db, missing, scratch().string(), trace_path(), nullptr);
        FAIL() << "expected an error for the host";
    } catch (const platform::Failure& f) {
        EXPECT_EQ(f.error().number, 76);
    }
    const auto t = trace();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0], "Début de l'import : 06/12/2026 14:03:27");
    EXPECT_EQ(t[2], "Import interrompu.");
    EXPECT_EQ(t[3].rfind("Erreur n° 76: ", 0), 0u);
}

TEST_F(EntryPoint, UnreadableSourceIsADriveNotReady) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every directory";
    std::filesystem::permissions(source(), std::filesystem::perms::none);
    const bool result = run();
    std::filesystem::permissions(source(), std::filesystem::perms::owner_all);
    EXPECT_FALSE(result);
    const auto t = trace();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[2], "Le lecteur source n'est pas pret.");
    EXPECT_EQ(t[3], "Import annulé.");
}

TEST_F(EntryPoint, WithoutLiffnNothingIsImportedNorCopied) {
    write_export(source());
    std::filesystem::remove(source() / "liffn.txt");
    EXPECT_FALSE(run());
    const auto t = trace();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[2], "Fichier liffn.txt non trouvé dans le répertoire : " + source().string());
    EXPECT_EQ(count("Club"), "0");
    EXPECT_TRUE(std::filesystem::is_empty(scratch()));
    EXPECT_EQ(sql1(db, "select LastClose from Info"), "1");
}

TEST_F(EntryPoint, OnlyLiffnRunsThePerformanceStepStraightAfterTheOrigin) {
    write_export(source());
    for (const char* f : {"club.txt", "licence.txt", "origine.txt"}) std::filesystem::remove(source() / f);
    EXPECT_TRUE(run());
    const auto t = trace();
    EXPECT_EQ(t[5], "Données source générées par l'application : ");
    EXPECT_EQ(t[6], "Fichier origine.txt non disponible");
    EXPECT_EQ(t[9], "Traitement des performances depuis fichier Liffn.txt");
}

TEST_F(EntryPoint, CopiesTakeTheFirstFreeName) {
    write_export(source());
    write_bytes(scratch() / "liffn.txt", "old");
    write_bytes(scratch() / "liffn1.txt", "old");
    EXPECT_TRUE(run());
    EXPECT_EQ(read_bytes(scratch() / "liffn2.txt"), read_bytes(source() / "liffn.txt"));
    EXPECT_EQ(read_bytes(scratch() / "liffn.txt"), "old");
}

TEST_F(EntryPoint, SourceWithOrWithoutTrailingSlashIsTheSame) {
    write_export(source());
    EXPECT_TRUE(clsOndival().bimport_perf(db, source().string() + "/", scratch().string(), trace_path(), nullptr));
    EXPECT_EQ(count("Liffn where Num_compet <> -1"), "2");
}

TEST_F(EntryPoint, LineEndsOfAnyKindReadTheSame) {
    // LF only (edited on Linux), CR only, and a last line without an end.
    const std::string a = PerfLine{.club = kClub, .licence = "851234"}.str();
    const std::string b = PerfLine{.club = kClub, .licence = "902001"}.str();
    for (const std::string& bytes : {a + "\n" + b + "\n", a + "\r" + b + "\r", a + "\r\n" + b}) {
        ScratchDir other;
        const std::string other_db = make_host_database(other);
        std::filesystem::create_directories(other.path() / "s");
        write_bytes(other.path() / "s" / "liffn.txt", bytes);
        EXPECT_TRUE(clsOndival().bimport_perf(other_db, (other.path() / "s").string(), other.path().string(),
                                              other.file("t.txt"), nullptr));
        EXPECT_EQ(sql1(other_db, "select count(*) from Liffn where Num_compet <> -1"), "2");
    }
}

TEST_F(EntryPoint, EmptyOrigineIsReportedAndTheImportGoesOn) {
    write_export(source());
    write_bytes(source() / "origine.txt", "");
    EXPECT_TRUE(run());
    EXPECT_TRUE(trace_has("Une erreur s'est produite lors de la lecture du fichier origine.txt"));
}

struct BadDatabase {
    const char* name;
    void (*make)(const std::string& path);
};

class BadHostDatabase : public ImportFixture, public ::testing::TestWithParam<BadDatabase> {};

TEST_P(BadHostDatabase, ConnectionFailureIsReportedAndNothingIsCreated) {
    write_export(source());
    const std::string path = dir.file("bad.db");
    GetParam().make(path);
    const bool existed = std::filesystem::exists(path);
    EXPECT_FALSE(clsOndival().bimport_perf(path, source().string(), scratch().string(), trace_path(), nullptr));
    const auto t = trace();
    ASSERT_GE(t.size(), 5u);
    EXPECT_EQ(t[2], "Erreur de connexion dans dll d'import des licences.");
    EXPECT_EQ(t[3], "Import annulé.");
    EXPECT_EQ(t[4].rfind("Erreur n° ", 0), 0u) << t[4];
    EXPECT_EQ(std::filesystem::exists(path), existed);
}

INSTANTIATE_TEST_SUITE_P(
    Each, BadHostDatabase,
    ::testing::Values(BadDatabase{"Missing", [](const std::string&) {}},
                      BadDatabase{"NotADatabase", [](const std::string& p) { write_bytes(p, std::string(4096, 'x')); }},
                      BadDatabase{"WithoutInfo",
                                  [](const std::string& p) {
                                      sqlite3* h = nullptr;
                                      sqlite3_open(p.c_str(), &h);
                                      sqlite3_exec(h, "create table Other (x)", nullptr, nullptr, nullptr);
                                      sqlite3_close(h);
                                  }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EntryPoint, UnwritableTraceRaisesToTheHost) {
    write_export(source());
    const std::string trace_in_missing_dir = (dir.path() / "nope" / "trace.txt").string();
    clsOndival component;
    const platform::Error error = error_of(
        [&] { component.bimport_perf(db, source().string(), scratch().string(), trace_in_missing_dir, nullptr); });
    EXPECT_EQ(error.number, platform::err::kPathNotFound);
    EXPECT_EQ(error.kind, platform::ErrorKind::kPathNotFound);
    EXPECT_EQ(component.last_error().number, error.number);
    EXPECT_EQ(component.last_error().kind, error.kind);
    EXPECT_EQ(sql1(db, "select LastClose from Info"), "1");
}

TEST_F(EntryPoint, UnwritableScratchRaisesWithATraceAndClosesTheDatabase) {
    write_export(source());
    const std::string missing = (dir.path() / "no-scratch").string();
    try {
        clsOndival().bimport_perf(db, source().string(), missing, trace_path(), nullptr);
        FAIL() << "expected an error for the host";
    } catch (const platform::Failure& f) {
        EXPECT_NE(f.error().number, 0);
    }
    const auto t = trace();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], "Import interrompu.");
    EXPECT_EQ(t.back().rfind("Erreur n° ", 0), 0u);
    EXPECT_EQ(sql1(db, "select LastClose from Info"), "1");
}

TEST_F(EntryPoint, BusyDatabaseStopsWithAClearMessageAfterABoundedWait) {
    write_export(source());
    OtherSession other(db);
    // A workstation in the middle of writing: on a file it holds the whole
    // file, on a server it holds the table the import marks first.
    other.exec(on_server() ? "BEGIN; LOCK TABLE Info IN ACCESS EXCLUSIVE MODE" : "BEGIN EXCLUSIVE");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(run());
    const auto waited = std::chrono::steady_clock::now() - start;
    other.exec("ROLLBACK");
    EXPECT_LT(waited, std::chrono::seconds(30));
    const auto t = trace();
    EXPECT_EQ(t[2], "Erreur de connexion dans dll d'import des licences.");
    EXPECT_EQ(t[4].rfind("Erreur n° 5: ", 0), 0u) << t[4];
    EXPECT_EQ(sql1(db, "select LastClose from Info"), "1");
    EXPECT_EQ(count("Club"), "0");
}

// Hostile text stays data: quotes and SQL fragments in codes, licence
// numbers, names and places never become SQL.
TEST_F(EntryPoint, QuotesAndSqlInCodesAndNamesStayData) {
    const std::string evil_club = "FRA511075'001";
    const std::string injected = "X' OR '1'='1";
    write_lines(source() / "club.txt",
                {club_line(kClub, "CN PARIS"), club_line(evil_club, "L'ECLUB'); DROP TABLE Club;--")});
    write_lines(source() / "licence.txt",
                {LicenceLine{.club = kClub, .licence = "85'234", .nom = "O'HARA", .prenom = "Sea'n"}.str(),
                 LicenceLine{.club = injected, .licence = "851234", .nom = "X"}.str(),
                 LicenceLine{.club = kClub, .licence = "85' OR", .nom = "Y"}.str()});
    write_lines(source() / "liffn.txt",
                {PerfLine{.club = kClub, .licence = "85'234", .nom = "O'HARA", .lieu = "L'ISLE'; --"}.str(),
                 PerfLine{.club = evil_club, .licence = "901'11", .nom = "D'ARC"}.str()});
    EXPECT_TRUE(run());
    EXPECT_EQ(sql(db, "select Intitule from Club order by Num"),
              (std::vector<std::string>{"CN PARIS", "L'ECLUB'); DROP TABLE Club;--"}));
    EXPECT_EQ(sql(db, "select licence from Licence where Nom <> 'Null' order by Num"),
              (std::vector<std::string>{"85'234", "85' OR", "901'11"}));
    EXPECT_EQ(sql(db, "select Lieu from Liffn order by Num"), (std::vector<std::string>{"L'ISLE'; --", "PARIS"}));
    // The code shaped as an injection is not a valid club: its line is in error.
    EXPECT_TRUE(trace_has("Le code club est erronné : " + injected + " "));  // as the columns cut it
    EXPECT_EQ(count("Pays"), sql1(db, "select count(*) from Pays"));
}

TEST_F(EntryPoint, UndefinedBytesAndLongLinesStayData) {
    const std::string weird = std::string("B\x81\x8D\x8F\x90\x9DZ");
    write_lines(source() / "liffn.txt",
                {PerfLine{.club = kClub, .licence = "851234", .nom = "ZED", .prenom = weird}.str(),
                 std::string(1 << 20, 'A')});
    EXPECT_FALSE(run());  // the megabyte line is not a performance
    EXPECT_EQ(count("Liffn"), "0");
    EXPECT_EQ(count("Licence where Prenom like 'B%'"), "1");  // the swimmer is kept
}

// Every statement of a small import, failing in turn as a disk error would.
TEST(FaultInjection, EveryFailingStatementLeavesTheDatabaseConsistent) {
    long total = 0;
    {
        ImportFixture clean;
        write_export(clean.source());
        platform::inject_statement_failure(0);
        ASSERT_TRUE(clean.run());
        total = platform::statements_run();
    }
    ASSERT_GT(total, 10);
    for (long k = 1; k <= total; ++k) {
        SCOPED_TRACE("failing statement " + std::to_string(k));
        ImportFixture f;
        write_export(f.source());
        platform::inject_statement_failure(k);
        clsOndival component;
        component.collect_report(true);
        bool result = false;
        try {
            result = component.bimport_perf(f.db, f.source().string(), f.scratch().string(), f.trace_path(), nullptr);
        } catch (const platform::Failure&) {
        }
        platform::inject_statement_failure(0);
        const std::string trace = read_bytes(f.trace_path());
        EXPECT_NE(trace.find("Erreur"), std::string::npos) << "the trace says nothing of the failure";
        // The relay line warns of an unknown member: where a failure comes
        // after it, the report still stops where the trace does.
        expect_report_agrees_with_trace(nlohmann::json::parse(report_to_json(component.rapport())), f.trace());
        EXPECT_EQ(f.count("Liffn where Num_compet = -1"), "0");
        EXPECT_EQ(f.count("Liffn_relais where Num_compet = -1"), "0");
        const std::string attached = f.count("Liffn where Num_compet in (select AutoNum from Rcomp)");
        if (result) {
            EXPECT_EQ(attached, "2");
            EXPECT_EQ(f.count("Liffn_relais where Num_compet in (select AutoNum from Rcomp)"), "1");
        } else {
            EXPECT_EQ(f.count("Liffn"), "0");
            EXPECT_EQ(f.count("Liffn_relais"), "0");
        }
        // Only a failure of the closing mark itself can leave it false, and
        // the trace then says the disconnection failed.
        if (trace.find("lors de la d\xe9"
                       "connexion") == std::string::npos) {
            EXPECT_EQ(f.count("Info where LastClose = true"), "1");
        }
    }
}

}  // namespace
}  // namespace ondival::test
