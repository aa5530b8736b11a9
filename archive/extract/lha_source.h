// The entry source of LHA/LZH archives (and of LArc's, which share the headers).
#pragma once

#include "archive/extract/source.h"

#include <cstdint>
#include <memory>
#include <string>

namespace dvl::extract {

// `start`: where the first header lies in the file (zero-based).
std::unique_ptr<EntrySource> MakeLhaSource(const std::string& archivePath, int64_t start);

} // namespace dvl::extract
