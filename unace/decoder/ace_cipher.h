// The member cipher: a Blowfish variant keyed with a 160-bit digest of the password (a SHA-1
// compression without the schedule's rotation), little-endian blocks, CBC from a zero IV.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dvl::unace::detail {

constexpr size_t kCipherTableWords = 18 + 4 * 256;
extern const uint32_t kCipherInitialTables[kCipherTableWords];

// The key digest H[0..4] of a password (its first 50 bytes).
std::array<uint32_t, 5> PasswordDigest(std::string_view password);

class AceCipher {
public:
    explicit AceCipher(const std::array<uint32_t, 5>& digest);

    void EncryptBlock(uint32_t& left, uint32_t& right) const;
    void DecryptBlock(uint32_t& left, uint32_t& right) const;
    // Deciphers whole 8-byte blocks in place, continuing the CBC chain of earlier calls.
    void DecryptCbc(uint8_t* data, size_t blocks);

private:
    uint32_t Round(uint32_t x) const {
        return ((s_[0][x >> 24] + s_[1][(x >> 16) & 255]) ^ s_[2][(x >> 8) & 255]) + s_[3][x & 255];
    }

    std::array<uint32_t, 18> p_;
    std::array<std::array<uint32_t, 256>, 4> s_;
    uint32_t chainLeft_ = 0, chainRight_ = 0;
};

} // namespace dvl::unace::detail
