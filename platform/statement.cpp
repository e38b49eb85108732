#include "platform/statement.h"

#include <atomic>
#include <mutex>

#include "platform/error.h"

namespace ondival::platform {
namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::vector<std::string> lower(std::vector<std::string> v) {
    for (std::string& s : v) s = lower(std::move(s));
    return v;
}

struct Registry {
    std::mutex mutex;
    std::vector<const Shape*> shapes;
};

Registry& registry() {
    static Registry r;
    return r;
}

std::atomic<int> g_next_id{0};

// A plain whole number's value, when it fits in 64 bits.
bool whole_64(std::string_view digits, long long& value) {
    const bool negative = !digits.empty() && digits.front() == '-';
    if (negative) digits.remove_prefix(1);
    unsigned long long v = 0;
    const unsigned long long limit = negative ? 9223372036854775808ull : 9223372036854775807ull;
    for (const char c : digits) {
        const auto d = static_cast<unsigned long long>(c - '0');
        if (v > (limit - d) / 10) return false;
        v = v * 10 + d;
    }
    value = negative ? static_cast<long long>(0 - v) : static_cast<long long>(v);
    return true;
}

}  // namespace

bool plain_decimal(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == start) return false;
    if (i < text.size() && text[i] == '.') {
        const std::size_t frac = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        if (i == frac) return false;
    }
    return i == text.size();
}

Shape::Shape(std::string text, Reach reach) : text_(std::move(text)), reach_(std::move(reach)) {
    // A declared shape is the component's own constant: its only '?' are
    // the places of its values, and it holds no quote, so that neither a
    // marker nor a value can hide in it.
    for (char c : text_) {
        if (c == '?') ++markers_;
        if (c == '\'' || c == '"' || c == '\0')
            raise(err::kInvalidCall, "Forme d'instruction invalide : " + text_, ErrorKind::kInternal);
    }
    id_ = g_next_id.fetch_add(1);
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.shapes.push_back(this);
}

Shape::Shape(std::string text) : text_(std::move(text)) {}

Shape::~Shape() {
    if (id_ < 0) return;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::erase(r.shapes, this);
}

Reach Shape::read(std::vector<std::string> tables, std::string column) {
    return Reach{ReadShape{lower(std::move(tables)), lower(std::move(column)), {}, {}}, {}};
}

Reach Shape::grouped_read(std::string table, std::vector<std::string> select_list,
                          std::vector<std::string> where_columns) {
    std::string column = select_list.size() == 1 ? select_list.front() : std::string();
    return Reach{ReadShape{{lower(std::move(table))},
                           lower(std::move(column)),
                           lower(std::move(select_list)),
                           lower(std::move(where_columns))},
                 {}};
}

Reach Shape::insert(std::string table, std::vector<std::string> columns) {
    return Reach{std::nullopt, WriteShape{'i', lower(std::move(table)), lower(std::move(columns))}};
}

Reach Shape::update(std::string table) { return Reach{std::nullopt, WriteShape{'u', lower(std::move(table)), {}}}; }

Reach Shape::remove(std::string table) { return Reach{std::nullopt, WriteShape{'d', lower(std::move(table)), {}}}; }

std::vector<const Shape*> Shape::all_declared() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.shapes;
}

Sql Sql::text(std::string text) {
    auto own = std::make_shared<const Shape>(std::move(text));
    Sql sql(*own);
    sql.own_ = std::move(own);
    return sql;
}

// Values are built where they stay: a national import builds some ten
// million of them.
SqlValue& Sql::add_value(std::string_view text) {
    SqlValue& v = values_.emplace_back();
    try {
        v.text.assign(text);
    } catch (...) {
        values_.pop_back();  // a value that could not be kept is not added
        throw;
    }
    return v;
}

Sql& Sql::quoted(std::string_view value) {
    add_value(value);
    return *this;
}

Sql& Sql::bare(std::string_view number) {
    if (!number.empty() && !plain_decimal(number))
        raise(err::kTypeMismatch, "Type incompatible : \"" + std::string(number) + "\" n'est pas un nombre");
    SqlValue& v = add_value(number);
    if (number.empty()) {
        v.kind = SqlValue::Kind::Empty;
        complete_ = false;
    } else if (number.find('.') != std::string_view::npos) {
        v.kind = SqlValue::Kind::Real;
    } else {
        v.kind = SqlValue::Kind::Integer;
        v.fits = whole_64(number, v.integer);
    }
    return *this;
}

Sql& Sql::bare(long long number) {
    values_.push_back(SqlValue{SqlValue::Kind::Integer, std::to_string(number), true, number});
    return *this;
}

std::string Sql::prepared_text() const {
    if (complete_) return shape_->text();
    std::string out;
    std::size_t v = 0;
    for (char c : shape_->text()) {
        if (c == '?' && v < values_.size() && values_[v++].kind == SqlValue::Kind::Empty) continue;
        out.push_back(c);
    }
    return out;
}

std::string Sql::inline_text() const {
    std::string out;
    out.reserve(shape_->text().size() + 16 * values_.size());
    std::size_t v = 0;
    for (char c : shape_->text()) {
        if (c != '?' || !shape_->declared() || v >= values_.size()) {
            out.push_back(c);
            continue;
        }
        const SqlValue& value = values_[v++];
        if (value.kind != SqlValue::Kind::Text) {
            out += value.text;
            continue;
        }
        out.push_back('\'');
        for (char ch : value.text) {
            out.push_back(ch);
            if (ch == '\'') out.push_back('\'');
        }
        out.push_back('\'');
    }
    return out;
}

}  // namespace ondival::platform
