#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>

#include "host/host_schema.h"
#include "host/server_session.h"
#include "import/cls_ondival.h"
#include "import/report_json.h"
#include "platform/cp1252.h"
#include "platform/database.h"
#include "platform/error.h"

namespace ondival::test {
namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The PostgreSQL runs need a server; without one they are skipped, unless
// the run says it must have one (CI does), so that a missing server can
// never pass for a green run.
class EngineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!on_server() || !env("ONDIVAL_TEST_PG_URI").empty()) return;
        if (!env("ONDIVAL_REQUIRE_POSTGRES").empty()) {
            // A failure here would only skip the tests; the run must fail.
            std::fprintf(stderr, "ONDIVAL_TEST_ENGINE=postgresql but ONDIVAL_TEST_PG_URI names no server\n");
            std::exit(1);
        }
        // CTest lists the test as skipped on this line (tests/CMakeLists.txt).
        GTEST_SKIP() << "no PostgreSQL server named: set ONDIVAL_TEST_PG_URI (tools/pg_server.sh starts one)";
    }
};
[[maybe_unused]] ::testing::Environment* const kEngineEnvironment =
    ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

// A session on the test server that throws when the server refuses.
struct PgConnection {
    explicit PgConnection(const std::string& uri) : session(uri) {
        if (!session.ok())
            throw std::runtime_error("cannot reach " + platform::printable_database(uri) + ": " + session.error());
    }
    host::ServerResult exec(const std::string& statement) {
        host::ServerResult r = session.query(statement);
        if (!r) throw std::runtime_error(session.error() + ": " + statement);
        return r;
    }
    host::ServerSession session;
};

// The databases this process made on the server, dropped at its end.
struct ServerDatabases {
    ~ServerDatabases() {
        if (names.empty()) return;
        try {
            host::ServerSession admin(env("ONDIVAL_TEST_PG_URI"));
            for (const std::string& n : names)
                if (env("ONDIVAL_KEEP_TEST_FILES").empty())
                    admin.exec("DROP DATABASE IF EXISTS " + n + " WITH (FORCE)");
        } catch (...) {
        }
    }
    std::vector<std::string> names;
};

ServerDatabases& server_databases() {
    static ServerDatabases all;
    return all;
}

}  // namespace

bool on_server() { return env("ONDIVAL_TEST_ENGINE") == "postgresql"; }

std::string make_server_database() {
    static std::mt19937_64 rng{std::random_device{}()};
    char name[32];
    std::snprintf(name, sizeof name, "ondival_t%016llx", static_cast<unsigned long long>(rng()));
    PgConnection admin(env("ONDIVAL_TEST_PG_URI"));
    admin.exec(std::string("CREATE DATABASE ") + name);
    server_databases().names.push_back(name);
    return host::sibling_database(env("ONDIVAL_TEST_PG_URI"), name);
}

std::string copy_host_database(const std::string& db, const ScratchDir& dir, const std::string& name) {
    if (!platform::is_postgres_uri(db)) {
        const std::string copy = dir.file(name);
        std::filesystem::copy_file(db, copy, std::filesystem::copy_options::overwrite_existing);
        return copy;
    }
    static std::mt19937_64 rng{std::random_device{}()};
    char copy[32];
    std::snprintf(copy, sizeof copy, "ondival_t%016llx", static_cast<unsigned long long>(rng()));
    const std::size_t query = std::min(db.find('?'), db.size());
    const std::size_t slash = db.rfind('/', query);
    const std::string from = db.substr(slash + 1, query - slash - 1);
    PgConnection admin(env("ONDIVAL_TEST_PG_URI"));
    admin.exec(std::string("CREATE DATABASE ") + copy + " TEMPLATE " + from);
    server_databases().names.push_back(copy);
    return host::sibling_database(env("ONDIVAL_TEST_PG_URI"), copy);
}

ScratchDir::ScratchDir() {
    static std::mt19937_64 rng{std::random_device{}()};
    path_ = std::filesystem::temp_directory_path() / ("ondival-test-" + std::to_string(rng()));
    std::filesystem::create_directories(path_);
}

std::filesystem::path ScratchDir::subdir(const std::string& name) const {
    std::filesystem::path p = path_ / name;
    std::filesystem::create_directories(p);
    return p;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    if (!std::getenv("ONDIVAL_KEEP_TEST_FILES")) std::filesystem::remove_all(path_, ec);
}

void write_bytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

void write_lines(const std::filesystem::path& file, const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& l : lines) bytes += l + "\r\n";
    write_bytes(file, bytes);
}

