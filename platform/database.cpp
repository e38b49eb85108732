#include "platform/database.h"

#include "platform/cp1252.h"
#include "platform/database_engine.h"
#include "platform/error.h"

namespace ondival::platform {
namespace {

thread_local long t_fail_at = 0;
thread_local long t_statements = 0;
thread_local long t_round_trips = 0;
thread_local long t_speculations = 0, t_abandoned = 0;
thread_local bool t_speculation_allowed = true;

// Counts a statement and fails it when the test switch says so. The error
// is the one a failing disk gives on a file database (SQLite's I/O error).
void count_statement() {
    ++t_statements;
    if (t_fail_at > 0 && t_statements == t_fail_at) raise(10, "disk I/O error (injected)", ErrorOrigin::sqlite());
}

std::string data_source(const std::string& cs) {
    static const std::string kSource = "Data Source=";
    static const std::string kKey = ";Jet OLEDB:Database Password=";
    const auto start = cs.find(kSource);
    if (start == std::string::npos) return cs;  // a bare path
    const auto from = start + kSource.size();
    // The key part is looked for from the right, so a ';' inside the path
    // (or a server password) does not cut it short.
    auto end = cs.rfind(kKey);
    if (end == std::string::npos || end < from) end = cs.find(';', from);
    return cs.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// Engines read a statement's text up to its first NUL: whatever follows
// would be dropped without a word, and what is left may be another
// statement. A declared shape holds none (it is refused when built); a
// value's NUL is bound as data.
const Sql& checked(const Sql& statement) {
    if (!statement.shape().declared() && statement.shape().text().find('\0') != std::string::npos)
        raise(1, "Instruction SQL mal formée"_w, ErrorOrigin::sqlite());
    return statement;
}

}  // namespace

void inject_statement_failure(long k) {
    t_fail_at = k;
    t_statements = 0;
}

long statements_run() { return t_statements; }

void restore_statements_run(long count) { t_statements = count; }

long round_trips() { return t_round_trips; }

void count_round_trip() { ++t_round_trips; }

long speculations_begun() { return t_speculations; }

long speculations_abandoned() { return t_abandoned; }

void count_abandoned_speculation() { ++t_abandoned; }

void allow_speculation(bool allowed) { t_speculation_allowed = allowed; }

bool is_postgres_uri(const std::string& database) {
    return database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0;
}

std::string printable_database(const std::string& database) {
    if (!is_postgres_uri(database)) return database;
    std::string shown = database;
    const std::size_t from = shown.find("://") + 3;
    const std::size_t at = shown.find('@', from);
    const std::size_t colon = shown.find(':', from);
    if (at != std::string::npos && colon < at) shown.replace(colon + 1, at - colon - 1, "***");
    const std::size_t key = shown.find("password=");
    if (key != std::string::npos) {
        const std::size_t end = shown.find('&', key);
        shown.replace(key + 9, end == std::string::npos ? std::string::npos : end - key - 9, "***");
    }
    return shown;
}

Connection::Connection() = default;

Connection::~Connection() { Close(); }

Engine& Connection::engine() {
    if (!engine_) raise(err::kInvalidCall, "La connexion à la base n'est pas ouverte"_w);
    return *engine_;
}

void Connection::Open(const std::string& connection_string) {
    if (engine_) raise(err::kInvalidCall, "La connexion est déjà ouverte"_w);
    const std::string source = data_source(connection_string);
    std::shared_ptr<Engine> engine = is_postgres_uri(source) ? open_postgres(source) : open_sqlite(source);
    if (dry_run_) {
        count_statement();
        engine->hold();  // on failure the engine closes as it goes out of scope
    }
    engine_ = std::move(engine);
}

void Connection::Close() {
    line_by_line_ = false;
    if (!engine_) return;
    engine_->close();
    engine_.reset();
}

std::unique_ptr<Cursor> Connection::query(const Sql& statement) {
    Engine& e = engine();
    count_statement();
    return e.query(checked(statement));
}

void Connection::Execute(const Sql& statement) {
    Engine& e = engine();
    count_statement();
    e.execute(checked(statement));
}

void Connection::BeginTrans() {
    Engine& e = engine();
    const bool speculate = speculate_next_ && t_speculation_allowed && !line_by_line_;
    speculate_next_ = false;
    count_statement();
    e.begin();
    if (speculate && e.speculate()) ++t_speculations;
}

std::vector<std::string> Connection::KeepLineByLineFor(const std::vector<std::string>& tables) {
    std::vector<std::string> objects = engine().host_objects_on(tables);
    if (!objects.empty()) line_by_line_ = true;
    return objects;
}

bool Connection::MaySpeculate() const {
    return engine_ && t_speculation_allowed && !line_by_line_ && engine_->can_speculate();
}

bool Connection::Speculating() const { return engine_ && engine_->speculating(); }

bool Connection::SpeculationFailed() const { return engine_ && engine_->speculation_failed(); }

void Connection::AbandonSpeculation() {
    if (engine_) engine_->abandon();
}

void Connection::SettleSpeculation() {
    if (engine_) engine_->settle();
}

void Connection::Prefetch(const std::vector<Sql>& reads) {
    if (!engine_ || !engine_->speculating()) return;
    engine_->prefetch(reads);
}

void Connection::CommitTrans() {
    Engine& e = engine();
    count_statement();
    e.commit();
}

void Connection::RollbackTrans() {
    if (engine_) engine_->rollback();
}

bool Connection::InTransaction() const { return engine_ && engine_->in_transaction(); }

Recordset::Recordset() = default;
Recordset::~Recordset() { Close(); }

void Recordset::Open(const Sql& statement, Connection& connection) {
    Close();
    cursor_ = connection.query(statement);
    fields_ = cursor_->field_count();
    eof_ = cursor_->eof();
}

void Recordset::MoveNext() {
    if (!cursor_ || eof_) return;
    try {
        cursor_->next();
    } catch (...) {
        Close();
        throw;
    }
    eof_ = cursor_->eof();
}

std::optional<std::string> Recordset::Field(int index) const {
    if (!cursor_ || eof_ || index < 0 || index >= fields_) raise(err::kSubscript, "Indice en dehors de la plage"_w);
    return cursor_->field(index);
}

void Recordset::Close() {
    cursor_.reset();
    fields_ = 0;
    eof_ = true;
}

}  // namespace ondival::platform
