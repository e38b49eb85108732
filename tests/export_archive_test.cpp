// The federation's export as one zip archive: imported exactly as the same
// files in a folder would be, whatever folder and capitals the archive
// stores them under; and archives no federation tool makes (not a zip, cut
// short, damaged data, names that climb out or start at the root, a file
// twice, a file far larger than an export) refused before the database is
// opened, nothing written but the four known names, never a stored path.
#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <functional>

#include "import/cls_ondival.h"
#include "import/export_archive.h"
#include "platform/error.h"
#include "platform/zip_archive.h"
#include "tests/report_support.h"

namespace ondival::test {
namespace {

namespace fs = std::filesystem;

// One stored entry: its name as the archive keeps it, and its bytes.
struct Stored {
    std::string name;
    std::string bytes;
};

// Writes a zip archive with libzip, deflated, as the federation's tools do.
void write_zip(const fs::path& file, const std::vector<Stored>& entries) {
    int error = 0;
    zip_t* archive = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr) << error;
    for (const Stored& e : entries) {
        zip_source_t* source = zip_source_buffer(archive, e.bytes.data(), e.bytes.size(), 0);
        ASSERT_NE(source, nullptr);
        // The name goes in as given, "..", "\" and all.
        ASSERT_GE(zip_file_add(archive, e.name.c_str(), source, 0), 0) << zip_strerror(archive);
    }
    ASSERT_EQ(zip_close(archive), 0);
}

// The four files of a folder, stored under the names `rename` gives them.
std::vector<Stored> stored_from(const fs::path& folder, const std::function<std::string(std::string)>& rename) {
    std::vector<Stored> entries;
    for (const char* name : {"club.txt", "licence.txt", "liffn.txt", "origine.txt"})
        if (fs::exists(folder / name)) entries.push_back({rename(name), read_bytes(folder / name)});
    return entries;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

CallOutcome run_import(const std::string& db, const std::string& source, const fs::path& scratch,
                       const std::string& trace) {
    return call_component(Call::kImport, db, source, scratch.string(), trace);
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// How a federation's tool may lay the files out in its archive.
struct Layout {
    const char* name;
    std::string (*rename)(std::string);
};
const Layout kLayouts[] = {
    {"Flat", [](std::string n) { return n; }},
    {"NestedAndCapitals", [](std::string n) { return "FFN/Export 2026/" + upper(n); }},
    {"WindowsSeparators", [](std::string n) { return "Export\\" + upper(n.substr(0, 1)) + n.substr(1); }},
};

class ZippedExport : public ::testing::TestWithParam<std::tuple<ExportCase, Layout>> {};

TEST_P(ZippedExport, ImportsAsTheSameFilesInAFolder) {
    const auto& [export_case, layout] = GetParam();
    const FixedClock clock;
    const ScratchDir dir;
    const fs::path folder = dir.subdir("export");
    export_case.write(folder);
    const fs::path zip = dir.path() / "export.zip";
    write_zip(zip, stored_from(folder, layout.rename));
    const std::string db = make_host_database(dir);
    const std::string twin = copy_host_database(db, dir, "twin.db");

    const CallOutcome zipped = run_import(db, zip.string(), dir.subdir("scratch-zip"), dir.file("zip.txt"));
    const CallOutcome plain = run_import(twin, folder.string(), dir.subdir("scratch-folder"), dir.file("folder.txt"));
    EXPECT_EQ(zipped.result, plain.result);
    EXPECT_EQ(zipped.error, plain.error) << zipped.message;
    // A file the archive lacks is "not found in" the folder it was unpacked
    // into, where the plain import names its own folder.
    std::string trace = zipped.trace;
    replace_all(trace, (dir.path() / "scratch-zip" / "export.zip").string(), folder.string());
    EXPECT_TRUE(trace == plain.trace) << trace << "\n---\n" << plain.trace;
    EXPECT_EQ(dump_database(db), dump_database(twin));
    // The unpacked folder goes with the call; the copies the import read stay.
    EXPECT_FALSE(fs::exists(dir.path() / "scratch-zip" / "export.zip"));
    for (const auto& e : fs::directory_iterator(dir.path() / "scratch-folder"))
        EXPECT_TRUE(fs::exists(dir.path() / "scratch-zip" / e.path().filename())) << e.path();
}

INSTANTIATE_TEST_SUITE_P(Exports, ZippedExport,
                         ::testing::Combine(::testing::ValuesIn(export_cases()), ::testing::ValuesIn(kLayouts)),
                         [](const auto& info) { return std::get<0>(info.param).name + std::get<1>(info.param).name; });

// An archive no federation tool makes, and the words its refusal must hold.
struct Hostile {
    const char* name;
    std::function<void(const fs::path& zip, const fs::path& folder)> write;  // folder: a clean export to draw on
    const char* message;
};

std::vector<Stored> with(std::vector<Stored> entries, const Stored& extra) {
    entries.push_back(extra);
    return entries;
}

// An archive of the clean export, each name given a prefix.
std::function<void(const fs::path&, const fs::path&)> prefixed(const std::string& prefix) {
    return [prefix](const fs::path& zip, const fs::path& folder) {
        write_zip(zip, stored_from(folder, [&](std::string n) { return prefix + n; }));
    };
}

const std::vector<Hostile>& hostile_archives() {
    static const std::vector<Hostile> cases = {
        {"NotAZip", [](const fs::path& zip, const fs::path&) { write_bytes(zip, "club.txt\r\nlicence.txt\r\n"); },
         "n'est pas une archive zip"},
        {"Empty", [](const fs::path& zip, const fs::path&) { write_bytes(zip, ""); }, "n'est pas une archive zip"},
        {"CutShort",
         [](const fs::path& zip, const fs::path& folder) {
             prefixed("")(zip, folder);
             const std::string bytes = read_bytes(zip);
             write_bytes(zip, bytes.substr(0, bytes.size() - 30));
         },
         "l'archive"},
        {"DamagedData",
         [](const fs::path& zip, const fs::path& folder) {
             prefixed("")(zip, folder);
             std::string bytes = read_bytes(zip);
             // Inside the first entry's compressed data, past its local header.
             for (std::size_t i = 60; i < 90; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
             write_bytes(zip, bytes);
         },
         "est endommag\xe9"
         "e"},
        {"ClimbsOut", prefixed("../"), "contient un chemin refus\xe9 : ../"},
        {"ClimbsOutHalfWay",
         [](const fs::path& zip, const fs::path& folder) {
             write_zip(zip, with(stored_from(folder, [](std::string n) { return n; }),
                                 {"docs/../../../etc/cron.d/x", "* * * * * root true\n"}));
         },
         "contient un chemin refus\xe9 : docs/../../../etc/cron.d/x"},
        {"ClimbsOutWithBackslashes", prefixed("..\\..\\"), "contient un chemin refus\xe9 : ..\\..\\"},
        {"FromTheRoot", prefixed("/tmp/"), "contient un chemin refus\xe9 : /tmp/"},
        {"FromADrive", prefixed("C:\\Export\\"), "contient un chemin refus\xe9 : C:\\Export\\"},
        {"AFileTwice",
         [](const fs::path& zip, const fs::path& folder) {
             write_zip(zip, with(stored_from(folder, [](std::string n) { return "2026/" + n; }),
                                 {"2025/LIFFN.TXT", read_bytes(folder / "liffn.txt")}));
         },
         "contient deux fichiers liffn.txt : "},
    };
    return cases;
}

void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }

class HostileArchive : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileArchive, IsRefusedBeforeTheDatabaseIsOpenedAndWritesNothing) {
    const FixedClock clock;
    const ScratchDir dir;
    const fs::path folder = dir.subdir("export");
    export_cases().front().write(folder);
    // The archive and the scratch directory two levels down, so that a name
    // climbing out would land in a folder the test watches.
    const fs::path zip = dir.subdir("in/box") / "export.zip";
    GetParam().write(zip, folder);
    const fs::path scratch = dir.subdir("work/scratch");
    const std::string db = make_host_database(dir);
    const std::vector<std::string> before = dump_database(db);

    const CallOutcome out = run_import(db, zip.string(), scratch, dir.file("trace.txt"));
    EXPECT_FALSE(out.result.has_value());
    EXPECT_EQ(out.error, platform::err::kBadFileFormat) << out.message;
    EXPECT_NE(out.message.find(GetParam().message), std::string::npos) << out.message;
    EXPECT_EQ(out.message.find('\n'), std::string::npos) << out.message;
    EXPECT_EQ(dump_database(db), before);
    // The trace says the import stopped, and why.
    const std::vector<std::string> lines = trace_lines(dir.file("trace.txt"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Import interrompu.");
    EXPECT_EQ(lines.back().rfind("Erreur n° 321: Format de fichier incorrect : l'archive ", 0), 0u) << lines.back();
    // Nothing written anywhere: not in the scratch directory, nor where a
    // climbing name points.
    EXPECT_TRUE(fs::is_empty(scratch));
    for (const fs::path& p : {dir.path() / "work", dir.path() / "in", dir.path() / "in/box"})
        for (const auto& e : fs::directory_iterator(p))
            EXPECT_TRUE(e.path() == scratch || e.path() == zip || e.path() == dir.path() / "in/box") << e.path();
    for (const char* name : {"club.txt", "licence.txt", "liffn.txt", "origine.txt"})
        EXPECT_FALSE(fs::exists(dir.path() / name)) << name;
}

INSTANTIATE_TEST_SUITE_P(Archives, HostileArchive, ::testing::ValuesIn(hostile_archives()),
                         [](const auto& info) { return std::string(info.param.name); });

// Size: an entry whose directory claims more than an export can hold is
// refused before a byte is read; one whose directory lies is stopped one
// byte past the limit, its partial copy removed. Entries that are not export
// files are never read, however large.
TEST(ArchiveSize, AnEntryTooLargeForAnExportIsNeverWrittenWhole) {
    const ScratchDir dir;
    const std::string big(100000, 'x');
    const fs::path zip = dir.path() / "export.zip";
    write_zip(zip, {{"liffn.txt", big}, {"club.txt", "FRA\r\n"}, {"video/opening.mp4", std::string(300000, 'v')}});
    const fs::path into = dir.subdir("into");

    // The error a step raises, as "number: description"; "" when none.
    const auto refusal = [](const std::function<void()>& step) {
        try {
            step();
        } catch (const platform::Failure& f) {
            return std::to_string(f.error().number) + ": " + f.error().description;
        }
        return std::string();
    };
    // What the directory says.
    const std::string claimed = refusal([&] { extrait_archive_export(zip.string(), into.string(), 50000); });
    EXPECT_EQ(claimed.rfind("321: ", 0), 0u) << claimed;
    EXPECT_NE(claimed.find("plus grand qu'un export ne peut l'\xeatre (liffn.txt) : 100000 octets"), std::string::npos)
        << claimed;
    EXPECT_TRUE(fs::is_empty(into));

    // What the data turns out to hold, whatever the directory said.
    const platform::ZipArchive archive(zip.string());
    const platform::ZipEntry& liffn = archive.entries().front();
    ASSERT_EQ(liffn.name, "liffn.txt");
    const std::string held = refusal([&] { archive.extract(liffn, (into / "liffn.txt").string(), 65536); });
    EXPECT_EQ(held.rfind("321: ", 0), 0u) << held;
    EXPECT_NE(held.find("plus de 65536 octets"), std::string::npos) << held;
    EXPECT_TRUE(fs::is_empty(into));

    // Within the limit, only the known names are written, under their own
    // lower-case names.
    extrait_archive_export(zip.string(), into.string(), 200000);
    EXPECT_EQ(snapshot(into), (std::map<std::string, std::string>{{"club.txt", "FRA\r\n"}, {"liffn.txt", big}}));
}

// Only a file named *.zip is read as an archive: a folder called
// "export.zip" is a folder, and a missing archive is a missing source.
TEST(ArchiveSource, OnlyAZipFileIsAnArchive) {
    const ScratchDir dir;
    write_bytes(dir.path() / "a.ZIP", "");
    write_bytes(dir.path() / "a.txt", "");
    fs::create_directories(dir.path() / "folder.zip");
    EXPECT_TRUE(est_archive_export(dir.file("a.ZIP")));
    EXPECT_FALSE(est_archive_export(dir.file("a.txt")));
    EXPECT_FALSE(est_archive_export(dir.file("folder.zip")));
    EXPECT_FALSE(est_archive_export(dir.file("missing.zip")));
}

// The command line takes the archive where it takes the folder: `ondival
// import DB export.zip` alone, and a bad archive is one line and exit 2.
TEST(ArchiveCli, ImportAndCheckTakeAZip) {
    const ScratchDir dir;
    const auto ondival = [&](const std::vector<std::string>& args) {
        return test::ondival(dir.path(), args, dir.subdir("tmp"));
    };
    ASSERT_EQ(ondival({"init", "club.db"}).exit_code, 0);
    ASSERT_EQ(ondival(
                  {"generate", "export", "--clubs", "3", "--licences", "30", "--performances", "40", "--relays", "2"})
                  .exit_code,
              0);
    write_zip(dir.path() / "export.zip",
              stored_from(dir.path() / "export", [](std::string n) { return "Export FFN/" + upper(n); }));
    write_bytes(dir.path() / "bad.zip", "PK but nothing more");

    const ProgramRun check = ondival({"check", "club.db", "export.zip"});
    EXPECT_EQ(check.exit_code, 0) << check.err;
    EXPECT_NE(check.out.find("Result:        true\n"), std::string::npos) << check.out;
    const ProgramRun import = ondival({"import", "club.db", "export.zip", "--quiet"});
    EXPECT_EQ(import.exit_code, 0) << import.err;
    EXPECT_EQ(sql1(dir.file("club.db"), "select count(*) from Liffn where Num_compet <> -1"), "40");
    EXPECT_TRUE(fs::is_empty(dir.path() / "tmp"));

    for (const char* command : {"import", "check"}) {
        SCOPED_TRACE(command);
        const ProgramRun bad = ondival({command, "club.db", "bad.zip"});
        EXPECT_EQ(bad.exit_code, 2);
        EXPECT_EQ(
            bad.err,
            "ondival: Erreur n\xc2\xb0 321: Format de fichier incorrect : l'archive bad.zip n'est pas une archive "
            "zip\n");
    }
    EXPECT_EQ(sql1(dir.file("club.db"), "select count(*) from Rcomp"), "1");
}

}  // namespace
}  // namespace ondival::test
