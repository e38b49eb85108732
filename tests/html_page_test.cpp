// The report as a page, opened as the club secretary opens it: in a real
// browser (Debian's Chromium, headless). What the browser builds from the
// page must say what the JSON report says (the outcome, each file's lines
// and counts, every refused or warned line in one group or another, the
// clubs and swimmers created), names holding markup must stay text, and no
// script but the page's own may run. A screenshot of each page is kept in
// the build directory (html-screenshots/) for a person to look at.
//
// Without Chromium the browser tests are skipped, never passed, and in CI
// (CI=true) they fail (tools/setup.sh installs it; ONDIVAL_CHROMIUM names
// another browser).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <tuple>

#include "import/cls_ondival.h"
#include "import/report_html.h"
#include "import/report_json.h"
#include "platform/error.h"
#include "samples/sample_export.h"
#include "tests/report_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string chromium() {
    const char* named = std::getenv("ONDIVAL_CHROMIUM");
    const std::string path = named && *named ? named : "/usr/bin/chromium";
    return fs::exists(path) ? path : std::string();
}

// What the browser made of a page: the DOM after its scripts ran, and a
// screenshot.
struct Opened {
    std::string dom;
    std::string problem;  // why the browser could not be run
};

Opened open_in_browser(const std::string& browser, const fs::path& page, const fs::path& screenshot) {
    const ScratchDir profile;  // a new, empty profile each time
    // As root the sandbox cannot start; the network stays shut.
    std::vector<std::string> flags = {"--headless",     "--no-sandbox",      "--disable-gpu",
                                      "--disable-quic", "--no-first-run",    "--disable-background-networking",
                                      "--disable-sync", "--hide-scrollbars", "--disable-component-update"};
    flags.push_back("--user-data-dir=" + profile.path().string());
    const std::string program = "timeout 120 " + quoted(browser);
    std::vector<std::string> args = flags;
    args.insert(args.end(), {"--dump-dom", "file://" + page.string()});
    const ProgramRun dump = run_in(profile.path(), program, args);
    if (dump.exit_code != 0 || dump.out.find("</html>") == std::string::npos)
        return {"", "chromium --dump-dom exited " + std::to_string(dump.exit_code) + ": " + dump.err};
    args = flags;
    args.insert(args.end(),
                {"--window-size=1280,2400", "--screenshot=" + screenshot.string(), "file://" + page.string()});
    const ProgramRun shot = run_in(profile.path(), program, args);
    if (shot.exit_code != 0 || !fs::exists(screenshot))
        return {dump.out, "chromium --screenshot exited " + std::to_string(shot.exit_code) + ": " + shot.err};
    return {dump.out, ""};
}

std::vector<std::smatch> all(const std::string& text, const std::string& pattern) {
    std::vector<std::smatch> out;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back(*it);
    return out;
}

// The part of the DOM from `start` to the end of its section.
std::string section_at(const std::string& dom, std::size_t start) {
    const std::size_t end = dom.find("</section>", start);
    return dom.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// A number as the page shows it, its thousands separators taken out.
long long shown_number(std::string text) {
    for (std::size_t at; (at = text.find("\u202F")) != std::string::npos;) text.erase(at, 3);
    return std::stoll(text);
}

// The exports the pages are drawn from.
void generated(const fs::path& source, double faults) {
    samples::SampleExportOptions o;  // what `ondival generate DIR --faults RATE` writes
    o.faults = faults;
    const std::string problem = samples::generate_sample_export(source, o);
    if (!problem.empty()) throw std::runtime_error(problem);
}

// Club and swimmer names that are markup, a script, quotes, an ampersand, a
// NUL, 0x81 (a DOS ü) and 0x9D (left undefined by Windows-1252); a club code
// that is all of that, refused, so that it is quoted in a message and in a
// line's text.
const std::string kScriptName = "<script>alert(1)</script>";
const std::string kOddBytes = std::string("\"&", 2) + std::string(1, '\0') + "\x81\x9D";
const std::string kHandler = "<svg onload=document.title=1>";

void write_hostile(const fs::path& source) {
    const std::string club = "FRA5110750001", other = "FRA5110750002";
    write_lines(source / "club.txt", {club_line(club, kScriptName + kOddBytes), club_line(other, kHandler),
                                      club_line("<script>\"&'\x81\x9D", "REFUS")});
    write_lines(source / "licence.txt",
                {LicenceLine{.club = club, .licence = "851234", .nom = "MARTIN", .prenom = "Paul"}.str()});
    write_lines(
        source / "liffn.txt",
        {PerfLine{.club = club, .licence = "851234", .nom = "MARTIN"}.str(),
         PerfLine{.club = other, .licence = "902001", .nom = kScriptName, .prenom = "'" + kOddBytes + "<b>"}.str()});
}

struct PageCase {
    std::string name;
    std::function<void(const fs::path&)> write;
    bool hostile = false;
};
void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }

std::vector<PageCase> page_cases() {
    const auto stopping = [] {
        for (const ExportCase& c : export_cases())
            if (c.name == "StopsAtALine") return c.write;
        throw std::logic_error("no stopping export");
    }();
    return {
        {"CleanExport", [](const fs::path& s) { generated(s, 0.0); }},
        {"DamagedExport", [](const fs::path& s) { generated(s, 0.1); }},
        {"StoppingExport", stopping},
        {"HostileNames", write_hostile, true},
    };
}

class HtmlPage : public ::testing::TestWithParam<PageCase>, public ImportFixture {};

TEST_P(HtmlPage, TheBrowserShowsWhatTheReportSays) {
    const std::string browser = chromium();
    if (browser.empty()) {
        // CI installs it (tools/setup.sh): there a missing browser is a fault.
        if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true")
            FAIL() << "Chromium is not installed, and CI must run the browser tests";
        GTEST_SKIP() << "Chromium is not installed (tools/setup.sh installs it)";
    }
    GetParam().write(source());
    clsOndival component;
    component.collect_report(true);
    std::optional<bool> result;
    try {
        result = component.bimport_perf(db, source().string(), scratch().string(), trace_path(), nullptr);
    } catch (const platform::Failure&) {
    }
    ASSERT_TRUE(result.has_value()) << "an error reached the host";
    const json report = json::parse(report_to_json(component.rapport()));
    const fs::path page = dir.path() / "rapport.html";
    write_bytes(page, report_to_html(component.rapport()));

    const fs::path shots = fs::path(ONDIVAL_BINARY_DIR) / "html-screenshots";
    fs::create_directories(shots);
    const fs::path screenshot = shots / (GetParam().name + ".png");
    fs::remove(screenshot);
    const Opened opened = open_in_browser(browser, page, screenshot);
    ASSERT_EQ(opened.problem, "");
    const std::string& dom = opened.dom;
    EXPECT_EQ(read_bytes(screenshot).substr(0, 8), "\x89PNG\r\n\x1a\n");

    // The outcome, as the report has it, in words.
    const std::string verdict = !result ? "error" : *result ? "true" : "false";
    EXPECT_NE(dom.find("data-result=\"" + verdict + "\""), std::string::npos) << verdict;
    EXPECT_NE(dom.find(*result ? "Vrai : l'import a réussi." : "Faux : l'import a échoué."), std::string::npos);
    EXPECT_NE(dom.find(*result ? "<title>Import réussi — Ondival</title>" : "<title>Import échoué — Ondival</title>"),
              std::string::npos)
        << "the page's title changed: a script ran";
    if (report["stop"].is_object()) {
        EXPECT_NE(dom.find("id=\"arret\" data-file=\"" + report["stop"]["file"].get<std::string>() + "\" data-line=\"" +
                           std::to_string(report["stop"]["line"].get<int>()) + "\""),
                  std::string::npos);
    }

    // The rows added.
    for (const auto& [key, value] : report["added"].items()) {
        const std::vector<std::smatch> shown = all(dom, "data-added=\"" + key + "\"><b>([^<]*)</b>");
        ASSERT_EQ(shown.size(), 1u) << key;
        EXPECT_EQ(shown_number(shown[0][1]), value.get<long long>()) << key;
    }

    // Each file: its lines and its summary counts, in order.
    for (const json& f : report["source_files"]) {
        const std::string name = f["name"];
        if (f["found"] == false) {
            EXPECT_NE(dom.find("data-file=\"" + name + "\"><h3>" + name + "</h3><p>Absent"), std::string::npos);
            continue;
        }
        const std::size_t at = dom.find("data-file=\"" + name + "\" data-lines=\"");
        ASSERT_NE(at, std::string::npos) << name;
        const std::string file = section_at(dom, at);
        EXPECT_EQ(file.rfind("data-file=\"" + name + "\" data-lines=\"" + std::to_string(f["lines"].get<long>()) + "\"",
                             0),
                  0u)
            << name;
        std::vector<std::pair<long long, std::string>> counts;
        for (const std::smatch& m : all(file, "<li data-count=\"([0-9]+)\">([^<]*)</li>"))
            counts.emplace_back(std::stoll(m[1]), m[2]);
        std::vector<std::pair<long long, std::string>> expected;
        for (const json& i : report["imports"])
            if (i["file"] == name)
                for (const json& c : i["counts"]) expected.emplace_back(c["count"], c["text"]);
        EXPECT_EQ(counts, expected) << name;
    }

    // Every located entry is a row of one group; each group counts its rows.
    std::multiset<std::pair<std::string, int>> rows, entries;
    for (const json& e : report["entries"]) entries.emplace(e["file"], e["line"]);
    std::size_t groups = 0;
    for (const std::smatch& g : all(dom, "class=\"carte groupe[^\"]*\" data-kind=\"(Erreur|Warning)\" "
                                         "data-count=\"([0-9]+)\"")) {
        ++groups;
        const std::string group = section_at(dom, static_cast<std::size_t>(g.position(0)));
        const std::vector<std::smatch> in_group = all(group, "<tr data-file=\"([^\"]*)\" data-line=\"([0-9]+)\">");
        EXPECT_EQ(in_group.size(), std::stoul(g[2]));
        for (const std::smatch& r : in_group) rows.emplace(r[1], std::stoi(r[2]));
    }
    EXPECT_EQ(rows, entries);
    if (GetParam().name == "DamagedExport") {
        EXPECT_LT(groups, entries.size()) << "lines refused for the same kind of reason are one group";
    }

    // The clubs and swimmers created.
    for (const auto& [id, list, row] :
         {std::tuple{"clubs-crees", "clubs", "club"}, {"nageurs-crees", "swimmers", "nageur"}}) {
        const std::size_t at = dom.find(std::string("id=\"") + id + "\"");
        ASSERT_NE(at, std::string::npos) << id;
        const std::string part = section_at(dom, at);
        EXPECT_EQ(all(part, std::string("<tr class=\"") + row + "\">").size(), report["created"][list].size()) << id;
    }

    // Only the page's own script ran, and it did: the print button it shows
    // is there.
    EXPECT_EQ(all(dom, "<script").size(), 1u);
    EXPECT_NE(dom.find("<button id=\"imprimer\" type=\"button\">"), std::string::npos)
        << "the page's own script did not run (its hash in the Content-Security-Policy?)";

    if (GetParam().hostile) {
        // The names are text: their markup is there to be read, as text.
        // (The browser writes its DOM back with only &, < and > escaped in
        // text.)
        for (const std::string& shown : {std::string("<td>&lt;script&gt;alert(1)&lt;/script&gt;\"&amp;<span"),
                                         std::string("<td>&lt;svg onload=document.title=1&gt;</td>"),
                                         std::string("<td>&lt;SCRIPT&gt;ALERT(1)&lt;/SCRIPT&gt;</td>"),
                                         std::string("Le code club est erronné : &lt;script&gt;\"&amp;'")})
            EXPECT_NE(dom.find(shown), std::string::npos) << shown;
        EXPECT_EQ(dom.find("<svg onload"), std::string::npos);
        // The NUL and the byte Windows-1252 leaves undefined are shown, not
        // dropped (0x81 is the DOS letter ü).
        for (const char* mark : {"^@</span>ü<span", "&lt;9D&gt;</span>"})
            EXPECT_NE(dom.find(mark), std::string::npos) << mark;
    }
}

