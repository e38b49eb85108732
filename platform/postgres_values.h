// What a PostgreSQL server's values and answers are to the import: the
// error numbers a file database gives for the same faults, the import's
// values as server parameters, and rows read back as a file database
// gives them (booleans as 1 and 0, reals without trailing zeros, texts in
// Windows-1252). Shared by the engine's line-by-line and speculative paths.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/database_engine.h"
#include "platform/statement.h"

namespace ondival::platform::pg {

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
// database's, and of the plain texts.
constexpr Oid kBoolOid = 16;
constexpr Oid kInt8Oid = 20;
constexpr Oid kFloat4Oid = 700;
constexpr Oid kFloat8Oid = 701;
constexpr Oid kNumericOid = 1700;
constexpr Oid kTextOid = 25;
constexpr Oid kVarcharOid = 1043;

// The file database's number for a server's SQLSTATE.
int number_for(const char* sqlstate);

// libpq's messages span several lines ("...failed: Connection refused\n\tIs
// the server running..."); a trace entry is one line.
std::string one_line(const char* message);

struct ResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;
using SharedResult = std::shared_ptr<PGresult>;

inline SharedResult shared(Result r) { return SharedResult(r.release(), PQclear); }

bool succeeded(const PGresult* r);

// A declared shape with its '?' markers numbered as PostgreSQL wants them
// ($1, $2, ...). A declared shape holds no quote: each '?' is a marker.
std::string numbered(const std::string& shape, std::size_t& markers);

// One query answering `members` reads of a groupable shape at once: the
// shape's columns followed by its where columns, for every row whose where
// columns equal one of the members' values ($1, $2, ... member by member).
// The values are compared as texts: only for where columns that hold text.
std::string grouped_read(const ReadShape& shape, std::size_t members);

// A literal as PostgreSQL reads it inline: texts take the type their place
// asks for, whole numbers are bigint, other numbers numeric.
struct Bound {
    Oid type;
    std::string value;  // UTF-8
};

Bound bound(const SqlValue& value);

// The rows of one answer of the server.
class PgCursor : public Cursor {
public:
    explicit PgCursor(SharedResult r) : result_(std::move(r)), rows_(PQntuples(result_.get())) {}

    int field_count() const override { return PQnfields(result_.get()); }
    bool eof() const override { return row_ >= rows_; }
    void next() override {
        if (row_ < rows_) ++row_;
    }
    std::optional<std::string> field(int index) const override { return field_text(result_.get(), row_, index); }

    // A value as the import reads it (Windows-1252 text; nullopt for NULL).
    static std::optional<std::string> field_text(const PGresult* r, int row, int index);

private:
    SharedResult result_;
    int rows_;
    int row_ = 0;
};

// Rows known before the server gave them: a key the engine foresaw, or a
// share of a grouped answer.
using Rows = std::vector<std::vector<std::optional<std::string>>>;

class RowsCursor : public Cursor {
public:
    RowsCursor(Rows rows, int fields) : rows_(std::move(rows)), fields_(fields) {}
    int field_count() const override { return fields_; }
    bool eof() const override { return row_ >= rows_.size(); }
    void next() override {
        if (row_ < rows_.size()) ++row_;
    }
    std::optional<std::string> field(int index) const override { return rows_[row_][static_cast<std::size_t>(index)]; }

private:
    Rows rows_;
    int fields_;
    std::size_t row_ = 0;
};

// The rows of a server's answer, as the import would read them.
Rows rows_of(const SharedResult& result);

}  // namespace ondival::platform::pg
