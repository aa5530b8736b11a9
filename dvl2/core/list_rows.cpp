#include "dvl2/core/list_rows.h"

#include "archive/text.h"
#include "archive/zip_common.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <langinfo.h>

namespace dvl::dvl2 {

namespace {

// Civil date of a day count since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t kUnixEpochDateValue = 25569;

} // namespace

std::string SystemDateSeparator() {
    // The first character of the locale's date format that is neither a
    // conversion nor a letter or digit.
    const char* format = nl_langinfo(D_FMT);
    for (const char* p = format; p && *p; ++p) {
        if (*p == '%') {
            if (p[1]) ++p;
            continue;
        }
        if (!std::isalnum(static_cast<unsigned char>(*p)) && *p != ' ') return std::string(1, *p);
    }
    return "/";
}

std::string FormatListDate(double dateValue, const std::string& separator) {
    if (!std::isfinite(dateValue)) dateValue = 0;
    // A date value's fraction is the time of day also for negative values,
    // so the day part and the time part are taken apart separately.
    double dayPart = std::trunc(dateValue);
    const double fraction = std::fabs(dateValue - dayPart);
    int64_t ms = std::llround(fraction * 86400000.0);
    if (ms >= 86400000) {
        ms -= 86400000;
        dayPart += dateValue < 0 ? -1 : 1;
    }
    int year = 0, month = 0, day = 0;
    CivilFromDays(int64_t(dayPart) - kUnixEpochDateValue, year, month, day);
    const int hour = int(ms / 3600000);
    const int minute = int(ms / 60000 % 60);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02d%s%02d%s%02d %02d:%02d", month, separator.c_str(),
                  day, separator.c_str(), ((year % 100) + 100) % 100, hour, minute);
    return buffer;
}

ZipListRow MakeZipListRow(const TZipCommon& entry, const std::string& separator) {
    return {ExtractFileName(entry.FileName), FormatListDate(entry.FileDate, separator),
            std::to_string(entry.PackedSize), std::to_string(entry.UnpackedSize),
            std::to_string(int(entry.Ratio)) + "%"};
}

OtherListRow MakeOtherListRow(const std::string& archiveLabel, const std::string& fileLabel,
                              int32_t unpackedSize) {
    return {archiveLabel, fileLabel, std::to_string(unpackedSize)};
}

} // namespace dvl::dvl2
