// Embedded SQLite: the host database as a club keeps it, one file on its
// own computer.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/cp1252.h"
#include "platform/database.h"
#include "platform/database_engine.h"
#include "platform/error.h"

namespace ondival::platform {
namespace {

bool only_blanks(const char* tail) {
    for (; tail && *tail; ++tail)
        if (*tail != ' ' && *tail != '\t' && *tail != '\r' && *tail != '\n') return false;
    return true;
}

[[noreturn]] void raise_from(sqlite3* db, int code) {
    const char* msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    raise(db ? sqlite3_extended_errcode(db) : code, utf8_to_cp1252(msg ? msg : "database error"),
          ErrorOrigin::sqlite(db ? sqlite3_system_errno(db) : 0));
}

// One prepared statement per declared shape, found by the shape's identity.
// The import runs a few dozen shapes hundreds of thousands of times;
// preparing each once keeps the engine's parser out of the per-line cost.
// An undeclared text, or a statement whose bare place was left blank, is
// prepared for its one run and finalized after it.
class StatementCache {
public:
    explicit StatementCache(sqlite3* db) : db_(db) {}
    ~StatementCache() {
        for (sqlite3_stmt* s : idle_)
            if (s) sqlite3_finalize(s);
        for (const Busy& b : busy_) sqlite3_finalize(b.stmt);
    }

    // A statement for `st`, reused when one of its shape is idle (`id`;
    // -1: not to be kept), prepared otherwise. `more` tells whether a
    // freshly prepared text held more than one statement.
    sqlite3_stmt* take(const Sql& st, int id, int& rc, bool& more) {
        rc = SQLITE_OK;
        more = false;
        sqlite3_stmt* s = nullptr;
        if (id >= 0 && static_cast<std::size_t>(id) < idle_.size() && idle_[static_cast<std::size_t>(id)]) {
            s = idle_[static_cast<std::size_t>(id)];
            idle_[static_cast<std::size_t>(id)] = nullptr;
        } else {
            const unsigned flags = id >= 0 ? SQLITE_PREPARE_PERSISTENT : 0;
            const std::string text = cp1252_to_utf8(st.prepared_text());
            const char* tail = nullptr;
            rc = sqlite3_prepare_v3(db_, text.c_str(), static_cast<int>(text.size()), flags, &s, &tail);
            if (rc != SQLITE_OK || !s) return s;
            more = !only_blanks(tail);
        }
        busy_.push_back(Busy{s, id});
        return s;
    }

    // Statements whose text held more than one statement are never kept.
    void discard(sqlite3_stmt* s) {
        take_out(s);
        sqlite3_finalize(s);
    }

    void give_back(sqlite3_stmt* s) {
        const int id = take_out(s);
        if (id < 0) {
            sqlite3_finalize(s);
            return;
        }
        // Its values stay bound until the next run binds every place again
        // (prepare() checks that it does), so they need no clearing. A
        // write's texts were bound where they stood and are gone by now:
        // nothing may read an idle statement's bindings (no expanded text,
        // no trace callback) before they are bound again.
        sqlite3_reset(s);
        const auto slot = static_cast<std::size_t>(id);
        if (slot >= idle_.size()) idle_.resize(slot + 1, nullptr);
        if (idle_[slot]) sqlite3_finalize(idle_[slot]);
        idle_[slot] = s;
    }

private:
    // A statement handed out, and the identity it goes back under.
    struct Busy {
        sqlite3_stmt* stmt;
        int id;
    };

    // Its identity (-1 when it is not to be kept, or not handed out here).
    int take_out(sqlite3_stmt* s) {
        for (std::size_t i = 0; i < busy_.size(); ++i)
            if (busy_[i].stmt == s) {
                const int id = busy_[i].id;
                busy_[i] = busy_.back();
                busy_.pop_back();
                return id;
            }
        return -1;
    }

