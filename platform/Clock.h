// The wall clock and the local time zone. Which zone is local, and whether daylight saving is in
// effect at a given moment, is the system's knowledge; the logic only asks through here.
#pragma once

#include <cstdint>

namespace platform {

// The current time in seconds since 1970 (UTC).
std::int64_t CurrentTime();

// A moment as the local civil time, with the offset from UTC that was in effect then.
struct LocalTime {
    int year = 1970;
    int month = 1;   // 1 to 12
    int day = 1;     // 1 to 31
    int hour = 0;    // 0 to 23
    int minute = 0;  // 0 to 59
    int second = 0;  // 0 to 60 (a leap second)
    int weekday = 4; // 0 Sunday to 6 Saturday
    // Local time minus UTC in minutes, daylight saving included (+120 in a central European
    // summer, -300 in a New York winter).
    int utcOffsetMinutes = 0;
};

// The local time at time. A moment the system cannot convert is given as UTC.
LocalTime ToLocalTime(std::int64_t time);

// Local time minus UTC in minutes at time, daylight saving included.
inline int LocalUtcOffsetMinutes(std::int64_t time) {
    return ToLocalTime(time).utcOffsetMinutes;
}

} // namespace platform
