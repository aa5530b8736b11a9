// The LZX decoder: the peer cabinets against cabextract, and streams written here by a small LZX
// writer for what real cabinets rarely hold (every block type in odd places, changing trees,
// call translation, broken streams). The writer's streams are checked against cabextract too,
// so they stand for the format, not for this decoder's reading of it.
#include "archive/codecs/lzx.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <functional>
#include <optional>
#include <queue>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace dvl::codecs {
namespace {

namespace fs = std::filesystem;

constexpr size_t kFrame = 32768;
constexpr unsigned kMainCodeLimit = 16;
constexpr unsigned kPretreeCodeLimit = 15; // 4-bit length fields
constexpr unsigned kAlignedCodeLimit = 7;  // 3-bit length fields

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void PutLe32At(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// ---------------------------------------------------------------------------------------------
// Writing LZX streams

// 16-bit little-endian words filled from their most significant bit; bytes for uncompressed
// blocks go straight out, the writer then being on a word boundary.
class BitWriter {
public:
    void Bits(uint32_t value, unsigned count) {
        for (unsigned i = count; i-- > 0;) {
            word_ = uint16_t(word_ << 1 | (value >> i & 1));
            if (++filled_ == 16) {
                bytes_.push_back(uint8_t(word_));
                bytes_.push_back(uint8_t(word_ >> 8));
                word_ = 0;
                filled_ = 0;
            }
        }
    }
    // Up to the next word boundary: 0-15 bits at a frame's end, 1-16 before uncompressed data.
    void AlignFrame() {
        if (filled_) Bits(0, 16 - filled_);
    }
    unsigned AlignUncompressed() {
        const unsigned pad = 16 - filled_;
        Bits(0, pad);
        return pad;
    }
    void Byte(uint8_t b) { bytes_.push_back(b); }
    void Le32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            Byte(uint8_t(v >> (8 * i)));
    }
    bool Empty() const { return bytes_.empty() && filled_ == 0; }
    std::vector<uint8_t> Take() {
        std::vector<uint8_t> b;
        b.swap(bytes_);
        return b;
    }

private:
    std::vector<uint8_t> bytes_;
    uint16_t word_ = 0;
    unsigned filled_ = 0;
};

// Huffman code lengths for the frequencies, no longer than `limit` (frequencies are halved until
// they fit). A lone used symbol gets a partner: a tree in use holds two codes at least.
std::vector<uint8_t> CodeLengths(std::vector<uint32_t> freq, unsigned limit) {
    const size_t n = freq.size();
    std::vector<uint8_t> lengths(n, 0);
    size_t used = std::count_if(freq.begin(), freq.end(), [](uint32_t f) { return f != 0; });
    if (used == 0) return lengths;
    if (used == 1) freq[freq[0] ? 1 : 0] = 1;
    for (;;) {
        struct Node {
            uint64_t weight;
            int left, right;
        };
        std::vector<Node> nodes;
        using Item = std::pair<uint64_t, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
        for (size_t s = 0; s < n; ++s)
            if (freq[s]) {
                nodes.push_back({freq[s], -1, int(s)});
                heap.push({freq[s], int(nodes.size() - 1)});
            }
        while (heap.size() > 1) {
            const Item a = heap.top();
            heap.pop();
            const Item b = heap.top();
            heap.pop();
            nodes.push_back({a.first + b.first, a.second, b.second});
            heap.push({a.first + b.first, int(nodes.size() - 1)});
        }
        unsigned longest = 0;
        std::vector<std::pair<int, unsigned>> stack{{heap.top().second, 0u}};
        while (!stack.empty()) {
            const auto [index, depth] = stack.back();
            stack.pop_back();
            const Node& node = nodes[size_t(index)];
            if (node.left < 0) {
                lengths[size_t(node.right)] = uint8_t(depth);
                longest = std::max(longest, depth);
            } else {
                stack.push_back({node.left, depth + 1});
                stack.push_back({node.right, depth + 1});
            }
        }
        if (longest <= limit) return lengths;
        for (uint32_t& f : freq)
            if (f) f = (f + 1) / 2;
    }
}

// Canonical codes: shortest first, then in symbol order.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    uint32_t count[18] = {}, next[18] = {};
    for (uint8_t len : lengths)
        ++count[len];
    count[0] = 0;
    for (unsigned len = 1; len <= 16; ++len)
        next[len + 1] = (next[len] + count[len]) << 1;
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    return codes;
}

constexpr unsigned kSlots = 50;
constexpr std::array<unsigned, kSlots> MakeExtra() {
    std::array<unsigned, kSlots> e{};
    for (unsigned s = 4; s < kSlots; ++s)
        e[s] = std::min(17u, (s - 2) / 2);
    return e;
}
constexpr std::array<unsigned, kSlots> kExtra = MakeExtra();
constexpr std::array<uint32_t, kSlots> MakeBase() {
    std::array<uint32_t, kSlots> b{};
    for (unsigned s = 1; s < kSlots; ++s)
        b[s] = b[s - 1] + (1u << kExtra[s - 1]);
    return b;
}
constexpr std::array<uint32_t, kSlots> kBase = MakeBase();

unsigned PositionSlots(int windowBits) {
    return windowBits == 21 ? 50 : windowBits == 20 ? 42 : unsigned(2 * windowBits);
}

struct Repeats {
    uint32_t r[3] = {1, 1, 1};
};

struct SlotChoice {
    unsigned slot;
    uint32_t footer;
};

// The position slot for `offset`, updating the repeated offsets as the decoder will.
SlotChoice ChooseSlot(uint32_t offset, Repeats& rep) {
    for (unsigned i = 0; i < 3; ++i)
        if (offset == rep.r[i]) {
            std::swap(rep.r[0], rep.r[i]);
            return {i, 0};
        }
    const uint32_t formatted = offset + 2;
    unsigned slot = 3;
    while (slot + 1 < kSlots && kBase[slot + 1] <= formatted)
        ++slot;
    rep.r[2] = rep.r[1];
    rep.r[1] = rep.r[0];
    rep.r[0] = offset;
    return {slot, formatted - kBase[slot]};
}