    sqlite3* db_;
    std::vector<sqlite3_stmt*> idle_;  // by shape identity
    // Few at a time: a write, or a read whose rows are still being read
    // beside another statement.
    std::vector<Busy> busy_;
};

// A text value as the database holds it: UTF-8. Most of the federation's
// values are plain ASCII, bound as they stand: without a copy when they
// outlive the statement's run. The others (names and places with accents)
// are converted: for a write, into `buffer`, the engine's own for that
// place, kept until the place is bound again, so that SQLite need not copy
// them; for a read (`buffer` null), copied by SQLite.
int bind_text(sqlite3_stmt* stmt, int idx, const std::string& value, std::string* buffer) {
    if (is_ascii(value))
        return sqlite3_bind_text(stmt, idx, value.data(), static_cast<int>(value.size()),
                                 buffer ? SQLITE_STATIC : SQLITE_TRANSIENT);
    if (!buffer) {
        const std::string v = cp1252_to_utf8(value);
        return sqlite3_bind_text(stmt, idx, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    cp1252_to_utf8(value, *buffer);
    return sqlite3_bind_text(stmt, idx, buffer->data(), static_cast<int>(buffer->size()), SQLITE_STATIC);
}

class SqliteEngine : public Engine, public std::enable_shared_from_this<SqliteEngine> {
public:
    explicit SqliteEngine(sqlite3* db) : db_(db), cache_(std::make_unique<StatementCache>(db)) {}
    ~SqliteEngine() override { close(); }

    // `lasting`: the statement's values outlive every step of it (a write,
    // run to its end within the call), so texts are bound where they stand.
    sqlite3_stmt* prepare(const Sql& st, bool lasting);
    void release(sqlite3_stmt* stmt) {
        // Without a cache the engine is closed, and closing it finalized
        // every statement it had handed out: nothing is left to free.
        if (stmt && cache_) cache_->give_back(stmt);
    }

    void execute(const Sql& st) override {
        sqlite3_stmt* stmt = prepare(st, true);
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE) {
            const int code = sqlite3_extended_errcode(db_);
            const int system_error = sqlite3_system_errno(db_);
            std::string msg = sqlite3_errmsg(db_);
            release(stmt);
            raise(code, utf8_to_cp1252(msg), ErrorOrigin::sqlite(system_error));
        }
        release(stmt);
    }

    std::unique_ptr<Cursor> query(const Sql& st) override;

    void begin() override {
        if (!held_) return run_plain("BEGIN IMMEDIATE");
        if (nested_) raise(err::kInvalidCall, "Une transaction est déjà ouverte"_w);
        run_plain("SAVEPOINT ondival_file");
        nested_ = true;
    }
    void commit() override {
        if (!held_) return run_plain("COMMIT");
        if (!nested_) raise(err::kInvalidCall, "Aucune transaction n'est ouverte"_w);
        nested_ = false;
        run_plain("RELEASE SAVEPOINT ondival_file");
    }
    void rollback() noexcept override {
        const bool was_nested = nested_;
        nested_ = false;
        if (!db_ || sqlite3_get_autocommit(db_)) return;
        if (!held_) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        } else if (was_nested) {
            sqlite3_exec(db_, "ROLLBACK TO SAVEPOINT ondival_file; RELEASE SAVEPOINT ondival_file", nullptr, nullptr,
                         nullptr);
        }
    }
    bool in_transaction() const override {
        if (!db_ || sqlite3_get_autocommit(db_)) return false;
        return !held_ || nested_;
    }

    // The write lock is taken at once, as the import's first write would
    // take it: a check of a database another import is writing waits as
    // long and hears the same "database is locked".
    void hold() override {
        run_plain("BEGIN IMMEDIATE");
        held_ = true;
    }

    void close() noexcept override {
        if (!db_) return;
        cache_.reset();
        if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }

    // A dry run whose outer transaction is gone (SQLite ends a transaction
    // by itself on some I/O and memory errors) must not run one statement
    // more: in autocommit it would be kept.
    void check_held() const {
        if (held_ && db_ && sqlite3_get_autocommit(db_))
            raise(SQLITE_ABORT, "La transaction de contrôle a été annulée : aucune instruction de plus"_w,
                  ErrorOrigin::sqlite());
    }

private:
    void run_plain(const char* sql) {
        if (!db_) raise(err::kInvalidCall, "La connexion à la base n'est pas ouverte"_w);
        check_held();
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) raise_from(db_, SQLITE_ERROR);
    }

