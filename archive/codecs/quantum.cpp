// Quantum decoder: the adaptive models, the arithmetic decoder and the window.
//
// Invariants, which hold whatever the input:
// - A model's cumulative frequencies fall strictly from cum[0] (its total, at most 3800 when a
//   symbol is decoded) to cum[entries] = 0, so every symbol keeps a frequency of at least 1.
// - After renormalisation the coder's range H - L + 1 exceeds 0x4000, more than any total, so each
//   symbol's share of it is at least 1, and L <= C <= H: garbage input still decodes to symbols
//   and the products below stay under 2^32. What garbage can do is name a match that reaches
//   before the folder's first byte or past its frame's end, and those are checked.
// - A step yields at least one byte, so a block takes at most 32768 steps: no input makes the
//   decoder spin.
#include "archive/codecs/quantum.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>

namespace dvl::codecs {
namespace {

constexpr size_t kFrameSize = 32768;
constexpr int kMinWindowBits = 10, kMaxWindowBits = 21;

// A decoded symbol adds this to its frequency; a total above the limit rescales the model.
constexpr unsigned kIncrement = 8;
constexpr unsigned kTotalLimit = 3800;
// Rescales halve the frequencies, but every so many sort the symbols by frequency instead.
constexpr int kFirstReorder = 4, kReorderInterval = 50;

// Beyond a block's bytes the code reads zeros, this many bits at most.
constexpr uint64_t kPaddingBits = 16;

// Distance slots: distance = base + extra bits + 1; two slots per extra bit from slot 4 on.
constexpr int kPositionSlots = 42;
struct PositionSlots {
    std::array<uint32_t, kPositionSlots> base{};
    std::array<uint8_t, kPositionSlots> extra{};
};
constexpr PositionSlots MakePositionSlots() {
    PositionSlots slots;
    uint32_t base = 0;
    for (int i = 0; i < kPositionSlots; ++i) {
        slots.base[i] = base;
        slots.extra[i] = uint8_t(i < 4 ? 0 : (i - 2) / 2);
        base += uint32_t(1) << slots.extra[i];
    }
    return slots;
}
constexpr PositionSlots kPosition = MakePositionSlots();

// Length slots of long matches: length = base + extra bits + 5, at most 259.
constexpr int kLengthSlots = 27;
constexpr std::array<uint8_t, kLengthSlots> kLengthBase = {
    0,  1,  2,  3,  4,  5,  6,  8,   10,  12,  14,  18,  22, 26,
    30, 38, 46, 54, 62, 78, 94, 110, 126, 158, 190, 222, 254};
constexpr std::array<uint8_t, kLengthSlots> kLengthExtra = {
    0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// What the selector picks: a literal from one of four models of 64 byte values each, a match of
// length 3, a match of length 4, or a longer match with a length of its own.
constexpr int kSelectors = 7;
constexpr int kMatch3 = 4, kMatch4 = 5;
// Short matches do not reach far: their distance models stop at these many slots.
constexpr int kMatch3Slots = 24, kMatch4Slots = 36;

// An adaptive frequency model: symbols in table order, each with the total frequency of itself
// and of every symbol after it.
struct Model {
    struct Entry {
        uint16_t symbol;
        uint16_t cum;
    };
    int entries = 0;
    int rescalesLeft = 0;
    std::array<Entry, 65> table{}; // entries + 1, the last with cum 0

    void Init(int firstSymbol, int count) {
        entries = count;
        rescalesLeft = kFirstReorder;
        for (int i = 0; i <= count; ++i)
            table[i] = {uint16_t(firstSymbol + i), uint16_t(count - i)};
    }

    // After the symbol at `index` was decoded.
    void Update(int index) {
        for (int i = 0; i <= index; ++i)
            table[i].cum += kIncrement;
        if (table[0].cum > kTotalLimit) Rescale();
    }

    void Rescale() {
        if (--rescalesLeft > 0) {
            // Halve, keeping every frequency at least 1.
            for (int i = entries - 1; i >= 0; --i) {
                table[i].cum >>= 1;
                if (table[i].cum <= table[i + 1].cum) table[i].cum = table[i + 1].cum + 1;
            }
            return;
        }
        rescalesLeft = kReorderInterval;
        // Frequencies halved rounding up, then ordered most frequent first. The order of equal
        // frequencies is the one this exchange sort leaves, which the encoder shares.
        for (int i = 0; i < entries; ++i)
            table[i].cum = uint16_t((table[i].cum - table[i + 1].cum + 1) >> 1);
        for (int i = 0; i < entries - 1; ++i)
            for (int j = i + 1; j < entries; ++j)
                if (table[i].cum < table[j].cum) std::swap(table[i], table[j]);
        for (int i = entries - 1; i >= 0; --i)
            table[i].cum += table[i + 1].cum;
    }
};

// The code's bits, most significant first, zeros beyond the end.
class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> input)
        : next_(input.data()), end_(input.data() + input.size()) {}

