// OEM <-> ANSI text conversion. ANSI is UTF-8; OEM is the code page chosen
// for the names at hand, else the one the environment variable DOVREL_OEMCP
// names (850, 852, 866, cp932, KOI8-R ...), else code page 437.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dvl::platform {

// Bytes that cannot be converted become "?", as the Windows functions do.
std::string OemToAnsi(std::string_view oem);
std::string AnsiToOem(std::string_view ansi);

// Chooses the OEM code page: a number (866) or any name iconv knows
// (CP932, SHIFT_JIS, KOI8-R); false for one it does not know. Empty goes
// back to DOVREL_OEMCP's or 437.
bool SetOemCodePage(const std::string& codePage);
// The code page in use, as iconv names it.
std::string CurrentOemCodePage();
// True when one was chosen or DOVREL_OEMCP names one.
bool OemCodePageGiven();
// The code page a set of names (their stored bytes) is in, when a detector
// can tell with confidence and it is not a Western one; empty otherwise.
std::string GuessCodePage(const std::vector<std::string>& names);

} // namespace dvl::platform
