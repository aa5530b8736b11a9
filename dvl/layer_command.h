// dvl x and dvl t through the extraction layer: cabinets, TAR, the
// single-stream compressors (with a TAR inside or one file) and encoded text.
#pragma once

#include "archive/extract/source.h"
#include "dvl/commands.h"
#include "dvl/overwrite_policy.h"

#include <cstdint>
#include <string>

namespace dvl::cli {

struct LayerSettings {
    std::string destination; // Windows form
    std::string mask = "*.*";
    bool flat = false;
    bool keepBroken = false;
    bool test = false;
    bool noLimit = false; // no ratio limit for entries without a stored size
};

// Errors go to stderr as "code message (name)"; the exit status as for ZIP.
int LayerExtract(const std::string& shownName, const std::string& archivePath,
                 extract::EntrySource& source, const LayerSettings& settings,
                 OverwritePolicy& policy);

} // namespace dvl::cli
