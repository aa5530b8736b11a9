// Inflate on valid streams: zlib's output at every level and strategy, input in chunks of any
// size, output in 32768-byte pieces, the consumed count, and hand-built streams for the corners
// an encoder seldom produces.
#include "archive/codecs/inflate.h"

#include "tests/archive/unzip/codec_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace dvl::unzip {
using namespace dvl::codecs;
namespace {

using dvl::test::Bytes;

using namespace test;

struct Config {
    const char* name;
    DeflateOptions options;
    friend void PrintTo(const Config& c, std::ostream* os) { *os << c.name; }
};

class ZlibStreams : public ::testing::TestWithParam<Config> {};

TEST_P(ZlibStreams, DecodeToTheOriginal) {
    for (Content content : {Content::kText, Content::kBinary, Content::kRandom}) {
        for (size_t size : {0, 1, 32767, 32768, 32769, 1000003}) {
            SCOPED_TRACE(testing::Message() << "content " << int(content) << " size " << size);
            const std::vector<uint8_t> original = Sample(content, size, uint32_t(size));
            const std::vector<uint8_t> stream = Deflate(original, GetParam().options);
            ChunkedInput in(stream, {65536});
            RecordingOutput out;
            Inflater inflater;
            const InflateResult r = inflater.Inflate(in, out);
            ASSERT_EQ(r.error, 0);
            EXPECT_EQ(r.consumed, stream.size());
            ASSERT_TRUE(out.bytes == original);
            // Whole pieces, then the rest.
            for (size_t i = 0; i + 1 < out.writes.size(); ++i) {
                ASSERT_EQ(out.writes[i], 32768u);
            }
            if (!out.writes.empty()) {
                EXPECT_GT(out.writes.back(), 0u);
            }
            EXPECT_EQ(out.writes.size(), (size + 32767) / 32768);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    LevelsAndStrategies, ZlibStreams,
    ::testing::Values(Config{"Stored", {0}}, Config{"Level1", {1}}, Config{"Level6", {6}},
                      Config{"Level9", {9}}, Config{"HuffmanOnly", {6, Z_HUFFMAN_ONLY}},
                      Config{"Rle", {6, Z_RLE}}, Config{"Fixed", {6, Z_FIXED}},
                      Config{"SyncFlushes", {6, Z_DEFAULT_STRATEGY, 10000, Z_SYNC_FLUSH}},
                      Config{"FullFlushes", {1, Z_DEFAULT_STRATEGY, 30011, Z_FULL_FLUSH}},
                      Config{"FixedSyncFlushes", {9, Z_FIXED, 777, Z_SYNC_FLUSH}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InflateChunks, BitsCarryAcrossChunksOfAnySize) {
    const std::vector<uint8_t> text = Sample(Content::kText, 150000, 5);
    const std::vector<uint8_t> binary = Sample(Content::kBinary, 150000, 6);
    const std::vector<std::vector<uint8_t>> streams = {
        Deflate(text, {6}), Deflate(binary, {9}), Deflate(text, {0}),
        Deflate(binary, {6, Z_FIXED, 5000, Z_SYNC_FLUSH}),
        Deflate(text, {1, Z_RLE, 9000, Z_FULL_FLUSH})};
    const std::vector<std::vector<size_t>> chunkings = {
        {1},
        {2},
        {3},
        {7},
        {4096},
        {1, 2, 3, 7, 4096},
        {15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 29, 30, 31, 33, 40},
        {65536, 1}};
    for (size_t s = 0; s < streams.size(); ++s) {
        const std::vector<uint8_t>& original = s % 2 ? binary : text;
        for (const auto& chunks : chunkings) {
            SCOPED_TRACE(testing::Message() << "stream " << s << " first chunk " << chunks[0]);
            Decoded d = Inflate(streams[s], chunks);
            ASSERT_EQ(d.result.error, 0);
            EXPECT_EQ(d.result.consumed, streams[s].size());
            ASSERT_TRUE(d.bytes == original);
        }
    }
}

TEST(InflateConsumed, CountsOnlyTheBitsUsedNotTheReadAhead) {
    const std::vector<uint8_t> original = Sample(Content::kText, 200000, 8);
    std::vector<uint8_t> stream = Deflate(original, {6});
    const size_t length = stream.size();
    stream.insert(stream.end(), 5000, 0xA5); // the next entry's bytes
    for (const std::vector<size_t>& chunks : {std::vector<size_t>{1 << 30}, {4096}, {1}}) {
        ChunkedInput in(stream, chunks);
        Inflater inflater;
        uint64_t last = 0;
        bool monotonic = true;
        struct ProgressOutput : RecordingOutput {
            std::function<void()> onWrite;
            bool Write(const uint8_t* p, size_t n) override {
                onWrite();
                return RecordingOutput::Write(p, n);
            }
        } out;
        out.onWrite = [&] {
            monotonic = monotonic && inflater.Consumed() >= last && inflater.Consumed() <= length;
            last = inflater.Consumed();
        };
        const InflateResult r = inflater.Inflate(in, out);
        ASSERT_EQ(r.error, 0);
        EXPECT_EQ(r.consumed, length);
        EXPECT_TRUE(monotonic);
        EXPECT_GT(last, 0u);
        EXPECT_TRUE(out.bytes == original);
    }
}

// --- Hand-built streams -------------------------------------------------------------------

TEST(InflateBlocks, OneFixedBlock) {
    const Code lit = FixedLitLen(), dist = FixedDistance();
    Writer w;
    w.Header(true, 1);
    for (char c : std::string("hello, "))
        w.Literal(lit, uint8_t(c));
    w.Match(lit, dist, 5, 7); // "hello"
    w.End(lit);
    Decoded d = Inflate(w.Bytes());
    ASSERT_EQ(d.result.error, 0);
    EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), "hello, hello");
    EXPECT_EQ(d.result.consumed, w.Bytes().size());
}

TEST(InflateBlocks, FixedStoredAndDynamicBlocksShareTheWindow) {
    const Code lit = FixedLitLen(), dist = FixedDistance();
    const Code dynLit = CompleteCode(286, AllLiterals({257, 258, 265})); // lengths 3, 4, 11-12
    const Code dynDist = CompleteCode(30, {0, 1, 4, 5, 9});
    Writer w;
    w.Header(false, 1);
    for (char c : std::string("abc"))
        w.Literal(lit, uint8_t(c));
    w.End(lit);
    w.Stored(false, Bytes("def"));
    w.Stored(false, {}); // empty stored block
    w.DynamicHeader(false, dynLit, dynDist);
    w.Literal(dynLit, 'g');
    w.Match(dynLit, dynDist, 3, 7);  // "abc"
    w.Match(dynLit, dynDist, 4, 7);  // "defg"
    w.Match(dynLit, dynDist, 11, 1); // "g" x 11
    w.End(dynLit);
    w.Header(true, 1);
    w.Match(lit, dist, 6, 25); // "abcdef" from the first block
    w.End(lit);
    Decoded d = Inflate(w.Bytes(), {3});
    ASSERT_EQ(d.result.error, 0);
    EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()),
              "abcdefgabcdefg" + std::string(11, 'g') + "abcdef");
}

TEST(InflateBlocks, StoredBlocksAcrossThePieceBoundary) {
    const std::vector<uint8_t> data = Sample(Content::kRandom, 70000, 4);
    Writer w;
    w.Stored(false, {data.data(), 20000});
    w.Stored(false, {data.data() + 20000, 0});
    w.Stored(false, {data.data() + 20000, 45000}); // crosses 32768 and 65536
    w.Stored(true, {data.data() + 65000, 5000});
    for (const std::vector<size_t>& chunks : {std::vector<size_t>{1 << 30}, {3}, {4096}}) {
        ChunkedInput in(w.Bytes(), chunks);
        RecordingOutput out;
        Inflater inflater;
        const InflateResult r = inflater.Inflate(in, out);
        ASSERT_EQ(r.error, 0);
        EXPECT_TRUE(out.bytes == data);
        EXPECT_EQ(out.writes, (std::vector<size_t>{32768, 32768, 4464}));
    }
}

TEST(InflateBlocks, LongestMatchAtDistanceOneAndShortDistances) {
    const Code lit = FixedLitLen(), dist = FixedDistance();
    Writer w;
    w.Header(true, 1);
    w.Literal(lit, 'x');
    w.Match(lit, dist, 258, 1);
    w.Match(lit, dist, 258, 1);
    std::string want(517, 'x');
    for (unsigned distance = 2; distance <= 17; ++distance) {
        for (unsigned i = 0; i < distance; ++i) {
            w.Literal(lit, uint8_t('a' + i));
            want += char('a' + i);
        }
        for (unsigned length : {3u, 9u, 31u, 258u}) {
            w.Match(lit, dist, length, distance);
            for (unsigned i = 0; i < length; ++i)
                want += want[want.size() - distance];
        }
    }
    w.End(lit);
    Decoded d = Inflate(w.Bytes());
    ASSERT_EQ(d.result.error, 0);
    EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), want);
}

