#include "platform/pending_answers.h"

namespace ondival::platform::pg {

// libpq ends each statement's results with a null; a statement that keeps
// giving nulls without a result is not going to answer.
constexpr int kMostIdleEnds = 1000;

void PendingAnswers::sync_sent() {
    ++syncs_sent_;
    pending_.push_back(Pending{Pending::kSync, {}, {}, {}, {}, {}, 0, 0, 0, 0});
}

PendingAnswers::Step PendingAnswers::take(PGresult* result, Handler& handler) {
    if (!result) {
        // The end of one statement's results.
        if (got_ && !pending_.empty()) {
            Pending done = std::move(pending_.front());
            pending_.pop_front();
            got_ = false;
            idle_ = 0;
            handler.over(done, true);
        } else if (++idle_ > kMostIdleEnds) {
            return Step::kOutOfStep;
        }
        return Step::kGoOn;
    }
    if (PQresultStatus(result) == PGRES_PIPELINE_SYNC) {
        PQclear(result);
        // Everything sent before this sync is over, answered or not (after
        // a failure the server skips what follows).
        for (bool first = true;; first = false) {
            if (pending_.empty()) return Step::kOutOfStep;  // a sync nobody sent
            Pending done = std::move(pending_.front());
            pending_.pop_front();
            if (done.kind == Pending::kSync) break;
            handler.over(done, first && got_);
        }
        got_ = false;
        idle_ = 0;
        ++syncs_read_;
        return Step::kBatchEnd;
    }
    if (pending_.empty() || pending_.front().kind == Pending::kSync || got_) {
        // More answers than questions: none can be trusted.
        PQclear(result);
        return Step::kOutOfStep;
    }
    got_ = true;
    handler.answered(pending_.front(), result);
    return Step::kGoOn;
}

void PendingAnswers::clear() {
    pending_.clear();
    got_ = false;
    idle_ = 0;
}

}  // namespace ondival::platform::pg
