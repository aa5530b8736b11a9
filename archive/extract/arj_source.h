// The entry source of ARJ archives and ARJ volume sets.
#pragma once

#include "archive/extract/source.h"

#include <cstdint>
#include <memory>
#include <string>

namespace dvl::extract {

// `start`: where the archive's main header lies in its file (zero-based).
std::unique_ptr<EntrySource> MakeArjSource(const std::string& archivePath, int64_t start,
                                           const SourceOptions& options);

} // namespace dvl::extract
