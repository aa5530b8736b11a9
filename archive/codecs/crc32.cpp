// CRC-32 paths: slicing-by-16 tables (portable) and carry-less multiplication folding (x86-64).
//
// Both compute the same function of (register, bytes). The folding path keeps four 128-bit
// lanes, each a polynomial congruent modulo P to its share of the data; folding a lane forward
// by D bits multiplies its two 64-bit halves by x^(D+64) mod P and x^D mod P, so every product
// stays below 96 bits and the lanes never overflow 128 bits. The last lane is reduced by running
// its 16 bytes through the table path from a zero register, which is exactly "times x^32 mod P".
#include "archive/codecs/crc32.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace dvl::codecs {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

using SliceTables = std::array<std::array<uint32_t, 256>, 16>;

constexpr SliceTables MakeSliceTables() {
    SliceTables t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? kPolynomial ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    // t[k][n]: the register after byte n followed by k zero bytes.
    for (size_t k = 1; k < t.size(); ++k)
        for (uint32_t n = 0; n < 256; ++n)
            t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
}

constexpr SliceTables kSlice = MakeSliceTables();

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8); // little-endian host
    return v;
}

inline uint32_t Fold8(uint64_t v, int base) {
    return kSlice[base + 7][v & 0xFF] ^ kSlice[base + 6][(v >> 8) & 0xFF] ^
           kSlice[base + 5][(v >> 16) & 0xFF] ^ kSlice[base + 4][(v >> 24) & 0xFF] ^
           kSlice[base + 3][(v >> 32) & 0xFF] ^ kSlice[base + 2][(v >> 40) & 0xFF] ^
           kSlice[base + 1][(v >> 48) & 0xFF] ^ kSlice[base + 0][v >> 56];
}

} // namespace

void BuildCrcTable(uint32_t table[256]) {
    for (uint32_t n = 0; n < 256; ++n)
        table[n] = kSlice[0][n];
}

uint32_t CrcStep(uint32_t crc, uint8_t byte) {
    return kSlice[0][(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

namespace crc_internal {

uint32_t UpdateSliced(uint32_t crc, const uint8_t* data, size_t n) {
    while (n >= 16) {
        uint64_t lo = Load64(data) ^ crc;
        uint64_t hi = Load64(data + 8);
        crc = Fold8(lo, 8) ^ Fold8(hi, 0);
        data += 16;
        n -= 16;
    }
    while (n--)
        crc = CrcStep(crc, *data++);
    return crc;
}

#if defined(__x86_64__)

namespace {

// x^e mod P in normal bit order (bit d is the coefficient of x^d).
constexpr uint64_t XPowModP(int e) {
    constexpr uint64_t kP = 0x104C11DB7ull;
    uint64_t r = 1;
    for (int i = 0; i < e; ++i) {
        r <<= 1;
        if (r & (1ull << 32)) r ^= kP;
    }
    return r;
}

// A multiplier for a 64-bit lane half in the reflected order of the data, where bit i of a
// 64-bit half stands for x^(63-i). A carry-less product of two such values, read as a 128-bit
// reflected value, carries one extra factor x; the constant is x^(e-1) to make up for it.
constexpr uint64_t FoldConstant(int e) {
    uint64_t r = XPowModP(e - 1), out = 0;
    for (int d = 0; d < 32; ++d)
        if (r >> d & 1) out |= 1ull << (63 - d);
    return out;
}

// Low half multiplies the lane's first (higher-degree) 64 bits, high half the second.
constexpr uint64_t kFold512Lo = FoldConstant(512 + 64), kFold512Hi = FoldConstant(512);
constexpr uint64_t kFold128Lo = FoldConstant(128 + 64), kFold128Hi = FoldConstant(128);

__attribute__((target("pclmul,sse4.1"))) inline __m128i FoldInto(__m128i lane, __m128i k,
                                                                 __m128i next) {
    __m128i a = _mm_clmulepi64_si128(lane, k, 0x00);
    __m128i b = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(a, b), next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load128(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

} // namespace

bool FoldingSupported() {
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return supported;
}

__attribute__((target("pclmul,sse4.1"))) uint32_t UpdateFolded(uint32_t crc, const uint8_t* data,
                                                               size_t n) {
    if (n < 64) return UpdateSliced(crc, data, n);

    __m128i x0 = _mm_xor_si128(Load128(data), _mm_cvtsi32_si128(int(crc)));
    __m128i x1 = Load128(data + 16), x2 = Load128(data + 32), x3 = Load128(data + 48);
    data += 64;
    n -= 64;

    const __m128i k512 = _mm_set_epi64x(int64_t(kFold512Hi), int64_t(kFold512Lo));
    while (n >= 64) {
        x0 = FoldInto(x0, k512, Load128(data));
        x1 = FoldInto(x1, k512, Load128(data + 16));
        x2 = FoldInto(x2, k512, Load128(data + 32));
        x3 = FoldInto(x3, k512, Load128(data + 48));
        data += 64;
        n -= 64;
    }

    const __m128i k128 = _mm_set_epi64x(int64_t(kFold128Hi), int64_t(kFold128Lo));
    x0 = FoldInto(x0, k128, x1);
    x0 = FoldInto(x0, k128, x2);
    x0 = FoldInto(x0, k128, x3);
    while (n >= 16) {
        x0 = FoldInto(x0, k128, Load128(data));
        data += 16;
        n -= 16;
    }

    alignas(16) uint8_t lane[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lane), x0);
    return UpdateSliced(UpdateSliced(0, lane, 16), data, n);
}

#else

bool FoldingSupported() {
    return false;
}
uint32_t UpdateFolded(uint32_t crc, const uint8_t* data, size_t n) {
    return UpdateSliced(crc, data, n);
}

#endif

} // namespace crc_internal

namespace {

// Products modulo the polynomial in the reflected order of the register: bit 31 holds x^0.
uint32_t MultiplyModP(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (uint32_t term = 0x80000000u; term != 0; term >>= 1) {
        if (a & term) product ^= b;
        b = b & 1 ? kPolynomial ^ (b >> 1) : b >> 1; // b times x
    }
    return product;
}

// x^(8n) modulo the polynomial, by squaring.
uint32_t PowerOfXForBytes(uint64_t n) {
    uint32_t result = 0x80000000u; // x^0
    uint32_t square = 0x00800000u; // x^8
    for (; n != 0; n >>= 1) {
        if (n & 1) result = MultiplyModP(result, square);
        square = MultiplyModP(square, square);
    }
    return result;
}

} // namespace

uint32_t CrcCombine(uint32_t crcA, uint32_t crcB, uint64_t lengthB) {
    return MultiplyModP(crcA, PowerOfXForBytes(lengthB)) ^ crcB;
}

uint32_t CrcUpdate(uint32_t crc, const uint8_t* data, size_t n) {
    if (n >= 64 && crc_internal::FoldingSupported())
        return crc_internal::UpdateFolded(crc, data, n);
    return crc_internal::UpdateSliced(crc, data, n);
}

} // namespace dvl::codecs
