#include "tests/support/ace_lz77_encoder.h"

#include "unace/decoder/ace_huffman.h"

#include <algorithm>
#include <array>
#include <bit>
#include <queue>
#include <stdexcept>

namespace dvl::test {

namespace {

constexpr int kMaxWidth = 11;
constexpr int kPreCodeMaxWidth = 7;
constexpr int kMainSymbols = 284; // literals, 4 repeats, 23 new distances, the mode switch
constexpr int kLengthSymbols = 256;
constexpr int kFirstRepeat = 256;
constexpr int kFirstNewDistance = 260;
constexpr int kModeSwitch = 283;
constexpr int kMaxLengthCode = 255;

// MSB-first bits into 32-bit words stored little-endian.
class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            word_ = word_ << 1 | ((value >> i) & 1);
            if (++count_ == 32) FlushWord();
        }
    }
    std::vector<uint8_t> Finish() {
        if (count_ > 0) {
            word_ <<= 32 - count_;
            FlushWord();
        }
        return std::move(out_);
    }

private:
    void FlushWord() {
        for (int i = 0; i < 4; ++i)
            out_.push_back(uint8_t(word_ >> (8 * i)));
        word_ = 0;
        count_ = 0;
    }
    std::vector<uint8_t> out_;
    uint32_t word_ = 0;
    int count_ = 0;
};

// Huffman code lengths of at most maxWidth; a lone symbol gets width 1.
std::vector<uint8_t> LimitedWidths(std::vector<uint64_t> freq, int maxWidth) {
    const size_t n = freq.size();
    std::vector<uint8_t> widths(n, 0);
    for (;;) {
        using Node = std::pair<uint64_t, int>;
        std::priority_queue<Node, std::vector<Node>, std::greater<>> queue;
        std::vector<int> parent(n, -1);
        for (size_t i = 0; i < n; ++i)
            if (freq[i] > 0) queue.push({freq[i], int(i)});
        if (queue.size() <= 1) {
            if (!queue.empty()) widths[size_t(queue.top().second)] = 1;
            return widths;
        }
        while (queue.size() > 1) {
            const Node a = queue.top();
            queue.pop();
            const Node b = queue.top();
            queue.pop();
            parent.push_back(-1);
            const int node = int(parent.size()) - 1;
            parent[size_t(a.second)] = node;
            parent[size_t(b.second)] = node;
            queue.push({a.first + b.first, node});
        }
        int longest = 0;
        for (size_t i = 0; i < n; ++i) {
            if (freq[i] == 0) continue;
            int depth = 0;
            for (int p = parent[i]; p >= 0; p = parent[size_t(p)])
                ++depth;
            widths[i] = uint8_t(depth);
            longest = std::max(longest, depth);
        }
        if (longest <= maxWidth) return widths;
        for (uint64_t& f : freq)
            if (f > 0) f = (f >> 1) | 1;
    }
}

using Codes = std::vector<std::pair<uint32_t, int>>;

// The widths as a list sends them: up to the last used symbol. The codes depend on the list's
// length, since the sort runs over all of it.
std::vector<uint8_t> Transmitted(std::vector<uint8_t> widths) {
    while (widths.size() > 1 && widths.back() == 0)
        widths.pop_back();
    return widths;
}

Codes CodesOf(const std::vector<uint8_t>& widths, int maxWidth) {
    return unace::detail::CodesForWidths(widths, maxWidth);
}

void PutSymbol(BitWriter& out, const Codes& codes, int symbol) {
    const auto [code, bits] = codes.at(size_t(symbol));
    if (bits == 0) throw std::logic_error("symbol without a code");
    out.Put(code, bits);
}