    // n <= 32.
    uint32_t Bits(int n) {
        if (count_ < n) Refill();
        count_ -= n;
        return uint32_t((buffer_ >> count_) & ((uint64_t(1) << n) - 1));
    }

    // True once more zeros beyond the end were taken than a complete code may need.
    bool Overrun() const { return padding_ * 8 > kPaddingBits + uint64_t(count_); }

private:
    void Refill() {
        while (count_ <= 56) {
            uint8_t byte = 0;
            if (next_ != end_)
                byte = *next_++;
            else
                ++padding_;
            buffer_ = (buffer_ << 8) | byte;
            count_ += 8;
        }
    }

    const uint8_t* next_;
    const uint8_t* end_;
    uint64_t buffer_ = 0;
    int count_ = 0;        // bits of buffer_ not yet taken, the low ones
    uint64_t padding_ = 0; // zero bytes put into buffer_ past the end
};

// The arithmetic decoder of one frame: 16-bit low, high and code registers.
class ArithmeticDecoder {
public:
    explicit ArithmeticDecoder(BitReader& bits) : bits_(bits), code_(bits.Bits(16)) {}

    int Decode(Model& model) {
        const uint32_t range = high_ - low_ + 1;
        const uint32_t total = model.table[0].cum;
        const uint32_t target = ((code_ - low_ + 1) * total - 1) / range;
        int i = 1;
        while (i < model.entries && model.table[i].cum > target)
            ++i;
        const int index = i - 1; // its share: [table[i].cum, table[index].cum)
        const int symbol = model.table[index].symbol;
        high_ = (low_ + model.table[index].cum * range / total - 1) & 0xFFFF;
        low_ = (low_ + model.table[i].cum * range / total) & 0xFFFF;
        model.Update(index);
        Renormalize();
        return symbol;
    }

private:
    void Renormalize() {
        for (;;) {
            // Shift out the leading bits low and high share, all at once.
            const int same = std::countl_zero(uint16_t(low_ ^ high_));
            if (same > 0) {
                low_ = (low_ << same) & 0xFFFF;
                high_ = ((high_ << same) | ((1u << same) - 1)) & 0xFFFF;
                code_ = ((code_ << same) | bits_.Bits(same)) & 0xFFFF;
            }
            // Top bits differ: done unless the range straddles the middle narrowly (low in the
            // second quarter, high in the third); then it widens around the middle.
            if (!(low_ & 0x4000) || (high_ & 0x4000)) return;
            low_ = (low_ & 0x3FFF) << 1;
            high_ = (((high_ | 0x4000) << 1) | 1) & 0xFFFF;
            code_ = (((code_ ^ 0x4000) << 1) | bits_.Bits(1)) & 0xFFFF;
        }
    }

    BitReader& bits_;
    uint32_t low_ = 0, high_ = 0xFFFF, code_;
};

} // namespace

struct QuantumDecoder::State {
    int windowBits = 0;
    size_t windowSize = 0; // 0: windowBits out of range
    std::unique_ptr<uint8_t[]> window;
    size_t windowPos = 0; // where the next byte goes; the window is a ring
    size_t history = 0;   // bytes the window holds from earlier blocks (at most windowSize)
    bool broken = false;

    Model selector;
    std::array<Model, 4> literals;
    Model match3, match4, match5, matchLength;

    DecodeStatus Decode(std::span<const uint8_t> input, uint8_t* out, size_t outputSize,
                        size_t& produced);
    void CopyMatch(uint8_t* out, size_t pos, size_t length, size_t distance) const;
    void Remember(const uint8_t* out, size_t size);
};

QuantumDecoder::QuantumDecoder(int windowBits) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.windowBits = windowBits;
    if (windowBits >= kMinWindowBits && windowBits <= kMaxWindowBits) {
        s.window.reset(new (std::nothrow) uint8_t[size_t(1) << windowBits]);
        s.windowSize = size_t(1) << windowBits;
    }
    Reset();
}

QuantumDecoder::~QuantumDecoder() = default;

