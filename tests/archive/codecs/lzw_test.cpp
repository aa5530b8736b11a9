// LZW and .Z: streams made by `compress` at every width, the peer fixtures against gzip, streams
// of a small encoder here (checked by gzip) for what `compress` does not make, faulty streams,
// damaged copies, output pieces, and the core under the settings of the archive formats.
#include "archive/codecs/lzw.h"

#include "tests/archive/unzip/codec_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <unordered_map>

namespace dvl::codecs {
namespace {

namespace fs = std::filesystem;
using dvl::test::Quote;
using dvl::test::TempDir;
using dvl::unzip::test::ChunkedInput;
using dvl::unzip::test::Content;
using dvl::unzip::test::RecordingOutput;
using dvl::unzip::test::Sample;

using Decoded = dvl::unzip::test::StreamDecoded;
using dvl::unzip::test::DecodeInChunks;
using dvl::unzip::test::kOddChunks;
using dvl::unzip::test::kWholeStream;

Decoded Uncompress(std::span<const uint8_t> stream,
                   const std::vector<size_t>& chunks = kWholeStream) {
    return DecodeInChunks(stream, chunks,
                          [](ByteSource& in, ByteSink& out) { return DecodeCompress(in, out); });
}

Decoded Lzw(std::span<const uint8_t> stream, const LzwVariant& v,
            const std::vector<size_t>& chunks = kWholeStream) {
    return DecodeInChunks(stream, chunks,
                          [&v](ByteSource& in, ByteSink& out) { return DecodeLzw(in, out, v); });
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Text, then noise (which makes `compress` clear its dictionary), then binary records.
std::vector<uint8_t> Mixed(size_t each) {
    return Concat({Sample(Content::kText, each, 11), Sample(Content::kRandom, each, 12),
                   Sample(Content::kBinary, each, 13)});
}

std::vector<uint8_t> PeerCompress(const std::vector<uint8_t>& data, int bits) {
    TempDir dir;
    dvl::test::WriteFile(dir / "in", data);
    const int rc =
        dvl::test::Run("compress -f -c -b" + std::to_string(bits) + " in > in.Z", dir.Path());
    EXPECT_EQ(rc, 0);
    return dvl::test::ReadFile(dir / "in.Z");
}

// A plain LZW encoder for the decoder's settings: the codes for `data`, with a clear code after
// every `clearEvery` codes (0: never).
std::vector<unsigned> LzwCodes(std::span<const uint8_t> data, const LzwVariant& v,
                               size_t clearEvery = 0) {
    const unsigned limit = v.codeLimit ? unsigned(v.codeLimit) : 1u << v.maxBits;
    std::unordered_map<uint32_t, unsigned> dictionary; // prefix << 8 | byte -> code
    unsigned nextFree = unsigned(v.firstFree);
    std::vector<unsigned> codes;
    if (data.empty()) return codes;
    unsigned current = data[0];
    size_t sinceClear = 0;
    for (size_t i = 1; i < data.size(); ++i) {
        const auto found = dictionary.find(current << 8 | data[i]);
        if (found != dictionary.end()) {
            current = found->second;
            continue;
        }
        codes.push_back(current);
        if (nextFree < limit) dictionary[current << 8 | data[i]] = nextFree++;
        current = data[i];
        if (clearEvery && ++sinceClear == clearEvery) {
            codes.push_back(unsigned(v.clearCode));
            dictionary.clear();
            nextFree = unsigned(v.firstFree);
            sinceClear = 0;
        }
    }
    codes.push_back(current);
    return codes;
}

// Packs codes least significant bit first at the widths the decoder reads them, with the
// padding of a group of eight where the settings have groups. Codes are taken as given, so a
// list may hold faults.
std::vector<uint8_t> PackCodes(const std::vector<unsigned>& codes, const LzwVariant& v) {
    const unsigned limit = v.codeLimit ? unsigned(v.codeLimit) : 1u << v.maxBits;
    std::vector<uint8_t> out;
    size_t bitCount = 0;
    const auto put = [&](unsigned value, unsigned width) {
        for (unsigned i = 0; i < width; ++i, ++bitCount) {
            if (bitCount % 8 == 0) out.push_back(0);
            out.back() |= uint8_t((value >> i & 1) << (bitCount % 8));
        }
    };
    unsigned width = unsigned(v.initialBits), nextFree = unsigned(v.firstFree), inGroup = 0;
    bool previous = false;
    const auto endGroup = [&]() {
        if (v.groups)
            for (; inGroup % 8; ++inGroup)
                put(0, width);
        inGroup = 0;
    };
    for (unsigned code : codes) {
        if (nextFree >= (1u << width) && width < unsigned(v.maxBits)) {
            endGroup();
            ++width;
        }
        put(code, width);
        ++inGroup;
        if (v.clearCode >= 0 && code == unsigned(v.clearCode)) {
            endGroup();
            width = unsigned(v.initialBits);
            nextFree = unsigned(v.firstFree);
            previous = false;
            continue;
        }
        if (previous && nextFree < limit) ++nextFree;
        previous = true;
    }
    return out;
}

// .Z settings as compress reads them (a 9-bit stream widens to 10 bits once full).
LzwVariant ZVariant(int maxBits, bool blockMode) {
    LzwVariant v;
    v.maxBits = maxBits == 9 ? 10 : maxBits;
    v.codeLimit = 1 << maxBits;
    v.clearCode = blockMode ? 256 : -1;
    v.firstFree = blockMode ? 257 : 256;
    v.groups = true;
    return v;
}

std::vector<uint8_t> ZStream(int maxBits, bool blockMode, const std::vector<unsigned>& codes) {
    std::vector<uint8_t> s = {0x1F, 0x9D, uint8_t(maxBits | (blockMode ? 0x80 : 0))};
    const std::vector<uint8_t> body = PackCodes(codes, ZVariant(maxBits, blockMode));
    s.insert(s.end(), body.begin(), body.end());
    return s;
}

// --- What compress makes ---

struct PeerCase {
    const char* name;
    int bits;
    std::vector<uint8_t> data;
};

TEST(CompressPeer, DecodesWhatCompressMakesAtEveryWidth) {
    DVL_REQUIRE_TOOL("compress");
    const std::vector<uint8_t> text = Sample(Content::kText, 1500000, 1);
    const std::vector<uint8_t> noise = Sample(Content::kRandom, 300000, 2);
    const std::vector<uint8_t> mixed = Mixed(400000);
    std::vector<PeerCase> cases = {
        // compress's own 9-bit streams go wrong once the dictionary is full (neither it nor gzip
        // reads them back), so at 9 bits only a stream too short to fill it.
        {"text, 9 bits", 9, Sample(Content::kText, 300, 3)},
        {"empty", 16, {}},
        {"one byte", 16, {'x'}},
        {"one run", 16, std::vector<uint8_t>(100000, 'a')},
    };
    for (int bits = 10; bits <= 16; ++bits) {
        cases.push_back({"text", bits, text});
        cases.push_back({"noise", bits, noise});
        cases.push_back({"mixed: clears", bits, mixed});
    }
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << ", -b" << c.bits);
        const std::vector<uint8_t> stream = PeerCompress(c.data, c.bits);
        const Decoded d = Uncompress(stream);
        EXPECT_EQ(d.status, DecodeStatus::Ok);
        EXPECT_TRUE(d.bytes == c.data);
    }
    // Chunks of any size carry the bits and the group padding across.
    for (int bits : {10, 13, 16}) {
        SCOPED_TRACE(testing::Message() << "chunked, -b" << bits);
        const Decoded d = Uncompress(PeerCompress(mixed, bits), kOddChunks);
        EXPECT_EQ(d.status, DecodeStatus::Ok);
        EXPECT_TRUE(d.bytes == mixed);
    }
}

// Every way the last code and its padding can fall: never Truncated, never a stray byte.
TEST(CompressPeer, EveryEndingDecodesWhole) {
    DVL_REQUIRE_TOOL("compress");
    const std::vector<uint8_t> text = Sample(Content::kText, 6000, 4);
    for (size_t size = 0; size < text.size(); size += size < 40 ? 1 : 71) {
        for (int bits : {12, 16}) {
            SCOPED_TRACE(testing::Message() << size << " bytes, -b" << bits);
            const std::vector<uint8_t> data(text.begin(), text.begin() + ptrdiff_t(size));
            const Decoded d = Uncompress(PeerCompress(data, bits));
            ASSERT_EQ(d.status, DecodeStatus::Ok);
            ASSERT_TRUE(d.bytes == data);
        }
    }
}

TEST(CompressPeer, FixturesMatchGzip) {
    DVL_REQUIRE_TOOL("gzip");
    const fs::path root = dvl::test::PeerFixtures();
    if (root.empty() || !fs::is_directory(root / "compress")) GTEST_SKIP() << "no peer fixtures";
    for (const auto& entry : fs::directory_iterator(root / "compress")) {
        SCOPED_TRACE(entry.path().filename().string());
        const std::vector<uint8_t> stream = dvl::test::ReadFile(entry.path());
        const std::vector<uint8_t> expected = dvl::test::GzipDecode(stream);
        ASSERT_FALSE(expected.empty());
        for (const auto& chunks : {kWholeStream, kOddChunks}) {
            const Decoded d = Uncompress(stream, chunks);
            EXPECT_EQ(d.status, DecodeStatus::Ok);
            EXPECT_TRUE(d.bytes == expected);
        }
    }
}

// --- Streams compress does not make, checked by gzip ---

struct OwnCase {
    const char* name;
    int bits;
    bool blockMode;
    size_t clearEvery;
};

TEST(CompressOwn, StreamsCompressDoesNotMakeDecodeAsGzipReadsThem) {
    DVL_REQUIRE_TOOL("gzip");
    const std::vector<uint8_t> data = Mixed(25000);
    const OwnCase cases[] = {
        {"9 bits, full dictionary: 10-bit codes", 9, true, 0},
        {"9 bits, no block mode", 9, false, 0},
        {"16 bits, no block mode: 256 is a string", 16, false, 0},
        {"clears at odd points", 12, true, 1001},
        {"a clear as the last code before widening", 10, true, 255},
        {"a clear as the first wider code", 10, true, 256},
        {"clear after every code", 16, true, 1},
    };
    for (const OwnCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> stream = ZStream(
            c.bits, c.blockMode, LzwCodes(data, ZVariant(c.bits, c.blockMode), c.clearEvery));
        ASSERT_TRUE(dvl::test::GzipDecode(stream) == data) << "the test's encoder is wrong";
        const Decoded d = Uncompress(stream, kOddChunks);
        EXPECT_EQ(d.status, DecodeStatus::Ok);
        EXPECT_TRUE(d.bytes == data);
    }
}

// --- Faults ---

std::vector<uint8_t> Codes(std::initializer_list<unsigned> codes, bool blockMode = true) {
    return ZStream(16, blockMode, codes);
}
std::vector<uint8_t> With(std::vector<uint8_t> stream, std::initializer_list<uint8_t> more) {
    stream.insert(stream.end(), more);
    return stream;
}

struct FaultCase {
    const char* name;
    std::vector<uint8_t> stream;
    DecodeStatus status;
    std::string output;
};

TEST(CompressFaults, EachFaultHasItsStatusAndKeepsWhatCameBefore) {
    const std::vector<uint8_t> eightCodes = Codes({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'});
    const FaultCase cases[] = {
        {"empty", {}, DecodeStatus::Truncated, ""},
        {"magic only", {0x1F, 0x9D}, DecodeStatus::Truncated, ""},
        {"gzip magic", {0x1F, 0x8B, 0x90}, DecodeStatus::Corrupt, ""},
        {"pack magic", {0x1F, 0x1E, 0x90}, DecodeStatus::Corrupt, ""},
        {"8 bits", {0x1F, 0x9D, 0x88}, DecodeStatus::Corrupt, ""},
        {"17 bits", {0x1F, 0x9D, 0x91}, DecodeStatus::Corrupt, ""},
        {"31 bits", {0x1F, 0x9D, 0x9F}, DecodeStatus::Corrupt, ""},
        {"unused flag 0x20", {0x1F, 0x9D, 0xB0}, DecodeStatus::Corrupt, ""},
        {"unused flag 0x40", {0x1F, 0x9D, 0xD0}, DecodeStatus::Corrupt, ""},
        {"header only", {0x1F, 0x9D, 0x90}, DecodeStatus::Ok, ""},
        {"a string first", Codes({257}), DecodeStatus::Corrupt, ""},
        {"the entry being made (KwKwK)", Codes({'a', 257, 258}), DecodeStatus::Ok, "aaaaaa"},
        {"beyond the entry being made", Codes({'a', 'b', 259}), DecodeStatus::Corrupt, "ab"},
        {"a string first after a clear", Codes({'a', 'b', 256, 257}), DecodeStatus::Corrupt, "ab"},
        {"a clear right after a clear", Codes({'a', 256, 256, 'b'}), DecodeStatus::Ok, "ab"},
        {"no block mode: 256 first", Codes({256}, false), DecodeStatus::Corrupt, ""},
        {"no block mode: 256 is a string", Codes({'a', 'b', 256}, false), DecodeStatus::Ok, "abab"},
        // Nine whole bytes hold eight 9-bit codes; a further byte is a code cut short.
        {"a byte after a whole group", With(eightCodes, {0x41}), DecodeStatus::Truncated,
         "abcdefgh"},
        {"seven padding bits", Codes({'a'}), DecodeStatus::Ok, "a"},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& chunks : {kWholeStream, std::vector<size_t>{1}}) {
            const Decoded d = Uncompress(c.stream, chunks);
            EXPECT_EQ(d.status, c.status);
            EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), c.output);
        }
    }
}

