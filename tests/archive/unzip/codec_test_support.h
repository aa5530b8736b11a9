// Helpers of the codec tests: sample data, zlib as the deflate oracle, chunked input, recording
// output, and a bit writer with canonical codes for hand-built DEFLATE streams (RFC 1951).
#pragma once

#include "archive/codecs/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace dvl::unzip::test {

using namespace dvl::codecs;

enum class Content { kText, kBinary, kRandom };

// Reproducible data: English-like words, structured binary records, or noise.
inline std::vector<uint8_t> Sample(Content kind, size_t n, uint32_t seed = 1) {
    static const char* const kWords[] = {
        "the ",  "archive ",  "of ",     "volume ",  "and ",   "header ", "to ",   "data ",
        "a ",    "window ",   "block ",  "in ",      "code ",  "is ",     "that ", "for ",
        "with ", "distance ", "length ", "literal ", "table ", "bits, ",  "end.\n"};
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    out.reserve(n);
    while (out.size() < n) {
        switch (kind) {
        case Content::kText: {
            const char* w = kWords[rng() % std::size(kWords)];
            for (; *w && out.size() < n; ++w)
                out.push_back(uint8_t(*w));
            break;
        }
        case Content::kBinary: {
            // Little-endian records with small counters, flags and occasional noise.
            uint32_t record[4] = {uint32_t(out.size() / 16), uint32_t(rng() % 8),
                                  uint32_t(0x00401000u + rng() % 64),
                                  rng() % 5 == 0 ? uint32_t(rng()) : 0};
            for (size_t i = 0; i < sizeof record && out.size() < n; ++i)
                out.push_back(reinterpret_cast<const uint8_t*>(record)[i]);
            break;
        }
        case Content::kRandom:
            out.push_back(uint8_t(rng()));
            break;
        }
    }
    return out;
}

struct DeflateOptions {
    int level = 6;
    int strategy = Z_DEFAULT_STRATEGY;
    size_t flushEvery = 0; // a flush point after every so many input bytes (0: none)
    int flush = Z_SYNC_FLUSH;
};

