// The answers a server import holds before the import asks for them: club
// and swimmer look-ups read ahead for the next lines, and the writes that
// may have changed them since.
//
// An import on a server sends its writes without waiting and reads the
// look-ups of the coming lines in batches. An answer read early may only
// be handed to the import while its own writes since cannot have changed
// it: this book keeps the answers, drops those a write may have changed,
// and remembers the writes sent while early reads were still on their way,
// so that their answers are checked against them when they come. What
// other sessions commit meanwhile it cannot know: an answer is no older
// than a batch of lines, as a line-by-line import's is no older than its
// statement. Writes it cannot see at all (the host's triggers and rules
// on the import's tables) keep the import line by line instead.
//
// It knows nothing of the server: the engine files and asks; the rules of
// what a write may change live here, where a test can try them alone.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/postgres_values.h"

namespace ondival::platform::pg {

// One read as the book files it: the server's own answer, or the rows
// picked out of a grouped answer; the tables it reads and its values (as
// the statement wrote them), and the batch of lines it was read for.
struct Answer {
    SharedResult result;
    Rows rows;
    int fields = 0;
    std::vector<std::string> tables;
    std::vector<std::string> literals;
    unsigned batch = 0;
};

// True when every value of `needles` is among `haystack`.
bool all_among(const std::vector<std::string>& needles, const std::vector<std::string>& haystack);

class EarlyAnswers {
public:
    // The answer filed under `key` (a statement's shape and values), or null.
    const Answer* find(const std::string& key) const;
    void keep(const std::string& key, Answer answer);

    // A new batch of lines begins: answers read for lines already handled
    // go, unless their tables were never written in this transaction (the
    // strokes, the geography), whose answers hold to the end.
    void start_batch(unsigned batch);

    // A table this transaction writes (told once per table and statement
    // shape, not once per row).
    void table_written(const std::string& table);

    // Whether a write to `table` may change an answer held or on its way:
    // only then does it need telling, with its values.
    bool depends_on(const std::string& table) const {
        return (!indexed_tables_.empty() && indexed_tables_.count(table)) ||
               (!in_flight_.empty() && in_flight_.count(table));
    }

    // A write sent: kind 'i' insert, 'u' update, 'd' delete, with the
    // values it carries. An insert only adds rows that carry its values, so
    // it changes only the answers of reads of one table whose values it all
    // carries; an update or a delete may change any answer of its table.
    void write_sent(char kind, const std::string& table, std::vector<std::string> values);

    // A write whose table cannot be told: nothing read before it holds.
    void unknown_write();

    // Early reads of `tables` sent, and their answers come in: the writes
    // sent between the two are logged, numbered from the first ever logged.
    void reads_sent(const std::vector<std::string>& tables);
    void reads_in(const std::vector<std::string>& tables);
    std::size_t logged() const { return log_base_ + log_.size(); }
    // No read is on its way any more: the writes logged concern none.
    void clear_log();

    // Whether a write logged from number `log_from` on may have changed
    // `answer` (the same rules as for answers held).
    bool touched_since(const Answer& answer, std::size_t log_from) const;
    // The same for the reads of one group (reads of `table` by their values,
    // `literals[m]` for member m), in one pass over the log: one flag per
    // member.
    std::vector<char> touched_members(const std::string& table,
                                      const std::vector<const std::vector<std::string>*>& literals,
                                      std::size_t log_from) const;

    // The transaction's speculation is over: nothing held, nothing logged.
    void clear();

private:
    struct LoggedWrite {
        char kind;  // as write_sent's; 0 for a write of unknown reach
        std::string table;
        std::vector<std::string> values;
    };

    void index(const std::string& key, const Answer& answer);
    std::size_t log_start(std::size_t log_from) const { return log_from < log_base_ ? 0 : log_from - log_base_; }

    std::unordered_map<std::string, Answer> answers_;
    // The answers a write to a table may touch: those of a read of one
    // table filed under table and first value (an insert touches it only if
    // it carries that value), the others under the table alone.
    std::unordered_multimap<std::string, std::string> touched_by_;
    std::unordered_set<std::string> indexed_tables_;  // with an answer in touched_by_
    std::unordered_set<std::string> written_;         // tables written in this transaction
    bool written_unknown_ = false;                    // by a write whose table could not be told
    // Early reads on their way, by table read, and the writes sent since
    // the first of them.
    std::unordered_map<std::string, int> in_flight_;
    std::vector<LoggedWrite> log_;
    std::size_t log_base_ = 0;  // log_[0] is the log_base_-th write logged
};

}  // namespace ondival::platform::pg
