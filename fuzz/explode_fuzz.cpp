// The decoder of ZIP method 6 (implode; dictionary and trees from the flags byte) over arbitrary
// bytes, compared with itself across input chunkings.
#include "fuzz/legacy_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using dvl::unzip::LegacyEntry;
    dvl::fuzz::CompareChunkings(data, size, [&](const LegacyEntry& e) { dvl::unzip::Explode(e); });
    return 0;
}
