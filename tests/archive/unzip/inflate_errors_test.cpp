// Inflate on faulty streams: the error code of each fault, what is delivered before it, short
// writes, truncation at every point, and bit flips judged against zlib.
#include "archive/codecs/inflate.h"

#include "archive/errors.h"
#include "tests/archive/unzip/codec_test_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace dvl::unzip {
using namespace dvl::codecs;
namespace {

using namespace test;

// A faulty block written by `write`, after a fixed block that decodes to "ok".
struct FaultCase {
    const char* name;
    std::function<void(Writer&)> write;
    int error;
};

const Code& Lit() {
    static const Code c = FixedLitLen();
    return c;
}
const Code& Dist() {
    static const Code c = FixedDistance();
    return c;
}

// Plain length tokens for the given literal/length and distance lengths.
std::vector<Writer::Token> Plain(const std::vector<uint8_t>& a,
                                 const std::vector<uint8_t>& b = {}) {
    std::vector<Writer::Token> t;
    for (uint8_t l : a)
        t.push_back({l});
    for (uint8_t l : b)
        t.push_back({l});
    return t;
}

const Code kDynLit = CompleteCode(286, AllLiterals({257}));

std::vector<unsigned> Range32() {
    std::vector<unsigned> v(32);
    for (unsigned i = 0; i < 32; ++i)
        v[i] = i;
    return v;
}

std::vector<uint8_t> Lengths(size_t n, std::initializer_list<std::pair<size_t, uint8_t>> set) {
    std::vector<uint8_t> l(n, 0);
    for (auto [s, len] : set)
        l[s] = len;
    return l;
}

const std::vector<FaultCase>& FaultCases() {
    static const std::vector<FaultCase> cases = {
        {"BlockType3", [](Writer& w) { w.Header(true, 3); }, kErrBadBlock},
        {"FixedLitLen286",
         [](Writer& w) {
             w.Header(true, 1);
             Lit().Put(w.bits, 286);
         },
         kErrBadBlock},
        {"FixedLitLen287",
         [](Writer& w) {
             w.Header(true, 1);
             Lit().Put(w.bits, 287);
         },
         kErrBadBlock},
        {"FixedDistance30",
         [](Writer& w) {
             w.Header(true, 1);
             Lit().Put(w.bits, 257);
             Dist().Put(w.bits, 30);
         },
         kErrBadBlock},
        {"FixedDistance31",
         [](Writer& w) {
             w.Header(true, 1);
             Lit().Put(w.bits, 257);
             Dist().Put(w.bits, 31);
         },
         kErrBadBlock},
        {"CodeLengthCodeIncomplete",
         [](Writer& w) {
             w.DynamicHeader(true, 257, 1, Code(Lengths(19, {{0, 2}, {8, 2}, {9, 2}})), {});
         },
         kErrIncompleteCodeSet},
        {"CodeLengthCodeOversubscribed",
         [](Writer& w) {
             w.DynamicHeader(true, 257, 1, Code(Lengths(19, {{0, 1}, {8, 1}, {9, 1}})), {});
         },
         kErrIncompleteCodeSet},
        {"RepeatPastTheEnd",
         [](Writer& w) {
             std::vector<Writer::Token> t = Plain(kDynLit.lengths);
             t.push_back({18, 0}); // 11 zeros where 1 distance length remains
             w.DynamicHeader(true, 286, 1, Writer::DefaultCodeLengthCode(), t);
         },
         kErrIncompleteCodeSet},
        {"RepeatOfPreviousPastTheEnd",
         [](Writer& w) {
             std::vector<Writer::Token> t = Plain(kDynLit.lengths, {1});
             t.pop_back();
             t.push_back({16, 0}); // 3 copies where 1 length remains
             w.DynamicHeader(true, 286, 1, Writer::DefaultCodeLengthCode(), t);
         },
         kErrIncompleteCodeSet},
        {"LitLenIncomplete",
         [](Writer& w) {
             w.DynamicHeader(true, 257, 1, Writer::DefaultCodeLengthCode(),
                             Plain(Lengths(257, {{'a', 2}, {'b', 2}, {256, 2}}), {1}));
         },
         kErrIncompleteCodeSet},
        {"LitLenOversubscribed",
         [](Writer& w) {
             w.DynamicHeader(true, 257, 1, Writer::DefaultCodeLengthCode(),
                             Plain(Lengths(257, {{'a', 1}, {'b', 1}, {256, 1}}), {1}));
         },
         kErrIncompleteCodeSet},
        {"DistanceIncomplete",
         [](Writer& w) {
             w.DynamicHeader(true, 286, 3, Writer::DefaultCodeLengthCode(),
                             Plain(kDynLit.lengths, {2, 2, 2}));
         },
         kErrIncompleteCodeSet},
        {"DistanceOversubscribed",
         [](Writer& w) {
             w.DynamicHeader(true, 286, 3, Writer::DefaultCodeLengthCode(),
                             Plain(kDynLit.lengths, {1, 1, 1}));
         },
         kErrIncompleteCodeSet},
        {"MatchThroughAbsentDistanceCode",
         [](Writer& w) {
             w.DynamicHeader(true, 286, 1, Writer::DefaultCodeLengthCode(),
                             Plain(kDynLit.lengths, {0}));
             kDynLit.Put(w.bits, 257);
             w.bits.Put(0, 8);
         },
         kErrIncompleteCodeSet},
        {"UnusedHalfOfOneBitDistanceCode",
         [](Writer& w) {
             w.DynamicHeader(true, 286, 1, Writer::DefaultCodeLengthCode(),
                             Plain(kDynLit.lengths, {1}));
             kDynLit.Put(w.bits, 257);
             w.bits.PutCode(1, 1); // the lone code is 0
             w.bits.Put(0, 8);
         },
         kErrIncompleteCodeSet},
        {"UnusedHalfOfOneBitLitLenCode",
         [](Writer& w) {
             w.DynamicHeader(true, 257, 1, Writer::DefaultCodeLengthCode(),
                             Plain(Lengths(257, {{256, 1}}), {0}));
             w.bits.PutCode(1, 1);
             w.bits.Put(0, 8);
         },
         kErrIncompleteCodeSet},
        {"AbsentLitLenCode",
         [](Writer& w) {
             w.DynamicHeader(true, 257, 1, Writer::DefaultCodeLengthCode(),
                             Plain(std::vector<uint8_t>(257, 0), {0}));
             w.bits.Put(0, 16);
         },
         kErrIncompleteCodeSet},
        {"DynamicDistance30",
         [](Writer& w) {
             const Code dist = CompleteCode(32, Range32());
             w.DynamicHeader(true, kDynLit, dist);
             kDynLit.Put(w.bits, 257);
             dist.Put(w.bits, 30);
             w.bits.Put(0, 16);
         },
         kErrIncompleteCodeSet},
        {"DynamicLitLen287",
         [](Writer& w) {
             const Code lit = CompleteCode(288, AllLiterals({286, 287}));
             w.DynamicHeader(true, lit, CompleteCode(1, {0}));
             lit.Put(w.bits, 287);
             w.bits.Put(0, 16);
         },
         kErrIncompleteCodeSet},
    };
    return cases;
}

std::vector<uint8_t> AfterOk(const std::function<void(Writer&)>& write) {
    Writer w;
    w.Header(false, 1);
    w.Literal(Lit(), 'o');
    w.Literal(Lit(), 'k');
    w.End(Lit());
    write(w);
    return w.Bytes();
}

TEST(InflateFaults, EachFaultHasItsCode) {
    for (const FaultCase& c : FaultCases()) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> stream = AfterOk(c.write);
        for (const std::vector<size_t>& chunks : {std::vector<size_t>{1 << 30}, {1}}) {
            Decoded d = Inflate(stream, chunks);
            EXPECT_EQ(d.result.error, c.error);
            EXPECT_LE(d.result.consumed, stream.size());
            // The completed first block is delivered; the failing block's output is not.
            EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), "ok");
        }
    }
}