TEST(CompressFaults, DamagedCopiesNeverCrash) {
    DVL_REQUIRE_TOOL("compress");
    const std::vector<uint8_t> data = Mixed(15000);
    const std::vector<uint8_t> stream = PeerCompress(data, 12);
    ASSERT_TRUE(Uncompress(stream).bytes == data);
    // A cut copy decodes to a beginning of the data.
    for (size_t size = 0; size < stream.size(); size += size < 300 ? 1 : 11) {
        const Decoded d = Uncompress(std::span(stream).first(size));
        ASSERT_NE(d.status, DecodeStatus::Corrupt) << size;
        ASSERT_LE(d.bytes.size(), data.size()) << size;
        ASSERT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), data.begin())) << size;
    }
    // A flipped bit anywhere: any verdict, output within what the codes can hold.
    for (size_t bit = 0; bit < stream.size() * 8; bit += 41) {
        std::vector<uint8_t> copy = stream;
        copy[bit / 8] ^= uint8_t(1 << bit % 8);
        const Decoded d = Uncompress(copy);
        ASSERT_LE(d.bytes.size(), (copy.size() * 8 / 9) << 16) << bit;
    }
}

// --- Output ---

TEST(CompressOutput, PiecesOf64To128KiBAndShortWrites) {
    const std::vector<uint8_t> data = Sample(Content::kText, 1000000, 5);
    const std::vector<uint8_t> stream = ZStream(16, true, LzwCodes(data, ZVariant(16, true)));
    {
        ChunkedInput in(stream);
        RecordingOutput out;
        ASSERT_EQ(DecodeCompress(in, out), DecodeStatus::Ok);
        ASSERT_TRUE(out.bytes == data);
        for (size_t i = 0; i < out.writes.size(); ++i) {
            EXPECT_LE(out.writes[i], size_t(128) << 10);
            EXPECT_GE(out.writes[i], i + 1 < out.writes.size() ? size_t(64) << 10 : 1);
        }
    }
    ChunkedInput in(stream);
    RecordingOutput out(300000);
    EXPECT_EQ(DecodeCompress(in, out), DecodeStatus::WriteFailed);
}

