// The entry source of ZOO archives.
#pragma once

#include "archive/extract/source.h"

#include <cstdint>
#include <memory>
#include <string>

namespace dvl::extract {

// `start`: where the archive header lies in its file (zero-based); the
// positions the archive stores count from the file's start.
std::unique_ptr<EntrySource> MakeZooSource(const std::string& archivePath, int64_t start);

} // namespace dvl::extract
