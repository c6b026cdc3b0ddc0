#include "platform/Clock.h"

#include <ctime>

namespace platform {
namespace {

LocalTime FromTm(const std::tm& tm, long offsetSeconds) {
    LocalTime local;
    local.year = tm.tm_year + 1900;
    local.month = tm.tm_mon + 1;
    local.day = tm.tm_mday;
    local.hour = tm.tm_hour;
    local.minute = tm.tm_min;
    local.second = tm.tm_sec;
    local.weekday = tm.tm_wday;
    local.utcOffsetMinutes = static_cast<int>(offsetSeconds / 60);
    return local;
}

} // namespace

std::int64_t CurrentTime() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

LocalTime ToLocalTime(std::int64_t time) {
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm tm{};
    // localtime_r need not notice a changed TZ by itself; tzset makes it read the zone anew,
    // so a process whose zone was changed still reports the right offset.
    ::tzset();
    if (::localtime_r(&t, &tm) != nullptr)
        return FromTm(tm, tm.tm_gmtoff); // the zone's offset at that moment, DST included
    if (::gmtime_r(&t, &tm) != nullptr)
        return FromTm(tm, 0);
    return LocalTime{};
}

} // namespace platform
