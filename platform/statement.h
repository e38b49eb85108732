// A statement as the import builds it: a shape (the statement's text in the
// host's dialect, with a '?' where each value goes), the values, typed as
// the import has them, and what the shape reads and writes, declared where
// the statement is written. The engines prepare a shape once and find it
// again by its identity, and bind the values: no statement is ever read
// back from text, and a value can never become SQL. The statement with its
// values inline, quotes doubled, is derived from the same object for
// messages and for tests that compare texts.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ondival::platform {

struct SqlValue {
    // Empty: a bare number the record left blank; the statement is then
    // run as its text reads, with nothing in that place, and the engine
    // reports the fault as it always did.
    enum class Kind { Text, Integer, Real, Empty };
    Kind kind = Kind::Text;
    std::string text;  // Text: the value itself (Windows-1252); numbers: the digits as written
    // An Integer that fits in 64 bits, read once when the value is given
    // (an engine that binds numbers needs no second reading of the digits).
    bool fits = false;
    long long integer = 0;
};

// A read's tables (lower case) and, when it asks for one, its one column.
struct ReadShape {
    std::vector<std::string> tables;
    std::string column;
    bool single() const { return tables.size() == 1; }
    // Set for a read of plain columns of one table found by equalities only
    // ("select a, b from t where c = ? and d = ?"): reads of this shape can
    // be asked together (see pg::grouped_read).
    std::vector<std::string> select_list, where_columns;
    bool groupable() const { return !where_columns.empty(); }
};

// The table a write changes and how: 'i' insert (with its column list),
// 'u' update, 'd' delete; kind 0 when its reach is not declared.
struct WriteShape {
    char kind = 0;
    std::string table;
    std::vector<std::string> columns;
};

// What a shape reads or writes, as its statement's author declares it.
struct Reach {
    std::optional<ReadShape> read;  // nullopt: not a read
    WriteShape write;
};

// A statement's shape and what it declares. The import's shapes are
// constants built once; their identity (a small number given at
// construction) is what the engines file their prepared statements under.
class Shape {
public:
    // One of the component's own statements, with what it reads or writes.
    Shape(std::string text, Reach reach);
    // A text no one declared anything of (the host's own, a tool's): it is
    // run as it stands, with no value, and never kept prepared.
    explicit Shape(std::string text);
    ~Shape();
    Shape(const Shape&) = delete;
    Shape& operator=(const Shape&) = delete;

    // "select ... from <tables> ...": `column` when it asks for one column.
    static Reach read(std::vector<std::string> tables, std::string column = {});
    // "select <select_list> from <table> where c1 = ? and c2 = ? ...".
    static Reach grouped_read(std::string table, std::vector<std::string> select_list,
                              std::vector<std::string> where_columns);
    static Reach insert(std::string table, std::vector<std::string> columns);
    static Reach update(std::string table);
    static Reach remove(std::string table);

    const std::string& text() const { return text_; }
    std::size_t markers() const { return markers_; }
    // -1 for an undeclared text.
    int id() const { return id_; }
    bool declared() const { return id_ >= 0; }
    const std::optional<ReadShape>& reads() const { return reach_.read; }
    const WriteShape& writes() const { return reach_.write; }

    // Every declared shape alive in this process, for tests that prepare
    // each one on every engine.
    static std::vector<const Shape*> all_declared();

private:
    std::string text_;  // Windows-1252
    std::size_t markers_ = 0;
    int id_ = -1;
    Reach reach_;
};

// One statement: a shape and its values, given in the order of the
// shape's markers.
class Sql {
public:
    explicit Sql(const Shape& shape) : shape_(&shape) { values_.reserve(shape.markers()); }
    // The engines keep a shape's identity: a shape must outlive its statements.
    explicit Sql(const Shape&&) = delete;
    // The host's or a tool's own text, run as it stands.
    static Sql text(std::string text);

    // A value written between quotes in the text.
    Sql& quoted(std::string_view value);
    // A number written bare: a plain decimal ("12", "-3", "65.32"), or ""
    // for a place the record left blank. Anything else is refused: it
    // could not be a number, and the place of a number is no place for
    // text.
    Sql& bare(std::string_view number);
    Sql& bare(long long number);

    const Shape& shape() const { return *shape_; }
    const std::vector<SqlValue>& values() const { return values_; }
    // False when a bare place was left blank.
    bool complete() const { return complete_; }
    // The text the engine prepares: the shape's, or, when a bare place was
    // left blank, the shape without the marker of that place.
    std::string prepared_text() const;
    // The statement with its values inline, quotes doubled: as a reader of
    // a log would write it.
    std::string inline_text() const;

private:
    // A new value holding `text`, built where it stays (kind Text).
    SqlValue& add_value(std::string_view text);

    const Shape* shape_;
    std::vector<SqlValue> values_;
    std::shared_ptr<const Shape> own_;  // an undeclared text's shape
    bool complete_ = true;
};

// True for a plain decimal number: an optional minus, digits, optionally a
// point and more digits.
bool plain_decimal(std::string_view text);

}  // namespace ondival::platform
