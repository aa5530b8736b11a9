// LArc's LZSS methods, -lzs- and -lz5-.
//
// A match names an absolute position in LArc's ring buffer, whose first write is at ring size
// less 17 (-lzs-) or 18 (-lz5-); copying from position P at ring position r is copying from the
// distance ((r - P - 1) mod size) + 1, which may reach into the pre-fill, never further. The
// window's history starts as the ring's content read from the first write position onwards, so
// every distance up to the ring size is in it.
#include "archive/codecs/lzh.h"

#include "archive/codecs/lzh_internal.h"
#include "archive/codecs/source_bits.h"

#include <array>
#include <cstring>

namespace dvl::codecs {

using namespace lzh_detail;

namespace {

using BitReader = SourceBits<BitOrder::MsbFirst>;

constexpr unsigned kLzsRing = 2048;
constexpr unsigned kLzsStart = kLzsRing - 17;
constexpr unsigned kLz5Ring = 4096;
constexpr unsigned kLz5Start = kLz5Ring - 18;

// LArc's -lz5- ring at the start: 13 copies of each byte value, the values up, the values down,
// 128 zeros, 110 spaces and 18 zeros.
constexpr std::array<uint8_t, kLz5Ring> MakeLz5Ring() {
    std::array<uint8_t, kLz5Ring> ring{};
    size_t p = 0;
    for (unsigned v = 0; v < 256; ++v)
        for (int i = 0; i < 13; ++i)
            ring[p++] = uint8_t(v);
    for (unsigned v = 0; v < 256; ++v)
        ring[p++] = uint8_t(v);
    for (unsigned v = 0; v < 256; ++v)
        ring[p++] = uint8_t(255 - v);
    p += 128;
    for (int i = 0; i < 110; ++i)
        ring[p++] = ' ';
    return ring;
}

// The history as the window holds it: the ring read from `start` round to just before it.
template <size_t N>
std::array<uint8_t, N> Rotated(const std::array<uint8_t, N>& ring, size_t start) {
    std::array<uint8_t, N> history;
    for (size_t i = 0; i < N; ++i)
        history[i] = ring[(start + i) % N];
    return history;
}

// The next n (<= 24) bits, or false when the input ends first.
bool ReadBits(BitReader& bits, unsigned n, uint32_t& value) {
    if (!bits.Need(n)) return false;
    value = bits.Peek(n);
    bits.Drop(n);
    return true;
}

template <unsigned kRing> size_t Distance(unsigned ringPos, unsigned position) {
    return ((ringPos - position - 1) & (kRing - 1)) + 1;
}

// One item of -lzs-: a literal or a match's position and length; false when the input ends.
struct Item {
    bool literal;
    unsigned value;  // the literal byte, or the match position
    unsigned length; // of a match
};

bool ReadLzsItem(BitReader& bits, Item& item) {
    uint32_t v;
    if (!ReadBits(bits, 1, v)) return false;
    item.literal = v != 0;
    if (item.literal) {
        if (!ReadBits(bits, 8, v)) return false;
        item.value = v;
        return true;
    }
    if (!ReadBits(bits, 15, v)) return false;
    item.value = v >> 4;
    item.length = (v & 0xF) + 2;
    return true;
}

class Lz5Reader {
public:
    explicit Lz5Reader(BitReader& bits) : bits_(bits) {}
    bool Read(Item& item) {
        uint32_t v;
        if (flags_ <= 1) { // the marker bit alone is left: a new flag byte
            if (!ReadBits(bits_, 8, v)) return false;
            flags_ = v | 0x100;
        }
        item.literal = flags_ & 1;
        flags_ >>= 1;
        if (item.literal) {
            if (!ReadBits(bits_, 8, v)) return false;
            item.value = v;
            return true;
        }
        if (!ReadBits(bits_, 16, v)) return false;
        item.value = (v >> 8) | (v & 0xF0) << 4;
        item.length = (v & 0xF) + 3;
        return true;
    }

private:
    BitReader& bits_;
    unsigned flags_ = 0;
};

template <unsigned kRing, class ReadItem>
DecodeStatus Decode(ByteSink& out, uint64_t size, std::span<const uint8_t> history, unsigned start,
                    ReadItem read) {
    if (size == 0) return DecodeStatus::Ok;
    Window w(out, kRing, size);
    if (!w.Init(history)) return DecodeStatus::NoMemory;
    unsigned ringPos = start;
    while (w.Left() > 0) {
        uint8_t* const end = w.BeginRun();
        uint8_t* const limit = w.Limit();
        uint8_t* const begin = w.Pos();
        uint8_t* p = begin;
        bool ended = false;
        while (p < end) {
            Item item;
            if (!read(item)) {
                ended = true;
                break;
            }
            if (item.literal) {
                *p++ = uint8_t(item.value);
                continue;
            }
            const unsigned at = (ringPos + unsigned(p - begin)) & (kRing - 1);
            size_t length = item.length;
            if (limit && length > size_t(limit - p)) length = size_t(limit - p);
            p = CopyMatch(p, Distance<kRing>(at, item.value), length);
        }
        ringPos = (ringPos + unsigned(p - begin)) & (kRing - 1);
        if (!w.EndRun(p)) return DecodeStatus::WriteFailed;
        if (ended) return w.Finish(DecodeStatus::Truncated);
    }
    return w.Finish(DecodeStatus::Ok);
}

} // namespace

DecodeStatus DecodeLzs(ByteSource& in, ByteSink& out, uint64_t size) {
    std::array<uint8_t, kLzsRing> spaces;
    spaces.fill(' ');
    BitReader bits(in);
    return Decode<kLzsRing>(out, size, spaces, kLzsStart,
                            [&](Item& item) { return ReadLzsItem(bits, item); });
}

DecodeStatus DecodeLz5(ByteSource& in, ByteSink& out, uint64_t size) {
    static constexpr std::array<uint8_t, kLz5Ring> kRing = MakeLz5Ring();
    static const std::array<uint8_t, kLz5Ring> kHistory = Rotated(kRing, kLz5Start);
    BitReader bits(in);
    Lz5Reader reader(bits);
    return Decode<kLz5Ring>(out, size, kHistory, kLz5Start,
                            [&](Item& item) { return reader.Read(item); });
}

} // namespace dvl::codecs
