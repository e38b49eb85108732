// The report of an import, as hosts and scripts read it: through the C++
// entry point, the C interface and the command line. It must say what the
// trace says (every located entry, every summary count), what the files
// held, where the import stopped, and always be valid UTF-8 JSON that the
// documented schema accepts.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "common/dos_letters.h"
#include "import/cls_ondival.h"
#include "import/report_html.h"
#include "import/report_json.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "tests/report_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;

// Lines as the import reads them, counted here from the bytes.
long file_lines(const fs::path& file) {
    const std::string bytes = read_bytes(file);
    long n = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'))) ++n;
    return n + (!bytes.empty() && bytes.back() != '\n' && bytes.back() != '\r' ? 1 : 0);
}

// The lines of an export file as the import reads them: cut at CRLF, LF or
// CR, DOS letters made Windows-1252, then UTF-8 as the report gives texts.
std::vector<std::string> decoded_lines(const fs::path& file) {
    const std::string bytes = read_bytes(file);
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' || bytes[i] == '\n') {
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else {
            lines.back() += bytes[i];
        }
    }
    if (lines.back().empty()) lines.pop_back();
    for (std::string& l : lines) l = platform::cp1252_to_utf8(accents_dos(l.substr(0, kLineTextKept)));
    return lines;
}

std::string quoted_sql(std::string text) {
    for (std::size_t at = text.find('\''); at != std::string::npos; at = text.find('\'', at + 2))
        text.insert(at, 1, '\'');
    return "'" + text + "'";
}

class ImportReport : public ::testing::TestWithParam<ExportCase>, public ImportFixture {};

TEST_P(ImportReport, SaysWhatTheTraceSaysAndWhatTheFilesHeld) {
    GetParam().write(source());
    clsOndival component;
    component.collect_report(true);
    const bool result = component.bimport_perf(db, source().string(), scratch().string(), trace_path(), nullptr);
    const std::string text = report_to_json(component.rapport());
    const nlohmann::json report = nlohmann::json::parse(text);
    const std::vector<std::string> lines = trace();

    EXPECT_EQ(report["mode"], "import");
    EXPECT_EQ(report["result"], result);
    EXPECT_TRUE(report["error"].is_null());
    EXPECT_EQ(report["started"], "2026-12-06T14:03:27");
    expect_report_agrees_with_trace(report, lines);

    const bool has_liffn = fs::exists(source() / "liffn.txt");
    EXPECT_EQ(report["source_files"][0]["name"], "liffn.txt");
    EXPECT_EQ(report["source_files"].size(), has_liffn ? 4u : 1u);
    for (const nlohmann::json& f : report["source_files"]) {
        const fs::path original = source() / f["name"].get<std::string>();
        EXPECT_EQ(f["found"], fs::exists(original)) << f;
        if (f["found"] == true) {
            EXPECT_EQ(f["lines"], file_lines(original)) << f;
        }
        if (f["short_lines"] == true) {
            const std::string warning = "Warning Les lignes dans le fichier " +
                                        fs::path(f["copy"].get<std::string>()).filename().string() +
                                        " n'ont pas la longueur requise.";
            EXPECT_TRUE(trace_has(warning)) << warning;
        }
    }

    const nlohmann::json& stop = report["stop"];
    EXPECT_EQ(stop.is_null(), GetParam().stop.empty());
    if (!GetParam().stop.empty()) {
        EXPECT_EQ(stop["file"], GetParam().stop);
    }
    if (GetParam().stop == "liffn.txt") {
        EXPECT_FALSE(result);
        EXPECT_TRUE(report["purged"].get<bool>());
        EXPECT_TRUE(report["competition"].is_null());
        EXPECT_EQ(report["added"]["performances"], 0);
        EXPECT_EQ(report["imports"].back()["completed"], false);
        EXPECT_TRUE(trace_has("Importation des performances annulées.") ||
                    trace_has("Import des performances annulé."));
    } else if (has_liffn) {
        EXPECT_TRUE(result);
        EXPECT_EQ(report["competition"]["name"], "1er import perf du 20261206");
        EXPECT_EQ(report["competition"]["number"].get<int>(), std::stoi(sql1(db, "select AutoNum from Rcomp")));
        EXPECT_EQ(report["added"]["performances"].get<long>(),
                  std::stol(count("Liffn")) + std::stol(count("Liffn_relais")));
    }
    if (GetParam().name == "StopsAtALine") {
        EXPECT_EQ(stop["line"], 3);
        EXPECT_EQ(stop["lines"], nlohmann::json::parse(R"(["Code nage invalide : 99",
                                                            "Importation des performances annulées."])"));
        // The short club line is refused, and the import goes on past it.
        EXPECT_EQ(report["entries"][0]["file"], "club.txt");
        EXPECT_EQ(report["entries"][0]["line"], 2);
        EXPECT_EQ(report["imports"][0]["completed"], true);
    }
    if (GetParam().name == "LicencesStopAfterARefusedLine") {
        // The stop is the line the import stopped at, not the line it refused and went past.
        EXPECT_EQ(stop["line"], 3);
        EXPECT_EQ(stop["lines"][0], "Import des licences interrompu.");
        EXPECT_EQ(report["entries"][0]["line"], 2);
        EXPECT_EQ(report["imports"][1]["completed"], false);
    }
    EXPECT_EQ(report["added"]["clubs"].get<long>(), std::stol(count("Club")));

    // The clubs and swimmers created are listed as the database holds them,
    // one for each row counted.
    const nlohmann::json& created = report["created"];
    ASSERT_EQ(created["clubs"].size(), report["added"]["clubs"].get<std::size_t>());
    ASSERT_EQ(created["swimmers"].size(), report["added"]["swimmers"].get<std::size_t>());
    for (const nlohmann::json& c : created["clubs"])
        EXPECT_EQ(sql(db, "select Intitule from Club where Code_federal = " + quoted_sql(c["code"])),
                  std::vector<std::string>{c["label"]});
    for (const nlohmann::json& w : created["swimmers"])
        EXPECT_EQ(sql(db, "select Nom || '/' || Prenom || '/' || Date_Naissance from Licence where Code_club = " +
                              quoted_sql(w["club"]) + " and Licence = " + quoted_sql(w["licence"])),
                  std::vector<std::string>{w["name"].get<std::string>() + "/" + w["first_name"].get<std::string>() +
                                           "/" + w["birth"].get<std::string>()});

    // Each entry carries the very line of the export it names.
    for (const nlohmann::json& e : report["entries"]) {
        const std::vector<std::string> lines = decoded_lines(source() / e["file"].get<std::string>());
        const std::size_t n = e["line"].get<std::size_t>();
        ASSERT_TRUE(n >= 1 && n <= lines.size()) << e;
        EXPECT_EQ(e["text"], lines[n - 1]) << e;
    }
    expect_valid_reports({text});
}

