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
                    raise(code::kError, "Une seule instruction SQL est admise par appel"_w, ErrorOrigin::server({}));
            break;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

Bound bound(const SqlLiteral& lit) {
    if (lit.kind == SqlLiteral::Kind::Text) {
        std::string v = cp1252_to_utf8(lit.text);
        // A server text cannot hold a NUL byte, and libpq would cut the
        // value there without a word.
        if (v.find('\0') != std::string::npos)
            raise(code::kMismatch, "invalid byte sequence for encoding \"UTF8\": 0x00", ErrorOrigin::server("22021"));
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
