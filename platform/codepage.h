// OEM <-> ANSI text conversion. ANSI is UTF-8; OEM is code page 437 unless the
// environment variable DOVREL_OEMCP names another (850, 852, 866 ...).
#pragma once

#include <string>
#include <string_view>

namespace dvl::platform {

// Bytes that cannot be converted become "?", as the Windows functions do.
std::string OemToAnsi(std::string_view oem);
std::string AnsiToOem(std::string_view ansi);

} // namespace dvl::platform
