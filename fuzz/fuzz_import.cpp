// The host's one call on an export of any bytes. The input is club.txt,
// licence.txt, liffn.txt and origine.txt in that order, cut at the mark
// below; a file whose part is missing is not written at all, so the call
// also meets exports without a licence file or without performances.
//
// Each execution imports into a fresh copy of one host database made at
// start-up, then reads that database from outside the component and
// aborts when the call broke one of the promises the host relies on:
//   - no performance left staged (Num_compet = -1);
//   - the database marked closed (Info.LastClose true);
//   - every text the import can write is well-formed UTF-8;
//   - the reference data and the reference swimmer are untouched;
//   - true only when this call's performances were attached to the one
//     competition it created, as many as the trace counts, or when it
//     stored none; false only with no performance stored and a trace that
//     says why; an error raised to the host only after the trace's last
//     lines said "Import interrompu." and the error.
#include <sqlite3.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/trace.h"
#include "fuzz/fuzz_checks.h"
#include "host/host_schema.h"
#include "import/cls_ondival.h"
#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/error.h"

namespace {

namespace fs = std::filesystem;
using ondival::operator""_w;
using ondival::fuzz::require;
using ondival::fuzz::valid_utf8;
using ondival::fuzz::violation;

// Cuts the input into the export's files; the same mark is in import.dict.
constexpr std::string_view kPartMark = "#=#=#";
constexpr const char* kPartFiles[] = {"club.txt", "licence.txt", "liffn.txt", "origine.txt"};

// The tables the import writes, whose texts the host will read back.
constexpr const char* kWrittenTables[] = {"Club",         "Licence", "Selection", "Liffn",
                                          "Liffn_relais", "Rcomp",   "Piscine",   "Info"};
// The host's reference data, which no import may touch.
constexpr const char* kReferenceCounts[] = {
    "SELECT COUNT(*) FROM Pays",
    "SELECT COUNT(*) FROM Region",
    "SELECT COUNT(*) FROM Departement",
    "SELECT COUNT(*) FROM Nage",
    "SELECT COUNT(*) FROM Inter_Region",
    "SELECT COUNT(*) FROM Licence WHERE Nom = 'Null' AND licence = '' AND Code_club = ''"};

class Db {
public:
    explicit Db(const fs::path& path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            violation("cannot open the host database after the call", sqlite3_errmsg(db_));
    }
    ~Db() { sqlite3_close(db_); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    std::int64_t count(const std::string& sql) const {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
            violation("host database no longer answers", sql);
        if (sqlite3_step(s) != SQLITE_ROW) violation("host database no longer answers", sql);
        const std::int64_t n = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
        return n;
    }

    void require_utf8_texts(const char* table) const {
        const std::string sql = std::string("SELECT * FROM ") + table;
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
            violation("host database no longer answers", sql);
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(s); ++i) {
                if (sqlite3_column_type(s, i) != SQLITE_TEXT) continue;
                const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
                const std::string_view text(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(s, i)));
                if (!valid_utf8(text)) {
                    const std::string where = std::string(table) + "." + sqlite3_column_name(s, i);
                    violation("malformed UTF-8 stored in", where);
                }
            }
        }
        sqlite3_finalize(s);
        if (rc != SQLITE_DONE) violation("host database no longer answers", sql);
    }

private:
    sqlite3* db_ = nullptr;
};

struct Counts {
    std::int64_t liffn = 0, relais = 0, rcomp = 0, max_rcomp = 0;
    std::vector<std::int64_t> reference;
};

Counts counts(const Db& db) {
    Counts c;
    c.liffn = db.count("SELECT COUNT(*) FROM Liffn");
    c.relais = db.count("SELECT COUNT(*) FROM Liffn_relais");
    c.rcomp = db.count("SELECT COUNT(*) FROM Rcomp");
    c.max_rcomp = db.count("SELECT IFNULL(MAX(AutoNum), 0) FROM Rcomp");
    for (const char* sql : kReferenceCounts) c.reference.push_back(db.count(sql));
    return c;
}

struct Workspace {
    fs::path root, source, scratch, database, templ, trace;
    Counts before;
    bool verbose = false;  // ONDIVAL_FUZZ_VERBOSE: the outcome and trace of each input, to study a finding
};

Workspace* workspace = nullptr;

