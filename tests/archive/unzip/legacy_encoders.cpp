#include "tests/archive/unzip/legacy_encoders.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <unordered_map>

namespace dvl::test {

void BitWriter::Put(uint32_t value, int n) {
    for (int i = 0; i < n; ++i) {
        acc_ |= ((value >> i) & 1u) << count_;
        if (++count_ == 8) {
            bytes_.push_back(uint8_t(acc_));
            acc_ = 0;
            count_ = 0;
        }
    }
}

void BitWriter::PutCode(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i)
        Put((code >> i) & 1u, 1);
}

std::vector<uint8_t> BitWriter::Finish() {
    if (count_ > 0) bytes_.push_back(uint8_t(acc_));
    acc_ = 0;
    count_ = 0;
    return std::move(bytes_);
}

// --- Shrink -------------------------------------------------------------------------------
//
// The encoder keeps the decoder's own tables and replays each code it emits on them, so both
// sides always agree, partial clears and the code just being defined included.

namespace {

class Shrinker {
public:
    Shrinker() {
        parent_.fill(-1);
        suffix_.fill(0);
        children_.fill(0);
        for (int c = 0; c < 256; ++c)
            suffix_[size_t(c)] = uint8_t(c);
        for (int c = 257; c < 8192; ++c)
            free_[size_t(c - 257)] = uint16_t(c);
    }

    std::vector<uint8_t> Encode(const std::vector<uint8_t>& data, const ShrinkOptions& options) {
        if (data.empty()) return {};
        out_.Put(data[0], 9);
        previous_ = data[0];
        size_t pos = 1;
        int sinceClear = 0;
        while (pos < data.size()) {
            int code = data[pos];
            size_t length = 1;
            while (pos + length < data.size()) {
                auto it = child_.find(Key(code, data[pos + length]));
                if (it == child_.end()) break;
                code = it->second;
                ++length;
            }
            if (code == previous_ && nextFree_ < 8192 && pos + length < data.size() &&
                data[pos + length] == FirstByte(previous_)) {
                code = free_[size_t(nextFree_ - 257)]; // defined by this very code
                ++length;
            }
            while (code >= (1 << codeSize_)) {
                out_.Put(256, codeSize_);
                out_.Put(1, codeSize_);
                ++codeSize_;
            }
            out_.Put(uint32_t(code), codeSize_);
            Replay(code);
            pos += length;
            ++sinceClear;
            if (nextFree_ >= 8192 ||
                (options.clearAfterCodes && sinceClear >= options.clearAfterCodes)) {
                out_.Put(256, codeSize_);
                out_.Put(2, codeSize_);
                PartialClear();
                sinceClear = 0;
            }
        }
        return out_.Finish();
    }

private:
    static uint32_t Key(int parent, uint8_t suffix) { return uint32_t(parent) << 8 | suffix; }

    uint8_t FirstByte(int code) const {
        while (code > 256)
            code = parent_[size_t(code)];
        return suffix_[size_t(code)];
    }

    void Replay(int code) {
        int node = code >= 257 && parent_[size_t(code)] < 0 ? previous_ : code;
        uint8_t first = FirstByte(node);
        if (nextFree_ < 8192) {
            int added = free_[size_t(nextFree_++ - 257)];
            parent_[size_t(added)] = previous_;
            suffix_[size_t(added)] = first;
            ++children_[size_t(previous_)];
            child_[Key(previous_, first)] = added;
        }
        previous_ = code;
    }

    void PartialClear() {
        std::vector<int> listed;
        for (int c = 257; c < 8192; ++c)
            if (children_[size_t(c)] == 0) listed.push_back(c);
        nextFree_ = 8192;
        for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
            int c = *it, p = parent_[size_t(c)];
            if (p >= 0) {
                if (children_[size_t(p)] > 0) --children_[size_t(p)];
                auto entry = child_.find(Key(p, suffix_[size_t(c)]));
                if (entry != child_.end() && entry->second == c) child_.erase(entry);
            }
            parent_[size_t(c)] = -1;
            suffix_[size_t(c)] = 0;
            children_[size_t(c)] = 0;
            free_[size_t(--nextFree_ - 257)] = uint16_t(c);
        }
    }

    std::array<int32_t, 8192> parent_;
    std::array<uint8_t, 8192> suffix_;
    std::array<uint16_t, 8192> children_;
    std::array<uint16_t, 8192 - 257> free_;
    std::unordered_map<uint32_t, int> child_;
    int nextFree_ = 257, previous_ = 0, codeSize_ = 9;
    BitWriter out_;
};

