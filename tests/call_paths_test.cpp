// Paths a person gets wrong: the trace given the database's path, the
// scratch directory given the export's, an empty directory. Every such call
// is refused before anything is opened, created or emptied, with both roles
// named, and the database, the export and the file system's root are left
// byte for byte as they were.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "import/call_paths.h"
#include "import/cls_ondival.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "tests/test_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;

std::set<std::string> root_entries() {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/", ec)) names.insert(entry.path().filename().string());
    return names;
}

class CallPathsTest : public ::testing::Test, public ImportFixture {
protected:
    CallPathsTest() {
        write_lines(source() / "club.txt", {club_line("FRA5110750001", "CN AMIENS")});
        write_lines(source() / "liffn.txt", {});
        write_lines(source() / "origine.txt", {"Extraction du 1er décembre"_w});
        fs::create_directories(dir.path() / "other");
        fs::create_symlink(db, dir.path() / "link.db");
        fs::create_hard_link(source() / "club.txt", dir.path() / "club-hard.txt");
    }
    std::string at(const std::string& relative) const { return dir.file(relative); }
};

struct Clash {
    const char* name;
    // Paths relative to the fixture's directory; "@db" is the database,
    // "" an empty argument.
    const char *source, *scratch, *trace;
    bool check;
    int number;
    const char* message;  // the error's start (UTF-8)
};

// One refused call of either entry point: its error, then proof that
// nothing was touched.
class RefusedCall : public CallPathsTest, public ::testing::WithParamInterface<Clash> {};

