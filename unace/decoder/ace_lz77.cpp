#include "unace/decoder/ace_lz77.h"

namespace dvl::unace::detail {

namespace {

constexpr int kMaxWidth = 11;
constexpr int kMainListClamp = 284;
constexpr int kLengthListClamp = 255;
constexpr int kFirstRepeat = 256;
constexpr int kFirstNewDistance = 260;
constexpr int kLastNewDistance = 282;
constexpr int kModeSwitch = 283;

} // namespace

void Lz77Decoder::StartMember(bool blocked, int dictionaryBits) {
    symbolsLeft_ = 0;
    distances_ = {};
    blocked_ = blocked;
    dictionarySize_ = uint64_t(1) << dictionaryBits;
}

DecodeResult Lz77Decoder::ReadBlock(AceBitReader& in) {
    DecodeResult result = ReadHuffmanTable(in, kMaxWidth, kMainListClamp, main_);
    if (result != DecodeResult::Ok) return result;
    result = ReadHuffmanTable(in, kMaxWidth, kLengthListClamp, lengths_);
    if (result != DecodeResult::Ok) return result;
    symbolsLeft_ = in.Read(15);
    if (in.Overrun()) return DecodeResult::Truncated;
    return symbolsLeft_ == 0 ? DecodeResult::Corrupt : DecodeResult::Ok;
}

// Symbols 260 + k: distance value k for k < 2, else 2^(k-1) plus k - 1 further bits.
uint32_t Lz77Decoder::NewDistance(AceBitReader& in, int symbol) {
    const int k = symbol - kFirstNewDistance;
    const uint32_t value = k < 2 ? uint32_t(k) : (uint32_t(1) << (k - 1)) + in.Read(k - 1);
    distances_ = {value, distances_[0], distances_[1], distances_[2]};
    return value;
}

// The chosen one of the last four distances moves to the front.
uint32_t Lz77Decoder::RepeatedDistance(int index) {
    const uint32_t value = distances_[size_t(index)];
    for (int i = index; i > 0; --i)
        distances_[size_t(i)] = distances_[size_t(i - 1)];
    distances_[0] = value;
    return value;
}

DecodeResult Lz77Decoder::Decode(AceBitReader& in, Window& window, uint64_t softEnd,
                                 uint64_t hardEnd, bool& switched) {
    switched = false;
    const int lastSymbol = blocked_ ? kModeSwitch : kLastNewDistance;
    while (window.Total() < softEnd) {
        if (symbolsLeft_ == 0) {
            const DecodeResult result = ReadBlock(in);
            if (result != DecodeResult::Ok) return result;
        }
        // 33 bits cover a main code (11) with the extra distance bits (at most 21).
        in.Refill();
        const int symbol = main_.Decode(in);
        --symbolsLeft_;
        if (uint32_t(symbol) < 256) {
            window.Put(uint8_t(symbol));
            continue;
        }
        if (symbol < 0 || symbol > lastSymbol) return DecodeResult::Corrupt;
        if (symbol == kModeSwitch) {
            switched = true;
            break;
        }
        uint32_t value;
        int base;
        if (symbol < kFirstNewDistance) {
            const int index = symbol - kFirstRepeat;
            value = RepeatedDistance(index);
            base = index <= 1 ? 2 : 3;
        } else {
            value = NewDistance(in, symbol);
            base = value <= 255 ? 2 : value <= 8191 ? 3 : 4;
        }
        in.Refill();
        const int lengthCode = lengths_.Decode(in);
        if (lengthCode < 0) return DecodeResult::Corrupt;
        const uint64_t distance = uint64_t(value) + 1;
        const size_t length = size_t(lengthCode + base);
        if (distance > window.Total() || distance > dictionarySize_) return DecodeResult::Corrupt;
        if (window.Total() + length > hardEnd) return DecodeResult::Corrupt;
        window.Copy(size_t(distance), length);
    }
    return in.Overrun() ? DecodeResult::Truncated : DecodeResult::Ok;
}

} // namespace dvl::unace::detail
