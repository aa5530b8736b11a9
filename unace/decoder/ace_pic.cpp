#include "unace/decoder/ace_pic.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

namespace dvl::unace::detail {

namespace {

// Rows wider than this are not images a member could hold; such widths only come from
// corrupt data.
constexpr uint32_t kMaxWidth = 1u << 20;
constexpr uint32_t kMaxPlanes = 255;
constexpr uint32_t kMaxRice = 1u << 24;
constexpr int kMaxRiceBits = 24;
constexpr int kErrorLimit = 128;

int SignedByte(int value) {
    return int(int8_t(uint8_t(value)));
}

// The reference pixel scaled by 11/16, the byte read as signed.
int Scaled(int ref) {
    return (SignedByte(ref) * 11) >> 4;
}

// Plane kinds: 0 plain, 1 relative to the plane before, 2 relative to 11/16 of it.
int Transform(int kind, int value, int ref) {
    switch (kind) {
    case 1:
        return (value - ref + 128) & 0xFF;
    case 2:
        return (value - Scaled(ref) + 128) & 0xFF;
    default:
        return value;
    }
}

int Untransform(int kind, int value, int ref) {
    switch (kind) {
    case 1:
        return (value + ref - 128) & 0xFF;
    case 2:
        return (value + Scaled(ref) - 128) & 0xFF;
    default:
        return value;
    }
}

int Quantise(int d) {
    if (d <= -21) return -4;
    if (d <= -7) return -3;
    if (d <= -3) return -2;
    if (d <= -1) return -1;
    if (d == 0) return 0;
    if (d < 3) return 1;
    if (d < 7) return 2;
    if (d < 21) return 3;
    return 4;
}

// Bit length of the zig-zag form of a byte read as signed.
int ErrorWidth(int value) {
    const int t = SignedByte(value);
    return std::bit_width(uint32_t(t >= 0 ? 2 * t : -2 * t - 1));
}

} // namespace

bool PicDecoder::ReadRice(AceBitReader& in, int k, uint32_t& value) {
    value = 0;
    if (k > kMaxRiceBits) return false;
    for (int done = 0; done < k; done += 16) {
        const int n = std::min(16, k - done);
        value = value << n | in.Read(n);
    }
    while (in.Read(1) == 1) {
        value += uint32_t(1) << k;
        if (value > kMaxRice || in.Overrun()) return false;
    }
    return value <= kMaxRice;
}

DecodeResult PicDecoder::Enter(AceBitReader& in) {
    uint32_t width = 0, planes = 0;
    if (!ReadRice(in, 12, width) || !ReadRice(in, 2, planes))
        return in.Overrun() ? DecodeResult::Truncated : DecodeResult::Corrupt;
    if (in.Overrun()) return DecodeResult::Truncated;
    if (width == 0 || width > kMaxWidth || planes == 0 || planes > kMaxPlanes)
        return DecodeResult::Corrupt;
    width_ = int(width);
    planes_ = int(planes);
    previous_.assign(size_t(width_ + 2 * planes_), 0);
    current_.assign(previous_.size(), 0);
    models_ = {};
    return DecodeResult::Ok;
}

DecodeResult PicDecoder::DecodePlane(AceBitReader& in, int plane, int kind) {
    const int k = planes_;
    Model& model = models_[plane == 0 ? 0 : 1];
    const uint8_t* prev = previous_.data() + k;
    uint8_t* cur = current_.data() + k;
    const int start = kind == 0 ? 0 : 128;
    int a = start, b = start, c = start, x = start;
    int d = Transform(kind, prev[plane], prev[plane - 1]);
    for (int col = plane; col < width_; col += k) {
        c = a;
        a = d;
        b = x;
        d = Transform(kind, prev[col + k], prev[col + k - 1]);
        Context& ctx =
            model[size_t(std::abs(81 * Quantise(d - a) + 9 * Quantise(a - c) + Quantise(c - b)))];

        ++ctx.used;
        uint32_t m = 0;
        if (!ReadRice(in, std::bit_width(uint64_t(ctx.average / ctx.used)), m))
            return in.Overrun() ? DecodeResult::Truncated : DecodeResult::Corrupt;
        const int eps = m & 1 ? -int(m >> 1) - 1 : int(m >> 1);

        const int guesses[4] = {a, b, (a + b) >> 1, (a + b - c) & 0xFF};
        x = (guesses[ctx.predictor] + eps) & 0xFF;
        int best = 0;
        bool halve = false;
        for (int i = 0; i < 4; ++i) {
            ctx.errors[size_t(i)] += ErrorWidth(x - guesses[i]);
            if (ctx.errors[size_t(i)] < ctx.errors[size_t(best)]) best = i;
            if (ctx.errors[size_t(i)] >= kErrorLimit) halve = true;
        }
        if (halve)
            for (int& e : ctx.errors)
                e >>= 1;
        ctx.predictor = best;
        ctx.average += std::abs(eps);
        if (ctx.used == 128) {
            ctx.used = 64;
            ctx.average >>= 1;
        }
        cur[col] = uint8_t(Untransform(kind, x, cur[col - 1]));
    }
    return DecodeResult::Ok;
}

DecodeResult PicDecoder::DecodeRow(AceBitReader& in) {
    for (int plane = 0; plane < planes_; ++plane) {
        int kind = 0;
        if (plane > 0) {
            kind = int(in.Read(2));
            if (kind == 3) return DecodeResult::Corrupt;
        }
        const DecodeResult result = DecodePlane(in, plane, kind);
        if (result != DecodeResult::Ok) return result;
    }
    return DecodeResult::Ok;
}

DecodeResult PicDecoder::Decode(AceBitReader& in, Window& window, uint64_t softEnd,
                                uint64_t hardEnd, bool& switched) {
    switched = false;
    while (window.Total() < softEnd) {
        if (in.Read(1) == 0) {
            switched = true;
            break;
        }
        const DecodeResult result = DecodeRow(in);
        if (result != DecodeResult::Ok) return result;
        if (in.Overrun()) return DecodeResult::Truncated;
        const uint64_t room = hardEnd - window.Total();
        window.Append(current_.data() + planes_,
                      size_t(std::min<uint64_t>(room, uint64_t(width_))));
        std::swap(previous_, current_);
    }
    return in.Overrun() ? DecodeResult::Truncated : DecodeResult::Ok;
}

} // namespace dvl::unace::detail
