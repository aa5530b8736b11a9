// State the archive library keeps once per process: one input archive, one
// output file, one cancel flag, one self-extractor base. Hence one archive
// operation at a time.
#pragma once

#include "platform/file.h"

#include <cstdint>

namespace dvl {

class TUnBase;

enum TSetDate : uint8_t { sdOrigDate, sdSysDate };

struct LibraryState {
    platform::File input;  // the input-archive slot
    platform::File output; // the output-file slot
    TUnBase* currentExtractor = nullptr;
    bool cancel = false;
    int32_t sfxBase = 0;             // offset of a ZIP found through a stub's resources
    TSetDate setDateTo = sdOrigDate; // what the extraction driver reads
    int32_t entryCount = 0;          // the lister's entry counter
};

LibraryState& Library();

} // namespace dvl
