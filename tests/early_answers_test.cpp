// A server import hands the import answers it read early. Each must be the
// answer a line-by-line run would get at that moment: an answer kept after
// a write that changed it would give a swimmer created twice, or a licence
// read as unknown right after its own insert. These cases try the rules
// alone, without a server: which writes drop which answers, and which
// writes sent while reads travelled spoil their answers when they come.
#include "platform/early_answers.h"

#include <gtest/gtest.h>

namespace ondival::platform::pg {
namespace {

Answer answer(std::vector<std::string> tables, std::vector<std::string> literals, unsigned batch = 0) {
    Answer a;
    a.rows = {{std::string("42")}};
    a.fields = 1;
    a.tables = std::move(tables);
    a.literals = std::move(literals);
    a.batch = batch;
    return a;
}

// The look-up of a swimmer by club and licence number, held before a write.
struct WriteCase {
    const char* name;
    std::vector<std::string> read_tables;
    std::vector<std::string> read_values;
    char kind;  // 0: a write whose table cannot be told
    std::string table;
    std::vector<std::string> values;
    bool dropped;
};

class WriteOnHeldAnswer : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteOnHeldAnswer, DropsExactlyTheAnswersItMayChange) {
    const WriteCase& c = GetParam();
    EarlyAnswers book;
    book.keep("read", answer(c.read_tables, c.read_values));
    book.keep("stroke", answer({"nage"}, {"18"}));
    if (c.kind == 0) {
        book.unknown_write();
    } else {
        ASSERT_TRUE(!c.dropped || book.depends_on(c.table)) << "a write that drops an answer must be told";
        if (book.depends_on(c.table)) book.write_sent(c.kind, c.table, c.values);
    }
    EXPECT_EQ(book.find("read") == nullptr, c.dropped);
    EXPECT_EQ(book.find("stroke") == nullptr, c.kind == 0) << "the strokes are written by nothing but a blind write";
}

INSTANTIATE_TEST_SUITE_P(
    Each, WriteOnHeldAnswer,
    ::testing::Values(
        WriteCase{"InsertOfTheSwimmerLookedUp",
                  {"licence"},
                  {"FRA0000000001", "851234"},
                  'i',
                  "licence",
                  {"DUPONT", "FRA0000000001", "851234", "19850101"},
                  true},
        WriteCase{"InsertOfAnotherSwimmerOfTheClub",
                  {"licence"},
                  {"FRA0000000001", "851234"},
                  'i',
                  "licence",
                  {"DURAND", "FRA0000000001", "851235", "19850101"},
                  false},
        WriteCase{"InsertOfTheSameNumberInAnotherClub",
                  {"licence"},
                  {"FRA0000000001", "851234"},
                  'i',
                  "licence",
                  {"DUPONT", "FRA0000000002", "851234"},
                  false},
        WriteCase{"InsertIntoAnotherTable",
                  {"licence"},
                  {"FRA0000000001", "851234"},
                  'i',
                  "club",
                  {"FRA0000000001", "851234"},
                  false},
        WriteCase{"UpdateOfTheTable", {"club"}, {"FRA0000000001"}, 'u', "club", {"Null"}, true},
        WriteCase{"DeleteFromTheTable", {"liffn"}, {"-1"}, 'd', "liffn", {}, true},
        WriteCase{"InsertIntoOneTableOfAJoin", {"region", "departement"}, {"75"}, 'i', "departement", {"13"}, true},
        WriteCase{"InsertIntoATableCountedWhole", {"rcomp"}, {}, 'i', "rcomp", {"2ème import perf"}, true},
        WriteCase{"WriteOfUnknownReach", {"licence"}, {"FRA0000000001", "851234"}, 0, "", {}, true}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

// Writes sent while an early read of the licences is on its way: when its
// answer comes, it is kept only if none of them could have changed it.
struct FlightCase {
    const char* name;
    char kind;
    std::string table;
    std::vector<std::string> values;
    bool spoiled;
};

class WriteWhileReadTravels : public ::testing::TestWithParam<FlightCase> {};

TEST_P(WriteWhileReadTravels, SpoilsTheAnswersItMayChange) {
    const FlightCase& c = GetParam();
    EarlyAnswers book;
    const std::vector<std::string> tables{"licence"};
    const Answer single = answer(tables, {"FRA0000000001", "851234"});
    const std::vector<std::vector<std::string>> members{{"FRA0000000001", "851234"},
                                                        {"FRA0000000001", "851235"},
                                                        {"FRA0000000002", "851234"}};
    std::vector<const std::vector<std::string>*> member_literals;
    for (const auto& m : members) member_literals.push_back(&m);

    book.reads_sent(tables);
    const std::size_t from = book.logged();
    EXPECT_TRUE(book.depends_on("licence"));
    if (c.kind == 0)
        book.unknown_write();
    else if (book.depends_on(c.table))
        book.write_sent(c.kind, c.table, c.values);

    EXPECT_EQ(book.touched_since(single, from), c.spoiled);
    const std::vector<char> touched = book.touched_members("licence", member_literals, from);
    EXPECT_EQ(touched[0] != 0, c.spoiled) << "the member with the single read's values";
    // The other members carry values no insert of these cases holds: only
    // a write that may change the whole table spoils them.
    const bool whole_table = c.kind == 0 || (c.kind != 'i' && c.table == "licence");
    EXPECT_EQ(touched[1] != 0, whole_table);
    EXPECT_EQ(touched[2] != 0, whole_table);

    // Once every read is in, nothing logged concerns the next reads.
    book.reads_in(tables);
    EXPECT_FALSE(book.touched_since(single, book.logged()));
    EXPECT_FALSE(book.depends_on("licence"));
}

INSTANTIATE_TEST_SUITE_P(
    Each, WriteWhileReadTravels,
    ::testing::Values(
        FlightCase{"InsertOfTheSwimmerRead", 'i', "licence", {"DUPONT", "FRA0000000001", "851234"}, true},
        FlightCase{"InsertOfAnotherSwimmer", 'i', "licence", {"DURAND", "FRA0000000001", "851236"}, false},
        FlightCase{"InsertIntoATableNotRead", 'i', "club", {"FRA0000000001", "851234"}, false},
        FlightCase{"UpdateOfTheTableRead", 'u', "licence", {"851234"}, true},
        FlightCase{"DeleteFromTheTableRead", 'd', "licence", {}, true},
        FlightCase{"WriteOfUnknownReach", 0, "", {}, true}),
    [](const ::testing::TestParamInfo<FlightCase>& info) { return std::string(info.param.name); });

// Writes sent before a read do not spoil its answer: the server saw them.
TEST(EarlyAnswers, WritesLoggedBeforeAReadWasSentDoNotSpoilIt) {
    EarlyAnswers book;
    const std::vector<std::string> tables{"licence"};
    book.reads_sent(tables);
    book.write_sent('i', "licence", {"FRA0000000001", "851234"});
    const std::size_t from = book.logged();
    book.reads_sent(tables);
    EXPECT_FALSE(book.touched_since(answer(tables, {"FRA0000000001", "851234"}), from));
    EXPECT_TRUE(book.touched_since(answer(tables, {"FRA0000000001", "851234"}), from - 1));
}

// From batch to batch: an answer of a table the transaction writes serves
// its batch and the next, then goes; an answer of a table never written
// (the strokes) is asked once for the whole import.
TEST(EarlyAnswers, AnswersOfWrittenTablesLastTwoBatches) {
    EarlyAnswers book;
    book.table_written("licence");
    book.keep("swimmer", answer({"licence"}, {"FRA0000000001", "851234"}, 1));
    book.keep("stroke", answer({"nage"}, {"18"}, 1));
    book.start_batch(2);
    EXPECT_NE(book.find("swimmer"), nullptr);
    book.start_batch(3);
    EXPECT_EQ(book.find("swimmer"), nullptr);
    EXPECT_NE(book.find("stroke"), nullptr);
    // Still indexed after the batch change: an update of the strokes' table
    // reaches the answer kept from the first batch.
    ASSERT_TRUE(book.depends_on("nage"));
    book.write_sent('u', "nage", {});
    EXPECT_EQ(book.find("stroke"), nullptr);
}

TEST(EarlyAnswers, AfterAWriteOfUnknownReachNoTableIsSafeFromBatchToBatch) {
    EarlyAnswers book;
    book.unknown_write();
    book.keep("stroke", answer({"nage"}, {"18"}, 1));
    book.start_batch(3);
    EXPECT_EQ(book.find("stroke"), nullptr);
}

}  // namespace
}  // namespace ondival::platform::pg
