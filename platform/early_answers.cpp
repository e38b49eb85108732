#include "platform/early_answers.h"

#include <algorithm>
#include <string_view>

namespace ondival::platform::pg {

bool all_among(const std::vector<std::string>& needles, const std::vector<std::string>& haystack) {
    for (const std::string& n : needles)
        if (std::find(haystack.begin(), haystack.end(), n) == haystack.end()) return false;
    return true;
}

namespace {

bool reads(const Answer& a, const std::string& table) {
    return std::find(a.tables.begin(), a.tables.end(), table) != a.tables.end();
}

}  // namespace

const Answer* EarlyAnswers::find(const std::string& key) const {
    const auto it = answers_.find(key);
    return it == answers_.end() ? nullptr : &it->second;
}

void EarlyAnswers::index(const std::string& key, const Answer& a) {
    indexed_tables_.insert(a.tables.begin(), a.tables.end());
    if (a.tables.size() == 1 && !a.literals.empty())
        touched_by_.emplace(a.tables.front() + '\0' + a.literals.front(), key);
    else
        for (const std::string& t : a.tables) touched_by_.emplace(t, key);
}

void EarlyAnswers::keep(const std::string& key, Answer answer) {
    index(key, answer);
    answers_[key] = std::move(answer);
}

void EarlyAnswers::start_batch(unsigned batch) {
    // The reads sent now serve the batch after the one about to start, so
    // an answer of a written table is kept while its batch or the next
    // may still ask for it.
    for (auto it = answers_.begin(); it != answers_.end();) {
        bool written = written_unknown_;
        for (const std::string& t : it->second.tables) written = written || written_.count(t) > 0;
        it = written && it->second.batch + 1 < batch ? answers_.erase(it) : std::next(it);
    }
    touched_by_.clear();
    indexed_tables_.clear();
    for (const auto& [key, answer] : answers_) index(key, answer);
}

void EarlyAnswers::table_written(const std::string& table) { written_.insert(table); }

void EarlyAnswers::write_sent(char kind, const std::string& table, std::vector<std::string> values) {
    if (!indexed_tables_.empty() && indexed_tables_.count(table)) {
        const auto touch = [&](const std::string& index_key, bool by_value) {
            const auto [from, to] = touched_by_.equal_range(index_key);
            for (auto it = from; it != to; ++it) {
                const auto answer = answers_.find(it->second);
                if (answer == answers_.end()) continue;
                if (!by_value || kind != 'i' || all_among(answer->second.literals, values)) answers_.erase(answer);
            }
        };
        touch(table, false);
        if (kind != 'i') {
            for (auto it = answers_.begin(); it != answers_.end();)
                it = reads(it->second, table) ? answers_.erase(it) : std::next(it);
        } else {
            // A value met twice finds nothing left to touch the second time.
            for (const std::string& v : values) touch(table + '\0' + v, true);
        }
    }
    if (!in_flight_.empty() && in_flight_.count(table)) log_.push_back(LoggedWrite{kind, table, std::move(values)});
}

void EarlyAnswers::unknown_write() {
    answers_.clear();
    touched_by_.clear();
    indexed_tables_.clear();
    written_unknown_ = true;
    if (!in_flight_.empty()) log_.push_back(LoggedWrite{0, {}, {}});
}

void EarlyAnswers::reads_sent(const std::vector<std::string>& tables) {
    for (const std::string& t : tables) ++in_flight_[t];
}

void EarlyAnswers::reads_in(const std::vector<std::string>& tables) {
    for (const std::string& t : tables)
        if (auto it = in_flight_.find(t); it != in_flight_.end() && --it->second <= 0) in_flight_.erase(it);
    if (in_flight_.empty()) clear_log();
}

void EarlyAnswers::clear_log() {
    log_base_ += log_.size();
    log_.clear();
}

bool EarlyAnswers::touched_since(const Answer& a, std::size_t log_from) const {
    for (std::size_t i = log_start(log_from); i < log_.size(); ++i) {
        const LoggedWrite& w = log_[i];
        if (w.kind == 0) return true;
        if (!reads(a, w.table)) continue;
        if (w.kind != 'i' || a.tables.size() > 1 || all_among(a.literals, w.values)) return true;
    }
    return false;
}

std::vector<char> EarlyAnswers::touched_members(const std::string& table,
                                                const std::vector<const std::vector<std::string>*>& literals,
                                                std::size_t log_from) const {
    std::vector<char> touched(literals.size(), 0);
    const std::size_t start = log_start(log_from);
    for (std::size_t i = start; i < log_.size(); ++i) {
        const LoggedWrite& w = log_[i];
        if (w.kind == 0 || (w.kind != 'i' && w.table == table)) return std::vector<char>(literals.size(), 1);
    }
    // An insert can only touch the members whose first value it carries.
    std::unordered_multimap<std::string_view, std::size_t> by_first;
    for (std::size_t m = 0; m < literals.size(); ++m) by_first.emplace(literals[m]->front(), m);
    for (std::size_t i = start; i < log_.size(); ++i) {
        const LoggedWrite& w = log_[i];
        if (w.table != table) continue;
        for (const std::string& v : w.values) {
            const auto [from, to] = by_first.equal_range(v);
            for (auto it = from; it != to; ++it)
                if (!touched[it->second] && all_among(*literals[it->second], w.values)) touched[it->second] = 1;
        }
    }
    return touched;
}

void EarlyAnswers::clear() {
    answers_.clear();
    touched_by_.clear();
    indexed_tables_.clear();
    in_flight_.clear();
    clear_log();
}

}  // namespace ondival::platform::pg
