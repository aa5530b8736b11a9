// Date values from archive fields, and the saving ratio.
#pragma once

#include <cstdint>

namespace dvl {

// 1 January 1980 00:00, the date of a zero or invalid DOS date-time.
constexpr double kDosEpochDateValue = 29221.0;

// A 32-bit DOS date-time (time in the low word) as a date value.
double DosDateTimeToDateValue(uint32_t dos);

// Saving in percent, 0..100; 0 when nothing was saved.
uint8_t ComputeRatio(int64_t packed, int64_t unpacked);

} // namespace dvl
