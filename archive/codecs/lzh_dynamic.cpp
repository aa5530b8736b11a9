// LHA -lh1-: adaptive Huffman codes for 314
// symbols (256 literals, then lengths 3 to 60), a distance's upper six bits by a fixed code of 3
// to 8 bits and its lower six bits as they are, a 4 KiB window that starts filled with spaces.
//
// The tree: nodes 0..T-1 in order of non-decreasing frequency, the root at T - 1;
// son[n] is a leaf's symbol + T, or the first of an internal node's two children (the second is
// son[n] + 1, reached by a 1 bit); prnt[] leads back up, from symbol + T for a leaf. Each decoded
// symbol adds one to the counts up its path, swapping a node that grew past its right neighbours
// with the last of them so the order holds. Before a symbol is counted with the root at 0x8000,
// the leaves' counts are halved (rounded up) and the tree is rebuilt from them.
#include "archive/codecs/lzh.h"

#include "archive/codecs/lzh_internal.h"
#include "archive/codecs/source_bits.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>

namespace dvl::codecs {

using namespace lzh_detail;

namespace {

using BitReader = SourceBits<BitOrder::MsbFirst>;

constexpr unsigned kWindow = 4096;
constexpr unsigned kSymbols = 314; // N_CHAR: 256 - THRESHOLD(2) + F(60)
constexpr unsigned kNodes = 2 * kSymbols - 1;
constexpr unsigned kRoot = kNodes - 1;
constexpr unsigned kMaxFrequency = 0x8000;
constexpr unsigned kThreshold = 3; // symbol 256 copies 3 bytes

// The fixed code of a distance's upper six bits: 1 value of 3 bits, 3 of 4, 8 of 5, 12 of 6, 24
// of 7 and 16 of 8, canonical. Indexed by the next 8 bits: the value and its code's length.
struct UpperCode {
    std::array<uint8_t, 256> value{};
    std::array<uint8_t, 64> length{};
};
constexpr UpperCode MakeUpperCode() {
    UpperCode c;
    const unsigned counts[] = {1, 3, 8, 12, 24, 16};
    unsigned value = 0, index = 0;
    for (unsigned len = 3; len <= 8; ++len)
        for (unsigned i = 0; i < counts[len - 3]; ++i, ++value) {
            c.length[value] = uint8_t(len);
            for (unsigned j = 0; j < (1u << (8 - len)); ++j)
                c.value[index++] = uint8_t(value);
        }
    return c;
}
constexpr UpperCode kUpper = MakeUpperCode();

class AdaptiveTree {
public:
    AdaptiveTree() {
        for (unsigned i = 0; i < kSymbols; ++i) {
            freq_[i] = 1;
            son_[i] = uint16_t(i + kNodes);
            prnt_[i + kNodes] = uint16_t(i);
        }
        for (unsigned i = 0, j = kSymbols; j <= kRoot; i += 2, ++j) {
            freq_[j] = freq_[i] + freq_[i + 1];
            son_[j] = uint16_t(i);
            prnt_[i] = prnt_[i + 1] = uint16_t(j);
        }
        freq_[kNodes] = 0xFFFF; // stops the search for a node's place
        prnt_[kRoot] = 0;
    }

    // Decodes a symbol bit by bit and counts it; Truncated when the input ends first.
    DecodeStatus Decode(BitReader& bits, unsigned& symbol) {
        unsigned c = son_[kRoot];
        while (c < kNodes) {
            if (!bits.Need(1)) return DecodeStatus::Truncated;
            c = son_[c + bits.Peek(1)];
            bits.Drop(1);
        }
        symbol = c - kNodes;
        Update(symbol);
        return DecodeStatus::Ok;
    }

private:
    void Update(unsigned symbol) {
        if (freq_[kRoot] == kMaxFrequency) Rebuild();
        unsigned c = prnt_[symbol + kNodes];
        do {
            const unsigned k = ++freq_[c];
            unsigned l = c + 1;
            if (k > freq_[l]) {
                while (k > freq_[++l]) {
                }
                --l;
                freq_[c] = freq_[l];
                freq_[l] = uint16_t(k);
                const unsigned i = son_[c];
                prnt_[i] = uint16_t(l);
                if (i < kNodes) prnt_[i + 1] = uint16_t(l);
                const unsigned j = son_[l];
                son_[l] = uint16_t(i);
                prnt_[j] = uint16_t(c);
                if (j < kNodes) prnt_[j + 1] = uint16_t(c);
                son_[c] = uint16_t(j);
                c = l;
            }
            c = prnt_[c];
        } while (c != 0);
    }

