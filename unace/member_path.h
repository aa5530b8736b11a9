// The relative path under the destination folder that a stored member name
// may be written to.
#pragma once

#include <string>
#include <string_view>

namespace dvl::unace {

// Both separators count; a drive prefix, leading separators and empty, "."
// and ".." components are dropped, so the result never leaves the folder it is
// appended to. "\" separated; empty when nothing is left.
std::string ConfinedMemberPath(std::string_view name);

} // namespace dvl::unace
