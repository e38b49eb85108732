// A plain session on a PostgreSQL server for the host side: creating the
// host tables, and the tests' and benchmark's own databases. The import
// never uses it; it reaches a server through the platform layer.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>

struct pg_conn;
struct pg_result;

namespace ondival::host {

struct ServerResultFree {
    void operator()(pg_result* r) const;
};
using ServerResult = std::unique_ptr<pg_result, ServerResultFree>;

class ServerSession {
public:
    // Connects at once (10 s at most, UTF-8); ok() and error() tell how it went.
    explicit ServerSession(const std::string& uri);
    ~ServerSession();
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    bool ok() const { return error_.empty(); }
    // The last failure on one line (UTF-8, without the password), "" if none.
    const std::string& error() const { return error_; }

    // Runs one or more statements; false on failure.
    bool exec(const std::string& statements);
    // Runs one statement with $1, $2, ... bound to texts; false on failure.
    bool exec(const char* statement, std::initializer_list<std::string> params);
    // The rows of a query, or null on failure.
    ServerResult query(const std::string& statement);

private:
    bool keep(pg_result* r);

    pg_conn* conn_ = nullptr;
    std::string error_;
};

// The address of database `name` on the server that `uri` points at, with
// the same user, password and options.
std::string sibling_database(const std::string& uri, const std::string& name);

}  // namespace ondival::host
