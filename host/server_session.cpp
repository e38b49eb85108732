#include "host/server_session.h"

#include <libpq-fe.h>

#include <algorithm>
#include <vector>

namespace ondival::host {
namespace {

std::string one_line(const char* message) {
    std::string m = message ? message : "";
    for (char& c : m)
        if (c == '\n' || c == '\t') c = ' ';
    while (!m.empty() && m.back() == ' ') m.pop_back();
    return m.empty() ? "database server error" : m;
}

}  // namespace

void ServerResultFree::operator()(pg_result* r) const { PQclear(r); }

ServerSession::ServerSession(const std::string& uri) {
    const char* keys[] = {"connect_timeout", "dbname", "client_encoding", nullptr};
    const char* values[] = {"10", uri.c_str(), "UTF8", nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (PQstatus(conn_) != CONNECTION_OK) {
        error_ = one_line(PQerrorMessage(conn_));
        return;
    }
    // "does not exist, skipping" and the like are not worth a line on stderr.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
}

ServerSession::~ServerSession() { PQfinish(conn_); }

bool ServerSession::keep(pg_result* r) {
    const ExecStatusType s = PQresultStatus(r);
    if (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK) {
        error_.clear();
        return true;
    }
    error_ = one_line(r ? PQresultErrorMessage(r) : PQerrorMessage(conn_));
    return false;
}

bool ServerSession::exec(const std::string& statements) {
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) return false;
    ServerResult r(PQexec(conn_, statements.c_str()));
    return keep(r.get());
}

bool ServerSession::exec(const char* statement, std::initializer_list<std::string> params) {
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) return false;
    std::vector<const char*> p;
    for (const std::string& v : params) p.push_back(v.c_str());
    ServerResult r(PQexecParams(conn_, statement, static_cast<int>(p.size()), nullptr, p.data(), nullptr, nullptr, 0));
    return keep(r.get());
}

ServerResult ServerSession::query(const std::string& statement) {
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) return nullptr;
    ServerResult r(PQexec(conn_, statement.c_str()));
    return keep(r.get()) ? std::move(r) : nullptr;
}

std::string sibling_database(const std::string& uri, const std::string& name) {
    const std::size_t scheme = uri.find("://");
    const std::size_t from = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t query = std::min(uri.find('?', from), uri.size());
    const std::size_t slash = uri.find('/', from);
    if (slash == std::string::npos || slash > query)  // no database named: the server's default
        return uri.substr(0, query) + "/" + name + uri.substr(query);
    return uri.substr(0, slash + 1) + name + uri.substr(query);
}

}  // namespace ondival::host
