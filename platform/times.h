// Dates and times the Windows way: DOS date-times and date values are local time.
//
// A date value counts days since 1899-12-30 with the time of day as fraction.
// A DOS date-time has the time in its low word (seconds/2 in bits 0-4, minute
// 5-10, hour 11-15) and the date in its high word (day 16-20, month 21-24,
// years since 1980 25-31).
#pragma once

#include "platform/file.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>

namespace dvl::platform {

// Calendar arithmetic; false (and no change) when the fields are out of range.
bool TryEncodeDate(int year, int month, int day, double& value);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, double& value);
struct DateTimeFields {
    int year, month, day, hour, minute, second, millisecond;
};
DateTimeFields DecodeDateTime(double value);

// Conversions between a Unix time and local date values or DOS date-times.
double DateValueFromUnix(std::time_t t);
std::time_t UnixFromDateValue(double value);
uint32_t DosDateTimeFromUnix(std::time_t t); // 1980-01-01 for times before it
// Empty when the fields do not form a valid date and time.
std::optional<std::time_t> UnixFromDosDateTime(uint32_t dos);
double Now(); // current local time as a date value

// Last-write time of a file; empty when it cannot be read.
std::optional<std::time_t> GetLastWriteTime(std::string_view winPath);
std::optional<double> GetLastWriteDateValue(std::string_view winPath);
// Sets the last-write (and access) time; false when it could not be set.
bool SetLastWriteTime(std::string_view winPath, std::time_t t);
bool SetLastWriteDosDateTime(std::string_view winPath, uint32_t dos);
// The same for an open file.
bool SetLastWriteDosDateTime(File& file, uint32_t dos);
bool SetLastWriteTime(File& file, std::time_t t);

// The Windows time-zone information: UTC = local time + bias (minutes).
struct TimeZoneBias {
    int32_t bias;         // standard-time bias, e.g. -60 for UTC+1
    int32_t standardBias; // always 0 here
    int32_t daylightBias; // e.g. -60 where daylight time is one hour ahead
    bool daylightInForce; // daylight time is in force now
};
TimeZoneBias GetTimeZoneBias();

} // namespace dvl::platform
