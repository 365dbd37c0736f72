#pragma once
// Date conversions between Unix time (seconds since 1970-01-01 UTC, the form every date has in
// this program), MS-DOS date and time (local time, as zip records keep them) and Mac dates
// (unsigned seconds since 1904-01-01 in local time, as MacBinary and Finder records keep them).
// Local conversions use the UTC offset in force at the date converted.

#include <cstdint>
#include <optional>

namespace lv {

// Names the default time zone when TZ is unset; call it first thing in main, before any thread
// starts. While TZ is unset, glibc reads the zone again on every mktime and replaces its record
// of it, which threads converting dates at once (the toolkit's and ours) would race on; named,
// the zone is read once.
void settleTimeZone();

// Offset from UTC, in seconds, of local time at the given Unix time (positive east of UTC).
std::int64_t utcOffsetAt(std::int64_t unixTime);

struct DosDateTime {
    std::uint16_t date = 0;  // bits 15-9 year - 1980, 8-5 month, 4-0 day
    std::uint16_t time = 0;  // bits 15-11 hour, 10-5 minute, 4-0 second / 2
};

// Local date of `unixTime` in MS-DOS form. Dates before 1980 become 1980-01-01 00:00:00,
// dates after 2107-12-31 23:59:58 are clamped to it; odd seconds round down.
DosDateTime toDosDateTime(std::int64_t unixTime);
// The fields a zip record stores for `unixTime`: as toDosDateTime, except that a date before 1980
// keeps its month, day and time (the year bits are 0).
DosDateTime toDosRecordFields(std::int64_t unixTime);
// The Unix time of a local MS-DOS date; nullopt when date and time are both 0 (no date).
// Out-of-range fields (month 0 or 13, day 0) are normalised as mktime does.
std::optional<std::int64_t> fromDosDateTime(DosDateTime dos);

// Local Mac date of `unixTime`, clamped to the 32-bit unsigned range.
std::uint32_t toMacDate(std::int64_t unixTime);
// The Unix time of a local Mac date; nullopt for 0, which means "no date".
std::optional<std::int64_t> fromMacDate(std::uint32_t macDate);

} // namespace lv
