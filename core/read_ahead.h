// The lookups of the lines ahead of a file import, sent to a database
// server together before the lines are handled, so that a national export
// pays one round trip per batch of lines instead of one per lookup.
//
// The data file is opened a second time and read ahead in batches; each
// line's lookups (the very statements the import will run, built by the
// same functions) go to the connection, which keeps the answers for
// the reads to come. Two batches are on their way at a time: while the
// import works through one, the server answers the next, so that neither
// waits for the other. It is only a way to ask earlier: a line read ahead
// differently, a lookup missed or one the import never makes costs a round
// trip or a read, never a different answer. It does nothing unless the
// connection speculates.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/statement.h"

namespace ondival {

class ReadAhead {
public:
    using Lookups = std::function<void(const std::string& line, std::vector<platform::Sql>& reads)>;

    ReadAhead(const std::string& path, Lookups lookups);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Before each line of the file is read. Ends the import's run over the
    // file (by throwing TransactionRunAgain, see speculation.h) once the
    // transaction is known to be run again.
    void before_line();

private:
    // Reads up to a batch of lines and adds their lookups; the lines read.
    std::int32_t read_batch(std::vector<platform::Sql>& reads);

    std::string path_;
    Lookups lookups_;
    bool open_ = false, exhausted_ = false, done_ = false;
    std::int32_t ready_ = 0;      // lines ahead whose answers are in
    std::int32_t in_flight_ = 0;  // lines after them, whose answers are on their way
};

// Lines read ahead in one batch: a round trip per batch, and the answers of
// one batch held in memory at a time.
inline constexpr std::int32_t kReadAheadLines = 500;

}  // namespace ondival
