// What `ondival import` and `ondival check` choose when the user leaves a
// path out, and what they make for the user: a trace kept beside the
// database, copies in a temporary directory that goes away, a scratch
// directory named but missing made ready, and reports that never send a
// script to a file that is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <regex>

#include "tests/report_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;

// A database and an export as `ondival init` and `generate` make them, and
// a TMPDIR of the test's own.
struct CliWorkplace : CliSetup {
    ProgramRun ondival(const std::vector<std::string>& args) const { return test::ondival(dir.path(), args, tmp); }
    // The files in the database's folder whose names say they are import
    // traces of club.db.
    std::vector<std::string> traces_beside_database() const {
        static const std::regex name(R"(club-import-\d{8}-\d{6}(-\d+)?\.txt)");
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (std::regex_match(e.path().filename().string(), name)) found.push_back(e.path().string());
        return found;
    }
    fs::path tmp = dir.subdir("tmp");
};

// One command line, its paths relative to the setup's folder ("DB" and
// "SRC" stand for the database and the export), and what must follow.
struct DefaultsCase {
    const char* name;
    std::vector<std::string> args;
    const char* scratch;  // the scratch directory that must hold the copies afterwards, or ""
    const char* trace;    // the trace file, "" when it is the one beside the database, "none" for no trace
};

class CliDefaults : public ::testing::TestWithParam<DefaultsCase> {};

TEST_P(CliDefaults, CopiesTraceAndReportGoWhereTheyShould) {
    const CliWorkplace s;
    std::vector<std::string> args;
    for (const std::string& a : GetParam().args) args.push_back(a == "DB" ? s.db : a == "SRC" ? s.source : a);
    args.insert(args.end(), {"--report", "report.json"});
    const ProgramRun run = s.ondival(args);
    ASSERT_EQ(run.exit_code, 0) << run.err << run.out;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_TRUE(fs::is_empty(s.tmp)) << "a temporary directory stayed behind";

    const nlohmann::json report = nlohmann::json::parse(read_bytes(s.dir.file("report.json")));
    expect_valid_reports({read_bytes(s.dir.file("report.json"))});
    const std::string scratch = GetParam().scratch;
    for (const nlohmann::json& f : report["source_files"]) {
        if (scratch.empty()) {
            EXPECT_TRUE(f["copy"].is_null()) << f;
        } else {
            EXPECT_EQ(f["copy"], scratch + "/" + f["name"].get<std::string>());
            EXPECT_TRUE(fs::exists(s.dir.path() / f["copy"].get<std::string>())) << f;
        }
    }

    const std::string trace = GetParam().trace;
    const std::vector<std::string> beside = s.traces_beside_database();
    if (trace == "none") {
        EXPECT_TRUE(report["trace"].is_null()) << report["trace"];
        EXPECT_EQ(run.out.find("Trace:"), std::string::npos) << run.out;
    } else {
        const std::string expected = trace.empty() ? (beside.empty() ? "?" : beside.front()) : trace;
        EXPECT_EQ(beside.size(), trace.empty() ? 1u : 0u);
        EXPECT_EQ(report["trace"], expected);
        EXPECT_EQ(read_bytes(s.dir.path() / expected)
                      .rfind("D\xe9"
                             "but de l'import : ",
                             0),
                  0u);
        EXPECT_NE(run.out.find("Trace:         " + expected + "\n"), std::string::npos) << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliDefaults,
    ::testing::Values(
        DefaultsCase{"ImportAlone", {"import", "DB", "SRC"}, "", ""},
        DefaultsCase{
            "ImportWithOptions", {"import", "DB", "SRC", "--scratch", "s/deep", "--trace", "t.txt"}, "s/deep", "t.txt"},
        DefaultsCase{"ImportOnlyScratch", {"import", "--scratch", "s", "DB", "SRC"}, "s", ""},
        DefaultsCase{"ImportOnlyTrace", {"import", "DB", "SRC", "--trace=t.txt"}, "", "t.txt"},
        DefaultsCase{"ImportFourArgumentsScratchMissing",
                     {"import", "DB", "SRC", "new/scratch", "t.txt"},
                     "new/scratch",
                     "t.txt"},
        DefaultsCase{"CheckScratchMissing", {"check", "DB", "SRC", "--scratch", "s/deep"}, "s/deep", "none"},
        DefaultsCase{"CheckTraceShownNotKept", {"check", "DB", "SRC", "--show-trace"}, "", "none"},
        DefaultsCase{"CheckAlone", {"check", "DB", "SRC"}, "", "none"}),
    [](const ::testing::TestParamInfo<DefaultsCase>& info) { return std::string(info.param.name); });

// An import never writes over the trace of another import made in the same
// second: every name the coming minute could give is taken already.
TEST(CliDefaultTrace, AnImportDoesNotReplaceATraceOfTheSameSecond) {
    const CliWorkplace s;
    const std::string earlier = "an earlier import's trace";
    for (std::time_t t = std::time(nullptr), end = t + 60; t < end; ++t) {
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&t));
        write_bytes(s.dir.file(std::string("club-import-") + stamp + ".txt"), earlier);
    }
    ASSERT_EQ(s.ondival({"import", s.db, s.source, "--quiet"}).exit_code, 0);
    const std::vector<std::string> traces = s.traces_beside_database();
    ASSERT_EQ(traces.size(), 61u);
    EXPECT_EQ(std::count_if(traces.begin(), traces.end(),
                            [&](const std::string& t) { return read_bytes(t) == earlier; }),
              60);
}

TEST(CliDefaultTrace, ARelativeDatabaseKeepsItsTraceInItsOwnFolder) {
    const CliWorkplace s;
    fs::create_directories(s.dir.path() / "club");
    ASSERT_EQ(s.ondival({"init", "club/club.db"}).exit_code, 0);
    const ProgramRun run = s.ondival({"import", "club/club.db", "export"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::smatch shown;
    ASSERT_TRUE(
        std::regex_search(run.out, shown, std::regex(R"(Trace:         (club/club-import-\d{8}-\d{6}\.txt)\n)")))
        << run.out;
    EXPECT_TRUE(fs::exists(s.dir.path() / shown[1].str()));
}

// Command lines that mix the two forms, or leave the scratch directory no
// way to be made, stop before anything is touched.
TEST(CliDefaultTrace, MixedOrImpossibleCommandLinesAreRefused) {
    const CliWorkplace s;
    write_bytes(s.dir.path() / "afile", "not a folder");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"import", s.db, s.source, "sc", "t.txt", "--trace", "u.txt"},
         "ondival: import: SCRATCH and TRACE are given as arguments, so --scratch and --trace cannot be"},
        {{"import", s.db, s.source, "sc", "t.txt", "--scratch", "sc2"}, "ondival: import: SCRATCH and TRACE are given"},
        {{"import", s.db, s.source, "--scratch", "afile/sub"}, "ondival: import: cannot create the scratch directory "},
        {{"check", s.db, s.source, "--scratch", "afile/sub"}, "ondival: check: cannot create the scratch directory "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const std::string before = read_bytes(s.db);
        expect_refused(s.ondival(c.args), c.message);
        EXPECT_TRUE(s.traces_beside_database().empty());
        EXPECT_FALSE(fs::exists(s.dir.path() / "sc"));
        EXPECT_TRUE(fs::is_empty(s.tmp));
        EXPECT_TRUE(read_bytes(s.db) == before);
    }
}

}  // namespace
}  // namespace ondival::test
