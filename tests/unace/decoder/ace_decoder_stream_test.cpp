// Streams written by the test encoder (confirmed by the peer decoder where it is present),
// the code construction, and the decoder's answers to invalid, truncated and damaged input.
#include "tests/support/ace_lz77_encoder.h"
#include "tests/support/ace_writer.h"
#include "tests/support/test_support.h"
#include "tests/unace/decoder/member_walk.h"
#include "unace/decoder/ace_huffman.h"

#include <gtest/gtest.h>

#include <random>

namespace dvl::test {
namespace {

using unace::AceDecoder;
using unace::DecodeResult;

constexpr int kStored = 0, kLz77 = 1, kBlocked = 2;

std::vector<uint8_t> Text(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Text with repeats near and far, in several blocks' worth.
std::vector<uint8_t> SampleData(size_t size, uint32_t seed = 1) {
    std::mt19937 random(seed);
    const std::vector<std::string> words{"ACE ", "archive ",    "member ",    "window ",
                                         "\r\n", "dictionary ", "0123456789", "block "};
    std::vector<uint8_t> data;
    while (data.size() < size) {
        if (random() % 5 == 0) {
            data.push_back(uint8_t(random()));
            continue;
        }
        const std::string& w = words[random() % words.size()];
        data.insert(data.end(), w.begin(), w.end());
    }
    data.resize(size);
    return data;
}

// The peer decoder's verdict on the members: every one "CRC OK".
void ExpectPeerAccepts(const AceArchiveSpec& spec) {
    if (!HaveTool("unace")) return; // the decoder's own round trip still ran
    TempDir dir;
    WriteFile(dir / "t.ace", BuildAceArchive(spec));
    const std::string output = RunAndCapture("unace t -y " + Quote(dir / "t.ace") + " </dev/null");
    size_t ok = 0;
    for (size_t at = output.find("CRC OK"); at != std::string::npos;
         at = output.find("CRC OK", at + 1))
        ++ok;
    EXPECT_EQ(ok, spec.members.size()) << output;
}

AceMemberSpec PackedMember(const std::string& name, const std::vector<uint8_t>& data,
                           const std::vector<uint8_t>& packed, uint8_t compType = kLz77,
                           uint16_t parm = 12) {
    AceMemberSpec m;
    m.name = name;
    m.data = data;
    m.packed = packed;
    m.compType = compType;
    m.quality = 3;
    m.parm = parm;
    return m;
}

TEST(AceCodes, FollowTheReferenceSortOfEqualWidths) {
    struct Case {
        std::vector<uint8_t> widths;
        std::vector<std::pair<int, std::string>> codes; // symbol: code
    };
    const std::vector<Case> cases{
        {{2, 2, 2, 2}, {{0, "00"}, {1, "01"}, {2, "10"}, {3, "11"}}},
        {{1, 2, 3, 3}, {{0, "0"}, {1, "10"}, {2, "110"}, {3, "111"}}},
        {{1, 0, 0, 2, 2, 0, 0}, {{0, "0"}, {3, "10"}, {4, "11"}}},
        {{2, 0, 2, 0, 2, 2}, {{0, "00"}, {2, "01"}, {4, "10"}, {5, "11"}}},
        {{3, 3, 2, 2, 3, 0, 3},
         {{3, "00"}, {2, "01"}, {1, "100"}, {0, "101"}, {4, "110"}, {6, "111"}}},
        {std::vector<uint8_t>(16, 4),
         {{4, "0000"},
          {5, "0001"},
          {6, "0010"},
          {7, "0011"},
          {0, "0100"},
          {1, "0101"},
          {2, "0110"},
          {3, "0111"},
          {12, "1000"},
          {13, "1001"},
          {14, "1010"},
          {15, "1011"},
          {8, "1100"},
          {9, "1101"},
          {10, "1110"},
          {11, "1111"}}},
        {std::vector<uint8_t>(256, 8),
         {{0x00, "01010100"},
          {0x41, "00010101"},
          {0xFF, "10101011"},
          {84, "00000000"},
          {80, "00000100"}}},
        // A lone symbol is one bit; no symbol at all still consumes one.
        {{0, 0, 5}, {{2, "0"}}},
    };
    for (const Case& c : cases) {
        const auto codes = unace::detail::CodesForWidths(c.widths, 11);
        for (const auto& [symbol, text] : c.codes) {
            SCOPED_TRACE(testing::Message()
                         << "widths of " << c.widths.size() << ", symbol " << symbol);
            ASSERT_EQ(codes[size_t(symbol)].second, int(text.size()));
            EXPECT_EQ(codes[size_t(symbol)].first, std::stoul(text, nullptr, 2));
        }
    }
}

TEST(AceCodes, OversubscribedWidthsAreCorrupt) {
    unace::detail::HuffmanTable table;
    const std::vector<uint8_t> widths{1, 1, 1};
    EXPECT_FALSE(table.Build(widths, 11));
}

// Token streams covering each kind of LZ77 step; every one decodes back and the peer accepts
// it in an archive.
TEST(AceLz77RoundTrip, EncodedStreamsDecodeAndThePeerAgrees) {
    using T = AceLz77Token;
    struct Case {
        const char* what;
        std::vector<AceLz77Token> tokens;
        AceLz77Options options;
    };
    const std::vector<T> allRepeats{
        T::Literal('a'), T::Literal('b'), T::Literal('c'), T::Literal('d'), T::Literal('e'),
        T::Literal('f'), T::Literal('g'), T::Literal('h'), T::Match(8, 4), // new distance 8
        T::Match(4, 3),                                                    // new distance 4
        T::Match(2, 5),                                                    // new distance 2
        T::Match(4, 4),  T::Match(8, 3),  T::Match(2, 4),  T::Match(2, 2),  T::Match(4, 2)};
    std::vector<T> longMatches{T::Literal('x'), T::Literal('y')};
    for (int i = 0; i < 40; ++i)
        longMatches.push_back(T::Match(2, 257));
    const std::vector<uint8_t> text = SampleData(200000);
    const std::vector<Case> cases{
        {"literals only", AceLiterals(Text("Hello, ACE!\r\n")), {}},
        {"every repeat index and a new distance", allRepeats, {}},
        {"the longest matches", longMatches, {}},
        {"far distances in many blocks", ParseAceLz77(text), {}},
        {"a new table every 7 symbols", ParseAceLz77(SampleData(3000, 7)), {7, true}},
        {"no repeated distances", ParseAceLz77(SampleData(5000, 3)), {32767, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> expected;
        for (const T& t : c.tokens) {
            if (t.kind == T::Kind::Literal) expected.push_back(t.literal);
            for (uint32_t i = 0; t.kind == T::Kind::Match && i < t.length; ++i)
                expected.push_back(expected[expected.size() - t.distance]);
        }
        const std::vector<uint8_t> packed = EncodeAceLz77(c.tokens, c.options);
        AceDecoder decoder;
        const DecodedMember out = DecodeWith(decoder, kLz77, 22, expected.size(), packed);
        ASSERT_EQ(out.result, DecodeResult::Ok);
        ASSERT_EQ(out.data, expected);
        ExpectPeerAccepts({.members = {PackedMember("m.bin", expected, packed)}});
    }
}

// Matches of the second member reach into the first; only the kept window decodes them.
TEST(AceLz77RoundTrip, SolidMembersShareTheWindowButNotTheDistances) {
    const std::vector<uint8_t> one = SampleData(70000, 11), two = SampleData(50000, 11);
    std::vector<AceLz77Token> second{AceLz77Token::Match(1, 3)}; // distance 1: one's last byte
    const auto rest = ParseAceLz77(two, [&] {
        std::vector<uint8_t> h = one;
        h.insert(h.end(), 3, one.back());
        return h;
    }());
    second.insert(second.end(), rest.begin(), rest.end());
    std::vector<uint8_t> twoData(3, one.back());
    twoData.insert(twoData.end(), two.begin(), two.end());
    const auto packedOne = EncodeAceLz77(ParseAceLz77(one));
    const auto packedTwo = EncodeAceLz77(second);

    AceDecoder decoder;
    ASSERT_EQ(DecodeWith(decoder, kLz77, 22, one.size(), packedOne).data, one);
    const DecodedMember solid = DecodeWith(decoder, kLz77, 22, twoData.size(), packedTwo);
    EXPECT_EQ(solid.result, DecodeResult::Ok);
    EXPECT_EQ(solid.data, twoData);
    decoder.Reset();
    EXPECT_EQ(DecodeWith(decoder, kLz77, 22, twoData.size(), packedTwo).result,
              DecodeResult::Corrupt);
    // A stored member enters the window too.
    decoder.Reset();
    ASSERT_EQ(DecodeWith(decoder, kStored, 10, one.size(), one).result, DecodeResult::Ok);
    EXPECT_EQ(DecodeWith(decoder, kLz77, 22, twoData.size(), packedTwo).data, twoData);

    AceArchiveSpec spec{
        .members = {PackedMember("one", one, packedOne), PackedMember("two", twoData, packedTwo)},
        .solid = true};
    ExpectPeerAccepts(spec);
}

// Blocked-mode runs built from LZ77 tokens with switches: EXE (32- and 16-bit operands, an
// opcode near the end of the run), DELTA, back-to-back switches, and a member ending in EXE.
TEST(AceBlockedRoundTrip, ExeAndDeltaRunsUndoTheirFilters) {
    using T = AceLz77Token;
    auto literals = [](std::vector<T>& tokens, const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes)
            tokens.push_back(T::Literal(b));
    };
    std::vector<T> tokens;
    literals(tokens, {'M', 'Z'});
    tokens.push_back(T::Switch(2, {{1, 8}})); // EXE, 32-bit calls
    // E8 at member position 2 with absolute target 0x1002 -> relative 0x1000; E9 at 7 with
    // 0x0107 -> 0x0100; E8 among the last four bytes stays.
    literals(tokens, {0xE8, 0x02, 0x10, 0x00, 0x00, 0xE9, 0x07, 0x01, 'a', 0xE8, 1, 2});
    tokens.push_back(T::Switch(0));
    tokens.push_back(T::Switch(1, {{2, 8}, {8, 17}})); // DELTA D = 2, N = 8
    literals(tokens, {0x0a, 0x01, 0x01, 0x01, 0x07, 0x01, 0x01, 0x01});
    tokens.push_back(T::Switch(2, {{0, 8}})); // EXE, 16-bit calls
    literals(tokens, {0xE8, 0x20, 0x00, 'x', 'y', 'z', 'w'});
    const std::vector<uint8_t> expected{'M',  'Z',  0xE8, 0x00, 0x10, 0x00, 0x00, 0xE9, 0x00, 0x01,
                                        'a',  0xE8, 1,    2,    0x0a, 0x14, 0x0b, 0x15, 0x0c, 0x16,
                                        0x0d, 0x17, 0xE8, 0x0A, 0x00, 'x',  'y',  'z',  'w'};
    const auto packed = EncodeAceLz77(tokens);
    AceDecoder decoder;
    const DecodedMember out = DecodeWith(decoder, kBlocked, 16, expected.size(), packed);
    ASSERT_EQ(out.result, DecodeResult::Ok);
    EXPECT_EQ(out.data, expected);
    // The same member handed over a byte at a time holds back and releases the same bytes.
    decoder.Reset();
    EXPECT_EQ(DecodeWith(decoder, kBlocked, 16, expected.size(), packed, 1).data, expected);
    ExpectPeerAccepts({.members = {PackedMember("b.bin", expected, packed, kBlocked, 6)},
                       .versionToExtract = 20});
}

// What the mode switch announces must make sense: a mode byte above 7 is an unknown method, a
// DELTA run needs a block length that is a multiple of a non-zero distance.
TEST(AceBlockedRoundTrip, InvalidSwitchesAreRejected) {
    using T = AceLz77Token;
    struct Case {
        std::vector<T> tokens;
        DecodeResult expected;
    };
    const std::vector<Case> cases{
        {{T::Literal('a'), T::Switch(8)}, DecodeResult::UnknownMethod},
        {{T::Literal('a'), T::Switch(1, {{0, 8}, {8, 17}})}, DecodeResult::Corrupt},
        {{T::Literal('a'), T::Switch(1, {{3, 8}, {8, 17}})}, DecodeResult::Corrupt},
        {{T::Literal('a'), T::Switch(1, {{4, 8}, {0, 17}})}, DecodeResult::Corrupt},
        {{T::Literal('a'), T::Switch(0), T::Literal('b')}, DecodeResult::Ok},
    };
    for (const Case& c : cases) {
        AceDecoder decoder;
        const auto packed = EncodeAceLz77(c.tokens);
        EXPECT_EQ(DecodeWith(decoder, kBlocked, 10, 2, packed).result, c.expected);
        // ACE 1.0 has no mode switch.
        EXPECT_EQ(DecodeWith(decoder, kLz77, 10, 2, packed).result, DecodeResult::Corrupt);
    }
}

TEST(AceDecoderErrors, ParametersAndDistancesOutOfRange) {
    using T = AceLz77Token;
    const auto packed = EncodeAceLz77(AceLiterals(Text("abc")));
    const auto reachesBack = EncodeAceLz77({T::Literal('a'), T::Match(2, 3)});
    const auto beyondDictionary = [] {
        std::vector<T> tokens = AceLiterals(std::vector<uint8_t>(1100, 'q'));
        tokens.push_back(T::Match(1025, 3));
        return EncodeAceLz77(tokens);
    }();
    struct Case {
        const char* what;
        int compType, dictBits;
        uint64_t size;
        std::vector<uint8_t> packed;
        DecodeResult expected;
    };
    const std::vector<Case> cases{
        {"method 3", 3, 10, 3, packed, DecodeResult::UnknownMethod},
        {"method -1", -1, 10, 3, packed, DecodeResult::UnknownMethod},
        {"dictionary 2^23", kLz77, 23, 3, packed, DecodeResult::Corrupt},
        {"dictionary 2^9", kLz77, 9, 3, packed, DecodeResult::Corrupt},
        {"match before the first byte", kLz77, 10, 4, reachesBack, DecodeResult::Corrupt},
        {"match beyond the dictionary", kLz77, 10, 1103, beyondDictionary, DecodeResult::Corrupt},
        {"same match in a larger dictionary", kLz77, 11, 1103, beyondDictionary, DecodeResult::Ok},
        {"match past the member's size", kLz77, 10, 3, reachesBack, DecodeResult::Corrupt},
        {"more output than the data holds", kLz77, 10, 4000, packed, DecodeResult::Truncated},
        {"stored data shorter than the size", kStored, 10, 4, Text("abc"), DecodeResult::Truncated},
        {"empty member", kLz77, 10, 0, {}, DecodeResult::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AceDecoder decoder;
        EXPECT_EQ(DecodeWith(decoder, c.compType, c.dictBits, c.size, c.packed).result, c.expected);
    }
}

TEST(AceDecoderErrors, SinkRefusalStopsDecoding) {
    const std::vector<uint8_t> data = SampleData(300000);
    const auto packed = EncodeAceLz77(ParseAceLz77(data));
    for (int compType : {kStored, kLz77}) {
        AceDecoder decoder;
        BytesInput input(compType == kStored ? data : packed);
        size_t calls = 0, delivered = 0;
        const DecodeResult result = decoder.DecodeMember(compType, 22, data.size(), input,
                                                         [&](const uint8_t*, size_t size) {
                                                             EXPECT_LE(size, size_t(64 * 1024));
                                                             delivered += size;
                                                             return ++calls < 2;
                                                         });
        EXPECT_EQ(result, DecodeResult::Stopped);
        EXPECT_EQ(calls, 2u);
        EXPECT_LT(delivered, data.size());
    }
}

// Every truncation of a stream fails (or, cut inside the final padding, still decodes right);
// damaged streams give an error or different bytes, never a crash or a hang.
TEST(AceDecoderErrors, TruncatedAndDamagedStreamsFailCleanly) {
    const std::vector<uint8_t> data = SampleData(20000, 5);
    const auto packed = EncodeAceLz77(ParseAceLz77(data), {500, true});
    for (size_t cut = 0; cut < packed.size(); cut += 1 + cut / 64) {
        AceDecoder decoder;
        const std::vector<uint8_t> head(packed.begin(), packed.begin() + long(cut));
        const DecodedMember out = DecodeWith(decoder, kLz77, 22, data.size(), head);
        if (out.result == DecodeResult::Ok) {
            EXPECT_EQ(out.data, data) << "cut at " << cut;
        } else {
            EXPECT_TRUE(out.result == DecodeResult::Truncated ||
                        out.result == DecodeResult::Corrupt)
                << "cut at " << cut;
        }
    }
    std::mt19937 random(9);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> damaged = packed;
        damaged[random() % damaged.size()] ^= uint8_t(1u << (random() % 8));
        AceDecoder decoder;
        const DecodedMember out =
            DecodeWith(decoder, round % 2 ? kBlocked : kLz77, 22, data.size(), damaged);
        if (out.result == DecodeResult::Ok) {
            EXPECT_EQ(out.data.size(), data.size());
        }
    }
}

} // namespace
} // namespace dvl::test
