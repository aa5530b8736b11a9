#include "unace/decoder/ace_huffman.h"

#include <algorithm>
#include <array>
#include <utility>

namespace dvl::unace::detail {

namespace {

constexpr int kPreCodeMaxWidth = 7;

struct SortedWidths {
    std::array<uint8_t, kMaxWidthListSymbols> key;
    std::array<uint16_t, kMaxWidthListSymbols> symbol;

    void Exchange(int a, int b) {
        std::swap(key[size_t(a)], key[size_t(b)]);
        std::swap(symbol[size_t(a)], symbol[size_t(b)]);
    }
    void OrderPair(int a, int b) {
        if (key[size_t(a)] < key[size_t(b)]) Exchange(a, b);
    }

    // Descending by key; the exact partitioning decides the order of equal keys.
    void Sort(int left, int right) {
        const uint8_t pivot = key[size_t(right)];
        int i = left, j = right;
        do {
            while (i < right && key[size_t(i)] > pivot)
                ++i;
            while (j > left && key[size_t(j)] < pivot)
                --j;
            if (i <= j) {
                Exchange(i, j);
                ++i;
                --j;
            }
        } while (i < j);
        if (left < j) {
            if (left < j - 1)
                Sort(left, j);
            else
                OrderPair(left, j);
        }
        if (i < right) {
            if (i < right - 1)
                Sort(i, right);
            else
                OrderPair(i, right);
        }
    }
};

} // namespace

bool HuffmanTable::Build(std::span<const uint8_t> widths, int maxWidth) {
    const int count = int(widths.size());
    SortedWidths sorted;
    for (int i = 0; i < count; ++i) {
        sorted.key[size_t(i)] = widths[size_t(i)];
        sorted.symbol[size_t(i)] = uint16_t(i);
    }
    if (count > 1) sorted.Sort(0, count - 1);
    int used = 0;
    while (used < count && sorted.key[size_t(used)] > 0)
        ++used;

    maxWidth_ = maxWidth;
    entries_.assign(size_t(1) << maxWidth, 0);
    // A lone symbol (or none: symbol sym[0] of width 0 then fills the whole table) is read as a
    // one-bit code, while its slots follow from its own width.
    const bool lone = used <= 1;
    if (used == 0) used = 1;
    size_t slot = 0;
    const size_t slots = entries_.size();
    for (int k = used - 1; k >= 0; --k) {
        const int width = sorted.key[size_t(k)];
        const size_t span = slots >> width;
        if (span > slots - slot) return false;
        const int consumed = lone ? 1 : width;
        const uint16_t entry = uint16_t(sorted.symbol[size_t(k)] << 4 | consumed);
        for (size_t end = slot + span; slot < end; ++slot)
            entries_[slot] = entry;
    }
    return true;
}

std::vector<std::pair<uint32_t, int>> CodesForWidths(std::span<const uint8_t> widths,
                                                     int maxWidth) {
    std::vector<std::pair<uint32_t, int>> codes(widths.size(), {0, 0});
    HuffmanTable table;
    if (!table.Build(widths, maxWidth)) return codes;
    for (size_t slot = table.entries_.size(); slot-- > 0;) {
        const uint16_t entry = table.entries_[slot];
        const int bits = entry & 15;
        if (bits != 0) codes[entry >> 4] = {uint32_t(slot >> (maxWidth - bits)), bits};
    }
    return codes;
}

DecodeResult ReadHuffmanTable(AceBitReader& in, int maxWidth, int lastSymbol, HuffmanTable& table) {
    const int n = std::min(int(in.Read(9)), lastSymbol);
    const int lowest = int(in.Read(4));
    const int upper = int(in.Read(4));

    std::array<uint8_t, 16> preWidths{};
    for (int i = 0; i <= upper; ++i)
        preWidths[size_t(i)] = uint8_t(in.Read(3));
    HuffmanTable preCode;
    if (!preCode.Build(std::span(preWidths.data(), size_t(upper) + 1), kPreCodeMaxWidth))
        return DecodeResult::Corrupt;

    // The pre-code symbols are deltas; the top symbol is a run of 4..19 zero deltas.
    std::array<uint8_t, kMaxWidthListSymbols> delta{};
    for (int j = 0; j <= n;) {
        in.Refill();
        const int v = preCode.Decode(in);
        if (v < 0) return DecodeResult::Corrupt;
        if (v < upper) {
            delta[size_t(j++)] = uint8_t(v);
            continue;
        }
        const int run = int(in.Read(4)) + 4;
        for (int r = 0; r < run && j <= n; ++r)
            delta[size_t(j++)] = 0;
    }
    if (in.Overrun()) return DecodeResult::Truncated;

    std::array<uint8_t, kMaxWidthListSymbols> widths{};
    for (int j = 0; j <= n; ++j) {
        if (upper > 0 && j > 0)
            delta[size_t(j)] = uint8_t((delta[size_t(j)] + delta[size_t(j - 1)]) % upper);
        if (delta[size_t(j)] == 0) continue;
        const int width = delta[size_t(j)] + lowest;
        if (width > maxWidth) return DecodeResult::Corrupt;
        widths[size_t(j)] = uint8_t(width);
    }
    if (!table.Build(std::span(widths.data(), size_t(n) + 1), maxWidth))
        return DecodeResult::Corrupt;
    return DecodeResult::Ok;
}

} // namespace dvl::unace::detail
