// No tool here decodes reduce, so the test encoder's streams are trusted only as far as they look
// like those of the old archivers: the reduced entries of real archives and the encoder's streams
// of the same data are walked symbol by symbol and must use the same parts of the format.
#include "archive/bytes.h"
#include "archive/errors.h"
#include "archive/unzip/legacy_methods.h"
#include "tests/archive/unzip/legacy_encoders.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>

namespace dvl {
namespace {

namespace fs = std::filesystem;

struct ReducedEntry {
    std::string name;
    int factor;
    uint32_t unpacked;
    std::vector<uint8_t> packed;
};

// The reduced entries, from the local headers in order.
std::vector<ReducedEntry> ReducedEntries(const std::vector<uint8_t>& zip) {
    std::vector<ReducedEntry> entries;
    for (size_t at = 0; at + 30 <= zip.size() && Le32(&zip[at]) == 0x04034B50;) {
        const uint8_t* h = &zip[at];
        uint16_t method = Le16(h + 8);
        uint32_t packed = Le32(h + 18), unpacked = Le32(h + 22);
        size_t data = at + 30 + Le16(h + 26) + Le16(h + 28);
        if (data + packed > zip.size()) break;
        if (method >= 2 && method <= 5)
            entries.push_back({std::string(h + 30, h + 30 + Le16(h + 26)),
                               method - 1,
                               unpacked,
                               {zip.begin() + long(data), zip.begin() + long(data + packed)}});
        at = data + packed;
    }
    return entries;
}

// What a reduced stream uses of the format, gathered while walking it as the expansion does. How
// many followers a set gets is the encoder's choice (the old archivers leave some sets empty; the
// test encoder keeps up to 32 of every byte's successors) and is not compared.
struct Structure {
    bool oversizedSet = false, repeatedFollower = false;
    bool followerCoded = false, plainCoded = false;
    bool escapedMarker = false, extraLengthByte = false;
    bool distanceHighBits = false; // a distance beyond 256
    bool outOfRange = false;       // a distance beyond 256 << factor or a longer copy
    bool endsBetweenSteps = false;
    uint64_t output = 0;

    auto Used() const {
        return unsigned(followerCoded) | unsigned(plainCoded) << 1 | unsigned(escapedMarker) << 2 |
               unsigned(extraLengthByte) << 3 | unsigned(distanceHighBits) << 4;
    }
};

class Bits {
public:
    explicit Bits(const std::vector<uint8_t>& b) : bytes_(b) {}
    int Get(int n) { // past the end: one bits
        int v = 0;
        for (int i = 0; i < n; ++i, ++at_)
            v |= (at_ / 8 < bytes_.size() ? (bytes_[at_ / 8] >> (at_ % 8)) & 1 : 1) << i;
        return v;
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
};

Structure Walk(const std::vector<uint8_t>& packed, int factor, uint64_t unpacked) {
    Structure s;
    Bits in(packed);
    std::vector<std::vector<uint8_t>> sets(256);
    for (int last = 255; last >= 0; --last) {
        int n = in.Get(6);
        s.oversizedSet |= n > 32;
        for (int i = 0; i < n; ++i)
            sets[size_t(last)].push_back(uint8_t(in.Get(8)));
        auto& set = sets[size_t(last)];
        std::vector<uint8_t> sorted = set;
        std::sort(sorted.begin(), sorted.end());
        s.repeatedFollower |= std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();
    }
    const int mask = 0xFF >> factor;
    uint8_t last = 0;
    auto symbol = [&] {
        const auto& set = sets[last];
        if (set.empty() || in.Get(1) == 1) {
            s.plainCoded |= !set.empty();
            last = uint8_t(in.Get(8));
        } else {
            int bits = 1;
            while ((1u << bits) < set.size())
                ++bits;
            size_t index = size_t(in.Get(bits));
            s.followerCoded = true;
            last = index < set.size() ? set[index] : 0;
        }
        return last;
    };
    while (s.output < unpacked) {
        if (symbol() != 144) {
            ++s.output;
            continue;
        }
        int v = symbol();
        if (v == 0) {
            s.escapedMarker = true;
            ++s.output;
            continue;
        }
        int length = v & mask;
        if (length == mask) length += symbol(), s.extraLengthByte = true;
        int distance = ((v >> (8 - factor)) << 8) + symbol() + 1;
        s.distanceHighBits |= distance > 256;
        s.outOfRange |= distance > (256 << factor) || length + 3 > mask + 255 + 3;
        s.output += uint64_t(length + 3);
    }
    s.endsBetweenSteps = s.output == unpacked;
    return s;
}

// The decoded bytes of an entry (the decoder tests check them against the archives' CRCs).
std::vector<uint8_t> Unreduced(const ReducedEntry& e) {
    struct Input : unzip::ByteSource {
        const std::vector<uint8_t>& bytes;
        bool done = false;
        explicit Input(const std::vector<uint8_t>& b) : bytes(b) {}
        std::span<const uint8_t> Next() override {
            if (done) return {};
            done = true;
            return bytes;
        }
    } in(e.packed);
    struct Output : unzip::ByteSink {
        std::vector<uint8_t> bytes;
        bool Write(const uint8_t* d, size_t n) override {
            bytes.insert(bytes.end(), d, d + n);
            return true;
        }
    } out;
    unzip::Unreduce({in, out, nullptr, e.packed.size(), e.unpacked, 0}, e.factor);
    return out.bytes;
}

TEST(ReduceStructure, EncoderStreamsUseTheFormatAsRealArchivesDo) {
    fs::path peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    size_t walked = 0;
    unsigned realUse[5] = {}, ourUse[5] = {};
    for (const char* archive : {"Zip.reduce1.zip", "Zip.reduce2.zip", "Zip.reduce3.zip",
                                "Zip.reduce4.zip", "reduce.zip"}) {
        for (const ReducedEntry& e : ReducedEntries(test::ReadFile(peer / "zip" / archive))) {
            std::string what = std::string(archive) + " " + e.name;
            Structure real = Walk(e.packed, e.factor, e.unpacked);
            std::vector<uint8_t> data = Unreduced(e);
            ASSERT_EQ(data.size(), e.unpacked) << what;
            Structure ours = Walk(test::Reduce(data, e.factor), e.factor, e.unpacked);
            for (const Structure* s : {&real, &ours}) {
                const char* side = s == &real ? " (real)" : " (encoder)";
                EXPECT_FALSE(s->oversizedSet || s->repeatedFollower) << what << side;
                EXPECT_FALSE(s->outOfRange) << what << side;
                EXPECT_TRUE(s->endsBetweenSteps) << what << side;
            }
            realUse[e.factor] |= real.Used();
            ourUse[e.factor] |= ours.Used();
            ++walked;
        }
    }
    EXPECT_GE(walked, 9u);
    // Per factor, over its entries: the same kinds of symbols, escapes, lengths and distances.
    for (int f = 1; f <= 4; ++f)
        EXPECT_EQ(ourUse[f], realUse[f]) << "factor " << f;
    EXPECT_EQ(realUse[4], 0x1Fu) << "the samples use every part of the format";
}

} // namespace
} // namespace dvl
