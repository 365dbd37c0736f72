#include "platform/DateTime.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>

namespace lv {

namespace {

// Seconds from 1904-01-01 to 1970-01-01.
constexpr std::int64_t kMacEpochOffset = 2082844800;

bool localTime(std::int64_t unixTime, std::tm& out)
{
    if (unixTime < std::numeric_limits<std::time_t>::min() || unixTime > std::numeric_limits<std::time_t>::max())
        return false;
    std::time_t t = std::time_t(unixTime);
    return localtime_r(&t, &out) != nullptr;
}

// The Unix time of a broken-down local time; the zone rules decide whether DST is in force.
std::optional<std::int64_t> fromLocal(std::tm tm)
{
    tm.tm_isdst = -1;
    // -1 is also a valid time (1969-12-31 23:59:59 UTC): a failed mktime leaves tm_yday alone.
    tm.tm_yday = -1;
    // With TZ unset, glibc's mktime reads the zone again on every call and replaces its record
    // of it, under a lock of its own that no tool sees: threads converting dates at once take
    // turns here, so the C library is used as it documents and a race detector can tell.
    static std::mutex zoneUse;
    std::time_t t;
    {
        std::lock_guard lock(zoneUse);
        t = std::mktime(&tm);
    }
    if (t == std::time_t(-1) && tm.tm_yday == -1)
        return std::nullopt;
    return std::int64_t(t);
}

DosDateTime encodeDos(int year, int month, int day, int hour, int minute, int second)
{
    DosDateTime dos;
    dos.date = std::uint16_t(((year - 1980) << 9) | (month << 5) | day);
    dos.time = std::uint16_t((hour << 11) | (minute << 5) | (second / 2));
    return dos;
}

} // namespace

void settleTimeZone()
{
    // The zone glibc takes when TZ is unset.
    if (!std::getenv("TZ"))
        ::setenv("TZ", ":/etc/localtime", 0);
    ::tzset();
}

std::int64_t utcOffsetAt(std::int64_t unixTime)
{
    std::tm tm{};
    if (!localTime(unixTime, tm))
        return 0;
    return tm.tm_gmtoff;
}

DosDateTime toDosDateTime(std::int64_t unixTime)
{
    const DosDateTime earliest = encodeDos(1980, 1, 1, 0, 0, 0);
    const DosDateTime latest = encodeDos(2107, 12, 31, 23, 59, 58);
    std::tm tm{};
    if (!localTime(unixTime, tm))
        return unixTime < 0 ? earliest : latest;
    int year = tm.tm_year + 1900;
    if (year < 1980)
        return earliest;
    if (year > 2107)
        return latest;
    // A leap second (60) is kept inside the field's range.
    return encodeDos(year, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, std::min(tm.tm_sec, 59));
}

DosDateTime toDosRecordFields(std::int64_t unixTime)
{
    std::tm tm{};
    if (localTime(unixTime, tm) && tm.tm_year + 1900 < 1980)
        return encodeDos(1980, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, std::min(tm.tm_sec, 59));
    return toDosDateTime(unixTime);
}

std::optional<std::int64_t> fromDosDateTime(DosDateTime dos)
{
    if (dos.date == 0 && dos.time == 0)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = (dos.date >> 9) + 1980 - 1900;
    tm.tm_mon = ((dos.date >> 5) & 0x0F) - 1;
    tm.tm_mday = dos.date & 0x1F;
    tm.tm_hour = dos.time >> 11;
    tm.tm_min = (dos.time >> 5) & 0x3F;
    tm.tm_sec = (dos.time & 0x1F) * 2;
    return fromLocal(tm);
}

std::uint32_t toMacDate(std::int64_t unixTime)
{
    // Unix times this far out are of no use as dates; the bound keeps the sum from overflowing.
    constexpr std::int64_t kBound = std::int64_t(1) << 40;
    if (unixTime < -kBound)
        return 0;
    if (unixTime > kBound)
        return std::numeric_limits<std::uint32_t>::max();
    std::int64_t mac = unixTime + kMacEpochOffset + utcOffsetAt(unixTime);
    if (mac < 0)
        return 0;
    if (mac > std::int64_t(std::numeric_limits<std::uint32_t>::max()))
        return std::numeric_limits<std::uint32_t>::max();
    return std::uint32_t(mac);
}

std::optional<std::int64_t> fromMacDate(std::uint32_t macDate)
{
    if (macDate == 0)
        return std::nullopt;
    // The Mac date counts local seconds: read its fields as if they were UTC, then let the zone
    // rules in force at that date turn them into a Unix time.
    std::time_t local = std::time_t(std::int64_t(macDate) - kMacEpochOffset);
    std::tm tm{};
    if (!gmtime_r(&local, &tm))
        return std::nullopt;
    return fromLocal(tm);
}

} // namespace lv
