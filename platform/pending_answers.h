// The statements a server import has sent down its pipeline and whose
// answers are still due, in the order they were sent, and how the results
// libpq hands back are matched to them.
//
// A speculating server import sends writes, reads ahead, checks of
// foreseen keys and syncs without waiting, and reads the answers later, in
// batches. Every answer must go to its own question: the server answers in
// order, each statement with its results followed by an end; after a
// failure it skips what follows up to the next sync, which closes the
// batch whatever was answered. An answer that cannot be placed (more
// answers than questions, a sync nobody sent, a statement that never ends)
// means none can be trusted any more. This book keeps that order; what each
// answer means (a write gone through, a key foreseen right, an answer to
// keep) is the engine's. It knows nothing of the session, so a test can
// feed it results made up for the purpose.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "platform/postgres_values.h"

namespace ondival::platform::pg {

// One read of a group asked in one query: its answer's key, its values as
// sent (UTF-8), and for a foreseen read the rows foreseen.
struct Member {
    std::string key;
    std::vector<std::string> values;
    std::vector<std::string> literals;
    Rows expected;
};

// A statement sent down the pipeline whose answer is still due, and what to
// do with it: an acknowledgement (a preparation, a setting) or a write only
// has to succeed; a foreseen read is checked; an early read is kept; a read
// the import waits for is handed over; a sync closes a batch.
struct Pending {
    enum Kind { kAck, kWrite, kVerify, kFetch, kWanted, kGroup, kGroupVerify, kSync } kind;
    std::string key;                    // kFetch, kWanted: the answer's key
    std::vector<std::string> tables;    // kFetch, kWanted, kGroup: the tables read; a write's table
    std::vector<std::string> literals;  // kFetch, kWanted: the read's values
    Rows expected;                      // kVerify
    std::vector<Member> members;        // kGroup, kGroupVerify
    std::size_t columns = 0;            // kGroup, kGroupVerify: the read's own columns
    std::size_t log_from = 0;           // kFetch, kGroup: the first write sent after it
    unsigned batch = 0;                 // kFetch, kGroup, kWanted: the batch of lines it serves
    // The import's statement it was sent for or ahead of (its number in
    // statements_run()).
    long ordinal = 0;
};

class PendingAnswers {
public:
    // What becomes of the statements as their answers come in.
    class Handler {
    public:
        virtual ~Handler() = default;
        // The result of `p`, the statement at the head of the book; the
        // handler owns it from then on.
        virtual void answered(Pending& p, PGresult* result) = 0;
        // `p` leaves the book: answered, or skipped by the server (after a
        // failure before it in its batch) or never answered.
        virtual void over(const Pending& p, bool answered) = 0;
    };

    enum class Step {
        kGoOn,      // the result was placed; more are due
        kBatchEnd,  // a sync came back: its batch is over
        kOutOfStep  // the result cannot be placed: no answer can be trusted any more
    };

    void sent(Pending p) { pending_.push_back(std::move(p)); }
    // Closes a batch: everything sent before it is answered or skipped when
    // the sync comes back.
    void sync_sent();

    // One result as libpq gives it, null for the end of a statement's
    // results; the book owns it (and hands it on, or frees it).
    Step take(PGresult* result, Handler& handler);

    bool empty() const { return pending_.empty(); }
    // Whether the last statement sent is a sync: nothing sent since waits
    // for one.
    bool closed() const { return pending_.empty() || pending_.back().kind == Pending::kSync; }
    unsigned syncs_sent() const { return syncs_sent_; }
    unsigned syncs_read() const { return syncs_read_; }
    void clear();

private:
    std::deque<Pending> pending_;
    unsigned syncs_sent_ = 0, syncs_read_ = 0;
    bool got_ = false;  // the head statement has had its result
    int idle_ = 0;      // ends of results met in a row with no result before them
};

}  // namespace ondival::platform::pg