struct Token {
    uint32_t length = 0; // 0: a literal
    uint32_t offset = 0;
    uint8_t literal = 0;
};
Token Literal(uint8_t b) {
    return {0, 0, b};
}
Token Match(uint32_t length, uint32_t offset) {
    return {length, offset, 0};
}

struct Block {
    unsigned type = 1; // 1 verbatim, 2 aligned offset, 3 uncompressed; others: the header only
    std::vector<Token> tokens;
    std::vector<uint8_t> raw;
    std::optional<uint32_t> declaredSize;               // default: what the block holds
    std::optional<std::array<uint32_t, 3>> rawRepeats;  // default: the writer's R0-R2
    std::optional<std::vector<uint8_t>> mainLengths;    // default: from the tokens
    std::optional<std::vector<uint8_t>> lengthLengths;  // likewise
    std::optional<std::vector<uint8_t>> alignedLengths; // likewise
};

Block Coded(unsigned type, std::vector<Token> tokens) {
    Block b;
    b.type = type;
    b.tokens = std::move(tokens);
    return b;
}
Block Stored(std::vector<uint8_t> raw) {
    Block b;
    b.type = 3;
    b.raw = std::move(raw);
    return b;
}
Block HeaderOnly(unsigned type) {
    Block b;
    b.type = type;
    return b;
}

// A folder's data blocks and the output size of each.
struct Stream {
    std::vector<std::vector<uint8_t>> chunks;
    std::vector<size_t> sizes;
};

class LzxWriter {
public:
    LzxWriter(int windowBits, std::optional<int32_t> translation, bool runs = true)
        : windowBits_(windowBits), mainSymbols_(256 + 8 * PositionSlots(windowBits)),
          translation_(translation), runs_(runs), prevMain_(mainSymbols_, 0), prevLength_(249, 0) {}

    Stream Write(const std::vector<Block>& blocks) {
        w_.Bits(translation_ ? 1 : 0, 1);
        if (translation_) {
            w_.Bits(uint32_t(*translation_) >> 16, 16);
            w_.Bits(uint32_t(*translation_) & 0xFFFF, 16);
        }
        for (const Block& b : blocks)
            WriteBlock(b);
        if (out_ != cut_ || stream_.chunks.empty()) {
            w_.AlignFrame();
            stream_.chunks.push_back(w_.Take());
            stream_.sizes.push_back(out_ - cut_);
        } else if (!w_.Empty()) {
            w_.AlignFrame(); // an odd uncompressed block's padding byte after the last frame
            const std::vector<uint8_t> tail = w_.Take();
            stream_.chunks.back().insert(stream_.chunks.back().end(), tail.begin(), tail.end());
        }
        return stream_;
    }
    // The padding bits before the last uncompressed block's R0-R2.
    unsigned LastUncompressedPad() const { return lastPad_; }

private:
    void Advance(size_t n) {
        out_ += n;
        if (out_ % kFrame == 0 && out_ != cut_) {
            w_.AlignFrame();
            stream_.chunks.push_back(w_.Take());
            stream_.sizes.push_back(out_ - cut_);
            cut_ = out_;
        }
    }

    void WriteBlock(const Block& b) {
        size_t size = b.raw.size();
        for (const Token& t : b.tokens)
            size += t.length ? t.length : 1;
        w_.Bits(b.type, 3);
        w_.Bits(b.declaredSize.value_or(uint32_t(size)), 24);
        if (b.type == 3) {
            lastPad_ = w_.AlignUncompressed();
            if (b.rawRepeats) std::copy(b.rawRepeats->begin(), b.rawRepeats->end(), rep_.r);
            for (uint32_t r : rep_.r)
                w_.Le32(r);
            for (uint8_t byte : b.raw) {
                w_.Byte(byte);
                Advance(1);
            }
            if (b.raw.size() & 1) w_.Byte(0);
            return;
        }
        if (b.type != 1 && b.type != 2) return;
        const bool aligned = b.type == 2;

        // Symbol statistics on a copy of the repeated offsets.
        std::vector<uint32_t> mainFreq(mainSymbols_, 0), lengthFreq(249, 0), alignedFreq(8, 0);
        Repeats rep = rep_;
        for (const Token& t : b.tokens) {
            if (!t.length) {
                ++mainFreq[t.literal];
                continue;
            }
            const SlotChoice c = ChooseSlot(t.offset, rep);
            const uint32_t header = std::min(t.length - 2, 7u);
            ++mainFreq[256 + 8 * c.slot + header];
            if (header == 7) ++lengthFreq[t.length - 9];
            if (aligned && c.slot >= 3 && kExtra[c.slot] >= 3) ++alignedFreq[c.footer & 7];
        }
        std::vector<uint8_t> alignedLengths;
        if (aligned) {
            // An aligned block's aligned tree is in use even when no offset needs it.
            alignedLengths = std::all_of(alignedFreq.begin(), alignedFreq.end(),
                                         [](uint32_t f) { return f == 0; })
                                 ? std::vector<uint8_t>(8, 3)
                                 : CodeLengths(alignedFreq, kAlignedCodeLimit);
            if (b.alignedLengths) alignedLengths = *b.alignedLengths;
            for (uint8_t len : alignedLengths)
                w_.Bits(len, 3);
        }
        const std::vector<uint8_t> mainLengths =
            b.mainLengths.value_or(CodeLengths(mainFreq, kMainCodeLimit));
        const std::vector<uint8_t> lengthLengths =
            b.lengthLengths.value_or(CodeLengths(lengthFreq, kMainCodeLimit));
        WriteLengths(prevMain_, mainLengths, 0, 256);
        WriteLengths(prevMain_, mainLengths, 256, mainSymbols_);
        WriteLengths(prevLength_, lengthLengths, 0, 249);

        const std::vector<uint32_t> mainCodes = CanonicalCodes(mainLengths);
        const std::vector<uint32_t> lengthCodes = CanonicalCodes(lengthLengths);
        const std::vector<uint32_t> alignedCodes = CanonicalCodes(alignedLengths);
        for (const Token& t : b.tokens) {
            if (!t.length) {
                w_.Bits(mainCodes[t.literal], mainLengths[t.literal]);
                Advance(1);
                continue;
            }
            const SlotChoice c = ChooseSlot(t.offset, rep_);
            const uint32_t header = std::min(t.length - 2, 7u);
            const unsigned symbol = 256 + 8 * c.slot + header;
            w_.Bits(mainCodes[symbol], mainLengths[symbol]);
            if (header == 7) w_.Bits(lengthCodes[t.length - 9], lengthLengths[t.length - 9]);
            if (c.slot >= 3) {
                const unsigned extra = kExtra[c.slot];
                if (aligned && extra >= 3) {
                    w_.Bits(c.footer >> 3, extra - 3);
                    w_.Bits(alignedCodes[c.footer & 7], alignedLengths[c.footer & 7]);
                } else {
                    w_.Bits(c.footer, extra);
                }
            }
            Advance(t.length);
        }
    }