INSTANTIATE_TEST_SUITE_P(Exports, ImportReport, ::testing::ValuesIn(export_cases()), case_name);

// An error that reaches the host is in the report, and the report is still
// valid: a source directory that does not exist, a trace that cannot be
// written.
TEST(ImportReportErrors, TheErrorThatReachedTheHostIsReported) {
    const FixedClock clock;
    const ScratchDir dir;
    const std::string db = make_host_database(dir);
    std::vector<std::string> texts;
    for (const auto& [source, trace] : {std::pair{dir.file("missing"), dir.file("trace.txt")},
                                        std::pair{dir.path().string(), dir.file("no/such/trace.txt")}}) {
        clsOndival component;
        component.collect_report(true);
        const int number =
            error_number([&] { component.bimport_perf(db, source, dir.path().string(), trace, nullptr); });
        EXPECT_NE(number, 0);
        const std::string text = report_to_json(component.rapport());
        const nlohmann::json report = nlohmann::json::parse(text);
        EXPECT_TRUE(report["result"].is_null());
        EXPECT_EQ(report["error"]["number"], number);
        EXPECT_FALSE(report["error"]["text"].get<std::string>().empty());
        texts.push_back(text);
    }
    expect_valid_reports(texts);
}

// Another workstation enters clubs and licences, and a performance, while
// the import runs: on a file between the import's transactions (as the
// step starts), on a server whenever it likes, here at the same points.
class AnotherWriterAtEachStep : public RecordingForm {
public:
    explicit AnotherWriterAtEachStep(const std::string& db) : other_(db) {}
    void SetStepTitle(const std::string& title) override {
        RecordingForm::SetStepTitle(title);
        if (title == "Fichier licence.txt") {
            other_.exec("INSERT INTO Club (Code_federal, Intitule, Selection) VALUES ('FRA5110759901', 'POSTE 1', "
                        "false), ('FRA5110759902', 'POSTE 2', false)");
            other_.exec("INSERT INTO Licence (Code_club, licence, Nom, Prenom) VALUES ('FRA5110759901', '990001', "
                        "'AUTRE', 'A'), ('FRA5110759901', '990002', 'AUTRE', 'B'), ('FRA5110759902', '990003', "
                        "'AUTRE', 'C')");
        } else if (title == "Fichier Liffn.txt") {
            other_.exec("INSERT INTO Licence (Code_club, licence, Nom, Prenom) VALUES ('FRA5110759902', '990004', "
                        "'AUTRE', 'D')");
            other_.exec("INSERT INTO Liffn (Code_epreuve, Code_club, Num_Lic, Num_compet) VALUES (12, "
                        "'FRA5110759902', 1, 0)");
        }
    }

private:
    OtherSession other_;
};