TEST(InflateFaults, StoredComplementMismatchDiscardsPendingOutput) {
    const std::vector<uint8_t> stream = AfterOk([](Writer& w) {
        const uint8_t data[] = {1, 2, 3};
        w.Stored(true, data, 0x0100);
    });
    Decoded d = Inflate(stream);
    EXPECT_EQ(d.result.error, kErrBadBlock);
    EXPECT_TRUE(d.bytes.empty());
}

TEST(InflateFaults, EmptyInputRunsOut) {
    Decoded d = Inflate({});
    EXPECT_EQ(d.result.error, kErrBadBlock);
    EXPECT_EQ(d.result.consumed, 0u);
    EXPECT_TRUE(d.bytes.empty());
}

// Every proper prefix of a valid stream runs out of input: "Bad block", with every byte counted
// as consumed and only a prefix of the output delivered.
TEST(InflateFaults, TruncationAtEveryPointRunsOut) {
    const std::vector<uint8_t> text = Sample(Content::kText, 70000, 21);
    Writer mixed;
    mixed.Header(false, 1);
    mixed.Literal(Lit(), 'x');
    mixed.Match(Lit(), Dist(), 258, 1);
    mixed.End(Lit());
    mixed.Stored(false, {text.data(), 300});
    mixed.DynamicHeader(true, kDynLit, CompleteCode(30, {0, 3}));
    mixed.Match(kDynLit, CompleteCode(30, {0, 3}), 3, 4);
    mixed.End(kDynLit);
    const std::vector<std::vector<uint8_t>> streams = {
        Deflate({text.data(), 3000}, {6}), Deflate({text.data(), 3000}, {6, Z_FIXED}),
        Deflate({text.data(), 3000}, {0}), mixed.Bytes(),
        Deflate(text, {9, Z_DEFAULT_STRATEGY, 20000})};
    for (size_t s = 0; s < streams.size(); ++s) {
        const std::vector<uint8_t>& stream = streams[s];
        const std::vector<uint8_t> full = Inflate(stream).bytes;
        const size_t step = stream.size() > 4000 ? stream.size() / 997 : 1;
        for (size_t n = 0; n < stream.size(); n += step) {
            SCOPED_TRACE(testing::Message() << "stream " << s << " cut at " << n);
            for (const std::vector<size_t>& chunks : {std::vector<size_t>{1 << 30}, {7}}) {
                Decoded d = Inflate({stream.data(), n}, chunks);
                ASSERT_EQ(d.result.error, kErrBadBlock);
                ASSERT_EQ(d.result.consumed, n);
                ASSERT_LE(d.bytes.size(), full.size());
                ASSERT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), full.begin()));
            }
        }
    }
}

