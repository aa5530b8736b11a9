// Traditional ZIP decryption. The keys advance with the plain byte, so each byte depends on the
// one before and the loop is inherently serial; the work per byte is two table steps.
#include "archive/unzip/zip_crypto.h"

#include "archive/codecs/crc32.h"

namespace dvl::unzip {

void UpdateKeys(ZipKeys& keys, uint8_t plain) {
    keys.k0 = codecs::CrcStep(keys.k0, plain);
    keys.k1 = (keys.k1 + (keys.k0 & 0xFF)) * 134775813u + 1;
    keys.k2 = codecs::CrcStep(keys.k2, uint8_t(keys.k1 >> 24));
}

uint8_t DecryptByte(const ZipKeys& keys) {
    uint32_t t = (keys.k2 | 2) & 0xFFFF;
    return uint8_t((t * (t ^ 1)) >> 8);
}

void InitKeys(ZipKeys& keys, std::string_view password) {
    keys = ZipKeys{};
    for (char c : password)
        UpdateKeys(keys, uint8_t(c));
}

void DecryptBuffer(ZipKeys& keys, uint8_t* data, size_t n) {
    ZipKeys k = keys; // locals let the compiler keep the keys in registers
    for (size_t i = 0; i < n; ++i) {
        uint8_t plain = data[i] ^ DecryptByte(k);
        data[i] = plain;
        UpdateKeys(k, plain);
    }
    keys = k;
}

bool CheckPassword(ZipKeys& keys, std::string_view password, const uint8_t header[12],
                   uint16_t flags, uint32_t dosDateTime, uint32_t crc32) {
    uint8_t copy[12];
    for (int i = 0; i < 12; ++i)
        copy[i] = header[i];
    InitKeys(keys, password);
    DecryptBuffer(keys, copy, sizeof copy);
    uint8_t check = (flags & 8) ? uint8_t(dosDateTime >> 8) : uint8_t(crc32 >> 24);
    return copy[11] == check;
}

} // namespace dvl::unzip
