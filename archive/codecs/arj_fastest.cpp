// ARJ method 4 ("fastest"), bits most significant first. An item starts with a length code: up to
// seven 1 bits, ended by a 0 unless all seven came, then as many bits as there were 1s; the value
// is 2^ones - 1 plus those bits. Value 0 is a literal (8 bits follow); value n copies n + 2 bytes
// from a distance coded the same way from 9 bits up (up to four 1 bits, then 9 + ones bits,
// 2^(9 + ones) - 512 plus those bits), plus one.
#include "archive/codecs/lzh.h"

#include "archive/codecs/lzh_internal.h"
#include "archive/codecs/source_bits.h"

#include <algorithm>
#include <bit>

namespace dvl::codecs {

using namespace lzh_detail;

namespace {

using BitReader = SourceBits<BitOrder::MsbFirst>;

constexpr uint32_t kWindow = 26624;
constexpr unsigned kThreshold = 3;
constexpr unsigned kItemBits = 7 + 7 + 4 + 13; // the longest match

// A value of the unary-prefixed code: `first` bits after no 1 bit, one more per 1 bit, at most
// `most` 1 bits. Returns the bits used, or 0 when the code is not all within `available`.
[[gnu::always_inline]] inline unsigned ReadValue(uint32_t peeked, unsigned first, unsigned most,
                                                 unsigned& value) {
    // The leading 1 bits of the peeked word, at most `most` of them.
    const unsigned ones = std::min(unsigned(std::countl_one(peeked)), most);
    const unsigned prefix = ones < most ? ones + 1 : ones;
    const unsigned width = first + ones;
    const uint32_t rest = peeked << prefix; // prefix <= 7: no shift of 32
    value = ((1u << width) - (1u << first)) + (width ? rest >> (32 - width) : 0);
    return prefix + width;
}

// Decodes items into `out` until `end` (passing it by a match, never `limit` if not null).
DecodeStatus DecodeRun(BitReader& reader, const Window::Reach& reaches, uint8_t*& out, uint8_t* end,
                       uint8_t* limit) {
    BitReader bits = reader; // in locals, which the output's byte stores cannot alias
    uint8_t* p = out;
    DecodeStatus status = DecodeStatus::Ok;
    while (p < end) {
        const bool full = bits.Need(kItemBits);
        unsigned value;
        unsigned used = ReadValue(bits.Peek(32), 0, 7, value);
        if (value == 0) {
            used += 8;
            if (!full && used > bits.Count()) {
                status = DecodeStatus::Truncated;
                break;
            }
            bits.Drop(1);
            *p++ = uint8_t(bits.Peek(8));
            bits.Drop(8);
            continue;
        }
        unsigned position;
        const unsigned lengthBits = used;
        used += ReadValue(uint32_t(bits.Peek(32) << lengthBits), 9, 4, position);
        if (!full && used > bits.Count()) {
            status = DecodeStatus::Truncated;
            break;
        }
        bits.Drop(used);
        const size_t distance = size_t(position) + 1;
        if (!reaches(p, distance)) {
            status = DecodeStatus::Corrupt;
            break;
        }
        size_t length = value - 1 + kThreshold;
        if (limit && length > size_t(limit - p)) length = size_t(limit - p);
        p = CopyMatch(p, distance, length);
    }
    reader = bits;
    out = p;
    return status;
}

} // namespace

DecodeStatus DecodeArjFastest(ByteSource& in, ByteSink& out, uint64_t size) {
    if (size == 0) return DecodeStatus::Ok;
    Window w(out, kWindow, size);
    if (!w.Init()) return DecodeStatus::NoMemory;
    BitReader bits(in);
    while (w.Left() > 0) {
        uint8_t* const end = w.BeginRun();
        uint8_t* p = w.Pos();
        const DecodeStatus status = DecodeRun(bits, w.Reaches(), p, end, w.Limit());
        if (!w.EndRun(p)) return DecodeStatus::WriteFailed;
        if (status != DecodeStatus::Ok) return w.Finish(status);
    }
    return w.Finish(DecodeStatus::Ok);
}

} // namespace dvl::codecs
