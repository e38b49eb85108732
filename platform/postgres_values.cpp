#include "platform/postgres_values.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival::platform::pg {

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

bool succeeded(const PGresult* r) {
    const ExecStatusType s = PQresultStatus(r);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
}

std::string numbered(const std::string& shape, std::size_t& markers) {
    std::string out;
    out.reserve(shape.size() + 16);
    markers = 0;
    for (char c : shape) {
        if (c == '?')
            out += '$' + std::to_string(++markers);
        else
            out.push_back(c);
    }
    return out;
}

std::string grouped_read(const ReadShape& shape, std::size_t members) {
    // The values as a table joined on the where columns: the server finds
    // each member by the table's index, where a list of alternatives
    // ("(a, b) in ((...), (...))") would cost it more to plan than to run.
    const std::size_t k = shape.where_columns.size();
    std::string sql = "select ";
    for (const std::string& c : shape.select_list) sql += "t." + c + ", ";
    for (std::size_t c = 0; c < k; ++c) sql += (c ? ", t." : "t.") + shape.where_columns[c];
    sql += " from " + shape.tables.front() + " t join (values ";
    std::size_t n = 0;
    for (std::size_t m = 0; m < members; ++m) {
        sql += m ? ", (" : "(";
        for (std::size_t c = 0; c < k; ++c) sql += (c ? ", $" : "$") + std::to_string(++n);
        sql += ')';
    }
    sql += ") v(";
    for (std::size_t c = 0; c < k; ++c) sql += (c ? ", k" : "k") + std::to_string(c);
    sql += ") on ";
    for (std::size_t c = 0; c < k; ++c)
        sql += (c ? " and t." : "t.") + shape.where_columns[c] + " = v.k" + std::to_string(c);
    return sql;
}

Bound bound(const SqlValue& lit) {
    if (lit.kind == SqlValue::Kind::Text) {
        std::string v = cp1252_to_utf8(lit.text);
        // A server text cannot hold a NUL byte, and libpq would cut the
        // value there without a word.
        if (v.find('\0') != std::string::npos)
            raise(code::kMismatch, "invalid byte sequence for encoding \"UTF8\": 0x00", ErrorOrigin::server("22021"));
        return {0, std::move(v)};
    }
    if (lit.kind == SqlValue::Kind::Integer) {
        errno = 0;
        char* end = nullptr;
        std::strtoll(lit.text.c_str(), &end, 10);
        if (errno == 0 && end && *end == 0) return {kInt8Oid, lit.text};
    }
    return {kNumericOid, lit.text};
}

std::optional<std::string> PgCursor::field_text(const PGresult* r, int row, int index) {
    if (PQgetisnull(r, row, index)) return std::nullopt;
    const char* v = PQgetvalue(r, row, index);
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
            return utf8_to_cp1252(std::string_view(v, static_cast<std::size_t>(PQgetlength(r, row, index))));
    }
}

// The rows of a server's answer, as the import would read them.
Rows rows_of(const SharedResult& result) {
    Rows rows;
    PgCursor cursor(result);
    for (; !cursor.eof(); cursor.next()) {
        std::vector<std::optional<std::string>> row;
        for (int i = 0; i < cursor.field_count(); ++i) row.push_back(cursor.field(i));
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace ondival::platform::pg
