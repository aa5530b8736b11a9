#include "platform/times.h"

#include "platform/paths.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>

namespace dvl::platform {

namespace {

namespace chr = std::chrono;

constexpr int64_t kMsPerDay = 86'400'000;
// 1899-12-30, day 0 of date values, counted from 1970-01-01.
constexpr int64_t kEpochOffsetDays = -25569;
// Days of 0001-01-01 and of 9999-12-31; values reach to the end of both days.
constexpr int64_t kFirstDay = -693593;
constexpr int64_t kLastDay = 2958465;

// A date value from whole days and a time of day in [0, 1): before day 0 the
// time is subtracted, so that the fraction's absolute value stays the time.
double Combine(double date, double time) {
    return date < 0 ? date - time : date + time;
}

double DateValueFromTm(const std::tm& tm, int millisecond) {
    double date = 0, time = 0;
    if (!TryEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, date)) return 0;
    // A leap second shows up as second 60; it is kept within the minute.
    TryEncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec > 59 ? 59 : tm.tm_sec, millisecond, time);
    return Combine(date, time);
}

std::optional<std::time_t> MakeLocalTime(int year, int month, int day, int hour, int minute,
                                         int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    std::time_t t = mktime(&tm);
    // -1 is also a valid time (one second before 1970); mktime then sets the
    // fields to it, which tells the cases apart.
    if (t == std::time_t(-1) && !(tm.tm_year == 69 && tm.tm_mon == 11 && tm.tm_mday == 31 &&
                                  tm.tm_hour == 23 && tm.tm_min == 59 && tm.tm_sec == 59))
        return std::nullopt;
    return t;
}

} // namespace

bool TryEncodeDate(int year, int month, int day, double& value) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return false;
    chr::year_month_day ymd{chr::year{year}, chr::month{unsigned(month)}, chr::day{unsigned(day)}};
    if (!ymd.ok()) return false;
    value = double(chr::sys_days{ymd}.time_since_epoch().count() - kEpochOffsetDays);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, double& value) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        millisecond < 0 || millisecond > 999)
        return false;
    int64_t ms = ((int64_t(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
    value = double(ms) / double(kMsPerDay);
    return true;
}

DateTimeFields DecodeDateTime(double value) {
    // Values outside the calendar are clamped rather than left to undefined
    // float-to-integer conversions.
    if (!std::isfinite(value)) value = 0;
    const double edge = 1.0 - 1.0 / double(kMsPerDay);
    value = std::fmax(double(kFirstDay) - edge, std::fmin(value, double(kLastDay) + edge));

    // Rounding the whole magnitude to milliseconds carries a time that rounds
    // up to midnight into the next day (away from day 0 for negative values).
    const int64_t total = std::llround(std::fabs(value) * double(kMsPerDay));
    int64_t days = total / kMsPerDay;
    int64_t ms = total % kMsPerDay;
    if (value < 0) days = -days;
    if (days > kLastDay || days < kFirstDay) {
        days = days > kLastDay ? kLastDay : kFirstDay;
        ms = kMsPerDay - 1;
    }

    chr::year_month_day ymd{chr::sys_days{chr::days{days + kEpochOffsetDays}}};
    DateTimeFields f;
    f.year = int(ymd.year());
    f.month = int(unsigned(ymd.month()));
    f.day = int(unsigned(ymd.day()));
    f.millisecond = int(ms % 1000);
    ms /= 1000;
    f.second = int(ms % 60);
    ms /= 60;
    f.minute = int(ms % 60);
    f.hour = int(ms / 60);
    return f;
}

double DateValueFromUnix(std::time_t t) {
    std::tm tm;
    if (!localtime_r(&t, &tm)) return 0;
    return DateValueFromTm(tm, 0);
}

std::time_t UnixFromDateValue(double value) {
    DateTimeFields f = DecodeDateTime(value);
    return MakeLocalTime(f.year, f.month, f.day, f.hour, f.minute, f.second)
        .value_or(std::time_t(-1));
}

uint32_t DosDateTimeFromUnix(std::time_t t) {
    constexpr uint32_t kFirst = (1u << 21) | (1u << 16); // 1980-01-01 00:00:00
    std::tm tm;
    if (!localtime_r(&t, &tm) || tm.tm_year < 80) return kFirst;
    if (tm.tm_year > 80 + 127) // past 2107: the last value there is
        return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    const int second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
    return (uint32_t(tm.tm_year - 80) << 25) | (uint32_t(tm.tm_mon + 1) << 21) |
           (uint32_t(tm.tm_mday) << 16) | (uint32_t(tm.tm_hour) << 11) |
           (uint32_t(tm.tm_min) << 5) | uint32_t(second / 2);
}

std::optional<std::time_t> UnixFromDosDateTime(uint32_t dos) {
    const int second = int(dos & 0x1F) * 2;
    const int minute = int((dos >> 5) & 0x3F);
    const int hour = int((dos >> 11) & 0x1F);
    const int day = int((dos >> 16) & 0x1F);
    const int month = int((dos >> 21) & 0x0F);
    const int year = 1980 + int(dos >> 25);
    double date, time;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time))
        return std::nullopt;
    return MakeLocalTime(year, month, day, hour, minute, second);
}

