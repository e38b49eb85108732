// The book of a server import's pending answers, tried without a server:
// results made up as libpq would hand them back (each statement's result,
// then an end; a sync's own result closing its batch) must each go to the
// statement they answer, statements the server skipped after a failure
// must be known as unanswered, and an answer that cannot be placed must
// stop all trust, never be handed to the next question.
#include "platform/pending_answers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ondival::platform::pg {
namespace {

// What the book did, one word per event: "a:W" answered statement W, "o:W"
// W over and answered, "u:W" W over unanswered; then how the feed ended.
class Journal : public PendingAnswers::Handler {
public:
    void answered(Pending& p, PGresult* result) override {
        events.push_back("a:" + p.key);
        PQclear(result);
    }
    void over(const Pending& p, bool answered) override { events.push_back((answered ? "o:" : "u:") + p.key); }
    std::vector<std::string> events;
};

// A feed, one character a result: 'r' a statement's result, 'e' the end of
// a statement's results, 's' a sync's result.
struct LedgerCase {
    std::string name;
    std::string sent;  // one character a statement: its name, or '|' for a sync
    std::string fed;
    std::vector<std::string> events;
    PendingAnswers::Step last;  // the step the last result gave
    unsigned syncs_read;
    bool empty_after;
};

class Ledger : public ::testing::TestWithParam<LedgerCase> {};

TEST_P(Ledger, PlacesEachAnswerOrStopsTrustingThem) {
    const LedgerCase& c = GetParam();
    PendingAnswers book;
    for (char ch : c.sent) {
        if (ch == '|') {
            book.sync_sent();
        } else {
            Pending p{Pending::kWrite, std::string(1, ch), {}, {}, {}, {}, 0};
            book.sent(std::move(p));
        }
    }
    Journal journal;
    PendingAnswers::Step step = PendingAnswers::Step::kGoOn;
    for (char ch : c.fed) {
        PGresult* r = ch == 'e'   ? nullptr
                      : ch == 's' ? PQmakeEmptyPGresult(nullptr, PGRES_PIPELINE_SYNC)
                                  : PQmakeEmptyPGresult(nullptr, PGRES_COMMAND_OK);
        step = book.take(r, journal);
        if (step == PendingAnswers::Step::kOutOfStep) break;
    }
    EXPECT_EQ(journal.events, c.events);
    EXPECT_EQ(step, c.last);
    EXPECT_EQ(book.syncs_read(), c.syncs_read);
    EXPECT_EQ(book.empty(), c.empty_after);
}

using Step = PendingAnswers::Step;

INSTANTIATE_TEST_SUITE_P(
    Each, Ledger,
    ::testing::Values(
        LedgerCase{"EachAnswerToItsStatement", "AB|", "reres", {"a:A", "o:A", "a:B", "o:B"}, Step::kBatchEnd, 1, true},
        LedgerCase{
            "TwoBatchesReadOneAfterTheOther", "A|B|", "resres", {"a:A", "o:A", "a:B", "o:B"}, Step::kBatchEnd, 2, true},
        LedgerCase{"ABatchStillOnItsWay", "A|B|", "res", {"a:A", "o:A"}, Step::kBatchEnd, 1, false},
        // After a failure the server skips the rest of the batch: the sync
        // closes statements that never had an answer.
        LedgerCase{"SkippedAfterAFailure", "ABC|", "res", {"a:A", "o:A", "u:B", "u:C"}, Step::kBatchEnd, 1, true},
        // A sync may come before the end of the last answered statement.
        LedgerCase{"ASyncRightAfterAResult", "AB|", "rs", {"a:A", "o:A", "u:B"}, Step::kBatchEnd, 1, true},
        LedgerCase{"NothingAnsweredInABatch", "AB|", "s", {"u:A", "u:B"}, Step::kBatchEnd, 1, true},
        LedgerCase{"TwoResultsForOneStatement", "AB|", "rr", {"a:A"}, Step::kOutOfStep, 0, false},
        LedgerCase{"AnAnswerWhereASyncIsDue", "A|", "rer", {"a:A", "o:A"}, Step::kOutOfStep, 0, false},
        LedgerCase{"ASyncNobodySent", "A|", "ress", {"a:A", "o:A"}, Step::kOutOfStep, 1, true},
        LedgerCase{"AnAnswerToNothing", "", "r", {}, Step::kOutOfStep, 0, true},
        LedgerCase{"AStatementThatNeverEnds", "A|", std::string(1001, 'e'), {}, Step::kOutOfStep, 0, false},
        LedgerCase{"AFewEndsAreNoHarm", "A|", "eeeres", {"a:A", "o:A"}, Step::kBatchEnd, 1, true}),
    [](const ::testing::TestParamInfo<LedgerCase>& info) { return info.param.name; });

// What is left to close: a sync sent last closes everything sent before it.
TEST(LedgerClosed, ASyncSentLastLeavesNothingOpen) {
    PendingAnswers book;
    EXPECT_TRUE(book.closed());
    book.sent(Pending{Pending::kWrite, "A", {}, {}, {}, {}, 0});
    EXPECT_FALSE(book.closed());
    book.sync_sent();
    EXPECT_TRUE(book.closed());
    EXPECT_EQ(book.syncs_sent(), 1u);
    book.clear();
    EXPECT_TRUE(book.empty());
}

}  // namespace
}  // namespace ondival::platform::pg