std::string read_bytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> trace_lines(const std::filesystem::path& file) {
    const std::string text = platform::cp1252_to_utf8(read_bytes(file));
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            if (start < text.size()) lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string pad(const std::string& text, std::size_t width) {
    std::string s = text.substr(0, width);
    s.resize(width, ' ');
    return s;
}

std::string club_line(const std::string& code, const std::string& label) { return pad(code, 13) + pad(label, 30); }

std::string LicenceLine::str() const {
    std::string s = pad(club, 13) + pad(licence, 6) + pad(nom, 25) + pad(prenom, 20) + pad(sexe, 1) +
                    pad(naissance, 8) + pad(nationalite, 3) + pad(adresse, 30) + pad(suite, 30) + pad(code_postal, 7) +
                    pad(localite, 26) + pad(telephone, 14) + pad(flags, 6) + pad(depot, 8) + pad(obliteration, 8) +
                    pad(type, 1) + pad(nature, 1) + pad(origine, 19) + pad(code_unique, 22);
    return s;
}

std::string PerfLine::str() const {
    std::string s = pad(nage, 2) + pad(club, 13) + pad(licence, 6) + pad(bassin, 2) + pad(date, 8) + pad(temps, 7) +
                    pad(nom, 25) + pad(prenom, 15) + pad(lieu, 20) + pad(libre, 30) + pad(date_licence, 8) +
                    pad(type, 1);
    for (std::size_t i = 0; i < 10; ++i) s += pad(i < relayeurs.size() ? relayeurs[i] : "", 6);
    s += pad(codifs, 4) + pad(passage, 1);
    return s;
}

int error_number(const std::function<void()>& f) { return error_of(f).number; }

platform::Error error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const platform::Failure& e) {
        return e.error();
    }
    return {};
}

std::string make_host_database(const ScratchDir& dir, const std::string& name) {
    const std::string path = on_server() ? make_server_database() : dir.file(name);
    const std::string error = host::create_host_database(path);
    if (!error.empty()) throw std::runtime_error(error);
    return path;
}

std::vector<std::string> sql(const std::string& db, const std::string& statement) {
    if (platform::is_postgres_uri(db)) {
        PgConnection server(db);
        const host::ServerResult result = server.exec(statement);
        PGresult* r = result.get();
        std::vector<std::string> rows;
        for (int i = 0; i < PQntuples(r); ++i) {
            std::string v = PQgetisnull(r, i, 0) ? "<null>" : PQgetvalue(r, i, 0);
            if (PQnfields(r) > 0 && PQftype(r, 0) == 16) v = v == "t" ? "1" : "0";  // boolean
            rows.push_back(std::move(v));
        }
        return rows;
    }
    sqlite3* h = nullptr;
    if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(h);
        throw std::runtime_error("cannot open " + db);
    }
    sqlite3_busy_timeout(h, 5000);
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(h, statement.c_str(), -1, &s, nullptr) != SQLITE_OK) {
        const std::string e = sqlite3_errmsg(h);
        sqlite3_close(h);
        throw std::runtime_error(e + ": " + statement);
    }
    std::vector<std::string> rows;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        const unsigned char* t = sqlite3_column_text(s, 0);
        rows.push_back(t ? reinterpret_cast<const char*>(t) : "<null>");
    }
    sqlite3_finalize(s);
    sqlite3_close(h);
    if (rc != SQLITE_DONE) throw std::runtime_error("step failed: " + statement);
    return rows;
}

struct OtherSession::Handle {
    std::unique_ptr<PgConnection> server;
    sqlite3* file = nullptr;
};

