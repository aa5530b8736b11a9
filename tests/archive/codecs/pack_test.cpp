// Pack (.z): the peer fixture against gzip, files of a small encoder here (checked by gzip, as no
// `pack` is installed) from shallow trees to the deepest, faulty headers and data, damaged copies
// and short writes.
#include "archive/codecs/pack.h"

#include "tests/archive/unzip/codec_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <queue>
#include <random>

namespace dvl::codecs {
namespace {

namespace fs = std::filesystem;
using dvl::test::Quote;
using dvl::test::TempDir;
using dvl::unzip::test::ChunkedInput;
using dvl::unzip::test::Content;
using dvl::unzip::test::RecordingOutput;
using dvl::unzip::test::Sample;

constexpr unsigned kEnd = 256;

using Decoded = dvl::unzip::test::StreamDecoded;
using dvl::unzip::test::DecodeInChunks;
using dvl::unzip::test::kOddChunks;
using dvl::unzip::test::kWholeStream;

Decoded Unpack(std::span<const uint8_t> stream, const std::vector<size_t>& chunks = kWholeStream) {
    return DecodeInChunks(stream, chunks,
                          [](ByteSource& in, ByteSink& out) { return DecodePack(in, out); });
}

// Huffman code lengths of the bytes of `data` and the end code (weight 1).
std::vector<unsigned> HuffmanLengths(std::span<const uint8_t> data) {
    std::vector<uint64_t> weight(257, 0);
    for (uint8_t b : data)
        ++weight[b];
    weight[kEnd] = 1;
    std::vector<int> parent;
    std::vector<unsigned> leafNode(257, ~0u);
    using Item = std::pair<uint64_t, unsigned>; // weight, node
    std::priority_queue<Item, std::vector<Item>, std::greater<>> queue;
    for (unsigned s = 0; s < 257; ++s) {
        if (weight[s] == 0) continue;
        leafNode[s] = unsigned(parent.size());
        parent.push_back(-1);
        queue.push({weight[s], leafNode[s]});
    }
    while (queue.size() > 1) {
        const Item a = queue.top();
        queue.pop();
        const Item b = queue.top();
        queue.pop();
        const unsigned node = unsigned(parent.size());
        parent.push_back(-1);
        parent[a.second] = parent[b.second] = int(node);
        queue.push({a.first + b.first, node});
    }
    std::vector<unsigned> lengths(257, 0);
    for (unsigned s = 0; s < 257; ++s)
        for (int n = leafNode[s] == ~0u ? -1 : int(leafNode[s]); n >= 0 && parent[size_t(n)] >= 0;
             n = parent[size_t(n)])
            ++lengths[s];
    return lengths;
}

// A pack file of `data`: the end code moved to the deepest level (a swap of two lengths keeps
// the tree complete), leaves listed by level in byte order, codes assigned from the deepest level
// up as the format does.
std::vector<uint8_t> PackEncode(std::span<const uint8_t> data) {
    std::vector<unsigned> lengths = HuffmanLengths(data);
    const unsigned levels = *std::max_element(lengths.begin(), lengths.end());
    if (lengths[kEnd] != levels)
        std::swap(lengths[kEnd], *std::find(lengths.begin(), lengths.begin() + kEnd, levels));
    std::vector<std::vector<unsigned>> leaves(levels + 1);
    for (unsigned s = 0; s <= kEnd; ++s)
        if (lengths[s]) leaves[lengths[s]].push_back(s);
    std::vector<uint32_t> first(levels + 2, 0), code(257, 0);
    for (unsigned level = levels; level >= 1; --level) {
        first[level] = level == levels ? 0 : (first[level + 1] + leaves[level + 1].size()) / 2;
        for (size_t i = 0; i < leaves[level].size(); ++i)
            code[leaves[level][i]] = first[level] + uint32_t(i);
    }

    const uint32_t size = uint32_t(data.size());
    std::vector<uint8_t> out = {
        0x1F,          0x1E,           uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8),
        uint8_t(size), uint8_t(levels)};
    for (unsigned level = 1; level <= levels; ++level)
        out.push_back(uint8_t(leaves[level].size() - (level == levels ? 2 : 0)));
    for (unsigned level = 1; level <= levels; ++level)
        for (unsigned s : leaves[level])
            if (s != kEnd) out.push_back(uint8_t(s));
    size_t bitCount = 0;
    const auto put = [&](unsigned symbol) {
        for (unsigned i = lengths[symbol]; i-- > 0; ++bitCount) {
            if (bitCount % 8 == 0) out.push_back(0);
            out.back() |= uint8_t((code[symbol] >> i & 1) << (7 - bitCount % 8));
        }
    };
    for (uint8_t b : data)
        put(b);
    put(kEnd);
    return out;
}

// Symbol i repeated Fib(i + 2) times (1, 2, 3, 5, ...), shuffled: beside the end code's weight of
// 1, each merge of the Huffman tree takes the tree so far and the next symbol, so the tree is as
// deep as there are symbols.
std::vector<uint8_t> FibonacciData(unsigned symbols) {
    std::vector<uint8_t> data;
    uint64_t a = 1, b = 2;
    for (unsigned s = 0; s < symbols; ++s) {
        data.insert(data.end(), a, uint8_t('A' + s));
        a = std::exchange(b, a + b);
    }
    std::shuffle(data.begin(), data.end(), std::mt19937(7));
    return data;
}

unsigned Levels(const std::vector<uint8_t>& packed) {
    return packed.at(6);
}

// --- Valid files ---

TEST(PackPeer, FixtureMatchesGzip) {
    DVL_REQUIRE_TOOL("gzip");
    const fs::path root = dvl::test::PeerFixtures();
    if (root.empty() || !fs::is_directory(root / "pack")) GTEST_SKIP() << "no peer fixtures";
    for (const auto& entry : fs::directory_iterator(root / "pack")) {
        SCOPED_TRACE(entry.path().filename().string());
        const std::vector<uint8_t> stream = dvl::test::ReadFile(entry.path());
        const std::vector<uint8_t> expected = dvl::test::GzipDecode(stream);
        ASSERT_FALSE(expected.empty());
        for (const auto& chunks : {kWholeStream, std::vector<size_t>{1}}) {
            const Decoded d = Unpack(stream, chunks);
            EXPECT_EQ(d.status, DecodeStatus::Ok);
            EXPECT_TRUE(d.bytes == expected);
        }
    }
}

struct ValidCase {
    const char* name;
    std::vector<uint8_t> data;
    unsigned levels; // of the tree the encoder makes; 0: not checked
};

TEST(PackOwn, FilesDecodeAsGzipReadsThem) {
    DVL_REQUIRE_TOOL("gzip");
    std::vector<uint8_t> everyByte(256 * 40);
    for (size_t i = 0; i < everyByte.size(); ++i)
        everyByte[i] = uint8_t(i * 7);
    const ValidCase cases[] = {
        {"one byte value", std::vector<uint8_t>(1000, 'z'), 1},
        {"text", Sample(Content::kText, 500000, 1), 0},
        {"binary", Sample(Content::kBinary, 500000, 2), 0},
        {"noise", Sample(Content::kRandom, 300000, 3), 0},
        {"every byte value", everyByte, 9},
        {"13 levels: just past the table", FibonacciData(13), 13},
        {"24 levels", FibonacciData(24), 24},
        {"25 levels, the deepest", FibonacciData(25), 25},
    };
    for (const ValidCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> stream = PackEncode(c.data);
        if (c.levels) {
            ASSERT_EQ(Levels(stream), c.levels);
        }
        ASSERT_TRUE(dvl::test::GzipDecode(stream) == c.data) << "the test's encoder is wrong";
        for (const auto& chunks : {kWholeStream, kOddChunks}) {
            const Decoded d = Unpack(stream, chunks);
            EXPECT_EQ(d.status, DecodeStatus::Ok);
            EXPECT_TRUE(d.bytes == c.data);
        }
    }
}

// --- Faults ---

// "banana": a = 1, n = 01, b = 000, end = 001; its codes are 000 1 01 1 01 1 001, padded.
std::vector<uint8_t> Banana(uint32_t size, std::vector<uint8_t> data = {0x16, 0xC8}) {
    std::vector<uint8_t> s = {0x1F,
                              0x1E,
                              uint8_t(size >> 24),
                              uint8_t(size >> 16),
                              uint8_t(size >> 8),
                              uint8_t(size),
                              3,
                              1,
                              1,
                              0,
                              'a',
                              'n',
                              'b'};
    s.insert(s.end(), data.begin(), data.end());
    return s;
}

std::vector<uint8_t> Header(std::initializer_list<uint8_t> tree) {
    std::vector<uint8_t> s = {0x1F, 0x1E, 0, 0, 0, 1};
    s.insert(s.end(), tree);
    return s;
}

struct FaultCase {
    const char* name;
    std::vector<uint8_t> stream;
    DecodeStatus status;
    std::string output;
};

TEST(PackFaults, EachFaultHasItsStatusAndKeepsWhatCameBefore) {
    std::vector<uint8_t> tooMany = Header({9});
    tooMany.insert(tooMany.end(), 9, 0xFF);
    const FaultCase cases[] = {
        {"banana", Banana(6), DecodeStatus::Ok, "banana"},
        {"empty: a leaf never used and the end code",
         {0x1F, 0x1E, 0, 0, 0, 0, 1, 0, 'x', 0x80},
         DecodeStatus::Ok,
         ""},
        {"one leaf and the end code",
         {0x1F, 0x1E, 0, 0, 0, 4, 1, 0, 'a', 0x08},
         DecodeStatus::Ok,
         "aaaa"},
        {"empty", {}, DecodeStatus::Truncated, ""},
        {"magic cut", {0x1F}, DecodeStatus::Truncated, ""},
        {"old pack magic", {0x1F, 0x1F, 0, 0, 0, 0}, DecodeStatus::Corrupt, ""},
        {"compress magic", {0x1F, 0x9D, 0x90}, DecodeStatus::Corrupt, ""},
        {"size cut", {0x1F, 0x1E, 0, 0}, DecodeStatus::Truncated, ""},
        {"no levels", Header({0}), DecodeStatus::Corrupt, ""},
        {"26 levels", Header({26}), DecodeStatus::Corrupt, ""},
        {"level counts cut", Header({3, 1, 1}), DecodeStatus::Truncated, ""},
        {"more leaves than bytes", tooMany, DecodeStatus::Corrupt, ""},
        {"incomplete: two leaves at depth 2", Header({2, 0, 0, 'a'}), DecodeStatus::Corrupt, ""},
        {"over-full: three leaves at depth 1", Header({1, 1, 'a', 'b'}), DecodeStatus::Corrupt, ""},
        {"a lone node at depth 2", Header({2, 1, 1, 'a', 'b', 'c'}), DecodeStatus::Corrupt, ""},
        {"a byte listed twice", Header({2, 1, 0, 'a', 'a'}), DecodeStatus::Corrupt, ""},
        {"leaves cut", Header({2, 1, 0, 'a'}), DecodeStatus::Truncated, ""},
        {"end code before the size", Banana(7), DecodeStatus::Corrupt, "banana"},
        {"a byte where the end code belongs", Banana(5), DecodeStatus::Corrupt, "banan"},
        {"data cut inside a code", Banana(6, {0x16}), DecodeStatus::Truncated, "bana"},
        {"no data", Banana(6, {}), DecodeStatus::Truncated, ""},
        {"bytes after the end are not read", Banana(6, {0x16, 0xC8, 0xFF, 0xFF}), DecodeStatus::Ok,
         "banana"},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& chunks : {kWholeStream, std::vector<size_t>{1}}) {
            const Decoded d = Unpack(c.stream, chunks);
            EXPECT_EQ(d.status, c.status);
            EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), c.output);
        }
    }
}

