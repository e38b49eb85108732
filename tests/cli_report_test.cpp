// `ondival check` and `--report` from the command line, as a script runs
// them: exit codes, the check's summary, a database left as it was, and a
// report path that cannot be written stopping the command before it starts.
#include <gtest/gtest.h>

#include "tests/report_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;

TEST(CliReport, CheckSaysWhatTheImportWouldDoAndKeepsNothing) {
    const CliSetup s;
    const std::string before = read_bytes(s.db);
    const ProgramRun check = ondival(s.dir.path(), {"check", s.db, s.source, "--trace", s.dir.file("check.txt"),
                                                    "--report", s.dir.file("check.json")});
    EXPECT_EQ(check.exit_code, 0) << check.err;
    EXPECT_TRUE(read_bytes(s.db) == before) << "the check changed the database file";
    EXPECT_NE(check.out.find("Result:        true"), std::string::npos) << check.out;
    const nlohmann::json report = nlohmann::json::parse(read_bytes(s.dir.file("check.json")));
    const nlohmann::json& added = report["added"];
    const std::string would = "Would add:     " + std::to_string(added["clubs"].get<int>()) + " clubs, " +
                              std::to_string(added["licences"].get<int>()) + " licences, " +
                              std::to_string(added["swimmers"].get<int>()) + " swimmers, " +
                              std::to_string(added["performances"].get<int>()) + " performances";
    EXPECT_NE(check.out.find(would), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("Competition:   1er import perf du "), std::string::npos) << check.out;
    EXPECT_EQ(check.out.find("Stops at:"), std::string::npos) << check.out;

    const ProgramRun import = ondival(s.dir.path(), {"import", s.db, s.source, s.scratch, s.dir.file("import.txt"),
                                                     "--quiet", "--report", s.dir.file("import.json")});
    EXPECT_EQ(import.exit_code, 0) << import.err;
    // Two processes on the real clock: the traces may differ in the times of
    // their first and last lines, and nowhere else.
    const std::string started = "Début de l'import : ", ended = "Fin importation : ";
    std::vector<std::string> checked = trace_lines(s.dir.file("check.txt"));
    std::vector<std::string> imported_lines = trace_lines(s.dir.file("import.txt"));
    ASSERT_GE(checked.size(), 2u);
    for (auto* t : {&checked, &imported_lines}) {
        EXPECT_EQ(t->front().rfind(started, 0), 0u);
        EXPECT_EQ(t->back().rfind(ended, 0), 0u);
        t->front().resize(started.size());
        t->back().resize(ended.size());
    }
    EXPECT_EQ(checked, imported_lines);
    const nlohmann::json imported = nlohmann::json::parse(read_bytes(s.dir.file("import.json")));
    EXPECT_EQ(imported["mode"], "import");
    EXPECT_EQ(imported["added"], added);
    EXPECT_EQ(added["performances"].get<long>(), std::stol(sql1(s.db, "select count(*) from Liffn")) +
                                                     std::stol(sql1(s.db, "select count(*) from Liffn_relais")));
    expect_valid_reports({read_bytes(s.dir.file("check.json")), read_bytes(s.dir.file("import.json"))});
}

TEST(CliReport, ACheckThatWouldStopSaysWhereAndExitsOne) {
    std::vector<std::string> damaged = CliSetup::kSmallExport;
    damaged.insert(damaged.end(), {"--faults", "0.1"});
    const CliSetup s(damaged);
    const std::string before = read_bytes(s.db);
    const ProgramRun check = ondival(s.dir.path(), {"check", s.db, s.source, "--report", s.dir.file("check.json"),
                                                    "--html", s.dir.file("check.html")});
    EXPECT_EQ(check.exit_code, 1) << check.err;
    EXPECT_TRUE(read_bytes(s.db) == before);
    const nlohmann::json report = nlohmann::json::parse(read_bytes(s.dir.file("check.json")));
    const nlohmann::json& stop = report["stop"];
    ASSERT_FALSE(stop.is_null());
    long errors = 0, warnings = 0;
    for (const nlohmann::json& e : report["entries"]) ++(e["kind"] == "Warning" ? warnings : errors);
    ASSERT_GT(warnings, 1) << "the damaged export warns";
    EXPECT_NE(check.out.find("Trace entries: " + std::to_string(errors) + " error" + (errors == 1 ? "" : "s") + ", " +
                             std::to_string(warnings) + " warnings"),
              std::string::npos)
        << check.out;
    const std::string where = "Stops at:      liffn.txt line " + std::to_string(stop["line"].get<int>()) + ": " +
                              stop["lines"][0].get<std::string>();
    EXPECT_NE(check.out.find(where), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("Competition:   none, the performances would be withdrawn"), std::string::npos);
    EXPECT_EQ(check.out.find("Trace:"), std::string::npos) << "no trace was asked for";
    EXPECT_NE(check.out.find("Page:          " + s.dir.file("check.html")), std::string::npos) << check.out;
    expect_valid_reports({read_bytes(s.dir.file("check.json"))});

    // The page says what the report says, and a page drawn later from the
    // kept report is the same page.
    const std::string page = read_bytes(s.dir.file("check.html"));
    EXPECT_NE(page.find("data-result=\"false\""), std::string::npos);
    EXPECT_NE(page.find("<dd id=\"arret\" data-file=\"liffn.txt\" data-line=\"" +
                        std::to_string(stop["line"].get<int>()) + "\">"),
              std::string::npos);
    const ProgramRun later = ondival(s.dir.path(),
                                     {"report", s.dir.file("check.json"), "--html", s.dir.file("later.html")});
    EXPECT_EQ(later.exit_code, 0) << later.err;
    EXPECT_TRUE(read_bytes(s.dir.file("later.html")) == page);
}

