// The decoder of ZIP methods 2 to 5 (reduce; the factor from the flags byte) over arbitrary bytes,
// compared with itself across input chunkings.
#include "fuzz/legacy_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using dvl::unzip::LegacyEntry;
    dvl::fuzz::CompareChunkings(
        data, size, [&](const LegacyEntry& e) { dvl::unzip::Unreduce(e, 1 + (e.flags >> 4) % 4); });
    return 0;
}