// --- The core under other formats' settings ---

LzwVariant ZooLike() {
    LzwVariant v;
    v.maxBits = 13;
    v.clearCode = 256;
    v.endCode = 257;
    v.firstFree = 258;
    return v;
}

TEST(LzwVariants, EndCodeStopsTheStream) {
    const LzwVariant v = ZooLike();
    const std::vector<uint8_t> data = Mixed(30000);
    std::vector<unsigned> codes = LzwCodes(data, v, 3000);
    codes.push_back(257);
    std::vector<uint8_t> stream = PackCodes(codes, v);
    stream.insert(stream.end(), 100, 0xFF); // not read
    const Decoded d = Lzw(stream, v, kOddChunks);
    EXPECT_EQ(d.status, DecodeStatus::Ok);
    EXPECT_TRUE(d.bytes == data);
}

TEST(LzwVariants, ReservedCodesAndBadSettingsAreRejected) {
    LzwVariant gap = ZooLike();
    gap.firstFree = 260; // 258 and 259 are neither clear nor end
    EXPECT_EQ(Lzw(PackCodes({'a', 258}, gap), gap).status, DecodeStatus::Corrupt);

    const auto with = [](auto change) {
        LzwVariant v = ZooLike();
        change(v);
        return v;
    };
    const LzwVariant bad[] = {
        with([](LzwVariant& v) { v.initialBits = 8; }),
        with([](LzwVariant& v) { v.maxBits = 17; }),
        with([](LzwVariant& v) { v.maxBits = 8; }),
        with([](LzwVariant& v) { v.firstFree = 255; }),
        with([](LzwVariant& v) { v.firstFree = 512; }),
        with([](LzwVariant& v) { v.clearCode = 258; }),
        with([](LzwVariant& v) { v.endCode = 256; }),
        with([](LzwVariant& v) { v.codeLimit = 258; }),
        with([](LzwVariant& v) { v.codeLimit = 8193; }),
    };
    for (const LzwVariant& v : bad)
        EXPECT_EQ(Lzw(PackCodes({'a'}, v), v).status, DecodeStatus::Corrupt);
}

