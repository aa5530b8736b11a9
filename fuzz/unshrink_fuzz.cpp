// The decoder of ZIP method 1 (shrink) over arbitrary bytes, compared with itself across input
// chunkings.
#include "fuzz/legacy_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using dvl::unzip::LegacyEntry;
    dvl::fuzz::CompareChunkings(data, size, [&](const LegacyEntry& e) { dvl::unzip::Unshrink(e); });
    return 0;
}