    // Lengths first..last-1 as pretree codes of their changes; with runs_, zero runs as 17 and 18
    // and runs of 4-5 equal lengths as 19 (its change taken against the run's first length).
    void WriteLengths(std::vector<uint8_t>& prev, const std::vector<uint8_t>& next, unsigned first,
                      unsigned last) {
        struct Op {
            unsigned code, extraBits, extra;
            int same;
        };
        std::vector<Op> ops;
        for (unsigned i = first; i < last;) {
            unsigned run = 1;
            while (i + run < last && next[i + run] == next[i])
                ++run;
            const unsigned change = (prev[i] + 17 - next[i]) % 17;
            if (runs_ && next[i] == 0 && run >= 20) {
                run = std::min(run, 51u);
                ops.push_back({18, 5, run - 20, -1});
            } else if (runs_ && next[i] == 0 && run >= 4) {
                ops.push_back({17, 4, run - 4, -1});
            } else if (runs_ && next[i] != 0 && run >= 4) {
                run = std::min(run, 5u);
                ops.push_back({19, 1, run - 4, int(change)});
            } else {
                run = 1;
                ops.push_back({change, 0, 0, -1});
            }
            std::fill(prev.begin() + i, prev.begin() + i + run, next[i]);
            i += run;
        }
        std::vector<uint32_t> freq(20, 0);
        for (const Op& op : ops) {
            ++freq[op.code];
            if (op.same >= 0) ++freq[size_t(op.same)];
        }
        const std::vector<uint8_t> lengths = CodeLengths(freq, kPretreeCodeLimit);
        const std::vector<uint32_t> codes = CanonicalCodes(lengths);
        for (uint8_t len : lengths)
            w_.Bits(len, 4);
        for (const Op& op : ops) {
            w_.Bits(codes[op.code], lengths[op.code]);
            w_.Bits(op.extra, op.extraBits);
            if (op.same >= 0) w_.Bits(codes[size_t(op.same)], lengths[size_t(op.same)]);
        }
    }

    int windowBits_;
    unsigned mainSymbols_;
    std::optional<int32_t> translation_;
    bool runs_;
    std::vector<uint8_t> prevMain_, prevLength_;
    Repeats rep_;
    BitWriter w_;
    Stream stream_;
    size_t out_ = 0, cut_ = 0;
    unsigned lastPad_ = 0;
};

// The encoder's side of call translation, applied to each frame before compression.
std::vector<uint8_t> TranslateCalls(std::vector<uint8_t> data, int32_t translationSize) {
    for (size_t start = 0; start < data.size() && start < (size_t(1) << 30); start += kFrame) {
        const size_t n = std::min(kFrame, data.size() - start);
        if (n <= 10) break;
        uint8_t* frame = data.data() + start;
        for (size_t i = 0; i < n - 10; ++i) {
            if (frame[i] != 0xE8) continue;
            const int64_t current = int64_t(start + i);
            const int64_t displacement = int32_t(Le32(frame + i + 1));
            const int64_t target = current + displacement;
            if (target >= 0 && target < translationSize + current)
                PutLe32At(
                    frame + i + 1,
                    uint32_t(target >= translationSize ? displacement - translationSize : target));
            i += 4;
        }
    }
    return data;
}