// ARC's 0x90 run-length stage: 0x90 n repeats the previous byte to n copies in all; 0x90 0 is
// 0x90 itself.
std::vector<uint8_t> ExpandRuns(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != 0x90 || i + 1 == in.size()) {
            out.push_back(in[i]);
        } else if (const uint8_t n = in[++i]; n == 0) {
            out.push_back(0x90);
        } else if (!out.empty()) {
            out.insert(out.end(), n - 1, out.back());
        }
    }
    return out;
}

// The members of real ARC archives decode through the core with ARC's settings.
TEST(LzwVariants, ArcMembersMatchNomarch) {
    DVL_REQUIRE_TOOL("nomarch");
    const fs::path root = dvl::test::PeerFixtures();
    if (root.empty() || !fs::is_directory(root / "arc")) GTEST_SKIP() << "no peer fixtures";
    int decoded = 0;
    for (const char* archive : {"Arc.crunched.arc", "Arc.squashed.arc"}) {
        const std::vector<uint8_t> arc = dvl::test::ReadFile(root / "arc" / archive);
        // Headers: 1A, method, name (13), packed size (LE32), date, time, CRC, original size.
        for (size_t at = 0; at + 29 <= arc.size() && arc[at] == 0x1A && arc[at + 1] != 0;) {
            const uint8_t method = arc[at + 1];
            const std::string name(reinterpret_cast<const char*>(&arc[at + 2]));
            const size_t packed =
                arc[at + 15] | arc[at + 16] << 8 | arc[at + 17] << 16 | size_t(arc[at + 18]) << 24;
            const size_t data = at + 29;
            ASSERT_LE(data + packed, arc.size());
            at = data + packed;
            if (method != 8 && method != 9) continue;
            SCOPED_TRACE(std::string(archive) + ": " + name);
            std::string lower = name;
            for (char& ch : lower)
                ch = char(std::tolower(uint8_t(ch)));
            const std::string expected = dvl::test::RunAndCapture(
                "nomarch -p " + Quote(root / "arc" / archive) + " " + Quote(lower));
            LzwVariant v;
            v.clearCode = 256;
            v.firstFree = 257;
            v.groups = true;
            std::span<const uint8_t> body(arc.data() + data, packed);
            if (method == 8) { // crunched: the maximum width, then codes, then runs
                v.maxBits = body[0];
                body = body.subspan(1);
            } else { // squashed
                v.maxBits = 13;
            }
            Decoded d = Lzw(body, v, kOddChunks);
            EXPECT_EQ(d.status, DecodeStatus::Ok);
            if (method == 8) d.bytes = ExpandRuns(d.bytes);
            EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), expected);
            ++decoded;
        }
    }
    EXPECT_EQ(decoded, 3);
}

} // namespace
} // namespace dvl::codecs
