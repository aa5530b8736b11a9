// PIC runs (mode 7): rows of interleaved colour planes, each byte predicted from its
// neighbours in the previous row and the row so far by a context model, the prediction error
// coded as a Golomb-Rice number. Planes after the first may be coded relative to the plane
// before them.
#pragma once

#include "unace/decoder/ace_bit_reader.h"
#include "unace/decoder/ace_window.h"

#include <array>
#include <cstdint>
#include <vector>

namespace dvl::unace::detail {

class PicDecoder {
public:
    static constexpr int kMode = 7;

    // Entering PIC from another mode: reads the row width and the plane count and resets the
    // models and the previous row.
    DecodeResult Enter(AceBitReader& in);

    // Decodes rows into the window until it holds softEnd bytes (the last row only up to
    // hardEnd) or a mode switch is announced.
    DecodeResult Decode(AceBitReader& in, Window& window, uint64_t softEnd, uint64_t hardEnd,
                        bool& switched);

private:
    static constexpr int kContexts = 365;

    struct Context {
        int used = 0;
        int predictor = 0;
        int64_t average = 4;
        std::array<int, 4> errors{};
    };
    using Model = std::array<Context, kContexts>;

    DecodeResult DecodeRow(AceBitReader& in);
    DecodeResult DecodePlane(AceBitReader& in, int plane, int kind);
    // Reads a Golomb-Rice number with k low bits; false when it is implausibly large.
    static bool ReadRice(AceBitReader& in, int k, uint32_t& value);

    int width_ = 0;
    int planes_ = 0;
    // Rows hold positions -planes_ .. width_ + planes_ - 1; the outer ones stay 0.
    std::vector<uint8_t> previous_;
    std::vector<uint8_t> current_;
    std::array<Model, 2> models_;
};

} // namespace dvl::unace::detail
