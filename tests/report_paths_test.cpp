// Paths in the report as the file system holds them. Linux takes any bytes
// in a file name, and a club's export unpacked from an old Windows share
// keeps its Latin-1 folder names: the report must still name the real
// files, and stay strict UTF-8 JSON that any parser (nlohmann here, Python's
// json in the schema check) reads.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "import/report_json.h"
#include "tests/report_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

std::string from_hex(const std::string& hex) {
    std::string bytes;
    if (hex.size() % 2 != 0) ADD_FAILURE() << "odd number of digits: " << hex;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// A path field of a report object: the path itself when it is UTF-8, and
// nothing beside it; otherwise a display form with U+FFFD and the exact
// bytes beside it. Gives the path the report names.
std::string expect_path(const nlohmann::json& object, const std::string& name, const std::string& path, bool utf8) {
    const std::string shown = object.at(name).get<std::string>();
    const std::string bytes_field = name + "_bytes";
    if (utf8) {
        EXPECT_EQ(shown, path) << name;
        EXPECT_FALSE(object.contains(bytes_field)) << object;
        return shown;
    }
    EXPECT_NE(shown.find(kReplacement), std::string::npos) << name << ": " << shown;
    if (!object.contains(bytes_field)) {
        ADD_FAILURE() << "no " << bytes_field << " in " << object;
        return shown;
    }
    const std::string hex = object.at(bytes_field).get<std::string>();
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos) << hex;
    const std::string named = from_hex(hex);
    EXPECT_EQ(named, path) << bytes_field;
    return named;
}

struct PathCase {
    std::string name;
    std::string path;
    bool utf8;
};
void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class ReportPathBytes : public ::testing::TestWithParam<PathCase> {};

// Every path field, for paths at the edges of what UTF-8 allows: the bytes
// field appears exactly when the path is not UTF-8, and gives it whole.
TEST_P(ReportPathBytes, GivenExactlyWhenThePathIsNotUtf8) {
    const PathCase& c = GetParam();
    Report report;
    report.database = c.path + ".db";
    report.source_dir = c.path;
    report.trace_path = c.path + "/trace.txt";
    report.source_files.push_back({.name = "liffn.txt", .found = true, .copy = c.path + "/liffn.txt", .lines = 3});
    ReportSourceFile missing;
    missing.name = "licence.txt";
    report.source_files.push_back(missing);
    const std::string text = report_to_json(report);
    nlohmann::json parsed;
    ASSERT_NO_THROW(parsed = nlohmann::json::parse(text)) << text;
    expect_path(parsed, "database", c.path + ".db", c.utf8);
    expect_path(parsed, "source_dir", c.path, c.utf8);
    expect_path(parsed, "trace", c.path + "/trace.txt", c.utf8);
    expect_path(parsed["source_files"][0], "copy", c.path + "/liffn.txt", c.utf8);
    EXPECT_TRUE(parsed["source_files"][1]["copy"].is_null());
    EXPECT_FALSE(parsed["source_files"][1].contains("copy_bytes"));
    expect_valid_reports({text});
}

INSTANTIATE_TEST_SUITE_P(Paths, ReportPathBytes,
                         ::testing::Values(PathCase{"Ascii", "/srv/club/export", true}, PathCase{"Empty", "", true},
                                           PathCase{"AccentsInUtf8", "/srv/r\xC3\xA9sultats", true},
                                           PathCase{"FourByteCharacter", "/srv/\xF0\x9F\x8F\x8A", true},
                                           PathCase{"LastCodePoint", "/srv/\xF4\x8F\xBF\xBF", true},
                                           PathCase{"Latin1", "/srv/\xE9t\xE9", false},
                                           PathCase{"LoneContinuation", "/srv/\x80", false},
                                           PathCase{"OverlongSlash", "/srv/\xC0\xAF", false},
                                           PathCase{"OverlongThreeBytes", "/srv/\xE0\x80\xAF", false},
                                           PathCase{"Surrogate", "/srv/\xED\xA0\x80", false},
                                           PathCase{"CutShortAtTheEnd", "/srv/\xE2\x82", false},
                                           PathCase{"CutShortBeforeASlash", "/srv/\xC3/x", false},
                                           PathCase{"PastTheLastCodePoint", "/srv/\xF4\x90\x80\x80", false},
                                           PathCase{"ByteFF", "\xFF", false}),
                         [](const ::testing::TestParamInfo<PathCase>& info) { return info.param.name; });

// The C interface, loaded as a host loads it.
struct Library {
    void* handle = dlopen(ONDIVAL_SHARED_LIB, RTLD_NOW | RTLD_LOCAL);
    ~Library() {
        if (handle) dlclose(handle);
    }
    template <typename F>
    F get(const char* name) const {
        void* f = handle ? dlsym(handle, name) : nullptr;
        if (!f) throw std::runtime_error(std::string("libondvimp lacks ") + name);
        return reinterpret_cast<F>(f);
    }
};