TEST(PackFaults, DamagedCopiesNeverCrash) {
    const std::vector<uint8_t> data = Sample(Content::kText, 20000, 4);
    const std::vector<uint8_t> deep = FibonacciData(18);
    for (const auto& original : {data, deep}) {
        const std::vector<uint8_t> stream = PackEncode(original);
        ASSERT_TRUE(Unpack(stream).bytes == original);
        // A cut copy decodes to a beginning of the data and says it was cut.
        for (size_t size = 0; size < stream.size(); size += size < 300 ? 1 : 7) {
            const Decoded d = Unpack(std::span(stream).first(size));
            ASSERT_EQ(d.status, DecodeStatus::Truncated) << size;
            ASSERT_LE(d.bytes.size(), original.size()) << size;
            ASSERT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), original.begin())) << size;
        }
        // A flipped bit anywhere: any verdict, never more than the stored size.
        for (size_t bit = 0; bit < stream.size() * 8; bit += 13) {
            std::vector<uint8_t> copy = stream;
            copy[bit / 8] ^= uint8_t(1 << bit % 8);
            const Decoded d = Unpack(copy);
            const uint32_t stored =
                uint32_t(copy[2]) << 24 | copy[3] << 16 | copy[4] << 8 | copy[5];
            ASSERT_LE(d.bytes.size(), stored) << bit;
        }
    }
}

TEST(PackOutput, PiecesOf64KiBAndShortWrites) {
    const std::vector<uint8_t> data = Sample(Content::kText, 300000, 5);
    const std::vector<uint8_t> stream = PackEncode(data);
    {
        ChunkedInput in(stream);
        RecordingOutput out;
        ASSERT_EQ(DecodePack(in, out), DecodeStatus::Ok);
        ASSERT_TRUE(out.bytes == data);
        for (size_t i = 0; i + 1 < out.writes.size(); ++i)
            EXPECT_EQ(out.writes[i], size_t(64) << 10);
        EXPECT_EQ(out.writes.back(), data.size() % (size_t(64) << 10));
    }
    ChunkedInput in(stream);
    RecordingOutput out(100000);
    EXPECT_EQ(DecodePack(in, out), DecodeStatus::WriteFailed);
}

} // namespace
} // namespace dvl::codecs
