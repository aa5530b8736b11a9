#include "unace/decoder/ace_cipher.h"

#include "unace/decoder/ace_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace dvl::unace {

namespace detail {

namespace {

constexpr size_t kMaxPasswordBytes = 50;

uint32_t LoadLe(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void StoreLe(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

} // namespace

std::array<uint32_t, 5> PasswordDigest(std::string_view password) {
    const size_t n = std::min(password.size(), kMaxPasswordBytes);
    uint8_t block[64] = {};
    std::memcpy(block, password.data(), n);
    block[n] = 0x80;
    uint32_t w[80];
    for (int t = 0; t < 15; ++t)
        w[t] = LoadLe(block + 4 * t);
    w[15] = uint32_t(8 * n);
    for (int t = 16; t < 80; ++t)
        w[t] = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];

    std::array<uint32_t, 5> h{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const uint32_t next = std::rotl(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = next;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    return h;
}

AceCipher::AceCipher(const std::array<uint32_t, 5>& digest) {
    std::copy_n(kCipherInitialTables, 18, p_.begin());
    for (size_t box = 0; box < 4; ++box)
        std::copy_n(kCipherInitialTables + 18 + 256 * box, 256, s_[box].begin());
    for (size_t i = 0; i < p_.size(); ++i)
        p_[i] ^= digest[i % 5];
    uint32_t left = 0, right = 0;
    for (size_t i = 0; i < p_.size(); i += 2) {
        EncryptBlock(left, right);
        p_[i] = left;
        p_[i + 1] = right;
    }
    for (auto& box : s_) {
        for (size_t i = 0; i < box.size(); i += 2) {
            EncryptBlock(left, right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
}

void AceCipher::EncryptBlock(uint32_t& left, uint32_t& right) const {
    uint32_t l = left, r = right;
    for (size_t i = 0; i < 16; i += 2) {
        l ^= p_[i];
        r ^= Round(l);
        r ^= p_[i + 1];
        l ^= Round(r);
    }
    left = r ^ p_[17];
    right = l ^ p_[16];
}

void AceCipher::DecryptBlock(uint32_t& left, uint32_t& right) const {
    uint32_t l = left, r = right;
    for (size_t i = 17; i > 1; i -= 2) {
        l ^= p_[i];
        r ^= Round(l);
        r ^= p_[i - 1];
        l ^= Round(r);
    }
    left = r ^ p_[0];
    right = l ^ p_[1];
}

void AceCipher::DecryptCbc(uint8_t* data, size_t blocks) {
    for (size_t b = 0; b < blocks; ++b, data += 8) {
        const uint32_t cipherLeft = LoadLe(data), cipherRight = LoadLe(data + 4);
        uint32_t left = cipherLeft, right = cipherRight;
        DecryptBlock(left, right);
        StoreLe(data, left ^ chainLeft_);
        StoreLe(data + 4, right ^ chainRight_);
        chainLeft_ = cipherLeft;
        chainRight_ = cipherRight;
    }
}

} // namespace detail

struct DecryptingInput::Cipher : detail::AceCipher {
    using AceCipher::AceCipher;
};

DecryptingInput::DecryptingInput(PackedInput& encrypted, std::string_view password)
    : encrypted_(encrypted), cipher_(std::make_unique<Cipher>(detail::PasswordDigest(password))) {}

DecryptingInput::~DecryptingInput() = default;

// Whole blocks leave deciphered; bytes of an incomplete block wait for the rest, and an
// incomplete last block is dropped (it cannot be deciphered).
size_t DecryptingInput::ReadPacked(uint8_t* buffer, size_t capacity) {
    constexpr size_t kBlock = 8;
    while (ready_ == 0 && !ended_) {
        uint8_t chunk[4096];
        std::memcpy(chunk, carry_, carried_);
        const size_t got = encrypted_.ReadPacked(chunk + carried_, sizeof(chunk) - carried_);
        if (got == 0) {
            ended_ = true;
            break;
        }
        const size_t have = carried_ + got;
        const size_t whole = have / kBlock * kBlock;
        cipher_->DecryptCbc(chunk, whole / kBlock);
        plain_.assign(chunk, chunk + whole);
        next_ = 0;
        ready_ = whole;
        carried_ = have - whole;
        std::memcpy(carry_, chunk + whole, carried_);
    }
    const size_t n = std::min(capacity, ready_);
    if (n > 0) std::memcpy(buffer, plain_.data() + next_, n);
    next_ += n;
    ready_ -= n;
    return n;
}

} // namespace dvl::unace