void QuantumDecoder::Reset() {
    State& s = *state_;
    s.windowPos = 0;
    s.history = 0;
    s.broken = false;
    const int slots = std::clamp(s.windowBits, kMinWindowBits, kMaxWindowBits) * 2;
    s.selector.Init(0, kSelectors);
    for (int i = 0; i < 4; ++i)
        s.literals[i].Init(i * 64, 64);
    s.match3.Init(0, std::min(slots, kMatch3Slots));
    s.match4.Init(0, std::min(slots, kMatch4Slots));
    s.match5.Init(0, slots);
    s.matchLength.Init(0, kLengthSlots);
}

DecodeStatus QuantumDecoder::DecodeBlock(std::span<const uint8_t> input, uint8_t* out,
                                         size_t outputSize) {
    State& s = *state_;
    size_t produced = 0;
    DecodeStatus status = DecodeStatus::Corrupt;
    if (s.windowSize == 0 || s.broken || outputSize > kFrameSize || (!out && outputSize > 0))
        status = DecodeStatus::Corrupt;
    else if (!s.window)
        status = DecodeStatus::NoMemory;
    else
        status = s.Decode(input, out, outputSize, produced);
    if (status == DecodeStatus::Ok) {
        s.Remember(out, outputSize);
    } else {
        s.broken = true;
        if (out && outputSize > produced) std::memset(out + produced, 0, outputSize - produced);
    }
    return status;
}

DecodeStatus QuantumDecoder::State::Decode(std::span<const uint8_t> input, uint8_t* out,
                                           size_t outputSize, size_t& pos) {
    if (outputSize == 0) return DecodeStatus::Ok;
    BitReader bits(input);
    ArithmeticDecoder coder(bits);
    while (pos < outputSize) {
        const int pick = coder.Decode(selector);
        if (pick < kMatch3) {
            const int byte = coder.Decode(literals[pick]);
            if (bits.Overrun()) return DecodeStatus::Truncated;
            out[pos++] = uint8_t(byte);
            continue;
        }
        size_t length = 0;
        int slot = 0;
        if (pick == kMatch3) {
            length = 3;
            slot = coder.Decode(match3);
        } else if (pick == kMatch4) {
            length = 4;
            slot = coder.Decode(match4);
        } else {
            const int lengthSlot = coder.Decode(matchLength);
            length = kLengthBase[lengthSlot] + bits.Bits(kLengthExtra[lengthSlot]) + 5;
            slot = coder.Decode(match5);
        }
        const size_t distance = kPosition.base[slot] + bits.Bits(kPosition.extra[slot]) + 1;
        if (bits.Overrun()) return DecodeStatus::Truncated;
        // Within the window (the slots of a window size never reach beyond it), not before
        // the folder's first byte, and not past the frame. A block shorter than a frame (the
        // folder's last) may end inside a match: what lies beyond it belongs to no file.
        if (distance > windowSize || (distance > pos && distance - pos > history))
            return DecodeStatus::Corrupt;
        if (length > kFrameSize - pos) return DecodeStatus::Corrupt;
        length = std::min(length, outputSize - pos);
        CopyMatch(out, pos, length, distance);
        pos += length;
    }
    return DecodeStatus::Ok;
}

// Copies a checked match: first the part the window holds from earlier blocks, then from this
// block's output, byte by byte as the source may overlap what is being written.
void QuantumDecoder::State::CopyMatch(uint8_t* out, size_t pos, size_t length,
                                      size_t distance) const {
    size_t done = 0;
    if (distance > pos) {
        const size_t back = distance - pos;
        const size_t mask = windowSize - 1;
        size_t from = (windowPos - back) & mask;
        for (; done < length && done < back; ++done) {
            out[pos + done] = window[from];
            from = (from + 1) & mask;
        }
    }
    for (; done < length; ++done)
        out[pos + done] = out[pos + done - distance];
}

// Keeps a decoded block's bytes (its last windowSize of them) for the blocks after it.
void QuantumDecoder::State::Remember(const uint8_t* out, size_t size) {
    if (size == 0) return;
    if (size >= windowSize) {
        std::memcpy(window.get(), out + size - windowSize, windowSize);
        windowPos = 0;
        history = windowSize;
        return;
    }
    const size_t first = std::min(size, windowSize - windowPos);
    std::memcpy(window.get() + windowPos, out, first);
    std::memcpy(window.get(), out + first, size - first);
    windowPos = (windowPos + size) & (windowSize - 1);
    history = std::min(windowSize, history + size);
}

} // namespace dvl::codecs