fs::path work_root() {
    if (const char* dir = std::getenv("ONDIVAL_FUZZ_DIR")) return dir;
    // Memory-backed when the system has it: the import commits several
    // transactions per execution.
    std::error_code ec;
    if (fs::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return fs::temp_directory_path();
}

void write_file(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) violation("cannot write the export", path.string());
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void fresh_dir(const fs::path& dir) {
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
}

// The number the trace's closing summary gives for a kind of performance:
// the last line that starts with the prefix and ends with the suffix.
std::int64_t trace_count(const std::string& trace, const std::string& suffix_singular,
                         const std::string& suffix_plural) {
    const std::string prefix = "\r\n"_w + "Récupération de "_w;
    std::int64_t found = -1;
    for (std::size_t at = trace.find(prefix); at != std::string::npos; at = trace.find(prefix, at + 1)) {
        const std::size_t start = at + prefix.size();
        const std::size_t end = trace.find("\r\n", start);
        const std::string line = trace.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::size_t digits = line.find_first_not_of("0123456789");
        if (digits == 0 || digits == std::string::npos) continue;
        const std::string rest = line.substr(digits);
        if (rest == suffix_singular || rest == suffix_plural) found = std::stoll(line.substr(0, digits));
    }
    return found;
}

bool holds_line(const std::string& trace, const std::string& line) {
    return ("\r\n" + trace).find("\r\n" + line + "\r\n") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The competition is named after the day and two-digit birth years are
    // read against it: a fixed day keeps every finding reproducible.
    ondival::platform::SetFixedClock(ondival::platform::LocalTime{2026, 12, 6, 14, 3, 27});

    static Workspace w;
    w.root = work_root() / ("ondival-fuzz-" + std::to_string(getpid()));
    fresh_dir(w.root);
    w.source = w.root / "src";
    w.scratch = w.root / "tmp";
    w.database = w.root / "club.db";
    w.templ = w.root / "template.db";
    w.trace = w.root / "trace.txt";
    if (const std::string problem = ondival::host::create_host_database(w.templ.string()); !problem.empty())
        violation("cannot create the host database", problem);
    w.before = counts(Db(w.templ));
    w.verbose = std::getenv("ONDIVAL_FUZZ_VERBOSE") != nullptr;
    workspace = &w;
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(workspace->root, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Workspace& w = *workspace;
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    fresh_dir(w.source);
    fresh_dir(w.scratch);
    bool wrote_liffn = false;
    std::size_t start = 0;
    for (std::size_t part = 0; part < std::size(kPartFiles) && start != std::string_view::npos; ++part) {
        const bool last = part + 1 == std::size(kPartFiles);
        const std::size_t mark = last ? std::string_view::npos : input.find(kPartMark, start);
        write_file(w.source / kPartFiles[part],
                   input.substr(start, mark == std::string_view::npos ? mark : mark - start));
        if (part == 2) wrote_liffn = true;
        start = mark == std::string_view::npos ? mark : mark + kPartMark.size();
    }
    for (const char* stale : {"-journal", "-wal", "-shm"}) {
        std::error_code ec;
        fs::remove(w.database.string() + stale, ec);
    }
    fs::copy_file(w.templ, w.database, fs::copy_options::overwrite_existing);

    bool raised = false, result = false;
    try {
        result = ondival::clsOndival().bimport_perf(w.database.string(), w.source.string(), w.scratch.string(),
                                                    w.trace.string(), nullptr);
    } catch (const ondival::platform::Failure& f) {
        raised = true;
        if (w.verbose) std::fprintf(stderr, "raised to the host: %s\n", f.what());
        const std::string tail = "Import interrompu."_w + "\r\n" + ondival::texte_erreur(f.error()) + "\r\n";
        const std::string trace = read_file(w.trace);
        require(trace.size() >= tail.size() && trace.compare(trace.size() - tail.size(), tail.size(), tail) == 0,
                "error raised to the host without \"Import interrompu.\" and the error at the end of the trace",
                f.what());
    }
    // Anything else thrown escapes libFuzzer's callback and ends as a crash.

    const Db db(w.database);
    require(db.count("SELECT COUNT(*) FROM Liffn WHERE Num_compet = -1") == 0, "staged individual performance left");
    require(db.count("SELECT COUNT(*) FROM Liffn_relais WHERE Num_compet = -1") == 0, "staged relay left");
    require(db.count("SELECT COUNT(*) FROM Info") >= 1 &&
                db.count("SELECT COUNT(*) FROM Info WHERE LastClose IS NOT 1") == 0,
            "database not marked closed");
    for (const char* table : kWrittenTables) db.require_utf8_texts(table);

    const Counts after = counts(db);
    require(after.reference == w.before.reference, "reference data changed");
    const std::int64_t liffn_added = after.liffn - w.before.liffn, relais_added = after.relais - w.before.relais;
    require(liffn_added >= 0 && relais_added >= 0, "performances of the host deleted");
    if (raised) return 0;

    const std::string trace = read_file(w.trace);
    if (w.verbose)
        std::fprintf(stderr, "result %s, Liffn +%lld, Liffn_relais +%lld, Rcomp +%lld\n%s\n", result ? "true" : "false",
                     static_cast<long long>(liffn_added), static_cast<long long>(relais_added),
                     static_cast<long long>(after.rcomp - w.before.rcomp),
                     ondival::platform::cp1252_to_utf8(trace).c_str());
    if (result) {
        if (liffn_added == 0 && relais_added == 0 && after.rcomp == w.before.rcomp) return 0;  // nothing to store
        require(after.rcomp == w.before.rcomp + 1 && after.max_rcomp > w.before.max_rcomp,
                "true without exactly one new competition");
        const std::string compet = std::to_string(after.max_rcomp);
        require(db.count("SELECT COUNT(*) FROM Liffn WHERE Num_compet = " + compet) == liffn_added &&
                    db.count("SELECT COUNT(*) FROM Liffn_relais WHERE Num_compet = " + compet) == relais_added,
                "true with performances of this call outside its competition");
        require(trace_count(trace, " performance individuelle."_w, " performances individuelles."_w) == liffn_added,
                "stored individual performances differ from the trace's count");
        require(trace_count(trace, " performance de relais."_w, " performances de relais."_w) == relais_added,
                "stored relays differ from the trace's count");
        require(holds_line(trace, "Création réussie de la référence dans la table des compétitions."_w),
                "true without the competition in the trace");
    } else {
        require(liffn_added == 0 && relais_added == 0, "false with performances stored");
        if (wrote_liffn)
            require(holds_line(trace, "Efface toutes les données déjà importées."_w),
                    "false without the purge in the trace");
        else
            require(trace.find("Fichier liffn.txt non trouvé"_w) != std::string::npos,
                    "false without saying liffn.txt is missing");
    }
    return 0;
}