TEST_P(RefusedCall, TouchesNothing) {
    if (on_server()) GTEST_SKIP() << "paths of a database file";
    const Clash& p = GetParam();
    const auto path = [&](const char* relative) -> std::string {
        const std::string r = relative;
        if (r == "@db") return db;
        return r.empty() ? "" : at(r);
    };
    const auto files_before = snapshot(dir.path());
    const auto root_before = root_entries();
    clsOndival component;
    platform::Error error;
    try {
        p.check ? component.bcontrole_perf(db, path(p.source), path(p.scratch), path(p.trace), nullptr)
                : component.bimport_perf(db, path(p.source), path(p.scratch), path(p.trace), nullptr);
        FAIL() << "the call ran";
    } catch (const platform::Failure& f) {
        error = f.error();
    }
    EXPECT_EQ(error.number, p.number);
    const std::string text = platform::cp1252_to_utf8(error.description);
    EXPECT_EQ(text.rfind(p.message, 0), 0u) << text;
    EXPECT_EQ(snapshot(dir.path()), files_before) << "a file was created, changed or removed";
    EXPECT_EQ(root_entries(), root_before);
    if (p.check) {
        EXPECT_EQ(component.rapport().error->number, p.number) << "the check's report says why";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RefusedCall,
    ::testing::Values(
        Clash{"TraceIsTheDatabase", "src", "tmp", "@db", false, 75, "Le fichier de trace est la base de données : "},
        Clash{"CheckTraceIsTheDatabase", "src", "", "@db", true, 75, "Le fichier de trace est la base de données : "},
        Clash{"TraceIsALinkToTheDatabase", "src", "tmp", "link.db", false, 75,
              "Le fichier de trace est la base de données : "},
        Clash{"TraceReachesTheDatabaseThroughDotDot", "src", "tmp", "other/../club.db", false, 75,
              "Le fichier de trace est la base de données : "},
        Clash{"TraceIsAnExportFile", "src", "tmp", "src/liffn.txt", false, 75,
              "Le fichier de trace est le fichier liffn.txt de l'export : "},
        Clash{"CheckTraceIsAnExportFile", "src", "", "src/liffn.txt", true, 75,
              "Le fichier de trace est le fichier liffn.txt de l'export : "},
        Clash{"TraceWouldBeReadAsAMissingExportFile", "src", "tmp", "src/licence.txt", false, 75,
              "Le fichier de trace est le fichier licence.txt de l'export : "},
        Clash{"TraceIsAHardLinkToAnExportFile", "src", "tmp", "club-hard.txt", false, 75,
              "Le fichier de trace est le fichier club.txt de l'export : "},
        Clash{"TraceIsTheScratchDirectory", "src", "tmp", "tmp", false, 75,
              "Le fichier de trace est le répertoire de travail : "},
        Clash{"ScratchIsTheSource", "src", "src", "trace.txt", false, 75,
              "Le répertoire de travail est le répertoire source : "},
        Clash{"CheckScratchIsTheSource", "src", "src", "", true, 75,
              "Le répertoire de travail est le répertoire source : "},
        Clash{"ScratchIsTheSourceWithATrailingSlash", "src/", "src/./", "trace.txt", false, 75,
              "Le répertoire de travail est le répertoire source : "},
        Clash{"EmptyScratch", "src", "", "trace.txt", false, 5,
              "Argument ou appel de procédure incorrect : le répertoire de travail est vide"},
        Clash{"EmptySource", "", "tmp", "trace.txt", false, 5,
              "Argument ou appel de procédure incorrect : le répertoire source est vide"},
        Clash{"CheckEmptySource", "", "", "", true, 5,
              "Argument ou appel de procédure incorrect : le répertoire source est vide"},
        Clash{"EmptyTrace", "src", "tmp", "", false, 5,
              "Argument ou appel de procédure incorrect : le fichier de trace est vide"}),
    [](const ::testing::TestParamInfo<Clash>& info) { return std::string(info.param.name); });

TEST_F(CallPathsTest, TheReportAndItsPageAreCheckedWithTheRest) {
    const std::string file_db = dir.file("club.db");
    struct Case {
        std::string report, page;
        const char* message;
    };
    for (const Case& c :
         {Case{file_db, "", "Le rapport est la base de données : "},
          Case{at("trace.txt"), "", "Le fichier de trace est le rapport : "},
          Case{at("src/origine.txt"), "", "Le rapport est le fichier origine.txt de l'export : "},
          Case{at("src"), "", "Le rapport est le répertoire source : "},
          Case{"", file_db, "La page du rapport est la base de données : "},
          Case{"", at("./trace.txt"), "Le fichier de trace est la page du rapport : "},
          Case{at("r.json"), at("r.json"), "Le rapport est la page du rapport : "},
          Case{"", at("src/liffn.txt"), "La page du rapport est le fichier liffn.txt de l'export : "}}) {
        try {
            check_call_paths({file_db, at("src"), at("tmp"), at("trace.txt"), c.report, false, c.page});
            ADD_FAILURE() << c.report << " / " << c.page << " was accepted";
        } catch (const platform::Failure& f) {
            EXPECT_EQ(platform::cp1252_to_utf8(f.error().description).rfind(c.message, 0), 0u)
                << platform::cp1252_to_utf8(f.error().description);
        }
    }
    // A check that makes its own scratch directory and trace clashes with
    // nothing through them.
    EXPECT_NO_THROW(check_call_paths({file_db, at("src"), "", "", at("report.json"), true}));
}

TEST_F(CallPathsTest, DistinctPathsImportAsBefore) {
    if (on_server()) GTEST_SKIP() << "paths of a database file";
    // Names close to the roles' own, which must not be taken for them: a
    // trace inside the scratch directory, the database beside the export, a
    // scratch directory inside the export, an export file's name elsewhere.
    fs::create_directories(source() / "copies");
    EXPECT_TRUE(clsOndival().bimport_perf(db, source().string(), (source() / "copies").string(),
                                          (dir.path() / "other" / "liffn.txt").string(), nullptr));
    EXPECT_TRUE(clsOndival().bimport_perf(db, source().string() + "/", scratch().string(),
                                          (scratch() / "trace.txt").string(), nullptr));
    EXPECT_EQ(count("Club where Code_federal = 'FRA5110750001'"), "1");
}

}  // namespace
}  // namespace ondival::test
