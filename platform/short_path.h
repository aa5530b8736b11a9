// GetShortPathName: the 8.3 form of a path. POSIX file systems have no short
// names, so the documented fallback, the long path itself, is the answer.
#pragma once

#include <string>
#include <string_view>

namespace dvl::platform {

inline std::string GetShortPathName(std::string_view winPath) {
    return std::string(winPath);
}

} // namespace dvl::platform