// A width list: N, LO = 0, UP = largest width + 1, the pre-code widths, then the deltas of
// successive widths (mod UP) with runs of 4 to 19 zero deltas as the symbol UP.
void PutWidthList(BitWriter& out, const std::vector<uint8_t>& widths) {
    const int last = int(widths.size()) - 1;
    const int up = *std::max_element(widths.begin(), widths.end()) + 1;

    std::vector<std::pair<int, int>> symbols; // pre-code symbol, run field
    for (int j = 0; j <= last;) {
        const int delta = (widths[size_t(j)] - (j > 0 ? widths[size_t(j - 1)] : 0) + up) % up;
        int zeros = 0;
        while (j + zeros <= last && zeros < 19 &&
               (widths[size_t(j + zeros)] - (j + zeros > 0 ? widths[size_t(j + zeros - 1)] : 0) +
                up) % up ==
                   0)
            ++zeros;
        if (delta == 0 && zeros >= 4) {
            symbols.push_back({up, zeros - 4});
            j += zeros;
        } else {
            symbols.push_back({delta, -1});
            ++j;
        }
    }
    std::vector<uint64_t> freq(size_t(up) + 1, 0);
    for (const auto& s : symbols)
        ++freq[size_t(s.first)];
    const std::vector<uint8_t> preWidths = LimitedWidths(freq, kPreCodeMaxWidth);
    const Codes preCodes = CodesOf(preWidths, kPreCodeMaxWidth);

    out.Put(uint32_t(last), 9);
    out.Put(0, 4);
    out.Put(uint32_t(up), 4);
    for (uint8_t w : preWidths)
        out.Put(w, 3);
    for (const auto& [symbol, run] : symbols) {
        PutSymbol(out, preCodes, symbol);
        if (run >= 0) out.Put(uint32_t(run), 4);
    }
}

// A token as coded: main symbol, extra distance bits, length code.
struct Coded {
    int symbol = 0;
    uint32_t extra = 0;
    int extraBits = 0;
    int lengthCode = -1;
    const AceLz77Token* token = nullptr;
};

int LengthBase(uint32_t value) {
    return value <= 255 ? 2 : value <= 8191 ? 3 : 4;
}

std::vector<Coded> CodeTokens(const std::vector<AceLz77Token>& tokens, bool useRepeats) {
    std::array<uint32_t, 4> recent{};
    std::vector<Coded> coded;
    coded.reserve(tokens.size());
    for (const AceLz77Token& t : tokens) {
        Coded c;
        c.token = &t;
        if (t.kind == AceLz77Token::Kind::Literal) {
            c.symbol = t.literal;
        } else if (t.kind == AceLz77Token::Kind::ModeSwitch) {
            c.symbol = kModeSwitch;
        } else {
            if (t.distance == 0 || t.distance > (1u << 22))
                throw std::invalid_argument("ACE match distance out of range");
            const uint32_t value = t.distance - 1;
            int repeat = -1;
            for (int r = 0; useRepeats && r < 4 && repeat < 0; ++r) {
                const int base = r <= 1 ? 2 : 3;
                if (recent[size_t(r)] == value && int(t.length) >= base &&
                    int(t.length) - base <= kMaxLengthCode)
                    repeat = r;
            }
            if (repeat >= 0) {
                c.symbol = kFirstRepeat + repeat;
                c.lengthCode = int(t.length) - (repeat <= 1 ? 2 : 3);
                for (int i = repeat; i > 0; --i)
                    recent[size_t(i)] = recent[size_t(i - 1)];
                recent[0] = value;
            } else {
                const int k = std::bit_width(value);
                c.symbol = kFirstNewDistance + k;
                if (k >= 2) {
                    c.extraBits = k - 1;
                    c.extra = value - (1u << (k - 1));
                }
                c.lengthCode = int(t.length) - LengthBase(value);
                recent = {value, recent[0], recent[1], recent[2]};
            }
            if (c.lengthCode < 0 || c.lengthCode > kMaxLengthCode)
                throw std::invalid_argument("ACE match length out of range");
        }
        coded.push_back(c);
    }
    return coded;
}

