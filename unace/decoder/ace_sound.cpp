#include "unace/decoder/ace_sound.h"

#include <cstdlib>

namespace dvl::unace::detail {

namespace {

constexpr int kMaxWidth = 10;
constexpr int kListClamp = 289;
constexpr int kModeSwitch = 288;
constexpr int kRunCodes = 32;
constexpr int kTablesPerChannel = 3;
constexpr int kLiteralTable = 2;

// The channel of byte i of a run, by mode and i mod 4.
constexpr int kChannelOf[4][4] = {{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 0, 2}, {1, 0, 2, 0}};
constexpr int kChannelsOf[4] = {1, 2, 3, 3};

int SignedByte(int value) {
    return int(int8_t(uint8_t(value)));
}

// Bit length of |x| for x read as a signed byte.
int Magnitude(int value) {
    const int v = std::abs(SignedByte(value));
    int bits = 0;
    while ((v >> bits) != 0)
        ++bits;
    return bits;
}

} // namespace

void SoundDecoder::Reset(int mode) {
    mode_ = mode;
    channelCount_ = kChannelsOf[mode - kFirstMode];
    runIndex_ = 0;
    symbolsLeft_ = 0;
    channels_ = {};
}

DecodeResult SoundDecoder::ReadBlock(AceBitReader& in) {
    for (int t = 0; t < kTablesPerChannel * channelCount_; ++t) {
        const DecodeResult result = ReadHuffmanTable(in, kMaxWidth, kListClamp, tables_[size_t(t)]);
        if (result != DecodeResult::Ok) return result;
    }
    symbolsLeft_ = in.Read(15);
    if (in.Overrun()) return DecodeResult::Truncated;
    return symbolsLeft_ == 0 ? DecodeResult::Corrupt : DecodeResult::Ok;
}

int SoundDecoder::DecodeSymbol(AceBitReader& in, int table, DecodeResult& result) {
    if (symbolsLeft_ == 0) {
        result = ReadBlock(in);
        if (result != DecodeResult::Ok) return -1;
    }
    --symbolsLeft_;
    in.Refill();
    const int symbol = tables_[size_t(table)].Decode(in);
    if (symbol < 0 || symbol > kModeSwitch) {
        result = DecodeResult::Corrupt;
        return -1;
    }
    return symbol;
}

// The linear prediction, or the last sample when that has been the better guess lately.
uint8_t SoundDecoder::Predict(const Channel& c, int& linear) const {
    int sum = 8 * c.lastSample;
    for (size_t j = 0; j < 4; ++j)
        sum += c.coefficients[j] * c.differences[j];
    linear = (sum >> 3) & 0xFF;
    return uint8_t(c.scores[0] > c.scores[1] ? c.lastSample : linear);
}

void SoundDecoder::Adapt(Channel& c, int linear, int sample) {
    ++c.count;
    const int error = SignedByte(linear - sample) * 8;
    for (size_t j = 0; j < 4; ++j) {
        c.errorSums[2 * j] += std::abs(error - c.differences[j]);
        c.errorSums[2 * j + 1] += std::abs(error + c.differences[j]);
    }
    c.errorSums[8] += std::abs(error);
    c.lastDelta = SignedByte(sample - c.lastSample);
    c.scores[0] += Magnitude(error / 8);
    c.scores[1] += Magnitude(c.lastSample - sample);
    c.lastSample = sample;

    if (c.count % 32 == 0) {
        size_t best = 8;
        for (size_t m = 8; m-- > 0;)
            if (c.errorSums[m] <= c.errorSums[best]) best = m;
        c.errorSums = {};
        if (best != 8) {
            int& k = c.coefficients[best >> 1];
            if (best % 2 == 0 && k >= -16) --k;
            if (best % 2 == 1 && k <= 16) ++k;
        }
        if (c.count % 256 == 0) {
            for (size_t j = 0; j < 2; ++j) {
                c.scores[j] -= c.scoreSnapshots[j];
                c.scoreSnapshots[j] = c.scores[j];
            }
        }
    }
    c.differences[3] = c.differences[2];
    c.differences[2] = c.differences[1];
    c.differences[1] = c.lastDelta - c.differences[0];
    c.differences[0] = c.lastDelta;
}

DecodeResult SoundDecoder::Decode(AceBitReader& in, Window& window, uint64_t softEnd,
                                  bool& switched) {
    switched = false;
    DecodeResult result = DecodeResult::Ok;
    const int(&channelOf)[4] = kChannelOf[mode_ - kFirstMode];
    while (window.Total() < softEnd) {
        const int index = channelOf[runIndex_ % 4];
        Channel& c = channels_[size_t(index)];
        const int firstTable = kTablesPerChannel * index;

        int residual = 0;
        if (c.runState != 2) {
            const int table = firstTable + (c.runState == 0 ? c.adaptiveTable : kLiteralTable);
            const int symbol = DecodeSymbol(in, table, result);
            if (symbol < 0) return result;
            if (symbol == kModeSwitch) {
                switched = true;
                break;
            }
            if (c.runState == 0 && symbol < kRunCodes) {
                c.runState = 2;
                c.runCount = symbol;
            } else if (c.runState == 1) {
                residual = symbol;
                c.runState = 0;
            } else {
                residual = symbol - kRunCodes;
                c.adaptiveCounter = (c.adaptiveCounter * 7 >> 3) + residual;
                c.adaptiveTable = c.adaptiveCounter > 40 ? 1 : 0;
            }
        }
        if (c.runState == 2) {
            residual = 0;
            if (c.runCount == 0)
                c.runState = 1;
            else
                --c.runCount;
        }
        // Odd codes are negative residuals.
        const int delta = residual & 1 ? 255 - (residual >> 1) : residual >> 1;

        int linear = 0;
        const uint8_t prediction = Predict(c, linear);
        const uint8_t out = uint8_t(delta + prediction);
        Adapt(c, linear, SignedByte(out));
        window.Put(out);
        ++runIndex_;
    }
    return in.Overrun() ? DecodeResult::Truncated : DecodeResult::Ok;
}

} // namespace dvl::unace::detail
