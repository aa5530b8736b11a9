// Test-only encoders of the legacy ZIP methods, for the cases real archives do not cover and
// for archives of any size. They favour simple, checkable streams over compression.
#pragma once

#include <cstdint>
#include <vector>

namespace dvl::test {

struct ShrinkOptions {
    // Emit a partial clear after this many new codes (0: only when the code table is full).
    int clearAfterCodes = 0;
};
// Method 1.
std::vector<uint8_t> Shrink(const std::vector<uint8_t>& data, const ShrinkOptions& options = {});

struct ImplodeOptions {
    bool largeWindow = false; // general-purpose flag bit 1
    bool literalTree = false; // general-purpose flag bit 2
    // Let copies reach into the zeros before the first byte.
    bool matchBeforeStart = false;
};
// Method 6; the entry's flags are ImplodeFlags(options).
std::vector<uint8_t> Implode(const std::vector<uint8_t>& data, const ImplodeOptions& options);
uint16_t ImplodeFlags(const ImplodeOptions& options);

// Methods 2 to 5: factor 1 to 4.
std::vector<uint8_t> Reduce(const std::vector<uint8_t>& data, int factor);

// Writes bits least significant first.
class BitWriter {
public:
    void Put(uint32_t value, int n);
    // Puts a Shannon-Fano code: its most significant bit first.
    void PutCode(uint32_t code, int length);
    std::vector<uint8_t> Finish();

private:
    std::vector<uint8_t> bytes_;
    uint32_t acc_ = 0;
    int count_ = 0;
};

} // namespace dvl::test