INSTANTIATE_TEST_SUITE_P(Exports, HtmlPage, ::testing::ValuesIn(page_cases()),
                         [](const ::testing::TestParamInfo<PageCase>& info) { return info.param.name; });

// What the page promises without a browser: it loads nothing from
// elsewhere, its one script is the one its Content-Security-Policy names by
// hash, and a report kept by an earlier build, or a file that is no report,
// is handled.
TEST(HtmlPageAlone, LoadsNothingAndNamesItsScriptByItsHash) {
    const FixedClock clock;
    const ScratchDir dir;
    write_hostile(dir.subdir("src"));
    const std::string db = make_host_database(dir);
    clsOndival component;
    component.collect_report(true);
    component.bimport_perf(db, dir.file("src"), dir.subdir("tmp").string(), dir.file("trace.txt"), nullptr);
    const std::string page = report_to_html(component.rapport());

    EXPECT_TRUE(all(page, "(src|href|action|srcset)\\s*=\\s*\"(?!#)").empty()) << "a reference out of the page";
    const std::vector<std::smatch> policy = all(page, "script-src '(sha256-[A-Za-z0-9+/=]+)'");
    const std::vector<std::smatch> script = all(page, "<script>([^<]*)</script>");
    ASSERT_EQ(policy.size(), 1u);
    ASSERT_EQ(script.size(), 1u);
    write_bytes(dir.file("script.js"), script[0][1]);
    const ProgramRun hash = run_in(dir.path(), "python3",
                                   {"-c",
                                    "import base64,hashlib,sys;"
                                    "print('sha256-'+base64.b64encode(hashlib.sha256(open(sys.argv[1],'rb')"
                                    ".read()).digest()).decode())",
                                    dir.file("script.js")});
    EXPECT_EQ(hash.out, policy[0][1].str() + "\n") << hash.err;
}

TEST(HtmlPageAlone, AReportOfAnEarlierBuildOrNoReportAtAll) {
    const std::string page = report_html_from_json(R"({"format": "ondival-report", "version": 1, "mode": "import",
        "result": false, "entries": [{"file": "liffn.txt", "line": 2, "kind": "Erreur",
        "lines": ["Code nage invalide : 23"]}]})");
    EXPECT_NE(page.find("data-result=\"false\""), std::string::npos);
    EXPECT_NE(page.find("<tr data-file=\"liffn.txt\" data-line=\"2\">"), std::string::npos);
    EXPECT_EQ(page.find("id=\"clubs-crees\""), std::string::npos) << "no list the report does not hold";
    for (const char* not_a_report : {"", "{", "[1]", R"({"format": "autre"})"})
        EXPECT_EQ(error_number([&] { report_html_from_json(not_a_report); }), platform::err::kInvalidCall)
            << not_a_report;
}

}  // namespace
}  // namespace ondival::test
