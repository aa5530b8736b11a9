// CRC-32 of ZIP entries: reflected polynomial 0xEDB88320.
//
// The register is never inverted here: a caller starts it at 0xFFFFFFFF and compares its one's
// complement with the stored CRC. CrcUpdate gives the same register as a CrcStep per byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dvl::codecs {

// Fills the classic byte table: entry n is n shifted through 8 steps of the polynomial.
void BuildCrcTable(uint32_t table[256]);

// One byte through the register.
uint32_t CrcStep(uint32_t crc, uint8_t byte);

// n bytes through the register; chooses the fastest path this processor supports.
uint32_t CrcUpdate(uint32_t crc, const uint8_t* data, size_t n);

// The finished CRC-32 (complemented, as stored) of A followed by B, from those of A and B and
// the length of B: A's value moves past B's bytes (times x^(8 * lengthB) modulo the polynomial)
// and B's is added, the complements cancelling.
uint32_t CrcCombine(uint32_t crcA, uint32_t crcB, uint64_t lengthB);

// The individual paths, for tests and benchmarks that compare them.
namespace crc_internal {
// Portable slicing-by-8 path.
uint32_t UpdateSliced(uint32_t crc, const uint8_t* data, size_t n);
// True when the processor has carry-less multiplication (PCLMULQDQ and SSE4.1).
bool FoldingSupported();
// Carry-less folding path; only when FoldingSupported().
uint32_t UpdateFolded(uint32_t crc, const uint8_t* data, size_t n);
} // namespace crc_internal

} // namespace dvl::codecs
