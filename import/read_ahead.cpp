#include "import/read_ahead.h"

#include "common/dos_letters.h"
#include "import/cst.h"
#include "import/speculation.h"
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
    if (db.SpeculationFailed())
        platform::raise(platform::err::kInvalidCall, "Importation reprise pas à pas"_w);
    if (!db.Speculating() || done_) return;
    if (ahead_ > 0) {
        --ahead_;
        return;
    }
    read_batch();
    if (ahead_ > 0) --ahead_;
}

void ReadAhead::read_batch() {
    platform::TextFiles& f = platform::files();
    std::vector<std::string> reads;
    try {
        if (!open_) {
            f.OpenInput(kReadAheadFile, path_);
            open_ = true;
        }
        std::string line;
        while (ahead_ < kReadAheadLines && !f.Eof(kReadAheadFile)) {
            f.LineInput(kReadAheadFile, line);
            accents_dos_in_place(line);
            lookups_(line, reads);
            ++ahead_;
        }
    } catch (const platform::Failure&) {
        // The import reads the file on its own and meets what went wrong
        // there at its own line; reading ahead just stops.
        done_ = true;
    }
    if (ahead_ == 0) done_ = true;
    // Sent even when empty: the writes of the lines before are then
    // checked, and the server's answers never pile up.
    cst().objConnexion->Prefetch(reads);
}

}  // namespace ondival
