#include "platform/sql_literals.h"

namespace ondival::platform {
namespace {

bool is_ident(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u == '$' ||
           u >= 0x80;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool split_literals(std::string_view sql, std::string& shape, std::vector<SqlLiteral>& literals) {
    shape.clear();
    literals.clear();
    shape.reserve(sql.size());
    const std::size_t n = sql.size();
    std::size_t i = 0;
    // After ORDER BY or GROUP BY a number names a result column; bound as a
    // value it would become a constant and change what the statement does.
    bool numbers_are_columns = false;
    while (i < n) {
        const char c = sql[i];
        if (c == '\'') {
            SqlLiteral lit;
            std::size_t j = i + 1;
            bool closed = false;
            while (j < n) {
                if (sql[j] == '\'') {
                    if (j + 1 < n && sql[j + 1] == '\'') {
                        lit.text.push_back('\'');
                        j += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                lit.text.push_back(sql[j]);
                ++j;
            }
            if (!closed) return false;
            literals.push_back(std::move(lit));
            shape.push_back('?');
            i = j + 1;
        } else if (c == '"' || c == '[' || c == '`') {
            // Quoted identifiers are copied as they stand.
            const char close = c == '[' ? ']' : c;
            const std::size_t j = sql.find(close, i + 1);
            if (j == std::string_view::npos) return false;
            shape.append(sql.substr(i, j - i + 1));
            i = j + 1;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            const std::size_t j = sql.find('\n', i);
            const std::size_t end = j == std::string_view::npos ? n : j;
            shape.append(sql.substr(i, end - i));
            i = end;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            const std::size_t j = sql.find("*/", i + 2);
            const std::size_t end = j == std::string_view::npos ? n : j + 2;
            shape.append(sql.substr(i, end - i));
            i = end;
        } else if (c == '?' || c == ':' || c == '@' || (c == '$' && (i == 0 || !is_ident(sql[i - 1])))) {
            // A parameter marker in the text would shift the bindings.
            return false;
        } else if (is_digit(c) && (i == 0 || !is_ident(sql[i - 1])) && !numbers_are_columns) {
            std::size_t j = i;
            bool real = false;
            while (j < n && is_digit(sql[j])) ++j;
            if (j < n && sql[j] == '.') {
                real = true;
                ++j;
                while (j < n && is_digit(sql[j])) ++j;
            }
            if (j < n && (sql[j] == 'e' || sql[j] == 'E')) {
                std::size_t k = j + 1;
                if (k < n && (sql[k] == '+' || sql[k] == '-')) ++k;
                if (k < n && is_digit(sql[k])) {
                    real = true;
                    j = k;
                    while (j < n && is_digit(sql[j])) ++j;
                }
            }
            if (j < n && (is_ident(sql[j]) || sql[j] == '.')) {
                // Not a plain number (0x1F, 12abc): let the engine judge it.
                while (j < n && (is_ident(sql[j]) || sql[j] == '.')) ++j;
                shape.append(sql.substr(i, j - i));
                i = j;
                continue;
            }
            SqlLiteral lit;
            lit.kind = real ? SqlLiteral::Kind::Real : SqlLiteral::Kind::Integer;
            lit.text = std::string(sql.substr(i, j - i));
            literals.push_back(std::move(lit));
            shape.push_back('?');
            i = j;
        } else if (is_ident(c)) {
            std::size_t j = i;
            while (j < n && is_ident(sql[j])) ++j;
            const std::string_view word = sql.substr(i, j - i);
            if (word.size() == 2 && (word[0] | 0x20) == 'b' && (word[1] | 0x20) == 'y') numbers_are_columns = true;
            shape.append(word);
            i = j;
        } else {
            shape.push_back(c);
            ++i;
        }
    }
    return true;
}

}  // namespace ondival::platform