// Where one call reads and writes, named with a given word.
struct CallPaths {
    std::string db, source, scratch, trace;
};

enum class Caller { CliImport, CliCheck, CapiImport, CapiCheck };

// One import or check as a host makes it; gives its report and whether it
// returned true.
std::pair<std::string, bool> call(Caller caller, const ScratchDir& dir, const CallPaths& p) {
    if (caller == Caller::CliImport || caller == Caller::CliCheck) {
        const std::string report = dir.file("report.json");
        const ProgramRun run =
            caller == Caller::CliImport
                ? ondival(dir.path(), {"import", p.db, p.source, p.scratch, p.trace, "--quiet", "--report", report})
                : ondival(dir.path(), {"check", p.db, p.source, "--scratch", p.scratch, "--trace", p.trace, "--quiet",
                                       "--report", report});
        EXPECT_EQ(run.err, "");
        return {read_bytes(report), run.exit_code == 0};
    }
    using Run = int (*)(void*, const char*, const char*, const char*, const char*, const void*);
    using Text = const char* (*)(const void*);
    const Library lib;
    void* importer = lib.get<void* (*)()>("ondvimp_create")();
    const int result = lib.get<Run>(
        caller == Caller::CapiImport ? "ondvimp_import" : "ondvimp_check")(importer, p.db.c_str(), p.source.c_str(),
                                                                           p.scratch.c_str(), p.trace.c_str(), nullptr);
    EXPECT_NE(result, -1) << lib.get<Text>("ondvimp_last_error_text")(importer);
    const std::string report = lib.get<Text>("ondvimp_last_report")(importer);
    lib.get<void (*)(void*)>("ondvimp_release")(importer);
    return {report, result == 1};
}

struct RealCallCase {
    std::string name;
    Caller caller;
    std::string word;  // in the name of every path of the call
    bool utf8;
};
void PrintTo(const RealCallCase& c, std::ostream* os) { *os << c.name; }

class ReportPathsOfARealCall : public ::testing::TestWithParam<RealCallCase> {};

// A real import or check whose database, source, scratch directory and
// trace all have such names: the report names each of them, and every
// scratch copy, so that the file is found there.
TEST_P(ReportPathsOfARealCall, NameTheFilesThatAreThere) {
    const RealCallCase& c = GetParam();
    const ScratchDir dir;
    const CallPaths p{dir.file("club-" + c.word + ".db"), dir.file("export-" + c.word),
                      dir.subdir("scratch-" + c.word).string(), dir.file("trace-" + c.word + ".txt")};
    export_cases().front().write(p.source);
    make_host_database(dir, fs::path(p.db).filename().string());

    const auto [text, result] = call(c.caller, dir, p);
    EXPECT_TRUE(result);
    nlohmann::json report;
    ASSERT_NO_THROW(report = nlohmann::json::parse(text)) << text;
    EXPECT_TRUE(fs::is_regular_file(expect_path(report, "database", p.db, c.utf8)));
    EXPECT_TRUE(fs::is_directory(expect_path(report, "source_dir", p.source, c.utf8)));
    EXPECT_TRUE(fs::is_regular_file(expect_path(report, "trace", p.trace, c.utf8)));
    ASSERT_EQ(report["source_files"].size(), 4u);
    for (const nlohmann::json& f : report["source_files"]) {
        const fs::path copy = fs::path(p.scratch) / f["name"].get<std::string>();
        const std::string named = expect_path(f, "copy", copy.string(), c.utf8);
        EXPECT_EQ(read_bytes(named), read_bytes(fs::path(p.source) / f["name"].get<std::string>())) << named;
    }
    // A field of bytes appears only beside a path that needs it.
    EXPECT_EQ(text.find("_bytes\":") != std::string::npos, !c.utf8) << text;
    expect_valid_reports({text});
}

INSTANTIATE_TEST_SUITE_P(Calls, ReportPathsOfARealCall,
                         ::testing::Values(RealCallCase{"CliImportLatin1", Caller::CliImport, "\xE9t\xE9", false},
                                           RealCallCase{"CliCheckLatin1", Caller::CliCheck, "\xE9t\xE9", false},
                                           RealCallCase{"CapiImportLatin1", Caller::CapiImport, "\xE9t\xE9", false},
                                           RealCallCase{"CapiCheckLatin1", Caller::CapiCheck, "\xE9t\xE9", false},
                                           RealCallCase{"CliImportUtf8", Caller::CliImport, "\xC3\xA9t\xC3\xA9", true},
                                           RealCallCase{"CapiCheckUtf8", Caller::CapiCheck, "\xC3\xA9t\xC3\xA9", true}),
                         [](const ::testing::TestParamInfo<RealCallCase>& info) { return info.param.name; });

}  // namespace
}  // namespace ondival::test