TEST(InflateBlocks, DistanceBeforeTheFirstByteReadsZeros) {
    const Code lit = FixedLitLen(), dist = FixedDistance();
    Writer w;
    w.Header(true, 1);
    w.Match(lit, dist, 10, 100);
    w.Literal(lit, 'a');
    w.Match(lit, dist, 4, 2);
    w.Match(lit, dist, 258, 32768);
    w.End(lit);
    std::vector<uint8_t> want(10, 0);
    want.insert(want.end(), {'a', 0, 'a', 0, 'a'});
    want.insert(want.end(), 258, 0);

    // Also with a decoder whose window a previous entry filled with other bytes.
    Inflater inflater;
    const std::vector<uint8_t> noise = Deflate(Sample(Content::kRandom, 100000, 9), {1});
    for (int entry = 0; entry < 2; ++entry) {
        ChunkedInput in(w.Bytes());
        RecordingOutput out;
        ASSERT_EQ(inflater.Inflate(in, out).error, 0);
        EXPECT_TRUE(out.bytes == want);
        ChunkedInput other(noise);
        RecordingOutput ignored;
        ASSERT_EQ(inflater.Inflate(other, ignored).error, 0);
    }
}

// Dynamic headers at their limits, each block decoding a match through its codes.
struct DynamicCase {
    const char* name;
    size_t litLenCount, distanceCount;
    std::vector<unsigned> lengthSymbols;   // besides the literals and end-of-block
    std::vector<unsigned> distanceSymbols; // the distance symbols with codes
    unsigned length, distance;             // a match these codes can send (0: none)
    friend void PrintTo(const DynamicCase& c, std::ostream* os) { *os << c.name; }
};

