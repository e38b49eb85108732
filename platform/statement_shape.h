// What a statement reads or writes, told from its shape (its text with the
// values lifted out as '?'), as far as a server engine that sends
// statements ahead needs to know: which answers a write may change, which
// read asks for the key of a row just inserted, and which reads of one
// shape can be asked together in a single query.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ondival::platform {

// A read's tables (a list of tables with their aliases, as "FROM Region
// Region, Departement Departement" writes them; an alias counts as a table,
// which only makes a write invalidate more), and the one column it asks for
// when it asks for one.
struct ReadShape {
    std::vector<std::string> tables;  // lower case
    std::string column;
    bool single() const { return tables.size() == 1; }
    // Set for a read of plain columns of one table found by equalities
    // only ("select a, b from t where c = ? and d = ?"): reads of this shape
    // can be asked together (see grouped_read).
    std::vector<std::string> select_list, where_columns;
    bool groupable() const { return !where_columns.empty(); }
};

// The table a write changes and how: 'i' insert (with its column list),
// 'u' update, 'd' delete; kind 0 when it cannot be told.
struct WriteShape {
    char kind = 0;
    std::string table;
    std::vector<std::string> columns;
};

struct ShapeInfo {
    std::optional<ReadShape> read;  // nullopt: not a read whose reach can be told
    WriteShape write;
};

ShapeInfo analyse_shape(const std::string& shape);

// One query answering `members` reads of a groupable shape at once: the
// shape's columns followed by its where columns, for every row whose where
// columns equal one of the members' values ($1, $2, ... member by member).
// The values are compared as texts: only for where columns that hold text.
std::string grouped_read(const ReadShape& shape, std::size_t members);

}  // namespace ondival::platform