// The rows the report says the import added are the import's own, not the
// growth of the tables, which another writer's rows are part of.
TEST(ImportReportBesideAnotherWriter, AddedCountsTheImportsOwnRowsOnly) {
    const FixedClock clock;
    const ScratchDir dir;
    const fs::path source = dir.subdir("export");
    export_cases().front().write(source);
    const std::string db = make_host_database(dir);
    const std::string alone = copy_host_database(db, dir, "alone.db");

    Report beside, by_itself;
    AnotherWriterAtEachStep writer(db);
    const ImportOutcome o = import_once(db, source, dir, "beside", true, &writer, &beside);
    ASSERT_EQ(o.result, true) << o.trace;
    ASSERT_EQ(import_once(alone, source, dir, "alone", true, nullptr, &by_itself).result, true);

    const auto counts = [](const ReportAdded& a) {
        return std::vector<std::int64_t>{a.clubs, a.licences, a.swimmers, a.performances};
    };
    EXPECT_EQ(counts(beside.added), counts(by_itself.added));
    EXPECT_GT(by_itself.added.licences, 0);
    EXPECT_GT(by_itself.added.performances, 0);
    EXPECT_EQ(std::stol(sql1(db, "select count(*) from Licence")) -
                  std::stol(sql1(alone, "select count(*) from Licence")),
              4);
}

// The C interface of version 2, loaded as a host loads it: a check that
// keeps nothing, an import, and the report of each; version 1's functions
// unchanged.
TEST(CapiReport, CheckAndImportThroughTheSharedLibrary) {
    void* lib = dlopen(ONDIVAL_SHARED_LIB, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using Create = void* (*)();
    using Release = void (*)(void*);
    using Run = int (*)(void*, const char*, const char*, const char*, const char*, const void*);
    using Text = const char* (*)(const void*);
    using Version = int (*)();
    const auto create = reinterpret_cast<Create>(dlsym(lib, "ondvimp_create"));
    const auto release = reinterpret_cast<Release>(dlsym(lib, "ondvimp_release"));
    const auto import = reinterpret_cast<Run>(dlsym(lib, "ondvimp_import"));
    const auto check = reinterpret_cast<Run>(dlsym(lib, "ondvimp_check"));
    const auto last_report = reinterpret_cast<Text>(dlsym(lib, "ondvimp_last_report"));
    const auto last_page = reinterpret_cast<Text>(dlsym(lib, "ondvimp_last_report_html"));
    const auto last_error = reinterpret_cast<Text>(dlsym(lib, "ondvimp_last_error_text"));
    const auto abi = reinterpret_cast<Version>(dlsym(lib, "ondvimp_abi_version"));
    ASSERT_TRUE(create && release && import && check && last_report && last_page && last_error && abi);
    EXPECT_GE(abi(), 2);  // a host written for version 2 runs on any later one

    const ScratchDir dir;
    const fs::path source = dir.path() / "export";
    export_cases().front().write(source);
    const std::string db = make_host_database(dir);
    const std::vector<std::string> before = dump_database(db);
    void* importer = create();
    EXPECT_STREQ(last_report(importer), "");
    EXPECT_STREQ(last_report(nullptr), "");
    EXPECT_STREQ(last_page(importer), "");

    // A check needs neither a scratch directory nor a trace.
    EXPECT_EQ(check(importer, db.c_str(), source.c_str(), nullptr, nullptr, nullptr), 1) << last_error(importer);
    EXPECT_EQ(dump_database(db), before);
    const std::string checked = last_report(importer);
    EXPECT_EQ(nlohmann::json::parse(checked)["mode"], "check");
    // The page is the report's, and follows it from call to call.
    EXPECT_EQ(last_page(importer), report_html_from_json(checked));

    fs::create_directories(dir.path() / "scratch");
    EXPECT_EQ(import(importer, db.c_str(), source.c_str(), dir.file("scratch").c_str(), dir.file("trace.txt").c_str(),
                     nullptr),
              1)
        << last_error(importer);
    const std::string imported = last_report(importer);
    const nlohmann::json report = nlohmann::json::parse(imported);
    EXPECT_EQ(report["mode"], "import");
    EXPECT_EQ(report["added"], nlohmann::json::parse(checked)["added"]);
    expect_report_agrees_with_trace(report, trace_lines(dir.file("trace.txt")));
    EXPECT_EQ(last_page(importer), report_html_from_json(imported));

    // A refused call leaves no report; an import needs its scratch and trace.
    EXPECT_EQ(import(importer, db.c_str(), source.c_str(), nullptr, dir.file("t.txt").c_str(), nullptr), -1);
    EXPECT_STREQ(last_report(importer), "");
    EXPECT_STREQ(last_page(importer), "");
    EXPECT_EQ(check(importer, nullptr, source.c_str(), nullptr, nullptr, nullptr), -1);
    EXPECT_STREQ(last_report(importer), "");
    EXPECT_EQ(check(nullptr, db.c_str(), source.c_str(), nullptr, nullptr, nullptr), -1);
    release(importer);
    dlclose(lib);
    expect_valid_reports({checked, imported});
}

}  // namespace
}  // namespace ondival::test