double Now() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm;
    if (!localtime_r(&ts.tv_sec, &tm)) return 0;
    return DateValueFromTm(tm, int(ts.tv_nsec / 1'000'000));
}

std::optional<std::time_t> GetLastWriteTime(std::string_view winPath) {
    if (winPath.empty()) return std::nullopt;
    struct stat st;
    if (stat(ToNativePath(winPath).c_str(), &st) != 0) return std::nullopt;
    return st.st_mtime;
}

std::optional<double> GetLastWriteDateValue(std::string_view winPath) {
    auto t = GetLastWriteTime(winPath);
    if (!t) return std::nullopt;
    return DateValueFromUnix(*t);
}

bool SetLastWriteTime(std::string_view winPath, std::time_t t) {
    if (winPath.empty()) return false;
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = t;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, ToNativePath(winPath).c_str(), times, 0) == 0;
}

bool SetLastWriteDosDateTime(std::string_view winPath, uint32_t dos) {
    auto t = UnixFromDosDateTime(dos);
    return t && SetLastWriteTime(winPath, *t);
}

bool SetLastWriteTime(File& file, std::time_t t) {
    if (!file.IsOpen()) return false;
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = t;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return futimens(file.Descriptor(), times) == 0;
}

bool SetLastWriteDosDateTime(File& file, uint32_t dos) {
    auto t = UnixFromDosDateTime(dos);
    return t && SetLastWriteTime(file, *t);
}

TimeZoneBias GetTimeZoneBias() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);

    // The standard offset is the smaller of the offsets in January and July:
    // daylight time is ahead of standard time in both hemispheres.
    auto offsetOn = [&](int month) -> long {
        std::tm probe{};
        probe.tm_year = local.tm_year;
        probe.tm_mon = month;
        probe.tm_mday = 1;
        probe.tm_hour = 12;
        probe.tm_isdst = -1;
        std::time_t t = mktime(&probe);
        std::tm out{};
        if (t == std::time_t(-1) || !localtime_r(&t, &out)) return local.tm_gmtoff;
        return out.tm_gmtoff;
    };
    const long january = offsetOn(0);
    const long july = offsetOn(6);
    long standard = std::min(january, july);
    long daylight = std::max(january, july);
    if (standard == daylight) standard = daylight = local.tm_gmtoff;

    TimeZoneBias result;
    result.bias = int32_t(-standard / 60);
    result.standardBias = 0;
    result.daylightBias = int32_t(-(daylight - standard) / 60);
    // Decided by the offset rather than tm_isdst so that bias plus the bias in
    // force always gives the current offset, also where the zone data marks
    // the winter time as the daylight one.
    result.daylightInForce = daylight != standard && local.tm_gmtoff == daylight;
    return result;
}

} // namespace dvl::platform