void PutBlock(BitWriter& out, const Coded* begin, const Coded* end) {
    std::vector<uint64_t> mainFreq(kMainSymbols, 0), lengthFreq(kLengthSymbols, 0);
    for (const Coded* c = begin; c != end; ++c) {
        ++mainFreq[size_t(c->symbol)];
        if (c->lengthCode >= 0) ++lengthFreq[size_t(c->lengthCode)];
    }
    const std::vector<uint8_t> mainWidths = Transmitted(LimitedWidths(mainFreq, kMaxWidth));
    const std::vector<uint8_t> lengthWidths = Transmitted(LimitedWidths(lengthFreq, kMaxWidth));
    PutWidthList(out, mainWidths);
    PutWidthList(out, lengthWidths);
    out.Put(uint32_t(end - begin), 15);

    const Codes mainCodes = CodesOf(mainWidths, kMaxWidth);
    const Codes lengthCodes = CodesOf(lengthWidths, kMaxWidth);
    for (const Coded* c = begin; c != end; ++c) {
        PutSymbol(out, mainCodes, c->symbol);
        if (c->symbol == kModeSwitch) {
            out.Put(c->token->mode, 8);
            for (const auto& [value, bits] : c->token->parameters)
                out.Put(value, bits);
            continue;
        }
        out.Put(c->extra, c->extraBits);
        if (c->lengthCode >= 0) PutSymbol(out, lengthCodes, c->lengthCode);
    }
}

} // namespace

std::vector<uint8_t> EncodeAceLz77(const std::vector<AceLz77Token>& tokens,
                                   const AceLz77Options& options) {
    const std::vector<Coded> coded = CodeTokens(tokens, options.useRepeats);
    const size_t perBlock = std::clamp<size_t>(options.blockSymbols, 1, 32767);
    BitWriter out;
    for (size_t at = 0; at < coded.size(); at += perBlock) {
        const size_t n = std::min(perBlock, coded.size() - at);
        PutBlock(out, coded.data() + at, coded.data() + at + n);
    }
    return out.Finish();
}

std::vector<AceLz77Token> AceLiterals(const std::vector<uint8_t>& data) {
    std::vector<AceLz77Token> tokens;
    for (uint8_t byte : data)
        tokens.push_back(AceLz77Token::Literal(byte));
    return tokens;
}

std::vector<AceLz77Token> ParseAceLz77(const std::vector<uint8_t>& data,
                                       const std::vector<uint8_t>& history, int dictBits) {
    constexpr int kHashBits = 16;
    constexpr int kChainDepth = 16;
    constexpr size_t kLongest = 257; // the longest match at every distance
    std::vector<uint8_t> all = history;
    all.insert(all.end(), data.begin(), data.end());
    const size_t window = std::min<size_t>(size_t(1) << dictBits, size_t(1) << 22);
    std::vector<int64_t> head(size_t(1) << kHashBits, -1), previous(all.size(), -1);
    auto hash = [&](size_t i) {
        return (uint32_t(all[i]) << 16 ^ uint32_t(all[i + 1]) << 8 ^ all[i + 2]) * 2654435761u >>
               (32 - kHashBits);
    };
    auto insert = [&](size_t i) {
        if (i + 2 >= all.size()) return;
        const uint32_t h = hash(i);
        previous[i] = head[h];
        head[h] = int64_t(i);
    };
    for (size_t i = 0; i < history.size(); ++i)
        insert(i);

    std::vector<AceLz77Token> tokens;
    size_t i = history.size();
    while (i < all.size()) {
        size_t bestLength = 0, bestDistance = 0;
        if (i + 2 < all.size()) {
            int64_t candidate = head[hash(i)];
            for (int depth = 0; candidate >= 0 && depth < kChainDepth; ++depth) {
                const size_t distance = i - size_t(candidate);
                if (distance > window) break;
                const size_t limit = std::min(kLongest, all.size() - i);
                size_t length = 0;
                while (length < limit && all[size_t(candidate) + length] == all[i + length])
                    ++length;
                if (length >= size_t(LengthBase(uint32_t(distance - 1))) && length > bestLength) {
                    bestLength = length;
                    bestDistance = distance;
                }
                candidate = previous[size_t(candidate)];
            }
        }
        if (bestLength == 0) {
            tokens.push_back(AceLz77Token::Literal(all[i]));
            insert(i++);
            continue;
        }
        tokens.push_back(AceLz77Token::Match(uint32_t(bestDistance), uint32_t(bestLength)));
        for (size_t end = i + bestLength; i < end; ++i)
            insert(i);
    }
    return tokens;
}

} // namespace dvl::test