// --- Matching shared by implode and reduce --------------------------------------------------

// Longest earlier match at pos in buffer, at a distance of 1 to maxDistance, not starting
// before `floor`, of at most maxLength bytes; chains of 2-byte prefixes.
class Matcher {
public:
    explicit Matcher(const std::vector<uint8_t>& buffer)
        : buffer_(buffer), head_(65536, -1), previous_(buffer.size(), -1) {}

    void Insert(size_t pos) {
        if (pos + 1 >= buffer_.size()) return;
        size_t h = size_t(buffer_[pos]) << 8 | buffer_[pos + 1];
        previous_[pos] = head_[h];
        head_[h] = int64_t(pos);
    }

    std::pair<size_t, size_t> Find(size_t pos, size_t floor, size_t maxDistance,
                                   size_t maxLength) const {
        size_t bestLength = 0, bestDistance = 0;
        if (pos + 1 >= buffer_.size()) return {0, 0};
        maxLength = std::min(maxLength, buffer_.size() - pos);
        int64_t cand = head_[size_t(buffer_[pos]) << 8 | buffer_[pos + 1]];
        for (int steps = 0; cand >= 0 && steps < 24; ++steps, cand = previous_[size_t(cand)]) {
            size_t c = size_t(cand);
            if (c < floor || pos - c > maxDistance) break;
            size_t n = 0;
            while (n < maxLength && buffer_[c + n] == buffer_[pos + n])
                ++n;
            if (n > bestLength) bestLength = n, bestDistance = pos - c;
            if (n == maxLength) break;
        }
        return {bestLength, bestDistance};
    }

private:
    const std::vector<uint8_t>& buffer_;
    std::vector<int64_t> head_, previous_;
};

// --- Implode --------------------------------------------------------------------------------

struct Tree {
    std::vector<uint8_t> lengths;
    std::vector<uint16_t> codes;
};

// Complete length sets: `a` symbols of length k, `a` of k + 1 and the rest of k + 2.
Tree MakeTree(int symbols, int k, int a) {
    Tree t;
    for (int s = 0; s < symbols; ++s)
        t.lengths.push_back(uint8_t(s < a ? k : s < 2 * a ? k + 1 : k + 2));
    // Codes as the decoder assigns them: sorted by length then symbol, from the last entry.
    std::vector<int> order(static_cast<size_t>(symbols));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int x, int y) { return t.lengths[size_t(x)] < t.lengths[size_t(y)]; });
    t.codes.assign(size_t(symbols), 0);
    uint32_t code = 0, increment = 0;
    int previous = 0;
    for (size_t i = order.size(); i-- > 0;) {
        int len = t.lengths[size_t(order[i])];
        code = (code + increment) & 0xFFFF;
        if (len != previous) previous = len, increment = 1u << (16 - len);
        t.codes[size_t(order[i])] = uint16_t(code >> (16 - len));
    }
    return t;
}

void PutTree(BitWriter& out, const Tree& t) {
    std::vector<uint8_t> runs;
    for (size_t s = 0; s < t.lengths.size();) {
        size_t n = 1;
        while (n < 16 && s + n < t.lengths.size() && t.lengths[s + n] == t.lengths[s])
            ++n;
        runs.push_back(uint8_t((n - 1) << 4 | (t.lengths[s] - 1)));
        s += n;
    }
    out.Put(uint32_t(runs.size() - 1), 8);
    for (uint8_t r : runs)
        out.Put(r, 8);
}

} // namespace

std::vector<uint8_t> Shrink(const std::vector<uint8_t>& data, const ShrinkOptions& options) {
    return Shrinker().Encode(data, options);
}

uint16_t ImplodeFlags(const ImplodeOptions& options) {
    return uint16_t((options.largeWindow ? 2 : 0) | (options.literalTree ? 4 : 0));
}