// `ondival report` refuses, writing nothing, what it cannot turn into a page.
TEST(CliReport, AKeptReportThatCannotBeAPageIsRefused) {
    const ScratchDir dir;
    const std::string kept = R"({"format": "ondival-report", "version": 1, "mode": "import"})";
    write_bytes(dir.file("kept.json"), kept);
    write_bytes(dir.file("other.json"), R"({"format": "other"})");
    struct Refusal {
        std::vector<std::string> args;
        const char* message;
    };
    for (const Refusal& r :
         {Refusal{{"report", "kept.json"}, "ondival: report: missing option --html FILE"},
          Refusal{{"report", "kept.json", "--html", "./kept.json"}, "ondival: report: the page would be written over"},
          Refusal{{"report", "other.json", "--html", "page.html"}, "ondival: report: other.json: Erreur n° 5: "},
          Refusal{{"report", "missing.json", "--html", "page.html"}, "ondival: report: cannot read missing.json"}}) {
        expect_refused(ondival(dir.path(), r.args), r.message);
        EXPECT_FALSE(fs::exists(dir.file("page.html")));
    }
    EXPECT_EQ(read_bytes(dir.file("kept.json")), kept);
    EXPECT_EQ(ondival(dir.path(), {"report", "kept.json", "--html", "page.html"}).exit_code, 0);
}

// A report path that cannot be written: the command stops before the
// import, says why on one line, exits 2 and leaves everything as it was.
struct UnwritableCase {
    std::string name;
    std::string command;  // "import" or "check"
    std::string report;   // relative to the scratch area
    std::string option = "--report";
    std::string what = "report";
};

class CliUnwritableReport : public ::testing::TestWithParam<UnwritableCase> {};

TEST_P(CliUnwritableReport, TheImportDoesNotRun) {
    const CliSetup s;
    fs::create_directories(s.dir.file("elsewhere"));  // a directory that is none of the call's own
    const std::string before = read_bytes(s.db);
    const std::string report = s.dir.file(GetParam().report);
    const std::string trace = s.dir.file("trace.txt");
    const ProgramRun run =
        GetParam().command == "import"
            ? ondival(s.dir.path(), {"import", s.db, s.source, s.scratch, trace, GetParam().option, report})
            : ondival(s.dir.path(), {"check", s.db, s.source, "--trace", trace, GetParam().option, report});
    expect_refused(run,
                   "ondival: " + GetParam().command + ": cannot write the " + GetParam().what + " " + report + ": ");
    EXPECT_FALSE(fs::exists(trace)) << "the import ran";
    EXPECT_TRUE(fs::is_empty(s.scratch));
    EXPECT_TRUE(read_bytes(s.db) == before);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, CliUnwritableReport,
    ::testing::Values(UnwritableCase{"ImportIntoAMissingDirectory", "import", "no/such/report.json"},
                      UnwritableCase{"CheckIntoAMissingDirectory", "check", "no/such/report.json"},
                      UnwritableCase{"ImportOntoADirectory", "import", "elsewhere"},
                      UnwritableCase{"CheckOntoADirectory", "check", "elsewhere"},
                      UnwritableCase{"ImportPageIntoAMissingDirectory", "import", "no/such/page.html", "--html",
                                     "page"},
                      UnwritableCase{"CheckPageOntoADirectory", "check", "elsewhere", "--html", "page"}),
    [](const ::testing::TestParamInfo<UnwritableCase>& info) { return info.param.name; });

}  // namespace
}  // namespace ondival::test