// Greedy LZ77 parse of `data` into the planned blocks ({type, size}): matches of 3 or more bytes
// (2 at a repeated offset), never across a frame or block boundary, within the window.
std::vector<Block> Parse(const std::vector<uint8_t>& data, int windowBits,
                         const std::vector<std::pair<unsigned, size_t>>& plan) {
    const size_t maxOffset = (size_t(1) << windowBits) - 3;
    std::vector<int64_t> head(1 << 16, -1), chain(data.size(), -1);
    auto hash = [&](size_t i) {
        return (uint32_t(data[i]) * 0x9E3779B1u ^ uint32_t(data[i + 1]) * 0x85EBCA77u ^
                uint32_t(data[i + 2]) * 0xC2B2AE3Du) >>
               16;
    };
    auto insert = [&](size_t i) {
        if (i + 2 >= data.size()) return;
        const uint32_t h = hash(i);
        chain[i] = head[h];
        head[h] = int64_t(i);
    };
    auto matchLength = [&](size_t i, size_t offset, size_t limit) {
        size_t n = 0;
        while (n < limit && data[i + n] == data[i + n - offset])
            ++n;
        return n;
    };

    std::vector<Block> blocks;
    Repeats rep;
    size_t pos = 0;
    for (const auto& [type, size] : plan) {
        Block block;
        block.type = type;
        const size_t end = pos + size;
        if (type == 3) {
            block.raw.assign(data.begin() + pos, data.begin() + end);
            for (; pos < end; ++pos)
                insert(pos);
            blocks.push_back(std::move(block));
            continue;
        }
        while (pos < end) {
            const size_t limit = std::min({end - pos, size_t(257), kFrame - pos % kFrame});
            size_t bestLength = 0, bestOffset = 0;
            for (uint32_t r : rep.r)
                if (r <= pos && r <= maxOffset) {
                    const size_t n = matchLength(pos, r, limit);
                    if (n >= 2 && n > bestLength) bestLength = n, bestOffset = r;
                }
            if (pos + 2 < data.size()) {
                int steps = 32;
                for (int64_t c = head[hash(pos)]; c >= 0 && steps-- > 0; c = chain[size_t(c)]) {
                    const size_t offset = pos - size_t(c);
                    if (offset > maxOffset) break;
                    const size_t n = matchLength(pos, offset, limit);
                    if (n >= 3 && n > bestLength + 1) bestLength = n, bestOffset = offset;
                }
            }
            if (bestLength >= 2) {
                block.tokens.push_back(Match(uint32_t(bestLength), uint32_t(bestOffset)));
                ChooseSlot(uint32_t(bestOffset), rep);
                for (size_t k = 0; k < bestLength; ++k)
                    insert(pos + k);
                pos += bestLength;
            } else {
                block.tokens.push_back(Literal(data[pos]));
                insert(pos++);
            }
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

Stream Compress(const std::vector<uint8_t>& data, int windowBits,
                const std::vector<std::pair<unsigned, size_t>>& plan,
                std::optional<int32_t> translation = std::nullopt) {
    const std::vector<uint8_t> coded = translation ? TranslateCalls(data, *translation) : data;
    return LzxWriter(windowBits, translation).Write(Parse(coded, windowBits, plan));
}

// ---------------------------------------------------------------------------------------------
// Decoding and cabinets

struct Decoded {
    DecodeStatus status = DecodeStatus::Ok;
    std::vector<uint8_t> output;
};

Decoded DecodeStream(LzxDecoder& decoder, const Stream& stream) {
    Decoded d;
    for (size_t i = 0; i < stream.chunks.size(); ++i) {
        const size_t at = d.output.size();
        d.output.resize(at + stream.sizes[i]);
        d.status = decoder.DecodeBlock(stream.chunks[i], d.output.data() + at, stream.sizes[i]);
        if (d.status != DecodeStatus::Ok) break;
    }
    return d;
}

Decoded DecodeStream(int windowBits, const Stream& stream) {
    LzxDecoder decoder(windowBits);
    return DecodeStream(decoder, stream);
}

// A cabinet of one LZX folder holding one file, for cabextract.
std::vector<uint8_t> MakeCabinet(const Stream& stream, int windowBits) {
    size_t total = 0, dataBytes = 0;
    for (size_t i = 0; i < stream.chunks.size(); ++i) {
        total += stream.sizes[i];
        dataBytes += 8 + stream.chunks[i].size();
    }
    const std::string name = "data.bin";
    const uint32_t filesAt = 36 + 8, dataAt = filesAt + 16 + uint32_t(name.size()) + 1;
    std::vector<uint8_t> cab = test::Bytes("MSCF");
    test::PutLe32(cab, 0);
    test::PutLe32(cab, uint32_t(dataAt + dataBytes));
    test::PutLe32(cab, 0);
    test::PutLe32(cab, filesAt);
    test::PutLe32(cab, 0);
    cab.push_back(3); // version 1.3
    cab.push_back(1);
    test::PutLe16(cab, 1); // folders
    test::PutLe16(cab, 1); // files
    test::PutLe16(cab, 0); // flags
    test::PutLe16(cab, 0x1234);
    test::PutLe16(cab, 0);
    test::PutLe32(cab, dataAt); // CFFOLDER
    test::PutLe16(cab, uint32_t(stream.chunks.size()));
    test::PutLe16(cab, 3 | uint32_t(windowBits) << 8);
    test::PutLe32(cab, uint32_t(total)); // CFFILE
    test::PutLe32(cab, 0);
    test::PutLe16(cab, 0);
    test::PutLe16(cab, 0x21); // 1980-01-01
    test::PutLe16(cab, 0);
    test::PutLe16(cab, 0x20);
    cab.insert(cab.end(), name.begin(), name.end());
    cab.push_back(0);
    for (size_t i = 0; i < stream.chunks.size(); ++i) {
        test::PutLe32(cab, 0); // no checksum
        test::PutLe16(cab, uint32_t(stream.chunks[i].size()));
        test::PutLe16(cab, uint32_t(stream.sizes[i]));
        cab.insert(cab.end(), stream.chunks[i].begin(), stream.chunks[i].end());
    }
    return cab;
}

std::vector<uint8_t> CabextractOutput(const fs::path& cab, int* status) {
    const std::string out =
        test::RunAndCapture("cabextract -q -p " + test::Quote(cab) + " 2>/dev/null", status);
    return {out.begin(), out.end()};
}

// The folders and files of a cabinet file, read as far as these tests need.
struct CabFolder {
    uint16_t type = 0;
    std::vector<std::span<const uint8_t>> blocks;
    std::vector<size_t> sizes;
};
struct CabFile {
    uint32_t size = 0, offset = 0;
    uint16_t folder = 0;
};
struct Cabinet {
    std::vector<CabFolder> folders;
    std::vector<CabFile> files;
};

std::optional<Cabinet> ReadCabinet(const std::vector<uint8_t>& b) {
    size_t at = 0;
    auto need = [&](size_t n) { return at <= b.size() && b.size() - at >= n; };
    auto u8 = [&]() { return b[at++]; };
    auto u16 = [&]() {
        const uint16_t v = uint16_t(b[at] | b[at + 1] << 8);
        at += 2;
        return v;
    };
    auto u32 = [&]() {
        const uint32_t v = Le32(&b[at]);
        at += 4;
        return v;
    };
    auto skipString = [&]() {
        while (at < b.size() && b[at])
            ++at;
        return at++ < b.size();
    };
    if (!need(36) || std::memcmp(b.data(), "MSCF", 4) != 0) return std::nullopt;
    at = 16;
    const uint32_t filesAt = u32();
    at = 26;
    const uint16_t folderCount = u16(), fileCount = u16(), flags = u16();
    at = 36;
    size_t folderReserve = 0, dataReserve = 0;
    if (flags & 4) {
        if (!need(4)) return std::nullopt;
        const uint16_t headerReserve = u16();
        folderReserve = u8();
        dataReserve = u8();
        at += headerReserve;
    }
    for (int names = ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0); names > 0; --names)
        if (!skipString()) return std::nullopt;

    Cabinet cab;
    for (unsigned f = 0; f < folderCount; ++f) {
        if (!need(8)) return std::nullopt;
        const uint32_t dataAt = u32();
        const uint16_t blocks = u16();
        CabFolder folder;
        folder.type = u16();
        at += folderReserve;
        size_t next = at;
        at = dataAt;
        for (unsigned k = 0; k < blocks; ++k) {
            if (!need(8)) return std::nullopt;
            at += 4;
            const uint16_t packed = u16(), size = u16();
            at += dataReserve;
            if (!need(packed)) return std::nullopt;
            folder.blocks.push_back({b.data() + at, packed});
            folder.sizes.push_back(size);
            at += packed;
        }
        cab.folders.push_back(std::move(folder));
        at = next;
    }
    at = filesAt;
    for (unsigned f = 0; f < fileCount; ++f) {
        if (!need(16)) return std::nullopt;
        CabFile file;
        file.size = u32();
        file.offset = u32();
        file.folder = u16();
        at += 6;
        if (!skipString()) return std::nullopt;
        cab.files.push_back(file);
    }
    return cab;
}

// ---------------------------------------------------------------------------------------------
// Data

std::vector<uint8_t> Text(size_t n, uint32_t seed) {
    static const char* const words[] = {"the ",     "window ", "frame ",  "block ", "tree ",
                                        "offset ",  "match ",  "length ", "of ",    "a ",
                                        "cabinet ", "folder ", "data\n",  "and ",   "LZX "};
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    while (out.size() < n) {
        const char* w = words[rng() % std::size(words)];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(n);
    return out;
}

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out)
        b = uint8_t(rng());
    return out;
}

// Bytes whose frequencies fall off geometrically: the main tree gets codes of 16 bits.
std::vector<uint8_t> Skewed(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::geometric_distribution<int> geometric(0.45);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out)
        b = uint8_t(std::min(geometric(rng), 255));
    return out;
}

