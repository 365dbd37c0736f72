#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>

#include "platform/DateTime.h"

namespace lv {
namespace {

// Unix time of a UTC date, computed without the code under test.
std::int64_t utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return timegm(&tm);
}

DosDateTime dos(int year, int month, int day, int hour, int minute, int second)
{
    return {std::uint16_t(((year - 1980) << 9) | (month << 5) | day),
            std::uint16_t((hour << 11) | (minute << 5) | (second / 2))};
}

// Runs every test in a zone with daylight saving time, whatever the machine's own zone.
class LocalTime : public testing::Test {
protected:
    void SetUp() override
    {
        if (const char* tz = std::getenv("TZ"))
            m_oldTz = tz;
        setZone("Europe/Berlin");
    }
    void TearDown() override
    {
        if (m_oldTz)
            setenv("TZ", m_oldTz->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void setZone(const char* zone)
    {
        setenv("TZ", zone, 1);
        tzset();
    }

private:
    std::optional<std::string> m_oldTz;
};

TEST_F(LocalTime, DosDatesTable)
{
    struct Case {
        const char* what;
        std::int64_t unixTime;
        DosDateTime expected;
        std::int64_t readBack;  // the Unix time the stored fields stand for
    };
    const std::int64_t first = utc(1979, 12, 31, 23);  // 1980-01-01 00:00 in Berlin
    const std::int64_t last = utc(2107, 12, 31, 22, 59, 58);
    const std::vector<Case> table = {
        {"summer, odd second", utc(2021, 7, 1, 12, 30, 31), dos(2021, 7, 1, 14, 30, 30), utc(2021, 7, 1, 12, 30, 30)},
        {"winter", utc(2021, 1, 15, 12), dos(2021, 1, 15, 13, 0, 0), utc(2021, 1, 15, 12)},
        {"first DOS date", first, dos(1980, 1, 1, 0, 0, 0), first},
        {"1979 is clamped", utc(1979, 6, 15, 12), dos(1980, 1, 1, 0, 0, 0), first},
        {"long before 1970", -5'000'000'000, dos(1980, 1, 1, 0, 0, 0), first},
        {"last DOS date", last, dos(2107, 12, 31, 23, 59, 58), last},
        {"2108 is clamped, not wrapped", utc(2108, 6, 1), dos(2107, 12, 31, 23, 59, 58), last},
        {"far future", std::numeric_limits<std::int64_t>::max(), dos(2107, 12, 31, 23, 59, 58), last},
    };
    for (const auto& c : table) {
        DosDateTime got = toDosDateTime(c.unixTime);
        EXPECT_EQ(got.date, c.expected.date) << c.what;
        EXPECT_EQ(got.time, c.expected.time) << c.what;
        EXPECT_EQ(fromDosDateTime(got), c.readBack) << c.what;
    }
}

TEST_F(LocalTime, DosDateZeroMeansNone)
{
    EXPECT_EQ(fromDosDateTime({0, 0}), std::nullopt);
    EXPECT_NE(fromDosDateTime({0, 1}), std::nullopt);
}

TEST_F(LocalTime, EachDateUsesTheOffsetInForceAtThatDate)
{
    const std::int64_t summer = utc(2021, 7, 1, 12);
    const std::int64_t winter = utc(2021, 1, 15, 12);
    EXPECT_EQ(utcOffsetAt(summer), 7200);
    EXPECT_EQ(utcOffsetAt(winter), 3600);

    EXPECT_EQ(toMacDate(summer), std::uint32_t(summer + 2082844800 + 7200));
    EXPECT_EQ(toMacDate(winter), std::uint32_t(winter + 2082844800 + 3600));
    EXPECT_EQ(fromMacDate(toMacDate(summer)), summer);
    EXPECT_EQ(fromMacDate(toMacDate(winter)), winter);
}

TEST_F(LocalTime, MacDates)
{
    EXPECT_EQ(fromMacDate(0), std::nullopt);
    // Mac dates round-trip through Unix time, across a year of both offsets.
    for (std::uint32_t mac : {1u, 3'000'000'000u, 3'700'000'000u, 3'715'000'000u, 4'000'000'000u}) {
        auto unixTime = fromMacDate(mac);
        ASSERT_TRUE(unixTime) << mac;
        EXPECT_EQ(toMacDate(*unixTime), mac);
    }
    EXPECT_EQ(toMacDate(-5'000'000'000), 0u);
    EXPECT_EQ(toMacDate(std::numeric_limits<std::int64_t>::max()), std::numeric_limits<std::uint32_t>::max());

    setZone("UTC");
    EXPECT_EQ(toMacDate(0), 2082844800u);
    EXPECT_EQ(fromMacDate(2082844800u), 0);
}

} // namespace
} // namespace lv
