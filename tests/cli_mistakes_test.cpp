// What a person types at the command line and what it must never cost: a
// path given in the wrong place, Ctrl-C in the middle of an import or a
// check (once, or twice), and an export whose codes hold terminal escapes
// or NUL bytes shown on the terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/cp1252.h"
#include "tests/report_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;

// Long enough for Ctrl-C to land inside a step.
const std::vector<std::string> kLongExport = {"--clubs",        "20",    "--licences", "400",
                                              "--performances", "60000", "--relays",   "8"};

// A command line with a path in the wrong place. "DB", "SRC", "SCRATCH"
// stand for the setup's own paths, other words are relative to its
// directory.
struct Mistake {
    const char* name;
    std::vector<std::string> args;
    const char* message;  // what stderr says, after "ondival: Erreur n° "
};

class CliMistake : public ::testing::TestWithParam<Mistake> {};

TEST_P(CliMistake, IsRefusedWithNothingTouched) {
    const CliSetup s;
    std::vector<std::string> args;
    for (const std::string& a : GetParam().args)
        args.push_back(a == "DB"                                                   ? s.db
                       : a == "SRC"                                                ? s.source
                       : a == "SCRATCH"                                            ? s.scratch
                       : a.empty() || a[0] == '-' || a == "import" || a == "check" ? a
                                                                                   : s.dir.file(a));
    const auto before = snapshot(s.dir.path());
    expect_refused(ondival(s.dir.path(), args), std::string("ondival: Erreur n° ") + GetParam().message);
    EXPECT_TRUE(snapshot(s.dir.path()) == before) << "a file was created, changed or removed";
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliMistake,
    ::testing::Values(Mistake{"ImportTraceIsTheDatabase",
                              {"import", "DB", "SRC", "SCRATCH", "DB"},
                              "75: Le fichier de trace est la base de données : "},
                      Mistake{"CheckReportIsTheDatabase",
                              {"check", "DB", "SRC", "--report", "DB"},
                              "75: Le rapport est la base de données : "},
                      Mistake{"CheckTraceIsTheDatabase",
                              {"check", "DB", "SRC", "--trace", "DB"},
                              "75: Le fichier de trace est la base de données : "},
                      Mistake{"ImportTraceIsAnExportFile",
                              {"import", "DB", "SRC", "SCRATCH", "export/liffn.txt"},
                              "75: Le fichier de trace est le fichier liffn.txt de l'export : "},
                      Mistake{"CheckTraceIsAnExportFile",
                              {"check", "DB", "SRC", "--trace", "export/liffn.txt"},
                              "75: Le fichier de trace est le fichier liffn.txt de l'export : "},
                      Mistake{"ImportReportIsTheTrace",
                              {"import", "DB", "SRC", "SCRATCH", "trace.txt", "--report", "trace.txt"},
                              "75: Le fichier de trace est le rapport : "},
                      Mistake{"CheckReportIsTheTrace",
                              {"check", "DB", "SRC", "--trace", "t.txt", "--report", "./t.txt"},
                              "75: Le fichier de trace est le rapport : "},
                      Mistake{"ImportPageIsTheDatabase",
                              {"import", "DB", "SRC", "SCRATCH", "trace.txt", "--html", "DB"},
                              "75: La page du rapport est la base de données : "},
                      Mistake{"CheckPageIsTheReport",
                              {"check", "DB", "SRC", "--report", "r.json", "--html", "r.json"},
                              "75: Le rapport est la page du rapport : "},
                      Mistake{"ImportEmptyScratch",
                              {"import", "DB", "SRC", "", "trace.txt"},
                              "5: Argument ou appel de procédure incorrect : le répertoire de travail est vide"},
                      Mistake{"ImportEmptySource",
                              {"import", "DB", "", "SCRATCH", "trace.txt"},
                              "5: Argument ou appel de procédure incorrect : le répertoire source est vide"},
                      Mistake{"ImportScratchIsTheSource",
                              {"import", "DB", "SRC", "SRC", "trace.txt"},
                              "75: Le répertoire de travail est le répertoire source : "},
                      Mistake{"CheckScratchIsTheSource",
                              {"check", "DB", "SRC", "--scratch", "export/."},
                              "75: Le répertoire de travail est le répertoire source : "}),
    [](const ::testing::TestParamInfo<Mistake>& info) { return std::string(info.param.name); });

// A command started off a terminal with its output kept in files, so that
// it can be interrupted while it runs.
struct Started {
    int pid = -1;
    fs::path out, err;
};

Started start(const ScratchDir& dir, const std::vector<std::string>& args, const std::string& tmpdir = "") {
    Started s{-1, dir.path() / "stdout", dir.path() / "stderr"};
    std::vector<std::string> all = {ONDIVAL_CLI};
    all.insert(all.end(), args.begin(), args.end());
    s.pid = start_detached(all, s.out.string(), s.err.string(), tmpdir);
    return s;
}

