// Huffman codes of ACE streams: a width list as transmitted (delta-coded through a small
// pre-code), the codes rebuilt from the widths, and one-level table decoding.
//
// Ties between equal widths are broken by the order a particular quicksort leaves the symbols
// in; the codes are only right when that sort is reproduced exactly.
#pragma once

#include "unace/decoder/ace_bit_reader.h"

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace dvl::unace::detail {

constexpr int kMaxWidthListSymbols = 290; // the largest clamp (289) plus one

class HuffmanTable {
public:
    // Builds the code for widths[0..n-1], each at most maxWidth (at most 11). False when the
    // widths oversubscribe the code.
    bool Build(std::span<const uint8_t> widths, int maxWidth);

    // The next symbol, or -1 when the bits lead to no code. Needs maxWidth buffered bits.
    [[gnu::always_inline]] int Decode(AceBitReader& in) const {
        const uint16_t entry = entries_[in.Peek(maxWidth_)];
        const int width = entry & 15;
        if (width == 0) return -1;
        in.Skip(width);
        return entry >> 4;
    }

private:
    int maxWidth_ = 1;
    friend std::vector<std::pair<uint32_t, int>> CodesForWidths(std::span<const uint8_t>, int);
    // Per slot: symbol << 4 | bits consumed; 0 marks a slot no code reaches.
    std::vector<uint16_t> entries_ = std::vector<uint16_t>(2, 0);
};

// The code of every symbol as a table built from these widths decodes it: {code, bits}, bits 0
// for symbols no code reaches. For encoders, which must use exactly these codes.
std::vector<std::pair<uint32_t, int>> CodesForWidths(std::span<const uint8_t> widths, int maxWidth);

// Reads one width list: widths are sent for symbols 0..N, N clamped to lastSymbol; widths
// above maxWidth are corrupt. Builds the table from it.
DecodeResult ReadHuffmanTable(AceBitReader& in, int maxWidth, int lastSymbol, HuffmanTable& table);

} // namespace dvl::unace::detail
