// A licence.txt line of any bytes and any length, cut as the licence import
// cuts it. It may raise only the type mismatch of a licence number whose
// first two characters are not a year; whatever it returns must have the
// shape the licence import relies on when it writes the swimmer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/dos_letters.h"
#include "common/keyed_list.h"
#include "common/letters.h"
#include "fuzz/fuzz_checks.h"
#include "licences/licence_record.h"
#include "platform/clock.h"
#include "platform/error.h"

namespace {

using ondival::fuzz::require;

struct Lists {
    ondival::WidthList widths;
    ondival::TextList accents, capitals;
    Lists() {
        ondival::charge_largeurs_licence(widths);
        ondival::charge_accents(accents, capitals);
    }
};

bool digits_only(const std::string& s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Two-digit years are read against today: a fixed day keeps every
    // finding reproducible.
    ondival::platform::SetFixedClock(ondival::platform::LocalTime{2026, 12, 6, 14, 3, 27});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Lists lists;
    // The import hands the parser a line already through the DOS letters.
    const std::string line = ondival::accents_dos(std::string(reinterpret_cast<const char*>(data), size));

    ondival::LicenceRecord record;
    try {
        ondival::decoupe_licence(line, lists.widths, lists.accents, lists.capitals, record);
    } catch (const ondival::platform::Failure& f) {
        require(f.error().number == ondival::platform::err::kTypeMismatch, "licence: unexpected error number",
                f.what());
        return 0;
    }

    // Dates keep their characters as they stand, blanks included.
    for (std::size_t i = 0; i < record.size(); ++i) {
        if (i == 5 || i == 18 || i == 19) continue;
        const std::string& field = record[i];
        require(field.empty() || (field.front() != ' ' && field.back() != ' '), "licence: field not trimmed", field);
        require(field.size() <= static_cast<std::size_t>(lists.widths.Item(i + 1)),
                "licence: field wider than its column", field);
    }
    // Family names are compared and stored in plain capitals.
    const std::string& name = record[2];
    require(ondival::upper_1252(name) == name, "licence: family name not in capitals", name);
    // The dates are stored as yyyymmdd or not at all; the birth date always
    // has one, taken from the licence number when the line's disagrees
    // (a line without licence number has no year to take it from).
    for (std::size_t i : {std::size_t{18}, std::size_t{19}})
        require(record[i].empty() || record[i].size() == 8, "licence: date not yyyymmdd", record[i]);
    const std::string& birth = record[5];
    require(birth.size() == 8 || (birth.empty() && record[1].empty()), "licence: birth date missing", birth);
    require(birth.empty() || birth.substr(2, 2) == record[1].substr(0, 2) || digits_only(birth),
            "licence: birth date neither the line's nor the licence number's", birth);
    return 0;
}
