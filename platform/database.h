// The host database, reached through one connection and one recordset, in
// the roles the import gives them: Open/Execute/State/Close on the
// connection, Open/Fields/EOF/MoveNext/Close on the recordset.
//
// Behind them is embedded SQLite. The import's statements arrive in the
// host's dialect with their values inline; each call runs exactly one
// statement and refuses any text after it, so a value can never smuggle in a
// second statement. Texts are Windows-1252 on this side and UTF-8 in the
// database file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace ondival::platform {

class StatementCache;

class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Takes the host's connection string ("...;Data Source=<path>;Jet
    // OLEDB:Database Password=<key>;"). The file must exist and be a
    // database: a missing file is never replaced by an empty one.
    void Open(const std::string& connection_string);
    void Execute(const std::string& sql);
    int State() const { return db_ ? 1 : 0; }
    void Close();

    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    bool InTransaction() const;

    // Used by the recordset: a prepared statement with its literals bound.
    sqlite3_stmt* prepare(const std::string& sql);
    void release(sqlite3_stmt* stmt);
    [[noreturn]] void raise_engine_error(int code) const;

private:
    void run_plain(const char* sql);

    sqlite3* db_ = nullptr;
    std::unique_ptr<StatementCache> cache_;
};

class Recordset {
public:
    Recordset() = default;
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    void Open(const std::string& sql, Connection& connection);
    bool IsOpen() const { return stmt_ != nullptr; }
    int FieldCount() const { return fields_; }
    // The current row's value as Windows-1252 text; nullopt for a NULL.
    std::optional<std::string> Field(int index) const;
    bool Eof() const { return eof_; }
    void MoveNext();
    void Close();

private:
    Connection* connection_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
    int fields_ = 0;
    bool eof_ = true;
};

// Test-only switch: makes the k-th statement from now (1 = the next one)
// fail as a disk error would; 0 turns it off. Lets tests prove that every
// failure point leaves the database consistent.
void inject_statement_failure(long k);
long statements_run();  // statements prepared or run since the last switch

// How long a statement waits for another process's lock before it fails.
inline constexpr int kBusyTimeoutMs = 5000;

}  // namespace ondival::platform