// A short write ends decoding with the code of the block being decoded, and nothing more is
// written after it.
TEST(InflateFaults, ShortWriteReportsTheBlockKind) {
    const std::vector<uint8_t> data = Sample(Content::kText, 100000, 31);
    Writer stored;
    stored.Stored(true, {data.data(), 65535});
    Writer fixed;
    fixed.Header(true, 1);
    fixed.Literal(Lit(), 'y');
    for (int i = 0; i < 200; ++i)
        fixed.Match(Lit(), Dist(), 258, 1);
    fixed.End(Lit());
    struct Case {
        const char* name;
        std::vector<uint8_t> stream;
        size_t limit;
        int error;
    } cases[] = {
        {"Stored", stored.Bytes(), 1000, kErrWritingFile},
        {"Fixed", fixed.Bytes(), 1000, kErrBadBlock},
        {"Dynamic", Deflate(data, {6}), 1000, kErrIncompleteCodeSet},
        {"FinalPiece", Deflate({data.data(), 40000}, {6}), 32768 + 100, kErrWritingFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChunkedInput in(c.stream);
        struct Counting : RecordingOutput {
            using RecordingOutput::RecordingOutput;
            int failed = 0, afterFailure = 0;
            bool Write(const uint8_t* p, size_t n) override {
                afterFailure += failed;
                bool ok = RecordingOutput::Write(p, n);
                failed += !ok;
                return ok;
            }
        } out(c.limit);
        Inflater inflater;
        EXPECT_EQ(inflater.Inflate(in, out).error, c.error);
        EXPECT_EQ(out.failed, 1);
        EXPECT_EQ(out.afterFailure, 0);
    }
}

// Damaged real streams never crash; where zlib decodes one fully, the output is the same, and
// where zlib rejects one, so do we, except for what ZIP decoders accept beyond RFC 1951's
// limits: 31 or 32 distance codes and 287 or 288 literal/length codes declared, distances
// before the entry's first byte (zeros), a leading repeat of length 0, and a code-length code
// that is a lone 1-bit code.
TEST(InflateFaults, BitFlipsAgreeWithZlib) {
    const std::vector<uint8_t> text = Sample(Content::kText, 20000, 41);
    const std::vector<uint8_t> binary = Sample(Content::kBinary, 20000, 42);
    const std::vector<std::vector<uint8_t>> streams = {
        Deflate(text, {6}), Deflate(binary, {9}), Deflate(text, {6, Z_FIXED}),
        Deflate(binary, {1, Z_RLE}), Deflate(text, {0, Z_DEFAULT_STRATEGY, 5000})};
    std::mt19937 rng(43);
    int agreedOk = 0, agreedError = 0, exceptions = 0;
    for (const std::vector<uint8_t>& stream : streams) {
        for (int trial = 0; trial < 400; ++trial) {
            std::vector<uint8_t> damaged = stream;
            const int flips = 1 + int(rng() % 3);
            // Mostly early bits, where the headers and tables are.
            for (int f = 0; f < flips; ++f) {
                size_t at = rng() % 2 ? rng() % std::min<size_t>(damaged.size(), 64)
                                      : rng() % damaged.size();
                damaged[at] ^= uint8_t(1u << (rng() % 8));
            }
            std::vector<uint8_t> reference;
            std::string message;
            const bool zlibOk = ZlibInflate(damaged, reference, &message);
            Decoded d = Inflate(damaged, {rng() % 2 ? size_t(1) << 30 : size_t(1 + rng() % 100)});
            if (zlibOk) {
                ASSERT_EQ(d.result.error, 0) << "trial " << trial;
                ASSERT_TRUE(d.bytes == reference) << "trial " << trial;
                ++agreedOk;
            } else if (message == "too many length or distance symbols" ||
                       message == "invalid distance too far back" ||
                       message == "invalid code lengths set" ||
                       message == "invalid bit length repeat") {
                ++exceptions;
            } else if (reference.size() < (size_t(64) << 20)) {
                ASSERT_NE(d.result.error, 0) << "trial " << trial << ": zlib said " << message;
                ++agreedError;
            }
        }
    }
    EXPECT_GT(agreedOk, 0);
    EXPECT_GT(agreedError, 300);
    std::cout << agreedOk << " decoded alike, " << agreedError << " rejected alike, " << exceptions
              << " beyond RFC 1951's limits\n";
}

} // namespace
} // namespace dvl::unzip