    void Rebuild() {
        // The leaves, in order, to the front, their counts halved.
        unsigned j = 0;
        for (unsigned i = 0; i < kNodes; ++i)
            if (son_[i] >= kNodes) {
                freq_[j] = uint16_t((freq_[i] + 1) / 2);
                son_[j] = son_[i];
                ++j;
            }
        // Pairs of the lowest nodes joined, each new node inserted where its count belongs.
        for (unsigned i = 0, n = kSymbols; n < kNodes; i += 2, ++n) {
            const unsigned f = freq_[i] + freq_[i + 1];
            unsigned k = n;
            while (f < freq_[k - 1])
                --k;
            std::memmove(&freq_[k + 1], &freq_[k], (n - k) * sizeof freq_[0]);
            freq_[k] = uint16_t(f);
            std::memmove(&son_[k + 1], &son_[k], (n - k) * sizeof son_[0]);
            son_[k] = uint16_t(i);
        }
        for (unsigned i = 0; i < kNodes; ++i) {
            const unsigned k = son_[i];
            prnt_[k] = uint16_t(i);
            if (k < kNodes) prnt_[k + 1] = uint16_t(i);
        }
    }

    uint16_t freq_[kNodes + 1];
    uint16_t son_[kNodes];
    uint16_t prnt_[kNodes + kSymbols];
};

// A distance less one: the fixed code of the upper six bits, then the lower six.
DecodeStatus ReadPosition(BitReader& bits, unsigned& position) {
    bits.Need(14);
    const unsigned upper = kUpper.value[bits.Peek(8)];
    const unsigned used = kUpper.length[upper] + 6u;
    if (used > bits.Count()) return DecodeStatus::Truncated;
    position = upper << 6 | (bits.Peek(used) & 0x3F);
    bits.Drop(used);
    return DecodeStatus::Ok;
}

} // namespace

DecodeStatus DecodeLzhDynamic(ByteSource& in, ByteSink& out, uint64_t size) {
    if (size == 0) return DecodeStatus::Ok;
    const std::unique_ptr<AdaptiveTree> tree(new (std::nothrow) AdaptiveTree);
    if (!tree) return DecodeStatus::NoMemory;
    Window w(out, kWindow, size);
    uint8_t spaces[kWindow];
    std::memset(spaces, ' ', sizeof spaces);
    if (!w.Init(spaces)) return DecodeStatus::NoMemory;

    BitReader bits(in);
    while (w.Left() > 0) {
        uint8_t* const end = w.BeginRun();
        uint8_t* const limit = w.Limit();
        uint8_t* p = w.Pos();
        DecodeStatus status = DecodeStatus::Ok;
        while (p < end) {
            unsigned symbol;
            if ((status = tree->Decode(bits, symbol)) != DecodeStatus::Ok) break;
            if (symbol < 256) {
                *p++ = uint8_t(symbol);
                continue;
            }
            unsigned position;
            if ((status = ReadPosition(bits, position)) != DecodeStatus::Ok) break;
            size_t length = symbol - 256 + kThreshold;
            if (limit && length > size_t(limit - p)) length = size_t(limit - p);
            p = CopyMatch(p, position + 1, length); // the pre-fill covers every distance
        }
        if (!w.EndRun(p)) return DecodeStatus::WriteFailed;
        if (status != DecodeStatus::Ok) return w.Finish(status);
    }
    return w.Finish(DecodeStatus::Ok);
}

} // namespace dvl::codecs
