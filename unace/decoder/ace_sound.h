// SOUND runs (modes 3 to 6): per-channel prediction residuals, Huffman-coded with three
// tables per channel (run codes, adaptive choice of two residual tables), and an adaptive
// linear predictor whose output bytes enter the window.
#pragma once

#include "unace/decoder/ace_bit_reader.h"
#include "unace/decoder/ace_huffman.h"
#include "unace/decoder/ace_window.h"

#include <array>
#include <cstdint>

namespace dvl::unace::detail {

class SoundDecoder {
public:
    static constexpr int kFirstMode = 3;
    static constexpr int kLastMode = 6;

    // A fresh model for `mode` (entered from another mode).
    void Reset(int mode);
    // Starts a run of the current mode: byte indexes count from 0 again.
    void StartRun() { runIndex_ = 0; }

    // Decodes into the window until it holds softEnd bytes or a mode switch is read.
    DecodeResult Decode(AceBitReader& in, Window& window, uint64_t softEnd, bool& switched);

private:
    static constexpr int kMaxChannels = 3;

    struct Channel {
        int runState = 0; // 0 residual codes, 1 a literal residual follows a run, 2 in a run
        int runCount = 0;
        int adaptiveCounter = 0;
        int adaptiveTable = 0;
        int lastSample = 0; // signed byte
        int lastDelta = 0;
        std::array<int, 4> differences{};
        std::array<int, 4> coefficients{};
        std::array<int, 9> errorSums{};
        std::array<int, 2> scores{};
        std::array<int, 2> scoreSnapshots{};
        uint32_t count = 0;
    };

    DecodeResult ReadBlock(AceBitReader& in);
    // Decodes one symbol of table `table`: -1 for corrupt data.
    int DecodeSymbol(AceBitReader& in, int table, DecodeResult& result);
    uint8_t Predict(const Channel& channel, int& linear) const;
    static void Adapt(Channel& channel, int linear, int sample);

    int mode_ = kFirstMode;
    int channelCount_ = 1;
    uint64_t runIndex_ = 0;
    uint32_t symbolsLeft_ = 0;
    std::array<HuffmanTable, 3 * kMaxChannels> tables_;
    std::array<Channel, kMaxChannels> channels_;
};

} // namespace dvl::unace::detail
