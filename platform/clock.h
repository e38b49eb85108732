// Today's local date and time. The import names its competition after the
// day and expands two-digit birth years against today, so tests fix the
// clock instead of depending on the day they run.
#pragma once

#include <optional>
#include <string>

namespace ondival::platform {

struct LocalTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
};

LocalTime Now();

// Tests only: every later Now() returns `fixed` (nullopt: the real clock).
void SetFixedClock(std::optional<LocalTime> fixed);

// "06/12/2026 14:03:27": short date, a blank, long time, French style.
std::string GeneralDate(const LocalTime& t);
// "20261206".
std::string Yyyymmdd(const LocalTime& t);

}  // namespace ondival::platform
