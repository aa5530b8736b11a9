// The wildcard matcher of extraction and listing.
#pragma once

#include <string_view>

namespace dvl {

// Matches two names that may both hold "*" (any run, the empty one included)
// and "?" (any one character); a-z compare equal to A-Z. With namesOnly, only
// the name parts (after the last "\" or ":") are compared. A name without a
// dot matches a pattern with ".*" as if it ended in ".*"; a trailing dot is
// dropped.
bool MatchFileSpec(std::string_view a, std::string_view b, bool namesOnly);

} // namespace dvl