// Raw deflate (no zlib header) of `data`.
inline std::vector<uint8_t> Deflate(std::span<const uint8_t> data, DeflateOptions o = {}) {
    z_stream z{};
    if (deflateInit2(&z, o.level, Z_DEFLATED, -15, 8, o.strategy) != Z_OK) return {};
    std::vector<uint8_t> out(deflateBound(&z, data.size()) + 64 + data.size() / 64);
    z.next_out = out.data();
    size_t pos = 0;
    for (;;) {
        size_t piece = o.flushEvery ? std::min(o.flushEvery, data.size() - pos) : data.size() - pos;
        z.next_in = const_cast<Bytef*>(data.data() + pos);
        z.avail_in = uInt(piece);
        pos += piece;
        const bool last = pos == data.size();
        z.avail_out = uInt(out.size() - z.total_out);
        deflate(&z, last ? Z_FINISH : o.flush);
        if (last) break;
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// zlib's raw inflate; false unless the stream ends properly within `cap` output bytes.
inline bool ZlibInflate(std::span<const uint8_t> in, std::vector<uint8_t>& out,
                        std::string* message = nullptr, size_t cap = size_t(64) << 20) {
    z_stream z{};
    inflateInit2(&z, -15);
    out.clear();
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    int rc = Z_OK;
    uint8_t buffer[65536];
    while (rc == Z_OK && out.size() < cap) {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break; // input ran out
    }
    if (message) *message = z.msg ? z.msg : "";
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

// Hands out (a copy of) the input in chunks whose sizes cycle through `sizes`.
class ChunkedInput : public ByteSource {
public:
    ChunkedInput(std::span<const uint8_t> data, std::vector<size_t> sizes = {size_t(1) << 30})
        : data_(data.begin(), data.end()), sizes_(std::move(sizes)) {}
    std::span<const uint8_t> Next() override {
        ++calls_;
        size_t n = std::min(sizes_[next_++ % sizes_.size()], data_.size() - pos_);
        // A fresh copy per chunk, so a decoder that keeps a pointer into an old chunk reads
        // freed memory under the address sanitizer.
        chunk_.assign(data_.begin() + pos_, data_.begin() + pos_ + n);
        pos_ += n;
        return chunk_;
    }
    size_t Calls() const { return calls_; }

private:
    std::vector<uint8_t> data_;
    std::vector<size_t> sizes_;
    std::vector<uint8_t> chunk_;
    size_t pos_ = 0, next_ = 0, calls_ = 0;
};

// Records every write; fails the write that would pass `limit` bytes.
class RecordingOutput : public ByteSink {
public:
    explicit RecordingOutput(size_t limit = SIZE_MAX) : limit_(limit) {}
    bool Write(const uint8_t* data, size_t n) override {
        if (bytes.size() + n > limit_) return false;
        bytes.insert(bytes.end(), data, data + n);
        writes.push_back(n);
        return true;
    }
    std::vector<uint8_t> bytes;
    std::vector<size_t> writes;

private:
    size_t limit_;
};

struct Decoded {
    InflateResult result;
    std::vector<uint8_t> bytes;
};

inline Decoded Inflate(std::span<const uint8_t> stream,
                       std::vector<size_t> chunks = {size_t(1) << 30}) {
    ChunkedInput in(stream, std::move(chunks));
    RecordingOutput out;
    Inflater inflater;
    Decoded d;
    d.result = inflater.Inflate(in, out);
    d.bytes = std::move(out.bytes);
    return d;
}

const std::vector<size_t> kWholeStream = {size_t(1) << 30};
const std::vector<size_t> kOddChunks = {1, 2, 3, 7, 4096, 5};

// What a whole-stream decoder (compress, pack) gave: its verdict and its bytes.
struct StreamDecoded {
    DecodeStatus status;
    std::vector<uint8_t> bytes;
};

template <class Decode>
StreamDecoded DecodeInChunks(std::span<const uint8_t> stream, const std::vector<size_t>& chunks,
                             Decode decode) {
    ChunkedInput in(stream, chunks);
    RecordingOutput out;
    const DecodeStatus status = decode(in, out);
    return {status, std::move(out.bytes)};
}

// Writes bits first-bit-first, as DEFLATE packs them.
class BitWriter {
public:
    void Put(uint32_t value, unsigned bits) {
        for (unsigned i = 0; i < bits; ++i)
            PutBit(value >> i & 1);
    }
    // A Huffman code goes most significant bit first.
    void PutCode(uint32_t code, unsigned bits) {
        for (unsigned i = bits; i-- > 0;)
            PutBit(code >> i & 1);
    }
    void Align() {
        while (count_ % 8)
            PutBit(0);
    }
    void PutBytes(std::span<const uint8_t> bytes) {
        Align();
        for (uint8_t b : bytes)
            Put(b, 8);
    }
    std::vector<uint8_t> Bytes() const { return bytes_; }

private:
    void PutBit(unsigned bit) {
        if (count_ % 8 == 0) bytes_.push_back(0);
        bytes_.back() |= uint8_t(bit << (count_ % 8));
        ++count_;
    }
    std::vector<uint8_t> bytes_;
    size_t count_ = 0;
};

// Canonical codes for the given lengths (RFC 1951, 3.2.2).
inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    unsigned count[16] = {}, next[16] = {};
    for (uint8_t l : lengths)
        ++count[l];
    count[0] = 0;
    for (unsigned bits = 1, code = 0; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    return codes;
}

// A Huffman code: lengths and their canonical codes.
struct Code {
    explicit Code(std::vector<uint8_t> l) : lengths(std::move(l)), codes(CanonicalCodes(lengths)) {}
    void Put(BitWriter& w, unsigned symbol) const {
        w.PutCode(codes.at(symbol), lengths.at(symbol));
    }
    std::vector<uint8_t> lengths;
    std::vector<uint32_t> codes;
};

inline Code FixedLitLen() {
    std::vector<uint8_t> l(288, 8);
    std::fill(l.begin() + 144, l.begin() + 256, 9);
    std::fill(l.begin() + 256, l.begin() + 280, 7);
    return Code(l);
}
inline Code FixedDistance() {
    return Code(std::vector<uint8_t>(32, 5));
}

// Length or distance to (symbol, extra bits, extra value), from RFC 1951's tables.
struct Symbolised {
    unsigned symbol, extraBits, extra;
};
inline Symbolised LengthSymbol(unsigned length) {
    static const unsigned base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const unsigned extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    unsigned i = 28;
    while (base[i] > length)
        --i;
    return {257 + i, extra[i], length - base[i]};
}
inline Symbolised DistanceSymbol(unsigned distance) {
    unsigned i = 0, base = 1;
    for (;; ++i) {
        unsigned extraBits = i < 4 ? 0 : i / 2 - 1;
        if (distance < base + (1u << extraBits)) return {i, extraBits, distance - base};
        base += 1u << extraBits;
    }
}

// Writes a block body's tokens with the given codes.
struct Writer {
    BitWriter bits;
    void Header(bool last, unsigned type) {
        bits.Put(last, 1);
        bits.Put(type, 2);
    }
    void Literal(const Code& lit, uint8_t byte) { lit.Put(bits, byte); }
    void Match(const Code& lit, const Code& dist, unsigned length, unsigned distance) {
        Symbolised l = LengthSymbol(length), d = DistanceSymbol(distance);
        lit.Put(bits, l.symbol);
        bits.Put(l.extra, l.extraBits);
        dist.Put(bits, d.symbol);
        bits.Put(d.extra, d.extraBits);
    }
    void End(const Code& lit) { lit.Put(bits, 256); }
    void Stored(bool last, std::span<const uint8_t> data, uint16_t complementXor = 0) {
        Header(last, 0);
        bits.Align();
        bits.Put(uint32_t(data.size()), 16);
        bits.Put((~uint32_t(data.size()) & 0xFFFF) ^ complementXor, 16);
        bits.PutBytes(data);
    }

    // A dynamic block header. `tokens` are code-length symbols (0..18) with their extra values,
    // coded with `clc`; the counts are written as given, so they may disagree with the tokens.
    struct Token {
        unsigned symbol, extra = 0;
    };
    void DynamicHeader(bool last, unsigned litLenCount, unsigned distanceCount, const Code& clc,
                       const std::vector<Token>& tokens) {
        static const unsigned order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
        Header(last, 2);
        bits.Put(litLenCount - 257, 5);
        bits.Put(distanceCount - 1, 5);
        bits.Put(19 - 4, 4);
        for (unsigned s : order)
            bits.Put(clc.lengths.at(s), 3);
        for (const Token& t : tokens) {
            clc.Put(bits, t.symbol);
            if (t.symbol >= 16) bits.Put(t.extra, t.symbol == 16 ? 2 : t.symbol == 17 ? 3 : 7);
        }
    }
    // A dynamic header that sends the two codes' lengths plainly (symbols 0..15).
    void DynamicHeader(bool last, const Code& lit, const Code& dist) {
        std::vector<Token> tokens;
        for (uint8_t l : lit.lengths)
            tokens.push_back({l});
        for (uint8_t l : dist.lengths)
            tokens.push_back({l});
        DynamicHeader(last, unsigned(lit.lengths.size()), unsigned(dist.lengths.size()),
                      DefaultCodeLengthCode(), tokens);
    }
    // Symbols 0..12 in 4 bits, 13..18 in 5: a complete code-length code.
    static Code DefaultCodeLengthCode() {
        std::vector<uint8_t> l(19, 4);
        std::fill(l.begin() + 13, l.end(), 5);
        return Code(l);
    }
    std::vector<uint8_t> Bytes() const { return bits.Bytes(); }
};

// A complete code over `alphabet` symbols in which exactly `used` have codes (lengths k and
// k + 1 with 2^k <= |used| < 2^(k+1)); a single used symbol gets a lone 1-bit code.
inline Code CompleteCode(size_t alphabet, std::vector<unsigned> used) {
    std::sort(used.begin(), used.end());
    std::vector<uint8_t> l(alphabet, 0);
    const size_t n = used.size();
    if (n == 1) {
        l[used[0]] = 1;
        return Code(l);
    }
    unsigned k = 0;
    while ((size_t(2) << k) <= n)
        ++k;
    const size_t shorter = (size_t(2) << k) - n; // codes of length k
    for (size_t i = 0; i < n; ++i)
        l[used[i]] = uint8_t(i < shorter ? k : k + 1);
    return Code(l);
}

// Every byte, the end-of-block and the given extra symbols.
inline std::vector<unsigned> AllLiterals(std::vector<unsigned> extra = {}) {
    std::vector<unsigned> s(257);
    for (unsigned i = 0; i < 257; ++i)
        s[i] = i;
    s.insert(s.end(), extra.begin(), extra.end());
    return s;
}

} // namespace dvl::unzip::test