// Waits until the trace shows a step (the trace reaches the disk at each
// step's start), so that Ctrl-C lands inside the step, whatever the speed
// of the machine. False when the command ended first.
bool wait_for_step(int pid, const fs::path& trace, const std::string& step_utf8) {
    const std::string step = platform::utf8_to_cp1252(step_utf8);
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
         std::chrono::steady_clock::now() < deadline;) {
        std::error_code ec;
        if (fs::exists(trace, ec) && read_bytes(trace).find(step) != std::string::npos) return true;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

struct Interruption {
    const char* name;
    bool check;
    const char* step;  // the trace's line of the step Ctrl-C lands in
};

class CliCtrlC : public ::testing::TestWithParam<Interruption> {};

TEST_P(CliCtrlC, StopsCleanlyAtTheNextLine) {
    const CliSetup s(kLongExport);
    const fs::path trace = s.dir.path() / "trace.txt", report = s.dir.path() / "report.json";
    const fs::path tmp = s.dir.subdir("tmp");
    const std::string clubs = sql1(s.db, "select count(*) from Club");
    const Started run =
        GetParam().check
            ? start(s.dir, {"check", s.db, s.source, "--trace", trace.string(), "--report", report.string()},
                    tmp.string())
            : start(s.dir, {"import", s.db, s.source, s.scratch, trace.string(), "--report", report.string()},
                    tmp.string());
    ASSERT_TRUE(wait_for_step(run.pid, trace, GetParam().step)) << "the command ended before the step";
    kill(run.pid, SIGINT);
    const int status = wait_status(run.pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130);

    const std::string err = read_bytes(run.err);
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line on stderr: " << err;
    EXPECT_NE(err.find("interrupted"), std::string::npos) << err;
    const std::vector<std::string> lines = trace_lines(trace);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Import interrompu.");
    EXPECT_EQ(lines.back(), "Erreur n° 18: Interruption par l'utilisateur");
    const nlohmann::json r = nlohmann::json::parse(read_bytes(report));
    EXPECT_TRUE(r["result"].is_null());
    EXPECT_EQ(r["error"]["number"], 18);
    expect_valid_reports({read_bytes(report)});

    EXPECT_EQ(sql1(s.db, "select count(*) from Liffn where Num_compet = -1"), "0");
    EXPECT_EQ(sql1(s.db, "select count(*) from Liffn_relais where Num_compet = -1"), "0");
    EXPECT_EQ(sql1(s.db, "select count(*) from Rcomp"), "0");
    EXPECT_EQ(sql1(s.db, "select count(*) from Info where LastClose"), "1");
    EXPECT_EQ(sql1(s.db, "pragma integrity_check"), "ok");
    if (GetParam().check) {
        EXPECT_EQ(sql1(s.db, "select count(*) from Club"), clubs) << "a check keeps nothing";
    }
    EXPECT_TRUE(fs::is_empty(tmp)) << "the temporary copies stay behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliCtrlC,
    ::testing::Values(
        Interruption{"ImportDuringPerformances", false, "Traitement des performances depuis fichier Liffn.txt"},
        Interruption{"ImportDuringLicences", false, "Traitement des licences depuis fichier Licence.txt"},
        Interruption{"CheckDuringPerformances", true, "Traitement des performances depuis fichier Liffn.txt"}),
    [](const ::testing::TestParamInfo<Interruption>& info) { return std::string(info.param.name); });

TEST(CliCtrlC, ASecondOneEndsTheProcessAndTheDatabaseStaysWhole) {
    const CliSetup s(kLongExport);
    const fs::path trace = s.dir.path() / "trace.txt";
    const Started run = start(s.dir, {"import", s.db, s.source, s.scratch, trace.string()});
    ASSERT_TRUE(wait_for_step(run.pid, trace, "Traitement des performances depuis fichier Liffn.txt"));
    kill(run.pid, SIGINT);
    kill(run.pid, SIGINT);
    const int status = wait_status(run.pid);
    // Either the first request was honoured before the second arrived, or
    // the second ended the process: never a third outcome.
    if (WIFSIGNALED(status)) {
        EXPECT_EQ(WTERMSIG(status), SIGINT);
    } else {
        EXPECT_EQ(WEXITSTATUS(status), 130);
    }
    EXPECT_EQ(sql1(s.db, "pragma integrity_check"), "ok");
    EXPECT_EQ(sql1(s.db, "select count(*) from Liffn where Num_compet = -1"), "0");
    EXPECT_EQ(sql1(s.db, "select count(*) from Rcomp"), "0");
}

// A club code holding an escape sequence and a NUL byte: the line is
// refused, and what the terminal receives shows both as text and goes on to
// the end of the summary.
TEST(CliTerminal, ControlCharactersFromTheExportAreShownNotObeyed) {
    const ScratchDir dir;
    const std::string db = dir.file("club.db");
    ASSERT_EQ(ondival(dir.path(), {"init", db}).exit_code, 0);
    const fs::path source = dir.subdir("export");
    PerfLine line;
    line.club = std::string("FRA\x1b[2J\0\x9d", 9);
    line.licence = "0512345";
    write_lines(source / "liffn.txt", {line.str()});
    const ProgramRun run = ondival(dir.path(), {"check", db, source.string(), "--show-trace"});
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << "an escape reached the terminal";
    EXPECT_EQ(run.out.find('\0'), std::string::npos) << "a NUL reached the terminal";
    EXPECT_EQ(run.out.find("\xc2\x9d"), std::string::npos) << "a C1 control reached the terminal";
    EXPECT_NE(run.out.find("Le code club est erronné : FRA^[[2J^@<9D>"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Time:"), std::string::npos) << "the summary was cut short: " << run.out;
}

}  // namespace
}  // namespace ondival::test