// Code with x86 calls: 0xE8 and a displacement to somewhere near, among other bytes.
std::vector<uint8_t> Calls(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out = Text(n, seed);
    for (size_t i = 0; i + 5 <= n; i += 7 + rng() % 40) {
        out[i] = 0xE8;
        PutLe32At(&out[i + 1], uint32_t(int32_t(rng() % 200000) - 100000));
    }
    return out;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// ---------------------------------------------------------------------------------------------
// The peer cabinets

TEST(LzxPeerCabinets, DecodeAsCabextractDoes) {
    const fs::path dir = test::PeerFixtures() / "cab";
    if (test::PeerFixtures().empty()) GTEST_SKIP() << "no peer fixtures";
    const bool haveCabextract = test::HaveTool("cabextract");
    struct Case {
        const char* file;
        DecodeStatus expected;
    };
    const Case cases[] = {
        {"lzx21-large-files.cab", DecodeStatus::Ok},          // 2 MiB window, 449 blocks
        {"test_read_format_cab_3.cab", DecodeStatus::Ok},     // 256 KiB window, call translation
        {"lzx-premature-matches.cab", DecodeStatus::Corrupt}, // a match before the first byte
        {"lzx-main-tree-no-lengths.cab", DecodeStatus::Corrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::vector<uint8_t> bytes = test::ReadFile(dir / c.file);
        const std::optional<Cabinet> cab = ReadCabinet(bytes);
        ASSERT_TRUE(cab);
        ASSERT_EQ(cab->folders.size(), 1u);
        const CabFolder& folder = cab->folders[0];
        ASSERT_EQ(folder.type & 0xF, 3);
        Stream stream;
        for (size_t i = 0; i < folder.blocks.size(); ++i) {
            stream.chunks.emplace_back(folder.blocks[i].begin(), folder.blocks[i].end());
            stream.sizes.push_back(folder.sizes[i]);
        }
        const Decoded decoded = DecodeStream((folder.type >> 8) & 0x1F, stream);
        EXPECT_EQ(decoded.status, c.expected);
        if (c.expected != DecodeStatus::Ok) continue;

        // The files, in order, fill the folder.
        std::vector<uint8_t> files;
        for (const CabFile& f : cab->files) {
            ASSERT_LE(uint64_t(f.offset) + f.size, decoded.output.size());
            files.insert(files.end(), decoded.output.begin() + f.offset,
                         decoded.output.begin() + f.offset + f.size);
        }
        EXPECT_EQ(files.size(), decoded.output.size());
        if (!haveCabextract) continue;
        int status = -1;
        const std::vector<uint8_t> expected = CabextractOutput(dir / c.file, &status);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(files == expected) << "differs from cabextract -p";
    }
    if (!haveCabextract) GTEST_SKIP() << "peer tool cabextract is absent: output not compared";
}

// ---------------------------------------------------------------------------------------------
// Streams of the writer above, decoded here and by cabextract

struct RoundTrip {
    const char* name;
    int windowBits;
    std::function<std::vector<uint8_t>()> data;
    std::vector<std::pair<unsigned, size_t>> plan; // {block type, size}
    std::optional<int32_t> translation;
};

std::vector<std::pair<unsigned, size_t>> ManySmallBlocks(size_t total) {
    std::vector<std::pair<unsigned, size_t>> plan;
    std::mt19937 rng(7);
    for (size_t at = 0; at < total;) {
        const size_t n = std::min(total - at, size_t(300 + rng() % 4000));
        plan.push_back({1 + rng() % 3, n});
        at += n;
    }
    return plan;
}

const RoundTrip kRoundTrips[] = {
    {"one verbatim block over four frames",
     15,
     [] { return Text(110000, 1); },
     {{1, 110000}},
     std::nullopt},
    {"aligned offset blocks reaching 1300000 bytes back in the 2 MiB window",
     21,
     [] {
         const std::vector<uint8_t> noise = Noise(500000, 2);
         return Concat({noise, Text(300000, 3), noise, noise});
     },
     {{2, 600000}, {2, 700000}, {1, 500000}},
     std::nullopt},
    {"uncompressed blocks of odd size across frames, one ending where a frame ends",
     16,
     [] {
         return Concat({Text(10001, 4), Noise(22767, 5), Text(5000, 6), Noise(40001, 7)});
     },
     {{1, 10001}, {3, 22767}, {1, 5000}, {3, 40001}},
     std::nullopt},
    {"many small blocks of every type, each with new trees", 17,
     [] {
         return Concat({Text(60000, 8), Skewed(30000, 9), Text(30000, 10)});
     },
     ManySmallBlocks(120000), std::nullopt},
    {"main codes of 16 bits", 15, [] { return Skewed(70000, 11); }, {{1, 70000}}, std::nullopt},
    {"call translation; a last frame of 11 bytes",
     15,
     [] { return Calls(2 * kFrame + 11, 12); },
     {{1, 40000}, {3, 20000}, {2, 2 * kFrame + 11 - 60000}},
     12000000},
    {"call translation; a last frame of 10 bytes",
     15,
     [] { return Calls(kFrame + 10, 13); },
     {{2, kFrame + 10}},
     500000},
};

void PrintTo(const RoundTrip& c, std::ostream* os) {
    *os << c.name;
}

// cabextract, given the stream as a cabinet, must read `data` from it.
void ExpectCabextractReads(const Stream& stream, int windowBits, const std::vector<uint8_t>& data) {
    test::TempDir dir;
    test::WriteFile(dir / "w.cab", MakeCabinet(stream, windowBits));
    int status = -1;
    EXPECT_TRUE(CabextractOutput(dir / "w.cab", &status) == data) << "cabextract reads otherwise";
    EXPECT_EQ(status, 0);
}

// A test name of the case's words.
std::string CaseName(const char* name) {
    std::string out;
    bool upper = true;
    for (const char* p = name; *p; ++p) {
        if (std::isalnum(static_cast<unsigned char>(*p))) {
            out += upper ? char(std::toupper(static_cast<unsigned char>(*p))) : *p;
            upper = false;
        } else {
            upper = true;
        }
    }
    return out;
}

class LzxRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(LzxRoundTrip, DecodesWhatWasWritten) {
    const RoundTrip& c = GetParam();
    const std::vector<uint8_t> data = c.data();
    const Stream stream = Compress(data, c.windowBits, c.plan, c.translation);

    LzxDecoder decoder(c.windowBits);
    const Decoded first = DecodeStream(decoder, stream);
    EXPECT_EQ(first.status, DecodeStatus::Ok);
    EXPECT_TRUE(first.output == data);
    decoder.Reset();
    const Decoded again = DecodeStream(decoder, stream);
    EXPECT_EQ(again.status, DecodeStatus::Ok);
    EXPECT_TRUE(again.output == data) << "a second folder on the same decoder";

    DVL_REQUIRE_TOOL("cabextract");
    ExpectCabextractReads(stream, c.windowBits, data);
}

INSTANTIATE_TEST_SUITE_P(Streams, LzxRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return CaseName(info.param.name); });

// An uncompressed block whose header ends on a word boundary is padded with 16 bits.
TEST(LzxUncompressed, FullWordOfPaddingAfterAlignedHeader) {
    const std::vector<uint8_t> tail = Noise(301, 14);
    for (size_t n = 1; n < 200; ++n) {
        const std::vector<uint8_t> data = Concat({Text(n, 15), tail});
        LzxWriter writer(15, std::nullopt);
        const Stream stream = writer.Write(Parse(data, 15, {{1, n}, {3, tail.size()}}));
        if (writer.LastUncompressedPad() != 16) continue;
        const Decoded decoded = DecodeStream(15, stream);
        EXPECT_EQ(decoded.status, DecodeStatus::Ok);
        EXPECT_TRUE(decoded.output == data);
        DVL_REQUIRE_TOOL("cabextract");
        ExpectCabextractReads(stream, 15, data);
        return;
    }
    FAIL() << "no verbatim block left the next header on a word boundary";
}

// ---------------------------------------------------------------------------------------------
// Broken streams, and the edges of what a stream may do

// The blocks as one data block; its output size as they give it, or as forced.
Stream OneFrame(const std::vector<Block>& blocks, std::optional<size_t> outputSize = {}) {
    Stream s = LzxWriter(15, std::nullopt).Write(blocks);
    if (!outputSize) return s;
    Stream one{{{}}, {*outputSize}};
    for (const auto& chunk : s.chunks)
        one.chunks[0].insert(one.chunks[0].end(), chunk.begin(), chunk.end());
    return one;
}

std::vector<Token> Literals(const std::string& text) {
    std::vector<Token> t;
    for (char ch : text)
        t.push_back(Literal(uint8_t(ch)));
    return t;
}

std::vector<Token> With(std::vector<Token> tokens, Token extra) {
    tokens.push_back(extra);
    return tokens;
}

// A main tree whose lengths are given for a few symbols, the rest 0.
std::vector<uint8_t> MainLengths(int windowBits,
                                 std::initializer_list<std::pair<unsigned, uint8_t>> set) {
    std::vector<uint8_t> lengths(256 + 8 * PositionSlots(windowBits), 0);
    for (const auto& [symbol, length] : set)
        lengths[symbol] = length;
    return lengths;
}

// Two frames of uncompressed bytes, then a third whose first match uses R0 = `offset`.
Stream MatchAtRepeatedOffset(uint32_t offset) {
    Block raw = Stored(Noise(2 * kFrame, 16));
    Block set = Stored({'x'});
    set.rawRepeats = std::array<uint32_t, 3>{offset, 1, 1};
    Block use = Coded(1, {Literal('y'), Match(4, offset)});
    return LzxWriter(15, std::nullopt).Write({raw, set, use});
}

// Lengths of 51 zeros (pretree code 18 with 31) five times, then a run of 20 that passes the 256th.
Stream ZeroRunPastTheEnd() {
    BitWriter w;
    w.Bits(0, 1);
    w.Bits(1, 3);
    w.Bits(1, 24);
    for (unsigned s = 0; s < 20; ++s) // pretree: symbols 0 and 18 of 1 bit: codes 0 and 1
        w.Bits(s == 0 || s == 18 ? 1 : 0, 4);
    for (int i = 0; i < 5; ++i)
        w.Bits(0b111111, 6);
    w.Bits(0b100000, 6);
    w.AlignFrame();
    return {{w.Take()}, {1}};
}

struct EdgeCase {
    const char* name;
    std::function<Stream()> make;
    DecodeStatus expected;
};

const EdgeCase kEdgeCases[] = {
    {"a match at the first byte", [] { return OneFrame({Coded(1, {Match(3, 1)})}); },
     DecodeStatus::Corrupt},
    {"a match reaching before the first byte",
     [] { return OneFrame({Coded(1, With(Literals("ab"), Match(3, 3)))}); }, DecodeStatus::Corrupt},
    {"a match past the end of its frame",
     [] { return OneFrame({Coded(1, With(Literals("abc"), Match(10, 1)))}, 8); },
     DecodeStatus::Corrupt},
    {"a match past the end of its block",
     [] {
         Block b = Coded(1, With(Literals("abc"), Match(10, 1)));
         b.declaredSize = 5;
         return OneFrame({b, Coded(1, Literals("defgh"))}, 10);
     },
     DecodeStatus::Corrupt},
    {"block type 0", [] { return OneFrame({HeaderOnly(0)}, 4); }, DecodeStatus::Corrupt},
    {"block type 4", [] { return OneFrame({HeaderOnly(4)}, 4); }, DecodeStatus::Corrupt},
    {"block type 7", [] { return OneFrame({HeaderOnly(7)}, 4); }, DecodeStatus::Corrupt},
    {"block size 0",
     [] {
         Block b = Coded(1, Literals("abcd"));
         b.declaredSize = 0;
         return OneFrame({b}, 4);
     },
     DecodeStatus::Corrupt},
    {"an over-subscribed main tree",
     [] {
         Block b = Coded(1, Literals("ab"));
         b.mainLengths = MainLengths(15, {{'a', 1}, {'b', 1}, {'c', 1}});
         return OneFrame({b});
     },
     DecodeStatus::Corrupt},
    {"an incomplete main tree",
     [] {
         Block b = Coded(1, Literals("ab"));
         b.mainLengths = MainLengths(15, {{'a', 1}, {'b', 2}});
         return OneFrame({b});
     },
     DecodeStatus::Corrupt},
    {"an all-zero main tree",
     [] {
         Block b = Coded(1, {});
         b.declaredSize = 3;
         b.mainLengths = MainLengths(15, {});
         return OneFrame({b}, 3);
     },
     DecodeStatus::Corrupt},
    {"an all-zero length tree that a long match needs",
     [] {
         Block b = Coded(1, With(Literals("a"), Match(20, 1)));
         b.mainLengths = MainLengths(15, {{'a', 1}, {256 + 7, 1}}); // R0 = 1: slot 0
         b.lengthLengths = std::vector<uint8_t>(249, 0);
         return OneFrame({b});
     },
     DecodeStatus::Corrupt},
    {"an all-zero length tree no match needs",
     [] {
         Block b = Coded(1, With(Literals("ab"), Match(8, 2)));
         b.lengthLengths = std::vector<uint8_t>(249, 0);
         return OneFrame({b});
     },
     DecodeStatus::Ok},
    {"an all-zero aligned tree",
     [] {
         Block b = Coded(2, With(Literals("ab"), Match(8, 2)));
         b.alignedLengths = std::vector<uint8_t>(8, 0);
         return OneFrame({b});
     },
     DecodeStatus::Corrupt},
    {"a zero run past the end of its tree", ZeroRunPastTheEnd, DecodeStatus::Corrupt},
    {"a repeated offset of 0", [] { return MatchAtRepeatedOffset(0); }, DecodeStatus::Corrupt},
    {"a repeated offset beyond the window",
     [] { return MatchAtRepeatedOffset(uint32_t(kFrame) + 1); }, DecodeStatus::Corrupt},
    {"a repeated offset of the whole window",
     [] { return MatchAtRepeatedOffset(uint32_t(kFrame)); }, DecodeStatus::Ok},
    {"a data block cut in half",
     [] {
         Stream s = OneFrame({Coded(1, Literals("the data block ends before its frame does"))});
         s.chunks[0].resize(s.chunks[0].size() / 2);
         return s;
     },
     DecodeStatus::Truncated},
    {"an empty data block",
     [] {
         return Stream{{{}}, {100}};
     },
     DecodeStatus::Truncated},
    {"an uncompressed block cut short",
     [] {
         Stream s = OneFrame({Stored(Noise(1000, 17))});
         s.chunks[0].resize(500);
         return s;
     },
     DecodeStatus::Truncated},
    {"an uncompressed block without its repeated offsets",
     [] {
         Stream s = OneFrame({Stored(Noise(10, 18))});
         s.chunks[0].resize(10);
         return s;
     },
     DecodeStatus::Truncated},
    {"a frame larger than 32768 bytes",
     [] { return OneFrame({Stored(Noise(kFrame + 2, 19))}, kFrame + 1); }, DecodeStatus::Corrupt},
};

void PrintTo(const EdgeCase& c, std::ostream* os) {
    *os << c.name;
}

class LzxEdgeCases : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(LzxEdgeCases, EndAsExpected) {
    const EdgeCase& c = GetParam();
    const Stream stream = c.make();
    LzxDecoder decoder(15);
    const Decoded d = DecodeStream(decoder, stream);
    EXPECT_EQ(d.status, c.expected);
    if (c.expected == DecodeStatus::Ok) return;
    // The error stays until Reset.
    std::vector<uint8_t> out(16, 0xAA);
    EXPECT_EQ(decoder.DecodeBlock(stream.chunks.back(), out.data(), out.size()), c.expected);
    EXPECT_EQ(out, std::vector<uint8_t>(16, 0));
    decoder.Reset();
    const Stream good = OneFrame({Coded(1, With(Literals("ok"), Match(6, 2)))});
    const Decoded after = DecodeStream(decoder, good);
    EXPECT_EQ(after.status, DecodeStatus::Ok);
    EXPECT_EQ(std::string(after.output.begin(), after.output.end()), "okokokok");
}

INSTANTIATE_TEST_SUITE_P(Streams, LzxEdgeCases, ::testing::ValuesIn(kEdgeCases),
                         [](const auto& info) { return CaseName(info.param.name); });

TEST(LzxDecoder, WindowOutsideFifteenToTwentyOneBitsIsCorrupt) {
    for (int bits : {0, 14, 22, 32}) {
        LzxDecoder decoder(bits);
        std::vector<uint8_t> out(4, 0xAA);
        EXPECT_EQ(decoder.DecodeBlock(std::vector<uint8_t>(16, 0), out.data(), out.size()),
                  DecodeStatus::Corrupt);
        EXPECT_EQ(out, std::vector<uint8_t>(4, 0));
    }
}

// ---------------------------------------------------------------------------------------------
// Call translation, byte by byte

constexpr int32_t kTranslationSize = 0x100000;

// A folder of uncompressed blocks carrying `frames` as they are stored, with call translation on.
Stream StoredFrames(const std::vector<std::vector<uint8_t>>& frames) {
    std::vector<Block> blocks;
    for (const auto& f : frames)
        blocks.push_back(Stored(f));
    return LzxWriter(15, kTranslationSize).Write(blocks);
}

TEST(LzxCallTranslation, UndoneAsTheFormatSays) {
    struct Call {
        size_t at; // in the folder; frames 1 and 2 carry the calls
        int32_t stored;
        int32_t decoded;
    };
    auto current = [](size_t at) { return int32_t(at); };
    const size_t f1 = kFrame, f2 = 2 * kFrame;
    const Call calls[] = {
        {f1 + 16, 100, 100 - current(f1 + 16)},                  // a target in the file: relative
        {f1 + 32, -5, -5 + kTranslationSize},                    // below 0: past the end
        {f1 + 48, kTranslationSize, kTranslationSize},           // not below the size: as stored
        {f1 + 64, -current(f1 + 64) - 1, -current(f1 + 64) - 1}, // before the folder's start
        {f1 + 80, -current(f1 + 80), -current(f1 + 80) + kTranslationSize}, // at its start
        {f1 + 96, kTranslationSize - 1, kTranslationSize - 1 - current(f1 + 96)},
        {f1 + 112, 0xE8, 0xE8 - current(f1 + 112)}, // the 0xE8 inside it starts nothing
        {f2 - 11, 7, 7 - current(f2 - 11)},         // the last place translated
        {f2 + kFrame - 10, 7, 7},                   // in the last 10 bytes: as stored
    };
    std::vector<uint8_t> stored(3 * kFrame, 0x90), expected(3 * kFrame, 0x90);
    for (const Call& c : calls) {
        stored[c.at] = expected[c.at] = 0xE8;
        PutLe32At(&stored[c.at + 1], uint32_t(c.stored));
        PutLe32At(&expected[c.at + 1], uint32_t(c.decoded));
    }
    std::vector<std::vector<uint8_t>> frames;
    for (size_t at = 0; at < stored.size(); at += kFrame)
        frames.emplace_back(stored.begin() + at, stored.begin() + at + kFrame);
    const Decoded d = DecodeStream(15, StoredFrames(frames));
    ASSERT_EQ(d.status, DecodeStatus::Ok);
    for (const Call& c : calls)
        EXPECT_EQ(int32_t(Le32(&d.output[c.at + 1])), c.decoded) << c.at;
    EXPECT_TRUE(d.output == expected);
}

TEST(LzxCallTranslation, FramesOfTenBytesOrLessStayAsStored) {
    for (size_t size : {5, 10, 11}) {
        std::vector<uint8_t> last(size, 0);
        last[0] = 0xE8;
        PutLe32At(&last[1], 3); // target 3 from 32768: displacement 3 - 32768
        const Decoded d = DecodeStream(15, StoredFrames({std::vector<uint8_t>(kFrame, 0), last}));
        ASSERT_EQ(d.status, DecodeStatus::Ok);
        EXPECT_EQ(Le32(&d.output[kFrame + 1]), size > 10 ? uint32_t(3 - int32_t(kFrame)) : 3u)
            << size;
    }
}

// Frames from 1 GiB of folder output on keep their bytes: frames of zeros up to the limit (in
// stored blocks of 511 frames; the data blocks inside a block are all the same), the frame before
// it and the frame at it with a call.
TEST(LzxCallTranslation, StopsAtOneGibibyte) {
    constexpr size_t kBlockFrames = 511;
    const size_t limit = (size_t(1) << 30) / kFrame; // the first frame left as stored
    std::vector<uint8_t> zeros(kFrame, 0), call(kFrame, 0);
    call[100] = 0xE8;
    PutLe32At(&call[101], 50);

    // The data block that opens a stored block of `frames` frames.
    auto opening = [](bool folderStart, size_t frames, const std::vector<uint8_t>& content) {
        BitWriter w;
        if (folderStart) {
            w.Bits(1, 1);
            w.Bits(uint32_t(kTranslationSize) >> 16, 16);
            w.Bits(uint32_t(kTranslationSize) & 0xFFFF, 16);
        }
        w.Bits(3, 3);
        w.Bits(uint32_t(frames * kFrame), 24);
        w.AlignUncompressed();
        for (int i = 0; i < 3; ++i)
            w.Le32(1);
        for (uint8_t b : content)
            w.Byte(b);
        return w.Take();
    };

    LzxDecoder decoder(15);
    std::vector<uint8_t> out(kFrame), opened;
    for (size_t frame = 0; frame <= limit; ++frame) {
        const std::vector<uint8_t>& content = frame + 1 >= limit ? call : zeros;
        const std::vector<uint8_t>* chunk = &content;
        if (frame % kBlockFrames == 0) {
            opened = opening(frame == 0, std::min(kBlockFrames, limit + 1 - frame), content);
            chunk = &opened;
        }
        ASSERT_EQ(decoder.DecodeBlock(*chunk, out.data(), kFrame), DecodeStatus::Ok) << frame;
        if (frame + 1 < limit) continue;
        const uint32_t expected = frame < limit ? uint32_t(50 - int64_t(frame * kFrame + 100)) : 50;
        EXPECT_EQ(Le32(&out[101]), expected) << frame;
    }
}

} // namespace
} // namespace dvl::codecs
