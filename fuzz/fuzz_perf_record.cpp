// A liffn.txt line of any bytes and any length, cut as the performance
// import cuts it. It never raises; it refuses only a pool that is neither
// 25 nor 50 m, and then leaves the rest of the record as the import blanked
// it, so nothing of the refused line can reach the database.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/dos_letters.h"
#include "common/keyed_list.h"
#include "fuzz/fuzz_checks.h"
#include "perfs/perf_record.h"

namespace {

using ondival::fuzz::require;

struct Lists {
    ondival::WidthList widths;
    ondival::TextList accents, capitals;
    Lists() {
        ondival::charge_largeurs_liffn(widths);
        ondival::charge_accents(accents, capitals);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Lists lists;
    const std::string line = ondival::accents_dos(std::string(reinterpret_cast<const char*>(data), size));

    ondival::PerfRecord record;
    record.fill(std::string());
    std::string message;
    const bool cut = ondival::decoupe_liffn(line, lists.widths, lists.accents, lists.capitals, record, message);

    if (!cut) {
        require(message.rfind("Type de bassin incorrect : ", 0) == 0, "liffn: refusal without its reason", message);
        for (std::size_t i = 4; i < record.size(); ++i)
            require(record[i].empty(), "liffn: field filled after a refused pool", record[i]);
        return 0;
    }
    require(record[3] == "25" || record[3] == "50", "liffn: accepted pool length", record[3]);
    require(record[4].empty() || record[4].size() == 8, "liffn: date not yyyymmdd", record[4]);
    require(record[26].empty() || record[26] == "R", "liffn: relay mark", record[26]);
    // The date keeps its characters as they stand, blanks included.
    for (std::size_t i = 0; i < record.size(); ++i) {
        if (i == 4) continue;
        const std::string& field = record[i];
        require(field.empty() || (field.front() != ' ' && field.back() != ' '), "liffn: field not trimmed", field);
        require(field.size() <= static_cast<std::size_t>(lists.widths.Item(i + 1)),
                "liffn: field wider than its column", field);
    }
    return 0;
}
