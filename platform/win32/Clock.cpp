#include "platform/Clock.h"

#include <windows.h>

namespace platform {
namespace {

// Seconds from 1601-01-01 (the start of FILETIME) to 1970-01-01, and FILETIME ticks per second.
constexpr std::int64_t kEpochDifference = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;

LocalTime FromSystemTime(const SYSTEMTIME& st, std::int64_t offsetSeconds) {
    LocalTime local;
    local.year = st.wYear;
    local.month = st.wMonth;
    local.day = st.wDay;
    local.hour = st.wHour;
    local.minute = st.wMinute;
    local.second = st.wSecond;
    local.weekday = st.wDayOfWeek;
    local.utcOffsetMinutes = static_cast<int>(offsetSeconds / 60);
    return local;
}

std::int64_t Ticks(const FILETIME& ft) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                     ft.dwLowDateTime);
}

} // namespace

std::int64_t CurrentTime() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return Ticks(now) / kTicksPerSecond - kEpochDifference;
}

LocalTime ToLocalTime(std::int64_t time) {
    // FILETIME reaches from 1601 to beyond the year 30000; a moment outside that is not converted.
    if (time < -kEpochDifference || time > 0x7FFFFFFFFFFFFFFF / kTicksPerSecond - kEpochDifference)
        return LocalTime{};
    const std::uint64_t ticks = static_cast<std::uint64_t>(time + kEpochDifference) *
                                static_cast<std::uint64_t>(kTicksPerSecond);
    FILETIME utcFile{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc;
    if (!::FileTimeToSystemTime(&utcFile, &utc))
        return LocalTime{};
    // The system's zone, not the C runtime's: the runtime reads a TZ variable by rules of its
    // own, while the services and the task scheduler go by the zone set in Windows. The zone is
    // taken with the daylight-saving rules of that year, which a government may have changed
    // since (the year of the moment in UTC; no zone changes its rules at New Year).
    TIME_ZONE_INFORMATION zone{};
    SYSTEMTIME localTime;
    FILETIME localFile;
    if (::GetTimeZoneInformationForYear(utc.wYear, nullptr, &zone) &&
        ::SystemTimeToTzSpecificLocalTime(&zone, &utc, &localTime) &&
        ::SystemTimeToFileTime(&localTime, &localFile))
        return FromSystemTime(localTime, (Ticks(localFile) - Ticks(utcFile)) / kTicksPerSecond);
    return FromSystemTime(utc, 0);
}

} // namespace platform
