#include "platform/clock.h"

#include <cstdio>
#include <ctime>

namespace ondival::platform {
namespace {

std::optional<LocalTime>& fixed_clock() {
    static std::optional<LocalTime> fixed;
    return fixed;
}

}  // namespace

LocalTime Now() {
    if (fixed_clock()) return *fixed_clock();
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void SetFixedClock(std::optional<LocalTime> fixed) { fixed_clock() = fixed; }

std::string GeneralDate(const LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.day % 100, t.month % 100, t.year % 10000,
                  t.hour % 100, t.minute % 100, t.second % 100);
    return buf;
}

std::string Yyyymmdd(const LocalTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", t.year % 10000, t.month % 100, t.day % 100);
    return buf;
}

}  // namespace ondival::platform
