#include "core/read_ahead.h"

#include "common/dos_letters.h"
#include "core/cst.h"
#include "core/speculation.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "platform/text_file.h"

namespace ondival {

ReadAhead::ReadAhead(const std::string& path, Lookups lookups) : path_(path), lookups_(std::move(lookups)) {}

ReadAhead::~ReadAhead() {
    if (open_) {
        try {
            platform::files().Close(kReadAheadFile);
        } catch (...) {
            // An input file has nothing to lose at its close.
        }
    }
}

void ReadAhead::before_line() {
    platform::Connection& db = *cst().objConnexion;
    if (db.SpeculationFailed()) throw TransactionRunAgain{};
    if (!db.Speculating() || done_) return;
    while (ready_ == 0) {
        if (exhausted_ && in_flight_ == 0) {
            done_ = true;
            return;
        }
        std::vector<platform::Sql> reads;
        const std::int32_t lines = exhausted_ ? 0 : read_batch(reads);
        // Sent even when empty: the answers of the batch before come back
        // with it, and the writes of the lines before are checked.
        db.Prefetch(reads);
        ready_ = in_flight_;
        in_flight_ = lines;
    }
    --ready_;
}

std::int32_t ReadAhead::read_batch(std::vector<platform::Sql>& reads) {
    platform::TextFiles& f = platform::files();
    std::int32_t lines = 0;
    try {
        if (!open_) {
            f.OpenInput(kReadAheadFile, path_);
            open_ = true;
        }
        std::string line;
        while (lines < kReadAheadLines && !f.Eof(kReadAheadFile)) {
            f.LineInput(kReadAheadFile, line);
            accents_dos_in_place(line);
            lookups_(line, reads);
            ++lines;
        }
        if (lines < kReadAheadLines) exhausted_ = true;
    } catch (const platform::Failure&) {
        // The import reads the file on its own and meets what went wrong
        // there at its own line; reading ahead just stops.
        exhausted_ = true;
    }
    return lines;
}

}  // namespace ondival
