#include "archive/dates.h"

#include "platform/times.h"

namespace dvl {

double DosDateTimeToDateValue(uint32_t v) {
    if (v == 0) return kDosEpochDateValue;
    double date = 0, time = 0;
    int year = 1980 + int(v >> 25), month = int((v >> 21) & 0xF), day = int((v >> 16) & 0x1F);
    int hour = int((v >> 11) & 0x1F), minute = int((v >> 5) & 0x3F), second = 2 * int(v & 0x1F);
    if (!platform::TryEncodeDate(year, month, day, date) ||
        !platform::TryEncodeTime(hour, minute, second, 0, time))
        return kDosEpochDateValue;
    return date + time;
}

uint8_t ComputeRatio(int64_t packed, int64_t unpacked) {
    if (packed <= 0 || unpacked <= 0 || unpacked <= packed) return 0;
    // Large sizes are scaled down first, as the listing always did.
    if (unpacked - packed > 100000) {
        packed /= 100;
        unpacked /= 100;
    }
    if (unpacked <= 0) return 0;
    int64_t r = (unpacked - packed) * 100 / unpacked;
    return uint8_t(r == 0 ? 1 : r);
}

} // namespace dvl
