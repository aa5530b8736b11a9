// Cell texts of the main window's lists.
#pragma once

#include "dvl2/core/view.h"

#include <cstdint>
#include <string>

namespace dvl {
class TZipCommon;
}

namespace dvl::dvl2 {

// The date separator of the user's locale ("/" when it names none).
std::string SystemDateSeparator();

// "mm<sep>dd<sep>yy hh:mm" of a date value (days since 1899-12-30, local).
std::string FormatListDate(double dateValue, const std::string& separator);

// A ListView1 row from the lister's values for the current entry.
ZipListRow MakeZipListRow(const TZipCommon& entry, const std::string& separator);

// A ListView2 row (RAR and ACE): the two label texts and the unpacked size,
// signed 32-bit.
OtherListRow MakeOtherListRow(const std::string& archiveLabel, const std::string& fileLabel,
                              int32_t unpackedSize);

} // namespace dvl::dvl2
