#include "platform/statement_shape.h"

#include <cctype>

namespace ondival::platform {
namespace {

// The shape cut into lower-case words and single signs.
std::vector<std::string> words_of(const std::string& shape) {
    std::vector<std::string> words;
    for (std::size_t i = 0; i < shape.size();) {
        const unsigned char ch = static_cast<unsigned char>(shape[i]);
        if (std::isspace(ch)) {
            ++i;
        } else if (std::isalnum(ch) || ch == '_') {
            std::string w;
            while (i < shape.size() && (std::isalnum(static_cast<unsigned char>(shape[i])) || shape[i] == '_'))
                w.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(shape[i++]))));
            words.push_back(std::move(w));
        } else {
            words.emplace_back(1, shape[i++]);
        }
    }
    return words;
}

bool is_word(const std::string& w) {
    return !w.empty() && (std::isalpha(static_cast<unsigned char>(w[0])) || w[0] == '_');
}

bool is_keyword(const std::string& w) {
    return w == "select" || w == "from" || w == "where" || w == "and" || w == "or" || w == "not" || w == "in" ||
           w == "is" || w == "null" || w == "as" || w == "distinct" || w == "order" || w == "group" || w == "by";
}

// "a, b, c" between select and from: plain columns only.
std::vector<std::string> plain_columns(const std::vector<std::string>& w, std::size_t from) {
    std::vector<std::string> columns;
    for (std::size_t i = 1; i < from; ++i) {
        const bool column_place = (i % 2) == 1;
        if (column_place ? !is_word(w[i]) || is_keyword(w[i]) : w[i] != ",") return {};
        if (column_place) columns.push_back(w[i]);
    }
    return from % 2 == 0 ? columns : std::vector<std::string>{};
}

// "where c = ? and d = ?" to its end: the columns, each met once.
std::vector<std::string> equalities(const std::vector<std::string>& w, std::size_t where) {
    std::vector<std::string> columns;
    std::size_t i = where + 1;
    for (;;) {
        if (i + 2 >= w.size() || !is_word(w[i]) || is_keyword(w[i]) || w[i + 1] != "=" || w[i + 2] != "?") return {};
        for (const std::string& c : columns)
            if (c == w[i]) return {};
        columns.push_back(w[i]);
        i += 3;
        if (i == w.size()) return columns;
        if (w[i] != "and") return {};
        ++i;
    }
}

std::optional<ReadShape> read_shape(const std::vector<std::string>& w) {
    if (w.empty() || w[0] != "select") return std::nullopt;
    std::size_t from = 0;
    for (std::size_t i = 1; i < w.size(); ++i) {
        if (w[i] == "select" || w[i] == "join" || w[i] == "union") return std::nullopt;
        if (w[i] == "from") {
            if (from) return std::nullopt;
            from = i;
        }
    }
    if (!from) return std::nullopt;
    ReadShape r;
    std::size_t i = from + 1;
    for (; i < w.size() && w[i] != "where" && w[i] != "order" && w[i] != "group"; ++i) {
        if (is_word(w[i])) {
            r.tables.push_back(w[i]);
        } else if (w[i] != ",") {
            return std::nullopt;
        }
    }
    if (r.tables.empty()) return std::nullopt;
    // "Region Region": a table under its own name is one table.
    if (r.tables.size() == 2 && r.tables[0] == r.tables[1]) r.tables.pop_back();
    if (from == 2 && is_word(w[1])) r.column = w[1];
    if (r.single() && i < w.size() && w[i] == "where" && i == from + 2) {
        r.select_list = plain_columns(w, from);
        if (!r.select_list.empty()) r.where_columns = equalities(w, i);
    }
    return r;
}

WriteShape write_shape(const std::vector<std::string>& w) {
    WriteShape s;
    if (w.size() >= 3 && w[0] == "insert" && w[1] == "into" && is_word(w[2])) {
        s.kind = 'i';
        s.table = w[2];
        if (w.size() > 3 && w[3] == "(")
            for (std::size_t i = 4; i < w.size() && w[i] != ")"; ++i)
                if (is_word(w[i])) s.columns.push_back(w[i]);
    } else if (w.size() >= 2 && w[0] == "update" && is_word(w[1])) {
        s.kind = 'u';
        s.table = w[1];
    } else if (w.size() >= 3 && w[0] == "delete" && w[1] == "from" && is_word(w[2])) {
        s.kind = 'd';
        s.table = w[2];
    }
    return s;
}

}  // namespace

ShapeInfo analyse_shape(const std::string& shape) {
    const std::vector<std::string> words = words_of(shape);
    return ShapeInfo{read_shape(words), write_shape(words)};
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

}  // namespace ondival::platform