class DynamicLimits : public ::testing::TestWithParam<DynamicCase> {};

TEST_P(DynamicLimits, AreAccepted) {
    const DynamicCase& c = GetParam();
    const Code lit = CompleteCode(c.litLenCount, AllLiterals(c.lengthSymbols));
    const Code dist = CompleteCode(c.distanceCount, c.distanceSymbols);
    Writer w;
    w.DynamicHeader(true, lit, dist);
    std::string want = "zero";
    for (char ch : want)
        w.Literal(lit, uint8_t(ch));
    if (c.length) {
        w.Match(lit, dist, c.length, c.distance);
        for (unsigned i = 0; i < c.length; ++i)
            want += want[want.size() - c.distance];
    }
    w.End(lit);
    Decoded d = Inflate(w.Bytes());
    ASSERT_EQ(d.result.error, 0);
    EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), want);
}

std::vector<unsigned> Range(unsigned n) {
    std::vector<unsigned> v(n);
    for (unsigned i = 0; i < n; ++i)
        v[i] = i;
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DynamicLimits,
    ::testing::Values(DynamicCase{"Hlit288", 288, 30, {285, 286, 287}, {0, 1, 2}, 258, 1},
                      DynamicCase{"Hdist32", 286, 32, {257}, Range(32), 3, 2},
                      DynamicCase{"LoneOneBitDistanceCode", 286, 1, {258}, {0}, 4, 1},
                      DynamicCase{"LoneOneBitCodeAmongTwo", 286, 2, {257}, {1}, 3, 2},
                      DynamicCase{"NoDistanceCodes", 257, 1, {}, {}, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InflateBlocks, LoneEndOfBlockCodeAndLeadingRepeat) {
    // Only end-of-block has a code (1 bit): an empty block.
    Writer empty;
    empty.DynamicHeader(true, CompleteCode(257, {256}), CompleteCode(1, {}));
    empty.End(CompleteCode(257, {256}));
    Decoded d = Inflate(empty.Bytes());
    EXPECT_EQ(d.result.error, 0);
    EXPECT_TRUE(d.bytes.empty());

    // A repeat (16) before any length repeats 0.
    std::vector<unsigned> used = AllLiterals();
    used.erase(used.begin(), used.begin() + 3); // bytes 0, 1, 2 have no code
    const Code lit = CompleteCode(257, used), dist = CompleteCode(1, {});
    std::vector<Writer::Token> tokens = {{16, 0}};
    for (size_t s = 3; s < 257; ++s)
        tokens.push_back({lit.lengths[s]});
    tokens.push_back({0});
    Writer w;
    w.DynamicHeader(true, 257, 1, Writer::DefaultCodeLengthCode(), tokens);
    w.Literal(lit, 'q');
    w.End(lit);
    d = Inflate(w.Bytes());
    ASSERT_EQ(d.result.error, 0);
    EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), "q");
}

} // namespace
} // namespace dvl::unzip
