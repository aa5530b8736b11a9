// Traditional ZIP decryption: three 32-bit keys driven by the plain bytes.
//
// An encrypted entry's data starts with a 12-byte header. Decrypting it with the keys of a
// password must end in a check byte: the high byte of the DOS time when flag bit 3 is set (the
// CRC was not known when the header was written), else the high byte of the CRC-32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dvl::unzip {

struct ZipKeys {
    uint32_t k0 = 0x12345678u;
    uint32_t k1 = 0x23456789u;
    uint32_t k2 = 0x34567890u;
};

// Resets the keys and feeds every password byte through UpdateKeys.
void InitKeys(ZipKeys& keys, std::string_view password);

// Advances the keys with one plain byte.
void UpdateKeys(ZipKeys& keys, uint8_t plain);

// The key-stream byte for the next cipher byte.
uint8_t DecryptByte(const ZipKeys& keys);

// Decrypts n bytes in place, advancing the keys with each plain byte.
void DecryptBuffer(ZipKeys& keys, uint8_t* data, size_t n);

// Decrypts a copy of the 12-byte header with the password's keys and compares its last byte with
// the check byte. On success `keys` is ready for the data that follows the header.
bool CheckPassword(ZipKeys& keys, std::string_view password, const uint8_t header[12],
                   uint16_t flags, uint32_t dosDateTime, uint32_t crc32);

} // namespace dvl::unzip
