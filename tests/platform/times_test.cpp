#include "platform/times.h"

#include "platform/paths.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>

namespace dvl::platform {
namespace {

using test::TempDir;
using test::WriteFile;

// Sets TZ for the lifetime of the object and restores the previous zone.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";

uint32_t Dos(int year, int month, int day, int hour, int minute, int second) {
    return uint32_t(year - 1980) << 25 | uint32_t(month) << 21 | uint32_t(day) << 16 |
           uint32_t(hour) << 11 | uint32_t(minute) << 5 | uint32_t(second / 2);
}

TEST(TimesEncode, DatesFollowTheCalendar) {
    struct Case {
        int year, month, day;
        std::optional<double> value;
    } cases[] = {
        {1899, 12, 30, 0.0},         {1899, 12, 29, -1.0},        {1900, 1, 1, 2.0},
        {1970, 1, 1, 25569.0},       {2000, 1, 1, 36526.0},       {2000, 2, 29, 36585.0},
        {1, 1, 1, -693593.0},        {9999, 12, 31, 2958465.0},   {2024, 12, 31, 45657.0},
        {1900, 2, 29, std::nullopt}, {2100, 2, 29, std::nullopt}, {2023, 2, 29, std::nullopt},
        {2023, 4, 31, std::nullopt}, {0, 1, 1, std::nullopt},     {10000, 1, 1, std::nullopt},
        {2000, 0, 1, std::nullopt},  {2000, 13, 1, std::nullopt}, {2000, 1, 0, std::nullopt},
        {2000, 1, 32, std::nullopt}, {-5, 1, 1, std::nullopt},
    };
    for (const Case& c : cases) {
        double value = 123.25;
        EXPECT_EQ(TryEncodeDate(c.year, c.month, c.day, value), c.value.has_value())
            << c.year << "-" << c.month << "-" << c.day;
        EXPECT_EQ(value, c.value.value_or(123.25)) << c.year << "-" << c.month << "-" << c.day;
    }
}

TEST(TimesEncode, TimesAreFractionsOfADay) {
    struct Case {
        int hour, minute, second, ms;
        std::optional<double> value;
    } cases[] = {
        {0, 0, 0, 0, 0.0},
        {12, 0, 0, 0, 0.5},
        {6, 0, 0, 0, 0.25},
        {23, 59, 59, 999, 86399999.0 / 86400000.0},
        {0, 0, 0, 1, 1.0 / 86400000.0},
        {24, 0, 0, 0, std::nullopt},
        {0, 60, 0, 0, std::nullopt},
        {0, 0, 60, 0, std::nullopt},
        {0, 0, 0, 1000, std::nullopt},
        {-1, 0, 0, 0, std::nullopt},
        {0, 0, 0, -1, std::nullopt},
    };
    for (const Case& c : cases) {
        double value = 7.0;
        EXPECT_EQ(TryEncodeTime(c.hour, c.minute, c.second, c.ms, value), c.value.has_value());
        EXPECT_DOUBLE_EQ(value, c.value.value_or(7.0));
    }
}

TEST(TimesDecode, InvertsEncodingIncludingNegativeValues) {
    struct Case {
        double value;
        DateTimeFields fields;
    } cases[] = {
        {0.0, {1899, 12, 30, 0, 0, 0, 0}},
        {-1.5, {1899, 12, 29, 12, 0, 0, 0}}, // the fraction's magnitude is the time
        {-0.25, {1899, 12, 30, 6, 0, 0, 0}},
        {36526.75, {2000, 1, 1, 18, 0, 0, 0}},
        {36526.9999999999, {2000, 1, 2, 0, 0, 0, 0}}, // rounds up into the next day
        {-1.9999999999, {1899, 12, 28, 0, 0, 0, 0}},
        {0.5 + 0.9 / 86400000.0, {1899, 12, 30, 12, 0, 0, 1}},
        {2958465.9999999, {9999, 12, 31, 23, 59, 59, 991}},
        {1e300, {9999, 12, 31, 23, 59, 59, 999}}, // clamped, not undefined
        {-1e300, {1, 1, 1, 23, 59, 59, 999}},
        {NAN, {1899, 12, 30, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        DateTimeFields f = DecodeDateTime(c.value);
        const DateTimeFields& e = c.fields;
        EXPECT_TRUE(f.year == e.year && f.month == e.month && f.day == e.day && f.hour == e.hour &&
                    f.minute == e.minute && f.second == e.second && f.millisecond == e.millisecond)
            << c.value << " gave " << f.year << "-" << f.month << "-" << f.day << " " << f.hour
            << ":" << f.minute << ":" << f.second << "." << f.millisecond;
    }

    // Random fields survive encoding and decoding to the millisecond.
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const int year = 1 + int(rng() % 9999), month = 1 + int(rng() % 12),
                  day = 1 + int(rng() % 28), hour = int(rng() % 24), minute = int(rng() % 60),
                  second = int(rng() % 60), ms = int(rng() % 1000);
        double date, time;
        ASSERT_TRUE(TryEncodeDate(year, month, day, date));
        ASSERT_TRUE(TryEncodeTime(hour, minute, second, ms, time));
        const double value = date < 0 ? date - time : date + time;
        const DateTimeFields f = DecodeDateTime(value);
        ASSERT_TRUE(f.year == year && f.month == month && f.day == day && f.hour == hour &&
                    f.minute == minute && f.second == second && f.millisecond == ms)
            << year << "-" << month << "-" << day << " " << hour << ":" << minute << ":" << second
            << "." << ms;
    }
}

TEST(TimesDos, LocalDateTimesBothWays) {
    ScopedTimeZone zone(kBerlin);
    struct Case {
        std::time_t unix;
        uint32_t dos;
    } cases[] = {
        {1625133601, Dos(2021, 7, 1, 12, 0, 0)},     // 10:00:01 UTC, summer: odd second dropped
        {1609502400, Dos(2021, 1, 1, 13, 0, 0)},     // 12:00 UTC, winter
        {315529200, Dos(1980, 1, 1, 0, 0, 0)},       // the first DOS time, local midnight
        {4354815599, Dos(2107, 12, 31, 23, 59, 58)}, // the last one
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DosDateTimeFromUnix(c.unix), c.dos) << c.unix;
        EXPECT_EQ(UnixFromDosDateTime(c.dos), c.unix - c.unix % 2) << c.unix;
    }
    // Before 1980 and after 2107 the nearest DOS time stands in.
    EXPECT_EQ(DosDateTimeFromUnix(0), Dos(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(DosDateTimeFromUnix(315529199), Dos(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(DosDateTimeFromUnix(-100000000), Dos(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(DosDateTimeFromUnix(4354815600 + 86400 * 400), Dos(2107, 12, 31, 23, 59, 58));
}

TEST(TimesDos, RejectsInvalidFields) {
    const uint32_t cases[] = {
        Dos(2020, 0, 1, 0, 0, 0),  Dos(2020, 13, 1, 0, 0, 0),
        Dos(2020, 2, 30, 0, 0, 0), Dos(2021, 2, 29, 0, 0, 0),
        Dos(2020, 1, 0, 0, 0, 0),  Dos(2020, 1, 1, 24, 0, 0),
        Dos(2020, 1, 1, 0, 60, 0), Dos(2020, 1, 1, 0, 0, 60),
        Dos(2020, 1, 1, 0, 0, 62), 0,
    };
    for (uint32_t dos : cases)
        EXPECT_EQ(UnixFromDosDateTime(dos), std::nullopt) << std::hex << dos;
    EXPECT_TRUE(UnixFromDosDateTime(Dos(2020, 2, 29, 23, 59, 58)).has_value());
}

TEST(TimesDateValue, IsLocalTime) {
    struct Case {
        const char* zone;
        std::time_t unix;
        double value;
    } cases[] = {
        {"UTC0", 0, 25569.0},
        {"UTC0", 1625140800, 44378.5}, // 2021-07-01 12:00 UTC
        {"EST5EDT", 0, 25569.0 - 5.0 / 24.0},
        {kBerlin, 1625140800, 44378.5 + 2.0 / 24.0},
        {"UTC0", -2209161600 - 43200, -1.5}, // 1899-12-29 12:00: day -1, time 0.5
        {"UTC0", -2209161600 - 86400 - 21600, -2.75},
    };
    for (const Case& c : cases) {
        ScopedTimeZone zone(c.zone);
        EXPECT_NEAR(DateValueFromUnix(c.unix), c.value, 1e-9) << c.zone << " " << c.unix;
        EXPECT_EQ(UnixFromDateValue(c.value), c.unix) << c.zone << " " << c.value;
    }
    {
        // Day 0 counts forward from midnight whichever the sign.
        ScopedTimeZone zone("UTC0");
        EXPECT_EQ(UnixFromDateValue(-0.5), -2209161600 + 43200);
    }
    ScopedTimeZone zone(kBerlin);
    const double now = Now();
    EXPECT_NEAR(now, DateValueFromUnix(std::time(nullptr)), 2.0 / 86400.0);
}

TEST(TimesFile, SetAndGetLastWriteTime) {
    ScopedTimeZone zone(kBerlin);
    TempDir dir;
    WriteFile(dir / "Stamp.txt", "x");
    const std::string path = ToWindowsPath((dir / "STAMP.TXT").string());

    ASSERT_TRUE(SetLastWriteTime(path, 1000000000));
    EXPECT_EQ(GetLastWriteTime(path), 1000000000);
    EXPECT_NEAR(*GetLastWriteDateValue(path), DateValueFromUnix(1000000000), 1e-9);

    const uint32_t dos = Dos(2019, 3, 31, 3, 30, 10); // just after the change to summer time
    ASSERT_TRUE(SetLastWriteDosDateTime(path, dos));
    EXPECT_EQ(DosDateTimeFromUnix(*GetLastWriteTime(path)), dos);

    EXPECT_FALSE(SetLastWriteDosDateTime(path, Dos(2019, 2, 30, 0, 0, 0)));
    EXPECT_EQ(DosDateTimeFromUnix(*GetLastWriteTime(path)), dos);
    const std::string missing = ToWindowsPath((dir / "missing").string());
    EXPECT_FALSE(SetLastWriteTime(missing, 1000000000));
    EXPECT_EQ(GetLastWriteTime(missing), std::nullopt);
    EXPECT_EQ(GetLastWriteDateValue(missing), std::nullopt);
}

TEST(TimesZone, BiasOfStandardAndDaylightTime) {
    struct Case {
        const char* zone;
        int32_t bias, daylightBias;
    } cases[] = {
        {"UTC0", 0, 0},
        {kBerlin, -60, -60},
        {"EST5EDT,M3.2.0,M11.1.0", 300, -60},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", -600, -60}, // southern hemisphere
        {"IST-5:30", -330, 0},
        {"NPT-5:45", -345, 0},
        {"<-03>3", 180, 0},
        {"LHST-10:30LHDT-11,M10.1.0,M4.1.0", -630, -30}, // half an hour of daylight time
    };
    for (const Case& c : cases) {
        ScopedTimeZone zone(c.zone);
        const TimeZoneBias b = GetTimeZoneBias();
        EXPECT_EQ(b.bias, c.bias) << c.zone;
        EXPECT_EQ(b.daylightBias, c.daylightBias) << c.zone;
        EXPECT_EQ(b.standardBias, 0) << c.zone;
        // UTC = local + bias (+ daylight bias when in force) must hold now.
        std::time_t now = std::time(nullptr);
        std::tm local;
        localtime_r(&now, &local);
        EXPECT_EQ(-(b.bias + (b.daylightInForce ? b.daylightBias : 0)) * 60L, local.tm_gmtoff)
            << c.zone;
        EXPECT_EQ(b.daylightInForce, local.tm_isdst > 0) << c.zone;
    }
}

} // namespace
} // namespace dvl::platform
