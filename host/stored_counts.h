// What a host database holds, for a host's summary before and after an
// import: clubs, licences and performances attached to a competition.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ondival::host {

struct StoredCounts {
    std::int64_t clubs = 0;
    std::int64_t licences = 0;
    std::int64_t performances = 0;  // attached to a competition: staged rows (-1) are not stored yet
};

// Counts through the platform's own connection, on a file or a server
// alike, and only reads. Any failure (no file, not a host database, no
// server) gives no figures rather than an error: a summary can do without.
std::optional<StoredCounts> count_stored(const std::string& database);

}  // namespace ondival::host
