// The entry source of cabinets and cabinet sets.
#pragma once

#include "archive/extract/source.h"

#include <cstdint>
#include <memory>
#include <string>

namespace dvl::extract {

// `start`: where the cabinet begins in its file (zero-based).
std::unique_ptr<EntrySource> MakeCabSource(const std::string& archivePath, int64_t start);

} // namespace dvl::extract
