// Names of the volumes of a multi-volume set: name.ace, then name.c00,
// name.c01 ... name.c99, name.100, name.101 ...
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dvl::unace {

// The names the volume after `volume` may have, in the order to try them: the
// extension letter "C" in the letter case of the current extension first, then
// in the other case.
std::vector<std::string> NextVolumeNames(std::string_view volume);

} // namespace dvl::unace