std::vector<uint8_t> Implode(const std::vector<uint8_t>& data, const ImplodeOptions& options) {
    const size_t window = options.largeWindow ? 8192 : 4096;
    const int lowBits = options.largeWindow ? 7 : 6;
    const size_t minimum = options.literalTree ? 3 : 2;
    const size_t maximum = minimum + 63 + 255;
    // 3a + b = 2^k symbols split over lengths k - 1, k, k + 1 (see MakeTree).
    const Tree literals = MakeTree(256, 7, 64), lengths = MakeTree(64, 5, 16),
               distances = MakeTree(64, 5, 16);

    const size_t start = options.matchBeforeStart ? window : 0;
    std::vector<uint8_t> buffer(start, 0);
    buffer.insert(buffer.end(), data.begin(), data.end());
    Matcher matcher(buffer);
    for (size_t p = 0; p < start; ++p)
        matcher.Insert(p);

    BitWriter out;
    if (options.literalTree) PutTree(out, literals);
    PutTree(out, lengths);
    PutTree(out, distances);
    for (size_t pos = start; pos < buffer.size();) {
        auto [length, distance] = matcher.Find(pos, 0, window, maximum);
        if (length < minimum) {
            uint8_t b = buffer[pos];
            out.Put(1, 1);
            if (options.literalTree)
                out.PutCode(literals.codes[b], literals.lengths[b]);
            else
                out.Put(b, 8);
            length = 1;
        } else {
            size_t d = distance - 1, l = length - minimum;
            out.Put(0, 1);
            out.Put(uint32_t(d & ((1u << lowBits) - 1)), lowBits);
            size_t high = d >> lowBits;
            out.PutCode(distances.codes[high], distances.lengths[high]);
            size_t symbol = std::min<size_t>(l, 63);
            out.PutCode(lengths.codes[symbol], lengths.lengths[symbol]);
            if (symbol == 63) out.Put(uint32_t(l - 63), 8);
        }
        for (size_t i = 0; i < length; ++i)
            matcher.Insert(pos + i);
        pos += length;
    }
    return out.Finish();
}

// --- Reduce ---------------------------------------------------------------------------------

std::vector<uint8_t> Reduce(const std::vector<uint8_t>& data, int factor) {
    const size_t maxDistance = size_t(256) << factor;
    const uint32_t mask = 0xFFu >> factor;
    const size_t maxLength = mask + 255 + 3;

    // The expansion's byte stream: literals (144 as 144 0) and copies (144 V [extra] low).
    std::vector<uint8_t> stream;
    Matcher matcher(data);
    for (size_t pos = 0; pos < data.size();) {
        auto [length, distance] = matcher.Find(pos, 0, maxDistance, maxLength);
        // A copy of 3 within 256 bytes would start with V = 0, which means a literal 144.
        if (length < 3 || (length == 3 && distance <= 256)) {
            stream.push_back(data[pos]);
            if (data[pos] == 144) stream.push_back(0);
            length = 1;
        } else {
            uint32_t l = uint32_t(length - 3);
            uint32_t high = uint32_t(distance - 1) >> 8;
            stream.push_back(144);
            stream.push_back(uint8_t(high << (8 - factor) | std::min(l, mask)));
            if (l >= mask) stream.push_back(uint8_t(l - mask));
            stream.push_back(uint8_t(distance - 1));
        }
        for (size_t i = 0; i < length; ++i)
            matcher.Insert(pos + i);
        pos += length;
    }

    // Follower sets: the up to 32 most frequent successors of each byte in the stream.
    std::vector<std::array<uint32_t, 256>> counts(256);
    for (auto& c : counts)
        c.fill(0);
    uint8_t last = 0;
    for (uint8_t c : stream)
        ++counts[last][c], last = c;
    std::vector<std::vector<uint8_t>> followers(256);
    for (int b = 0; b < 256; ++b) {
        std::vector<int> order(256);
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
            return counts[size_t(b)][size_t(x)] > counts[size_t(b)][size_t(y)];
        });
        for (int i = 0; i < 32 && counts[size_t(b)][size_t(order[size_t(i)])] > 0; ++i)
            followers[size_t(b)].push_back(uint8_t(order[size_t(i)]));
    }

    BitWriter out;
    for (int b = 255; b >= 0; --b) {
        out.Put(uint32_t(followers[size_t(b)].size()), 6);
        for (uint8_t f : followers[size_t(b)])
            out.Put(f, 8);
    }
    last = 0;
    for (uint8_t c : stream) {
        const std::vector<uint8_t>& set = followers[last];
        if (set.empty()) {
            out.Put(c, 8);
        } else {
            auto it = std::find(set.begin(), set.end(), c);
            if (it == set.end()) {
                out.Put(1, 1);
                out.Put(c, 8);
            } else {
                int bits = 1;
                while ((1u << bits) < set.size())
                    ++bits;
                out.Put(0, 1);
                out.Put(uint32_t(it - set.begin()), bits);
            }
        }
        last = c;
    }
    return out.Finish();
}

} // namespace dvl::test