OtherSession::OtherSession(const std::string& db) : handle_(std::make_unique<Handle>()) {
    if (platform::is_postgres_uri(db)) {
        handle_->server = std::make_unique<PgConnection>(db);
    } else if (sqlite3_open_v2(db.c_str(), &handle_->file, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(handle_->file);
        throw std::runtime_error("cannot open " + db);
    }
}

OtherSession::~OtherSession() { sqlite3_close(handle_->file); }

void OtherSession::exec(const std::string& statements) {
    if (handle_->server) {
        handle_->server->exec(statements);
        return;
    }
    if (sqlite3_exec(handle_->file, statements.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(handle_->file) + std::string(": ") + statements);
}

std::vector<std::string> OtherSession::rows(const std::string& query) {
    std::vector<std::string> out;
    if (handle_->server) {
        const host::ServerResult result = handle_->server->exec(query);
        for (int i = 0; i < PQntuples(result.get()); ++i)
            out.push_back(PQgetisnull(result.get(), i, 0) ? "<null>" : PQgetvalue(result.get(), i, 0));
        return out;
    }
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(handle_->file, query.c_str(), -1, &s, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(handle_->file) + std::string(": ") + query);
    while (sqlite3_step(s) == SQLITE_ROW) {
        const unsigned char* t = sqlite3_column_text(s, 0);
        out.push_back(t ? reinterpret_cast<const char*>(t) : "<null>");
    }
    sqlite3_finalize(s);
    return out;
}

std::string sql1(const std::string& db, const std::string& statement) {
    const auto rows = sql(db, statement);
    return rows.empty() ? std::string() : rows.front();
}

FixedClock::FixedClock(platform::LocalTime t) { platform::SetFixedClock(t); }
FixedClock::~FixedClock() { platform::SetFixedClock(std::nullopt); }

ImportFixture::ImportFixture() {
    std::filesystem::create_directories(source());
    std::filesystem::create_directories(scratch());
    db = make_host_database(dir);
}

bool ImportFixture::run(platform::ProgressForm* form) {
    return clsOndival().bimport_perf(db, source().string(), scratch().string(), trace_path(), form);
}

std::string ImportFixture::count(const std::string& from_where) const {
    return sql1(db, "select count(*) from " + from_where);
}

bool ImportFixture::trace_has(const std::string& utf8_line) const {
    const auto lines = trace();
    return std::find(lines.begin(), lines.end(), utf8_line) != lines.end();
}

std::vector<std::string> ImportFixture::after(const std::string& head, std::size_t n) const {
    const auto lines = trace();
    auto at = std::find(lines.begin(), lines.end(), head);
    if (at != lines.end()) ++at;
    return {at, at + std::min<std::ptrdiff_t>(n, lines.end() - at)};
}

std::string quoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

ProgramRun run_in(const std::filesystem::path& cwd, const std::string& program, const std::vector<std::string>& args) {
    static int serial = 0;
    static const ScratchDir captures;
    const std::string out = captures.file("out" + std::to_string(serial));
    const std::string err = captures.file("err" + std::to_string(serial++));
    std::string command = "cd " + quoted(cwd.string()) + " && " + program;
    for (const std::string& a : args) command += " " + quoted(a);
    command += " </dev/null >" + quoted(out) + " 2>" + quoted(err);
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_bytes(out), read_bytes(err)};
}

ProgramRun ondival(const std::filesystem::path& cwd, const std::vector<std::string>& args,
                   const std::filesystem::path& tmpdir) {
    return run_in(cwd, (tmpdir.empty() ? "" : "TMPDIR=" + quoted(tmpdir.string()) + " ") + quoted(ONDIVAL_CLI), args);
}

void expect_refused(const ProgramRun& run, const std::string& starts, const std::string& holds) {
    EXPECT_EQ(run.exit_code, 2) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(run.err.rfind(starts, 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_NE(run.err.find(holds), std::string::npos) << run.err;
}

const std::vector<std::string> CliSetup::kSmallExport = {"--clubs",        "5",   "--licences", "60",
                                                         "--performances", "150", "--relays",   "8"};

CliSetup::CliSetup(const std::vector<std::string>& generate_options) {
    std::filesystem::create_directory(scratch);
    EXPECT_EQ(ondival(dir.path(), {"init", db}).exit_code, 0);
    std::vector<std::string> generate = {"generate", source};
    generate.insert(generate.end(), generate_options.begin(), generate_options.end());
    EXPECT_EQ(ondival(dir.path(), generate).exit_code, 0);
}

std::vector<std::string> CliSetup::import_args(const std::vector<std::string>& extra) const {
    std::vector<std::string> args = {"import", db, source, scratch, trace};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::map<std::string, std::string> snapshot(const std::filesystem::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), dir).string()] = read_bytes(entry.path());
    return files;
}

int start_detached(const std::vector<std::string>& args, const std::string& out, const std::string& err,
                   const std::string& tmpdir) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const auto output = [](const std::string& file) {
            return file.empty() ? open("/dev/null", O_WRONLY) : open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        };
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(output(out), 1);
        dup2(output(err), 2);
        if (!tmpdir.empty()) setenv("TMPDIR", tmpdir.c_str(), 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int wait_status(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return status;
}

CallOutcome call_component(Call call, const std::string& db, const std::string& source, const std::string& scratch,
                           const std::string& trace) {
    CallOutcome out;
    clsOndival component;
    component.collect_report(true);
    try {
        out.result = call == Call::kCheck ? component.bcontrole_perf(db, source, scratch, trace, nullptr)
                                          : component.bimport_perf(db, source, scratch, trace, nullptr);
    } catch (const platform::Failure& f) {
        out.error = f.error().number;
        out.message = f.error().description;
    }
    out.trace = read_bytes(trace);
    out.report = report_to_json(component.rapport());
    return out;
}

}  // namespace ondival::test
