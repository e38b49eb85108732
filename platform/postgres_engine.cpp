// A PostgreSQL server: the host database of a committee or a federation,
// shared by several workstations and the results site.
//
// The import was written for a file database, and two habits of a file
// database are kept here so that it behaves the same on a server:
// - a failed statement inside a transaction leaves the transaction usable
//   (the import reports the failure and goes on, or purges what it staged).
//   PostgreSQL aborts the whole transaction instead, so every statement run
//   inside one is wrapped in a savepoint, sent in the same round trip;
// - one import writes at a time: a transaction takes an advisory lock first,
//   and a second import waits for it no longer than a file database would
//   wait for its lock.
// Error numbers are those a file database gives for the same kind of fault,
// so the host and the trace read the same numbers whatever the engine.
#include <libpq-fe.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "platform/cp1252.h"
#include "platform/database.h"
#include "platform/database_engine.h"
#include "platform/error.h"

namespace ondival::platform {
namespace {

// The numbers a file database gives for the same faults.
namespace code {
constexpr int kError = 1;
constexpr int kBusy = 5;
constexpr int kNoMem = 7;
constexpr int kReadOnly = 8;
constexpr int kInterrupt = 9;
constexpr int kIoErr = 10;  // the server went away during the import
constexpr int kFull = 13;
constexpr int kCantOpen = 14;  // no server there, or no such database
constexpr int kConstraint = 19;
constexpr int kMismatch = 20;
constexpr int kAuth = 23;  // wrong user or password, or no right on a table
}  // namespace code

// PostgreSQL type numbers of the columns whose text differs from a file
// database's.
constexpr Oid kBoolOid = 16;
constexpr Oid kInt8Oid = 20;
constexpr Oid kFloat4Oid = 700;
constexpr Oid kFloat8Oid = 701;
constexpr Oid kNumericOid = 1700;

// Every import of every workstation takes this lock for its transactions.
constexpr const char* kBegin = "BEGIN; SELECT pg_advisory_xact_lock(4207150977)";

int number_for(const char* sqlstate) {
    if (!sqlstate || std::strlen(sqlstate) != 5) return code::kError;
    const std::string s(sqlstate);
    const std::string cls = s.substr(0, 2);
    if (cls == "08" || s == "57P01" || s == "57P02" || s == "57P03") return code::kIoErr;
    if (cls == "28" || s == "42501") return code::kAuth;
    if (s == "3D000") return code::kCantOpen;
    if (s == "55P03" || cls == "40") return code::kBusy;
    if (s == "57014") return code::kInterrupt;
    if (s == "23505") return 2067;  // unique
    if (s == "23502") return 1299;  // not null
    if (s == "23503") return 787;   // foreign key
    if (s == "23514") return 275;   // check
    if (cls == "23") return code::kConstraint;
    if (s == "53100") return code::kFull;
    if (s == "53200") return code::kNoMem;
    if (s == "25006") return code::kReadOnly;
    if (cls == "22") return code::kMismatch;
    return code::kError;
}

// libpq's messages span several lines ("...failed: Connection refused\n\tIs
// the server running..."); a trace entry is one line.
std::string one_line(const char* message) {
    std::string out;
    bool blank = false;
    for (const char* p = message ? message : ""; *p; ++p) {
        const bool space = *p == '\n' || *p == '\r' || *p == '\t' || *p == ' ';
        if (space) {
            blank = !out.empty();
            continue;
        }
        if (blank) out.push_back(' ');
        blank = false;
        out.push_back(*p);
    }
    return out.empty() ? "database server error" : out;
}

struct ResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

bool succeeded(const PGresult* r) {
    const ExecStatusType s = PQresultStatus(r);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
}

// The shape with its '?' markers numbered as PostgreSQL wants them ($1,
// $2, ...). Quoted identifiers and comments are copied as they stand; a ';'
// may only end the text.
std::string numbered_shape(const std::string& shape, std::size_t& markers) {
    std::string out;
    out.reserve(shape.size() + 16);
    markers = 0;
    const std::size_t n = shape.size();
    for (std::size_t i = 0; i < n;) {
        const char c = shape[i];
        if (c == '"' || c == '\'') {
            std::size_t j = shape.find(c, i + 1);
            j = j == std::string::npos ? n : j + 1;
            out.append(shape, i, j - i);
            i = j;
        } else if (c == '-' && i + 1 < n && shape[i + 1] == '-') {
            std::size_t j = shape.find('\n', i);
            j = j == std::string::npos ? n : j;
            out.append(shape, i, j - i);
            i = j;
        } else if (c == '/' && i + 1 < n && shape[i + 1] == '*') {
            std::size_t j = shape.find("*/", i + 2);
            j = j == std::string::npos ? n : j + 2;
            out.append(shape, i, j - i);
            i = j;
        } else if (c == '?') {
            out += '$' + std::to_string(++markers);
            ++i;
        } else if (c == ';') {
            for (std::size_t k = i + 1; k < n; ++k)
                if (shape[k] != ' ' && shape[k] != '\t' && shape[k] != '\r' && shape[k] != '\n' && shape[k] != ';')
                    raise(code::kError, "Une seule instruction SQL est admise par appel"_w);
            break;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

// A literal as PostgreSQL reads it inline: texts take the type their place
// asks for, whole numbers are bigint, other numbers numeric.
struct Bound {
    Oid type;
    std::string value;  // UTF-8
};

Bound bound(const SqlLiteral& lit) {
    if (lit.kind == SqlLiteral::Kind::Text) {
        std::string v = cp1252_to_utf8(lit.text);
        // A server text cannot hold a NUL byte, and libpq would cut the
        // value there without a word.
        if (v.find('\0') != std::string::npos)
            raise(code::kMismatch, "invalid byte sequence for encoding \"UTF8\": 0x00");
        return {0, std::move(v)};
    }
    if (lit.kind == SqlLiteral::Kind::Integer) {
        errno = 0;
        char* end = nullptr;
        std::strtoll(lit.text.c_str(), &end, 10);
        if (errno == 0 && end && *end == 0) return {kInt8Oid, lit.text};
    }
    return {kNumericOid, lit.text};
}

class PgCursor : public Cursor {
public:
    explicit PgCursor(Result r) : result_(std::move(r)), rows_(PQntuples(result_.get())) {}

    int field_count() const override { return PQnfields(result_.get()); }
    bool eof() const override { return row_ >= rows_; }
    void next() override {
        if (row_ < rows_) ++row_;
    }

    std::optional<std::string> field(int index) const override {
        PGresult* r = result_.get();
        if (PQgetisnull(r, row_, index)) return std::nullopt;
        const char* v = PQgetvalue(r, row_, index);
        switch (PQftype(r, index)) {
            case kBoolOid:
                // A file database keeps booleans as 1 and 0.
                return std::string(v[0] == 't' ? "1" : "0");
            case kFloat4Oid:
            case kFloat8Oid:
            case kNumericOid: {
                // Reals read as a file database writes them ("12.5", not
                // "12.50"); whole numbers keep their digits.
                if (!std::strpbrk(v, ".eE")) return std::string(v);
                char buf[32];
                std::snprintf(buf, sizeof buf, "%.15g", std::strtod(v, nullptr));
                return std::string(buf);
            }
            default:
                return utf8_to_cp1252(std::string_view(v, static_cast<std::size_t>(PQgetlength(r, row_, index))));
        }
    }

private:
    Result result_;
    int rows_;
    int row_ = 0;
};

class PgEngine : public Engine {
public:
    explicit PgEngine(PGconn* conn) : conn_(conn) {}
    ~PgEngine() override { close(); }

    void execute(const Statement& st) override { run(st); }
    std::unique_ptr<Cursor> query(const Statement& st) override { return std::make_unique<PgCursor>(run(st)); }

    void begin() override {
        if (held_) return begin_nested();
        Result r = plain(kBegin);
        if (!succeeded(r.get())) {
            const Failure f = failure(r.get());
            rollback();
            throw f;
        }
    }

    void commit() override {
        if (held_) return commit_nested();
        // A transaction that has failed answers COMMIT with a rollback; the
        // import must hear that its work is gone.
        const bool failed = PQtransactionStatus(live()) == PQTRANS_INERROR;
        Result r = plain("COMMIT");
        if (!succeeded(r.get())) throw failure(r.get());
        if (failed || std::strcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0)
            raise(code::kError, "La transaction a été annulée par le serveur"_w);
    }

    void rollback() noexcept override {
        const bool was_nested = nested_;
        nested_ = false;
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) return;
        const PGTransactionStatusType s = PQtransactionStatus(conn_);
        if (s != PQTRANS_INTRANS && s != PQTRANS_INERROR) return;
        if (!held_) {
            PQclear(PQexec(conn_, "ROLLBACK"));
        } else if (was_nested) {
            PQclear(PQexec(conn_, "ROLLBACK TO SAVEPOINT ondival_file; RELEASE SAVEPOINT ondival_file"));
        }
    }

    bool in_transaction() const override {
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) return false;
        const PGTransactionStatusType s = PQtransactionStatus(conn_);
        const bool open = s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
        return open && (!held_ || nested_);
    }

    // The outer transaction takes no lock of its own: the advisory lock is
    // taken by the first savepoint, where a real import's first transaction
    // takes it, so a check waits for another import's writing where an
    // import would and hears the same "lock timeout". Once taken, the lock
    // stays with the outer transaction until the rollback.
    void hold() override {
        Result r = plain("BEGIN");
        if (!succeeded(r.get())) throw failure(r.get());
        held_ = true;
    }

    void close() noexcept override {
        if (!conn_) return;
        if (PQstatus(conn_) == CONNECTION_OK) {
            const PGTransactionStatusType s = PQtransactionStatus(conn_);
            if (s == PQTRANS_INTRANS || s == PQTRANS_INERROR) PQclear(PQexec(conn_, "ROLLBACK"));
        }
        PQfinish(conn_);
        conn_ = nullptr;
        prepared_.clear();
    }

private:
    struct Prepared {
        std::string name;
        int params = 0;
    };

    PGconn* live() {
        if (!conn_) raise(err::kInvalidCall, "La connexion à la base n'est pas ouverte"_w);
        if (broken_) raise(code::kIoErr, "La communication avec le serveur a été interrompue"_w);
        // A dry run whose outer transaction is gone must not run one
        // statement more: outside a transaction it would be kept.
        if (held_ && PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_IDLE)
            raise(code::kError, "La transaction de contrôle a été annulée : aucune instruction de plus"_w);
        return conn_;
    }

    void begin_nested() {
        if (nested_) raise(err::kInvalidCall, "Une transaction est déjà ouverte"_w);
        Result r = plain("SAVEPOINT ondival_file; SELECT pg_advisory_xact_lock(4207150977)");
        if (!succeeded(r.get())) {
            const Failure f = failure(r.get());
            if (PQstatus(conn_) == CONNECTION_OK)
                PQclear(PQexec(conn_, "ROLLBACK TO SAVEPOINT ondival_file; RELEASE SAVEPOINT ondival_file"));
            throw f;
        }
        nested_ = true;
    }

    void commit_nested() {
        if (!nested_) raise(err::kInvalidCall, "Aucune transaction n'est ouverte"_w);
        if (PQtransactionStatus(live()) == PQTRANS_INERROR) {
            rollback();
            raise(code::kError, "La transaction a été annulée par le serveur"_w);
        }
        nested_ = false;
        Result r = plain("RELEASE SAVEPOINT ondival_file");
        if (!succeeded(r.get())) throw failure(r.get());
    }

    // The error of a failed result, or of the connection when there is no
    // result (the server went away).
    Failure failure(const PGresult* r) const {
        if (conn_ && PQstatus(conn_) == CONNECTION_BAD)
            return Failure(code::kIoErr, utf8_to_cp1252(one_line(PQerrorMessage(conn_))));
        if (!r) return Failure(code::kIoErr, utf8_to_cp1252(one_line(PQerrorMessage(conn_))));
        const char* primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
        const char* text = primary ? primary : PQresultErrorMessage(r);
        return Failure(number_for(PQresultErrorField(r, PG_DIAG_SQLSTATE)), utf8_to_cp1252(one_line(text)));
    }

    Result plain(const char* sql) {
        PGconn* c = live();
        Result last;
        // A simple query may answer with several results (BEGIN; SELECT):
        // the last failure, or the last result, tells how it went.
        if (!PQsendQuery(c, sql)) throw failure(nullptr);
        while (PGresult* r = PQgetResult(c)) {
            if (last && !succeeded(last.get()) && succeeded(r)) {
                PQclear(r);
                continue;
            }
            last.reset(r);
        }
        if (!last) throw failure(nullptr);
        return last;
    }

    // Runs the import's statement in one round trip: its preparation the
    // first time its shape is met, and inside a transaction a savepoint
    // before it and the savepoint's release after it. When it fails there,
    // the transaction goes back to the savepoint and carries on, as a file
    // database's would after a failed statement.
    Result run(const Statement& st) {
        PGconn* c = live();
        if (PQstatus(c) != CONNECTION_OK) throw failure(nullptr);
        const Plan plan = plan_for(st, PQtransactionStatus(c) == PQTRANS_INTRANS);
        const bool sent = send(c, plan);
        std::vector<Result> results = collect(c, plan, sent);
        return outcome(c, plan, results);
    }

    enum Step { kSavepoint, kPrepare, kRun, kRelease };

    // How one statement goes to the server: its values, the prepared
    // statement it runs as (known already, or prepared now), and the steps
    // sent together.
    struct Plan {
        std::vector<Bound> values;
        std::string key;  // the prepared statements' key: shape and value types
        const Prepared* cached = nullptr;
        Prepared fresh;    // prepared in this round trip
        std::string text;  // UTF-8, $n markers; when not cached
        std::vector<Oid> types;
        std::vector<Step> steps;
        bool guarded = false;  // inside a transaction: between a savepoint and its release
        bool prepared() const { return cached || !fresh.name.empty(); }
    };

    Plan plan_for(const Statement& st, bool guarded) {
        Plan p;
        p.guarded = guarded;
        p.values.reserve(st.literals.size());
        for (const SqlLiteral& lit : st.literals) p.values.push_back(bound(lit));
        if (st.split) {
            p.key = st.shape;
            p.key.push_back('\0');
            for (const Bound& b : p.values) p.key.push_back(b.type == 0 ? 'T' : b.type == kInt8Oid ? 'I' : 'R');
            if (auto it = prepared_.find(p.key); it != prepared_.end()) p.cached = &it->second;
        }
        if (!p.cached) {
            std::size_t markers = 0;
            p.text = cp1252_to_utf8(numbered_shape(st.shape, markers));
            if (markers != p.values.size()) raise(code::kError, "Instruction SQL mal formée"_w);
            if (p.text.find_first_not_of(" \t\r\n") == std::string::npos) raise(code::kError, "Instruction SQL vide"_w);
            for (const Bound& b : p.values) p.types.push_back(b.type);
            if (st.split)
                p.fresh = {"ondival_" + std::to_string(prepared_.size() + 1), static_cast<int>(p.values.size())};
        }
        if (guarded) p.steps.push_back(kSavepoint);
        if (!p.cached && st.split) p.steps.push_back(kPrepare);
        p.steps.push_back(kRun);
        if (guarded) p.steps.push_back(kRelease);
        return p;
    }

    // Queues the plan's steps and a sync in pipeline mode; false when libpq
    // could not queue them (the connection is gone).
    bool send(PGconn* c, const Plan& p) {
        std::vector<const char*> pointers;
        for (const Bound& b : p.values) pointers.push_back(b.value.c_str());
        const auto simple = [c](const char* sql) {
            return PQsendQueryParams(c, sql, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
        };
        if (!PQenterPipelineMode(c)) throw failure(nullptr);
        bool sent = true;
        for (Step step : p.steps) {
            if (!sent) break;
            switch (step) {
                case kSavepoint:
                    sent = simple("SAVEPOINT ondival_statement");
                    break;
                case kPrepare:
                    sent = PQsendPrepare(c, p.fresh.name.c_str(), p.text.c_str(), p.fresh.params, p.types.data());
                    break;
                case kRun:
                    if (p.prepared()) {
                        const Prepared& pr = p.cached ? *p.cached : p.fresh;
                        sent = PQsendQueryPrepared(c, pr.name.c_str(), pr.params, pointers.data(), nullptr, nullptr, 0);
                    } else {
                        sent = simple(p.text.c_str());
                    }
                    break;
                case kRelease:
                    sent = simple("RELEASE SAVEPOINT ondival_statement");
                    break;
            }
        }
        return sent && PQpipelineSync(c);
    }

    // The answer of each step, up to the sync. A session whose answers went
    // out of step with its questions is marked broken: nothing it reads
    // from then on could be trusted to belong to its question.
    std::vector<Result> collect(PGconn* c, const Plan& p, bool sent) {
        std::vector<Result> results(p.steps.size());
        bool synced = false;
        for (std::size_t i = 0; sent && i < p.steps.size() && !synced && PQstatus(c) == CONNECTION_OK; ++i) {
            while (PGresult* r = PQgetResult(c)) {
                if (PQresultStatus(r) == PGRES_PIPELINE_SYNC) {
                    synced = true;
                    PQclear(r);
                    break;
                }
                // The first failure of a step is the one worth reporting.
                if (!results[i] || succeeded(results[i].get()))
                    results[i].reset(r);
                else
                    PQclear(r);
            }
        }
        while (sent && !synced && PQstatus(c) == CONNECTION_OK) {
            PGresult* r = PQgetResult(c);
            if (!r) break;
            synced = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
            PQclear(r);
        }
        if (PQstatus(c) != CONNECTION_OK) throw failure(nullptr);
        if (!synced) {
            broken_ = true;
            raise(code::kIoErr, "La communication avec le serveur a été interrompue"_w);
        }
        PQexitPipelineMode(c);
        return results;
    }

    // The statement's rows when every step went well; otherwise its error,
    // after the transaction went back to the savepoint taken before it.
    Result outcome(PGconn* c, const Plan& p, std::vector<Result>& results) {
        const auto ok = [&](std::size_t i) { return results[i] && succeeded(results[i].get()); };
        const PGresult* failed = nullptr;
        bool any_failed = false;
        Result* ran = nullptr;
        for (std::size_t i = 0; i < p.steps.size(); ++i) {
            if (p.steps[i] == kRun) ran = &results[i];
            if (p.steps[i] == kPrepare && ok(i)) prepared_.emplace(p.key, p.fresh);
            if (!any_failed && !ok(i)) {
                any_failed = true;
                if (results[i] && PQresultStatus(results[i].get()) == PGRES_FATAL_ERROR) failed = results[i].get();
            }
        }
        if (!any_failed) return std::move(*ran);
        const Failure f = failure(failed);
        if (p.guarded)
            PQclear(PQexec(c, "ROLLBACK TO SAVEPOINT ondival_statement; RELEASE SAVEPOINT ondival_statement"));
        throw f;
    }

    PGconn* conn_;
    bool broken_ = false;
    bool held_ = false;    // a dry run's outer transaction is open
    bool nested_ = false;  // the savepoint standing for the import's transaction
    std::unordered_map<std::string, Prepared> prepared_;
};

}  // namespace

std::shared_ptr<Engine> open_postgres(const std::string& uri) {
    // Bounded waits: a server that does not answer fails the connection
    // after 10 s, and one that vanishes mid-import (no reset from its host)
    // is given up after about 30 s instead of hanging the host. Settings in
    // the address itself come after these and win; the encoding comes last
    // because the database layer speaks UTF-8.
    const char* keys[] = {"connect_timeout",  "keepalives",
                          "keepalives_idle",  "keepalives_interval",
                          "keepalives_count", "tcp_user_timeout",
                          "application_name", "dbname",
                          "client_encoding",  nullptr};
    const char* values[] = {"10", "1", "10", "5", "3", "30000", "ondival", uri.c_str(), "UTF8", nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 1);
    if (!conn) raise(code::kNoMem, "out of memory");
    if (PQstatus(conn) != CONNECTION_OK) {
        const std::string message = one_line(PQerrorMessage(conn));
        PQfinish(conn);
        // libpq names the server it tried and never the password.
        const bool denied = message.find("password") != std::string::npos ||
                            message.find("authentication") != std::string::npos;
        const bool no_database = message.find("does not exist") != std::string::npos;
        raise(denied && !no_database ? code::kAuth : code::kCantOpen, utf8_to_cp1252(message));
    }
    // A lock held by another workstation is waited for as long as a file
    // database waits for its lock, then reported.
    const std::string settings = "SET lock_timeout = " + std::to_string(kBusyTimeoutMs);
    PGresult* r = PQexec(conn, settings.c_str());
    const bool ok = r && PQresultStatus(r) == PGRES_COMMAND_OK;
    const std::string message = ok ? "" : one_line(PQerrorMessage(conn));
    PQclear(r);
    if (!ok) {
        PQfinish(conn);
        raise(code::kCantOpen, utf8_to_cp1252(message));
    }
    return std::make_shared<PgEngine>(conn);
}

}  // namespace ondival::platform
