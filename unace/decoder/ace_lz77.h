// The LZ77 layer shared by ACE 1.0 members and modes 0, 1 and 2 of ACE 2.0 members: blocks of
// a main and a length table with a symbol count, literals, matches with a new distance or one
// of the last four, and (blocked members only) the mode-switch symbol.
#pragma once

#include "unace/decoder/ace_bit_reader.h"
#include "unace/decoder/ace_huffman.h"
#include "unace/decoder/ace_window.h"

#include <array>
#include <cstdint>

namespace dvl::unace::detail {

class Lz77Decoder {
public:
    // Fresh state for a member: no tables, no symbols left, all four distances 0.
    void StartMember(bool blocked, int dictionaryBits);

    // Decodes into the window until it holds softEnd bytes or a mode switch is read
    // (`switched`). No match may carry the window past hardEnd.
    DecodeResult Decode(AceBitReader& in, Window& window, uint64_t softEnd, uint64_t hardEnd,
                        bool& switched);

private:
    DecodeResult ReadBlock(AceBitReader& in);
    uint32_t NewDistance(AceBitReader& in, int symbol);
    uint32_t RepeatedDistance(int index);

    HuffmanTable main_;
    HuffmanTable lengths_;
    uint32_t symbolsLeft_ = 0;
    std::array<uint32_t, 4> distances_{};
    bool blocked_ = false;
    uint64_t dictionarySize_ = 0;
};

} // namespace dvl::unace::detail