    sqlite3* db_;
    std::unique_ptr<StatementCache> cache_;
    // A write's converted texts, by place (see bind_text).
    std::vector<std::string> utf8_;
    bool held_ = false;    // a dry run's outer transaction is open
    bool nested_ = false;  // the savepoint standing for the import's transaction
};

int bind_number(sqlite3_stmt* stmt, int idx, const SqlValue& value) {
    // A whole number too long for 64 bits is kept as the real it reads as.
    if (value.kind == SqlValue::Kind::Integer && value.fits) return sqlite3_bind_int64(stmt, idx, value.integer);
    return sqlite3_bind_double(stmt, idx, std::strtod(value.text.c_str(), nullptr));
}

sqlite3_stmt* SqliteEngine::prepare(const Sql& st, bool lasting) {
    if (!db_) raise(err::kInvalidCall, "La connexion à la base n'est pas ouverte"_w);
    check_held();
    // A statement whose bare place was left blank reads as its text does,
    // with nothing there: it is prepared as that text, for this run only.
    const int id = st.complete() ? st.shape().id() : -1;
    int rc = SQLITE_OK;
    bool more = false;
    sqlite3_stmt* stmt = cache_->take(st, id, rc, more);
    if (rc != SQLITE_OK) raise_from(db_, rc);
    if (!stmt) raise(SQLITE_ERROR, "Instruction SQL vide"_w, ErrorOrigin::sqlite());
    if (more) {
        cache_->discard(stmt);
        raise(SQLITE_ERROR, "Une seule instruction SQL est admise par appel"_w, ErrorOrigin::sqlite());
    }
    const int places = sqlite3_bind_parameter_count(stmt);
    // Every place's buffer exists before the first is bound: the buffers
    // never move while the statement points into them (a short text lives
    // inside its string, and would move with it).
    if (lasting && utf8_.size() <= static_cast<std::size_t>(places)) utf8_.resize(static_cast<std::size_t>(places) + 1);
    int idx = 0;
    for (const SqlValue& value : st.values()) {
        if (value.kind == SqlValue::Kind::Empty) continue;
        ++idx;
        if (idx > places) break;
        std::string* buffer = lasting ? &utf8_[static_cast<std::size_t>(idx)] : nullptr;
        const int brc = value.kind == SqlValue::Kind::Text ? bind_text(stmt, idx, value.text, buffer)
                                                           : bind_number(stmt, idx, value);
        if (brc != SQLITE_OK) {
            release(stmt);
            raise_from(db_, brc);
        }
    }
    if (places != idx) {
        cache_->discard(stmt);
        raise(SQLITE_ERROR, "Instruction SQL mal formée"_w, ErrorOrigin::sqlite());
    }
    return stmt;
}

class SqliteCursor : public Cursor {
public:
    SqliteCursor(std::shared_ptr<SqliteEngine> engine, sqlite3_stmt* stmt)
        : engine_(std::move(engine)), stmt_(stmt), fields_(sqlite3_column_count(stmt)) {}
    ~SqliteCursor() override { engine_->release(stmt_); }

    int field_count() const override { return fields_; }
    bool eof() const override { return eof_; }

    void next() override {
        if (eof_) return;
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return;
        eof_ = true;
        if (rc != SQLITE_DONE) raise_from(sqlite3_db_handle(stmt_), rc);
    }

    std::optional<std::string> field(int index) const override {
        switch (sqlite3_column_type(stmt_, index)) {
            case SQLITE_NULL:
                return std::nullopt;
            case SQLITE_INTEGER:
                return std::to_string(sqlite3_column_int64(stmt_, index));
            case SQLITE_FLOAT: {
                char buf[32];
                std::snprintf(buf, sizeof buf, "%.15g", sqlite3_column_double(stmt_, index));
                return std::string(buf);
            }
            default: {
                const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
                const int len = sqlite3_column_bytes(stmt_, index);
                return utf8_to_cp1252(std::string_view(p ? p : "", static_cast<std::size_t>(len)));
            }
        }
    }

private:
    std::shared_ptr<SqliteEngine> engine_;
    sqlite3_stmt* stmt_;
    int fields_;
    bool eof_ = false;
};

std::unique_ptr<Cursor> SqliteEngine::query(const Sql& st) {
    // A query's rows are read after the call, when its values may be gone.
    sqlite3_stmt* stmt = prepare(st, false);
    auto cursor = std::make_unique<SqliteCursor>(shared_from_this(), stmt);
    cursor->next();
    return cursor;
}

}  // namespace

void leave_out_engine_statistics() { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); }

std::shared_ptr<Engine> open_sqlite(const std::string& path) {
    // SQLite reads "" and ":memory:" as requests for a new empty database;
    // a host database is always an existing file.
    if (path.empty() || path.front() == ':')
        raise(err::kFileNotFound, "Fichier de base de données introuvable : "_w + path, ErrorKind::kNoDatabase);
    sqlite3* db = nullptr;
    // Paths are the platform's own (UTF-8 on Linux), not component text.
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        const int code = db ? sqlite3_extended_errcode(db) : rc;
        const int system_error = db ? sqlite3_system_errno(db) : 0;
        sqlite3_close(db);
        raise(code, utf8_to_cp1252(msg + " : " + path), ErrorOrigin::sqlite(system_error));
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // Reading the schema now makes a file that is not a database fail here,
    // with the engine's own message, rather than at the first statement.
    const int check = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (check != SQLITE_OK) {
        std::string msg = sqlite3_errmsg(db);
        const int code = sqlite3_extended_errcode(db);
        const int system_error = sqlite3_system_errno(db);
        sqlite3_close(db);
        raise(code, utf8_to_cp1252(msg + " : " + path), ErrorOrigin::sqlite(system_error));
    }
    return std::make_shared<SqliteEngine>(db);
}

}  // namespace ondival::platform
