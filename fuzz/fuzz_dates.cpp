// Any text through the date functions the imports use on licence numbers,
// birth dates and performance dates. The only error they may raise is the
// type mismatch of a text that is not a date; a date they accept keeps
// its shape from one form to the next, since the age at a performance is
// computed by writing a date out and reading it back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/dates.h"
#include "fuzz/fuzz_checks.h"
#include "platform/clock.h"
#include "platform/error.h"

namespace {

using ondival::fuzz::require;
namespace platform = ondival::platform;

bool digits_only(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

int number(std::string_view digits) { return std::stoi(std::string(digits)); }

// Runs one function; a type mismatch is its documented answer to a text
// that is not a date, anything else escapes and is a finding.
template <typename Call>
bool accepted(Call&& call) {
    try {
        call();
        return true;
    } catch (const platform::Failure& f) {
        require(f.error().number == platform::err::kTypeMismatch, "dates: unexpected error number", f.what());
        return false;
    }
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    platform::SetFixedClock(platform::LocalTime{2026, 12, 6, 14, 3, 27});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // "text|pattern" tries the patterns the trace and the age use.
    const std::size_t bar = input.find('|');
    const std::string_view text = input.substr(0, bar);
    const std::string_view pattern = bar == std::string_view::npos ? std::string_view() : input.substr(bar + 1);

    std::string year_start;
    if (accepted([&] { year_start = ondival::date_annee(text); })) {
        require(year_start.size() == 8 && digits_only(year_start) && year_start.substr(4) == "0101",
                "date_annee: not 1 January as yyyymmdd", year_start);
        const std::string_view y = trimmed(text);
        const int year = number(year_start.substr(0, 4));
        if (y.size() <= 2)
            require(year >= 1927 && year <= 2026, "date_annee: two-digit year outside the century before today",
                    year_start);
        else
            require(year == number(y) || year == number(y) - 100, "date_annee: four-digit year changed", year_start);
    }

    const std::string stored = ondival::date_aaaammjj(text);
    require(stored.empty() || stored.size() == 8, "date_aaaammjj: not yyyymmdd", stored);
    if (!stored.empty())
        require(stored ==
                    std::string(text.substr(4, 4)) + std::string(text.substr(2, 2)) + std::string(text.substr(0, 2)),
                "date_aaaammjj: fields moved", stored);
    if (text.size() == 8) (void)ondival::date_valide(text.substr(4, 4), text.substr(2, 2), text.substr(0, 2));

    // The age at a performance: the stored date written out, then read back.
    for (const std::string_view yyyymmdd : {text, std::string_view(stored)}) {
        std::string written;
        if (!accepted([&] { written = ondival::date_texte(yyyymmdd); })) continue;
        require(written.empty() == (yyyymmdd.size() != 8), "date_texte: empty for a date", written);
        if (written.empty()) continue;
        ondival::CalendarDate read;
        require(accepted([&] { read = ondival::lit_date(written); }), "lit_date refuses what date_texte wrote",
                written);
        require(read.year == number(yyyymmdd.substr(0, 4)) && read.month == number(yyyymmdd.substr(4, 2)) &&
                    read.day == number(yyyymmdd.substr(6, 2)),
                "date_texte then lit_date changed the date", written);
    }
    (void)accepted([&] { (void)ondival::date_texte(text, pattern); });

    // The age reads a stored date without the text between: the same date,
    // or a refusal with the same message.
    std::string through_text, direct;
    ondival::CalendarDate via{}, read{};
    const bool via_ok = accepted([&] {
        try {
            via = ondival::lit_date(ondival::date_texte(text));
        } catch (const platform::Failure& f) {
            through_text = f.error().description;
            throw;
        }
    });
    const bool read_ok = accepted([&] {
        try {
            read = ondival::read_stored_date(text);
        } catch (const platform::Failure& f) {
            direct = f.error().description;
            throw;
        }
    });
    require(via_ok == read_ok && through_text == direct, "read_stored_date differs from lit_date(date_texte)", text);
    if (via_ok)
        require(via.year == read.year && via.month == read.month && via.day == read.day,
                "read_stored_date read another date", text);

    ondival::CalendarDate any;
    if (accepted([&] { any = ondival::lit_date(input); }))
        require(any.month >= 1 && any.month <= 12 && any.day >= 1 && any.day <= 31, "lit_date: impossible date", input);
    return 0;
}
