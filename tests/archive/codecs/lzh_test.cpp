// The LZH-family decoders against streams from real tools, made at test time: jlha (-lh5-, -lh6-,
// -lh7-), arj (methods 1 to 4) and, where a JDK is there, the jLHA library that jlha runs on
// (-lh1-, -lh4-, -lzs-, -lz5-, which the jlha command does not offer). Each member's raw stream is
// cut out of its archive by a minimal header walk and decoded, whole and in odd chunks, against
// the input file. The peer fixtures add streams of the original DOS and Windows
// archivers, checked against their headers' CRCs. Hand-built streams cover what tools
// rarely write: single-symbol tables, a block count of 0, broken tables and distances.
#include "archive/codecs/lzh.h"

#include "archive/codecs/crc16.h"
#include "archive/codecs/crc32.h"
#include "tests/archive/unzip/codec_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace dvl::codecs {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using dvl::unzip::test::DecodeInChunks;
using dvl::unzip::test::kOddChunks;
using dvl::unzip::test::kWholeStream;
using Decoded = dvl::unzip::test::StreamDecoded;

enum class Method { kLh1, kLh4, kLh5, kLh6, kLh7, kLzs, kLz5, kArj1, kArj4 };

DecodeStatus Decode(Method m, ByteSource& in, ByteSink& out, uint64_t size) {
    switch (m) {
    case Method::kLh1:
        return DecodeLzhDynamic(in, out, size);
    case Method::kLh4:
        return DecodeLzhStatic(in, out, size, LhaStaticVariant(4));
    case Method::kLh5:
        return DecodeLzhStatic(in, out, size, LhaStaticVariant(5));
    case Method::kLh6:
        return DecodeLzhStatic(in, out, size, LhaStaticVariant(6));
    case Method::kLh7:
        return DecodeLzhStatic(in, out, size, LhaStaticVariant(7));
    case Method::kLzs:
        return DecodeLzs(in, out, size);
    case Method::kLz5:
        return DecodeLz5(in, out, size);
    case Method::kArj1:
        return DecodeLzhStatic(in, out, size, ArjStaticVariant());
    case Method::kArj4:
        return DecodeArjFastest(in, out, size);
    }
    return DecodeStatus::Corrupt;
}

Decoded DecodeWith(Method m, const Bytes& stream, uint64_t size,
                   const std::vector<size_t>& chunks = kWholeStream) {
    return DecodeInChunks(stream, chunks,
                          [&](ByteSource& in, ByteSink& out) { return Decode(m, in, out, size); });
}

// ---------------------------------------------------------------------------------------------
// Test data

Bytes Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& x : b)
        x = uint8_t(rng());
    return b;
}

// Text, binary records, noise, long runs, and repeats of random blocks from just inside the
// given window sizes (so the encoders must take distances near each window's size), with long
// matches (a repeated block of 300 bytes and runs of one byte).
Bytes MixedData(size_t textBytes, std::vector<size_t> windows, uint32_t seed = 7) {
    using dvl::unzip::test::Content;
    using dvl::unzip::test::Sample;
    Bytes out = Sample(Content::kText, textBytes, seed);
    const Bytes bin = Sample(Content::kBinary, textBytes / 2, seed + 1);
    out.insert(out.end(), bin.begin(), bin.end());
    out.insert(out.end(), 3000, 'r');
    uint32_t s = seed * 16;
    for (size_t w : windows) {
        const Bytes block = Random(300, ++s);
        out.insert(out.end(), block.begin(), block.end());
        const Bytes filler = Random(w - 300 - 40, ++s); // noise: no matches but the block's
        out.insert(out.end(), filler.begin(), filler.end());
        out.insert(out.end(), block.begin(), block.end()); // 300 bytes from w - 40 back
        const Bytes tail = Sample(Content::kText, 2000, ++s);
        out.insert(out.end(), tail.begin(), tail.end());
    }
    const Bytes noise = Random(5000, ++s);
    out.insert(out.end(), noise.begin(), noise.end());
    const Bytes text = Sample(Content::kText, textBytes / 4, seed + 2);
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

// ---------------------------------------------------------------------------------------------
// Cutting members out of archives

uint32_t Le16(const Bytes& b, size_t at) {
    return at + 2 <= b.size() ? uint32_t(b[at] | b[at + 1] << 8) : 0;
}
uint32_t Le32(const Bytes& b, size_t at) {
    return at + 4 <= b.size() ? Le16(b, at) | Le16(b, at + 2) << 16 : 0;
}

struct Member {
    std::string method; // "-lh5-", or "arj1" .. "arj4"
    uint64_t size = 0;  // original size
    uint32_t crc = 0;   // CRC-16 (LHA) or CRC-32 (ARJ) of the original
    Bytes stream;
};

// The LHA member whose header starts at `at` (levels 0, 1 and 2); its end in `next`.
std::optional<Member> LhaMemberAt(const Bytes& a, size_t at, size_t* next = nullptr) {
    if (at + 22 > a.size() || a[at] == 0) return std::nullopt;
    Member m;
    m.method.assign(a.begin() + long(at) + 2, a.begin() + long(at) + 7);
    uint64_t packed = Le32(a, at + 7);
    m.size = Le32(a, at + 11);
    const unsigned level = a[at + 20];
    size_t data;
    if (level == 2) {
        data = at + Le16(a, at);
        m.crc = Le16(a, at + 21);
    } else {
        data = at + 2 + a[at];
        const size_t nameEnd = at + 22 + a[at + 21];
        m.crc = Le16(a, nameEnd);
        if (level == 1) { // extended headers count in the packed size
            for (uint32_t n = Le16(a, data - 2); n != 0 && data + n <= a.size();) {
                data += n;
                packed -= n;
                n = Le16(a, data - 2);
            }
        }
    }
    if (data + packed > a.size()) return std::nullopt;
    m.stream.assign(a.begin() + long(data), a.begin() + long(data + packed));
    if (next) *next = data + packed;
    return m;
}

std::vector<Member> LhaMembers(const Bytes& a, size_t at = 0) {
    std::vector<Member> members;
    for (size_t next; auto m = LhaMemberAt(a, at, &next); at = next)
        members.push_back(std::move(*m));
    return members;
}

// Every member of an ARJ archive: the main header, then local headers, each a basic header
// (0x60 0xEA, size, the header, CRC-32) and extended headers (size, data, CRC-32) up to a size 0.
std::vector<Member> ArjMembers(const Bytes& a) {
    std::vector<Member> members;
    size_t at = 0;
    for (bool main = true;; main = false) {
        if (at + 4 > a.size() || a[at] != 0x60 || a[at + 1] != 0xEA) break;
        const size_t basic = Le16(a, at + 2);
        if (basic == 0) break; // end of archive
        const size_t h = at + 4;
        size_t p = h + basic + 4;
        while (uint32_t n = Le16(a, p))
            p += 2 + n + 4;
        p += 2;
        if (main) {
            at = p;
            continue;
        }
        Member m;
        m.method = "arj" + std::to_string(a[h + 5]);
        const size_t packed = Le32(a, h + 12);
        m.size = Le32(a, h + 16);
        m.crc = Le32(a, h + 20);
        if (p + packed > a.size()) break;
        m.stream.assign(a.begin() + long(p), a.begin() + long(p + packed));
        members.push_back(std::move(m));
        at = p + packed;
    }
    return members;
}

std::optional<Method> MethodOf(const std::string& name) {
    static const std::map<std::string, Method> kNames = {
        {"-lh1-", Method::kLh1}, {"-lh4-", Method::kLh4}, {"-lh5-", Method::kLh5},
        {"-lh6-", Method::kLh6}, {"-lh7-", Method::kLh7}, {"-lzs-", Method::kLzs},
        {"-lz5-", Method::kLz5}, {"arj1", Method::kArj1}, {"arj2", Method::kArj1},
        {"arj3", Method::kArj1}, {"arj4", Method::kArj4}};
    const auto it = kNames.find(name);
    if (it == kNames.end()) return std::nullopt;
    return it->second;
}

// ---------------------------------------------------------------------------------------------
// Streams from the tools

// `input` compressed by `command` (run in a scratch folder holding it as "in.bin"), the archive
// "out" then cut to its one member.
std::optional<Member> ToolMember(const Bytes& input, const std::string& command, bool arj) {
    test::TempDir dir;
    test::WriteFile(dir / "in.bin", input);
    if (test::Run(command + " >/dev/null 2>&1", dir.Path()) != 0) return std::nullopt;
    const Bytes archive = test::ReadFile(dir / (arj ? "out.arj" : "out.lzh"));
    std::vector<Member> members = arj ? ArjMembers(archive) : LhaMembers(archive);
    if (members.size() != 1) return std::nullopt;
    return std::move(members[0]);
}

// jLHA through Java's source launcher (a JDK): raw streams of each method, or nothing.
std::optional<std::map<std::string, Bytes>> JlhaStreams(const Bytes& input,
                                                        const std::vector<std::string>& methods) {
    const char* jar = "/usr/share/java/jlha.jar";
    if (!fs::exists(jar) || !test::HaveTool("java")) return std::nullopt;
    test::TempDir dir;
    test::WriteFile(dir / "in.bin", input);
    std::string command =
        "java -cp " + std::string(jar) + " " +
        test::Quote(fs::path(DVL_SOURCE_DIR) / "tests/archive/codecs/JlhaEncode.java") +
        " raw in.bin out";
    for (const std::string& m : methods)
        command += " " + m;
    if (test::Run(command + " >/dev/null 2>&1", dir.Path()) != 0) return std::nullopt;
    std::map<std::string, Bytes> streams;
    for (const std::string& m : methods)
        streams[m] = test::ReadFile(dir / ("out" + m));
    return streams;
}

void ExpectDecodes(Method m, const Bytes& stream, const Bytes& expected, const std::string& what) {
    for (const auto& chunks : {kWholeStream, kOddChunks}) {
        const Decoded d = DecodeWith(m, stream, expected.size(), chunks);
        EXPECT_EQ(d.status, DecodeStatus::Ok) << what;
        EXPECT_TRUE(d.bytes == expected)
            << what << ": " << d.bytes.size() << " bytes decoded of " << expected.size();
    }
}

const Bytes& Mixed() {
    static const Bytes data = MixedData(150000, {4096, 8192, 26624, 32768, 65536});
    return data;
}

TEST(LzhTools, JlhaStaticMethods) {
    DVL_REQUIRE_TOOL("jlha");
    for (const char* o : {"o5", "o6", "o7"}) {
        const auto m = ToolMember(Mixed(), std::string("jlha a1") + o + " out.lzh in.bin", false);
        ASSERT_TRUE(m) << "jlha " << o;
        ASSERT_TRUE(MethodOf(m->method)) << m->method;
        EXPECT_EQ(m->method, std::string("-lh") + o[1] + "-");
        ExpectDecodes(*MethodOf(m->method), m->stream, Mixed(), m->method);
    }
}

TEST(LzhTools, ArjMethods) {
    DVL_REQUIRE_TOOL("arj");
    for (int method = 1; method <= 4; ++method) {
        const auto m =
            ToolMember(Mixed(), "arj a -y -m" + std::to_string(method) + " out.arj in.bin", true);
        ASSERT_TRUE(m) << "arj -m" << method;
        EXPECT_EQ(m->method, "arj" + std::to_string(method));
        ExpectDecodes(*MethodOf(m->method), m->stream, Mixed(), m->method);
    }
}

TEST(LzhTools, JlhaLibraryMethods) {
    const auto streams = JlhaStreams(Mixed(), {"-lh1-", "-lh4-", "-lzs-", "-lz5-"});
    if (!streams) GTEST_SKIP() << "no JDK to run the jLHA library with";
    for (const auto& [name, stream] : *streams)
        ExpectDecodes(*MethodOf(name), stream, Mixed(), name);
}

// The stream of `method` for the mixed data, from whichever tool writes it.
const Bytes* ToolStream(Method method) {
    static std::map<Method, std::optional<Bytes>> cache;
    if (!cache.count(method)) {
        std::optional<Member> m;
        if (method == Method::kLh5 && test::HaveTool("jlha"))
            m = ToolMember(Mixed(), "jlha a1o5 out.lzh in.bin", false);
        if (method == Method::kLh7 && test::HaveTool("jlha"))
            m = ToolMember(Mixed(), "jlha a1o7 out.lzh in.bin", false);
        if (method == Method::kArj1 && test::HaveTool("arj"))
            m = ToolMember(Mixed(), "arj a -y -m1 out.arj in.bin", true);
        if (method == Method::kArj4 && test::HaveTool("arj"))
            m = ToolMember(Mixed(), "arj a -y -m4 out.arj in.bin", true);
        cache[method] = m ? std::optional<Bytes>(m->stream) : std::nullopt;
    }
    return cache[method] ? &*cache[method] : nullptr;
}

TEST(LzhTools, OutputSizeReachedMidBlockAndMidMatch) {
    for (Method method : {Method::kLh5, Method::kLh7, Method::kArj1, Method::kArj4}) {
        const Bytes* stream = ToolStream(method);
        if (!stream) continue;
        // 3000 + 1 lies inside the run of 'r' (one long match); the others anywhere.
        const size_t runStart = 150000 + 75000;
        for (size_t size :
             {size_t(1), size_t(1000), runStart + 1, runStart + 700, size_t(65536), size_t(65537),
              size_t(65536 + 100), size_t(2 * 65536 + 1), Mixed().size() - 1}) {
            const Bytes expected(Mixed().begin(), Mixed().begin() + long(size));
            for (const auto& chunks : {kWholeStream, kOddChunks}) {
                const Decoded d = DecodeWith(method, *stream, size, chunks);
                EXPECT_EQ(d.status, DecodeStatus::Ok) << int(method) << " size " << size;
                EXPECT_TRUE(d.bytes == expected) << int(method) << " size " << size;
            }
        }
    }
}

TEST(LzhTools, TruncatedInputIsTruncated) {
    for (Method method : {Method::kLh5, Method::kLh7, Method::kArj1, Method::kArj4}) {
        const Bytes* stream = ToolStream(method);
        if (!stream) continue;
        for (size_t cut : {size_t(0), size_t(1), size_t(2), size_t(5), size_t(40),
                           stream->size() / 2, stream->size() - 1}) {
            const Bytes part(stream->begin(), stream->begin() + long(cut));
            for (const auto& chunks : {kWholeStream, kOddChunks}) {
                const Decoded d = DecodeWith(method, part, Mixed().size(), chunks);
                EXPECT_EQ(d.status, DecodeStatus::Truncated) << int(method) << " cut " << cut;
                EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), Mixed().begin()))
                    << int(method) << " cut " << cut;
            }
        }
    }
}

// Every cut of a small stream of each method ends Truncated (never a hang, never Ok).
TEST(LzhTools, EveryCutOfASmallStream) {
    using dvl::unzip::test::Content;
    using dvl::unzip::test::Sample;
    const Bytes input = Sample(Content::kText, 3000, 3);
    std::vector<std::pair<Method, Bytes>> streams;
    if (test::HaveTool("jlha"))
        if (auto m = ToolMember(input, "jlha a1o5 out.lzh in.bin", false))
            streams.push_back({Method::kLh5, m->stream});
    if (test::HaveTool("arj"))
        for (int k : {1, 4})
            if (auto m =
                    ToolMember(input, "arj a -y -m" + std::to_string(k) + " out.arj in.bin", true))
                streams.push_back({*MethodOf(m->method), m->stream});
    if (auto j = JlhaStreams(input, {"-lh1-", "-lzs-", "-lz5-"}))
        for (const auto& [name, stream] : *j)
            streams.push_back({*MethodOf(name), stream});
    if (streams.empty()) GTEST_SKIP() << "no tool wrote a stream";
    for (const auto& [method, stream] : streams) {
        ExpectDecodes(method, stream, input, "small");
        for (size_t cut = 0; cut < stream.size(); ++cut) {
            const Bytes part(stream.begin(), stream.begin() + long(cut));
            const Decoded d = DecodeWith(method, part, input.size());
            ASSERT_EQ(d.status, DecodeStatus::Truncated) << int(method) << " cut " << cut;
            ASSERT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), input.begin()));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The peer fixtures: streams of the original programs, checked by their headers' CRCs.

void ExpectMemberDecodes(const Member& m, const std::string& what) {
    const auto method = MethodOf(m.method);
    ASSERT_TRUE(method) << what << ": " << m.method;
    for (const auto& chunks : {kWholeStream, kOddChunks}) {
        const Decoded d = DecodeWith(*method, m.stream, m.size, chunks);
        EXPECT_EQ(d.status, DecodeStatus::Ok) << what;
        ASSERT_EQ(d.bytes.size(), m.size) << what;
        if (m.method.starts_with("arj"))
            EXPECT_EQ(~CrcUpdate(0xFFFFFFFFu, d.bytes.data(), d.bytes.size()), m.crc) << what;
        else
            EXPECT_EQ(Crc16Update(0, d.bytes.data(), d.bytes.size()), m.crc) << what;
    }
}

TEST(LzhFixtures, LhaAndLarcMembers) {
    const fs::path dir = test::PeerFixtures() / "lha";
    if (test::PeerFixtures().empty()) GTEST_SKIP() << "no peer fixtures";
    int seen = 0;
    for (const char* name :
         {"lha255e_lh5.lzh", "larc333_lz5.lzs", "bla.lha", "test_read_format_lha_header0.lzh"}) {
        if (!fs::exists(dir / name)) continue;
        for (const Member& m : LhaMembers(test::ReadFile(dir / name)))
            if (m.method != "-lhd-" && m.method != "-lh0-") {
                ExpectMemberDecodes(m, name);
                ++seen;
            }
    }
    // The self-extractors: the archive follows the program.
    for (const char* name : {"lharc113_sfx.com", "lha213_sfx.exe"}) {
        if (!fs::exists(dir / name)) continue;
        const Bytes file = test::ReadFile(dir / name);
        for (const char* method : {"-lh1-", "-lh5-"}) {
            const auto it = std::search(file.begin(), file.end(), method, method + 5);
            if (it == file.end() || it - file.begin() < 2) continue;
            const auto m = LhaMemberAt(file, size_t(it - file.begin()) - 2);
            ASSERT_TRUE(m) << name;
            ExpectMemberDecodes(*m, name);
            ++seen;
        }
    }
    EXPECT_GE(seen, 4);
}

TEST(LzhFixtures, ArjMembers) {
    const fs::path dir = test::PeerFixtures() / "arj";
    if (test::PeerFixtures().empty()) GTEST_SKIP() << "no peer fixtures";
    int seen = 0;
    for (const char* name :
         {"Arj.method1.arj", "Arj.method2.arj", "Arj.method3.arj", "Arj.method4.arj"}) {
        if (!fs::exists(dir / name)) continue;
        for (const Member& m : ArjMembers(test::ReadFile(dir / name)))
            if (m.method != "arj0") {
                ExpectMemberDecodes(m, name);
                ++seen;
            }
    }
    EXPECT_GE(seen, 4);
}

// ---------------------------------------------------------------------------------------------
// Hand-built static-Huffman blocks

class BitWriter {
public:
    void Put(uint32_t value, unsigned n) {
        for (unsigned i = n; i-- > 0;) {
            if (count_ % 8 == 0) bytes_.push_back(0);
            if (value >> i & 1) bytes_.back() |= uint8_t(0x80 >> (count_ % 8));
            ++count_;
        }
    }
    Bytes Take() const { return bytes_; }

private:
    Bytes bytes_;
    size_t count_ = 0;
};

// A code-length field of the pre-tree or position table: 3 bits, or 7 and a run of 1s.
void PutLength(BitWriter& w, unsigned len) {
    if (len < 7) {
        w.Put(len, 3);
        return;
    }
    w.Put(7, 3);
    for (unsigned i = 7; i < len; ++i)
        w.Put(1, 1);
    w.Put(0, 1);
}

// Canonical codes of the lengths.
std::vector<uint32_t> Codes(const std::vector<uint8_t>& lengths) {
    uint32_t count[18] = {}, next[18] = {};
    for (uint8_t l : lengths)
        ++count[l];
    count[0] = 0;
    for (unsigned len = 1; len <= 16; ++len)
        next[len + 1] = (next[len] + count[len]) << 1;
    std::vector<uint32_t> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    return codes;
}

struct Code {
    std::vector<uint8_t> lengths;
    std::vector<uint32_t> codes;
    explicit Code(std::vector<uint8_t> l) : lengths(std::move(l)), codes(Codes(lengths)) {}
    void Put(BitWriter& w, unsigned s) const { w.Put(codes.at(s), lengths.at(s)); }
};

// A block whose three tables are single symbols: the pre-tree (count 0), the literal/length
// table (count 0, `symbol`), the position table (count 0, `position`).
void SingleSymbolBlock(BitWriter& w, uint32_t count, unsigned symbol, unsigned position,
                       unsigned positionBits = 4) {
    w.Put(count, 16);
    w.Put(0, 5);
    w.Put(0, 5);
    w.Put(0, 9);
    w.Put(symbol, 9);
    w.Put(0, positionBits);
    w.Put(position, positionBits);
}

// A block with real tables: the literal/length lengths sent through a pre-tree of 4-bit codes
// (19 symbols: 0..12 in 4 bits, 13..18 in 5), the position lengths as given.
void TableBlock(BitWriter& w, uint32_t count, const Code& lit, const Code& pos,
                unsigned positionBits = 4) {
    w.Put(count, 16);
    std::vector<uint8_t> preLengths(19, 4);
    std::fill(preLengths.begin() + 13, preLengths.end(), 5);
    const Code pre(preLengths);
    w.Put(19, 5);
    for (unsigned i = 0; i < 19; ++i) {
        PutLength(w, pre.lengths[i]);
        if (i == 2) w.Put(0, 2);
    }
    unsigned n = unsigned(lit.lengths.size());
    while (n > 0 && lit.lengths[n - 1] == 0)
        --n;
    w.Put(n, 9);
    for (unsigned i = 0; i < n; ++i) {
        if (lit.lengths[i] == 0) {
            pre.Put(w, 0);
        } else {
            pre.Put(w, lit.lengths[i] + 2u);
        }
    }
    unsigned np = unsigned(pos.lengths.size());
    while (np > 0 && pos.lengths[np - 1] == 0)
        --np;
    w.Put(np, positionBits);
    for (unsigned i = 0; i < np; ++i)
        PutLength(w, pos.lengths[i]);
}

// Lengths giving `used` symbols of an alphabet a complete code (k and k + 1 bits).
std::vector<uint8_t> Complete(size_t alphabet, std::vector<unsigned> used) {
    std::sort(used.begin(), used.end());
    std::vector<uint8_t> l(alphabet, 0);
    const size_t n = used.size();
    if (n == 1) {
        l[used[0]] = 1; // incomplete: for tests of the check
        return l;
    }
    unsigned k = 0;
    while ((size_t(2) << k) <= n)
        ++k;
    const size_t shorter = (size_t(2) << k) - n;
    for (size_t i = 0; i < n; ++i)
        l[used[i]] = uint8_t(i < shorter ? k : k + 1);
    return l;
}

Decoded Lh5(const Bytes& stream, uint64_t size, const std::vector<size_t>& chunks = kWholeStream) {
    return DecodeWith(Method::kLh5, stream, size, chunks);
}

TEST(LzhStaticBlocks, SingleSymbolTables) {
    BitWriter w;
    SingleSymbolBlock(w, 5, 'x', 0);
    // Then matches only: length 256 (symbol 509) at distance 1 (position code 0).
    SingleSymbolBlock(w, 3, 509, 0);
    const Bytes stream = w.Take();
    Bytes expected(5 + 3 * 256, 'x');
    for (const auto& chunks : {kWholeStream, kOddChunks}) {
        const Decoded d = Lh5(stream, expected.size(), chunks);
        EXPECT_EQ(d.status, DecodeStatus::Ok);
        EXPECT_TRUE(d.bytes == expected);
    }
    // Reading no further: a size that ends inside the second block needs none of the rest.
    const Decoded d = Lh5(stream, 300);
    EXPECT_EQ(d.status, DecodeStatus::Ok);
    EXPECT_EQ(d.bytes, Bytes(300, 'x'));
}

TEST(LzhStaticBlocks, BlockCountZeroIsSixtyFiveThousandFiveHundredAndThirtySix) {
    BitWriter w;
    SingleSymbolBlock(w, 0, 'a', 0);
    SingleSymbolBlock(w, 10, 'b', 0);
    Bytes expected(65536, 'a');
    expected.insert(expected.end(), 10, 'b');
    const Decoded d = Lh5(w.Take(), expected.size());
    EXPECT_EQ(d.status, DecodeStatus::Ok);
    EXPECT_TRUE(d.bytes == expected);
    EXPECT_EQ(std::count(d.bytes.begin(), d.bytes.end(), 'a'), 65536);
}

TEST(LzhStaticBlocks, RealTablesAndEveryDistanceCode) {
    // Literals 'a'..'h' and every match length symbol; all 14 position codes of -lh5-.
    std::vector<unsigned> litUsed;
    for (unsigned c = 'a'; c <= 'h'; ++c)
        litUsed.push_back(c);
    for (unsigned s = 256; s < 510; ++s)
        litUsed.push_back(s);
    const Code lit(Complete(510, litUsed));
    std::vector<unsigned> posUsed;
    for (unsigned p = 0; p < 14; ++p)
        posUsed.push_back(p);
    const Code pos(Complete(14, posUsed));

    struct Token {
        unsigned symbol, code = 0, extra = 0;
        uint32_t low = 0;
    };
    std::vector<Token> tokens;
    Bytes expected;
    std::mt19937 rng(5);
    // 8200 literals first, so that every distance up to 8192 reaches into the output.
    for (int i = 0; i < 8200; ++i) {
        tokens.push_back({unsigned('a' + rng() % 8)});
        expected.push_back(uint8_t(tokens.back().symbol));
    }
    for (unsigned code = 0; code < 14; ++code)
        for (int rep = 0; rep < 3; ++rep) {
            Token t{unsigned(256 + rng() % 254), code, code > 1 ? code - 1 : 0};
            t.low = t.extra ? rng() % (1u << t.extra) : 0;
            if (rep == 2 && t.extra) t.low = (1u << t.extra) - 1; // the longest of each code
            const size_t distance = (code > 1 ? (size_t(1) << t.extra) + t.low : code) + 1;
            for (unsigned k = 0; k < t.symbol - 253; ++k)
                expected.push_back(expected[expected.size() - distance]);
            tokens.push_back(t);
        }
    BitWriter w;
    TableBlock(w, uint32_t(tokens.size()), lit, pos);
    for (const Token& t : tokens) {
        lit.Put(w, t.symbol);
        if (t.symbol < 256) continue;
        pos.Put(w, t.code);
        w.Put(t.low, t.extra);
    }
    const Bytes stream = w.Take();
    for (const auto& chunks : {kWholeStream, kOddChunks}) {
        const Decoded d = Lh5(stream, expected.size(), chunks);
        EXPECT_EQ(d.status, DecodeStatus::Ok);
        EXPECT_TRUE(d.bytes == expected);
    }
}

struct Broken {
    const char* name;
    std::function<void(BitWriter&)> write;
    DecodeStatus expected;
};

// A complete pre-tree and literal table header up to the position table.
void GoodLiteralPart(BitWriter& w, uint32_t count) {
    w.Put(count, 16);
    w.Put(0, 5);
    w.Put(3, 5); // pre-tree: single symbol 3 = length 1
    w.Put(2, 9); // literals 0 and 1 of 1 bit each
}

TEST(LzhStaticBlocks, BrokenTablesAreCorrupt) {
    const std::vector<Broken> cases = {
        {"pre-tree count above 19", [](BitWriter& w) { w.Put(1, 16), w.Put(20, 5); },
         DecodeStatus::Corrupt},
        {"pre-tree single symbol 19", [](BitWriter& w) { w.Put(1, 16), w.Put(0, 5), w.Put(19, 5); },
         DecodeStatus::Corrupt},
        {"pre-tree over-subscribed (three 1-bit codes)",
         [](BitWriter& w) {
             w.Put(1, 16), w.Put(3, 5);
             for (int i = 0; i < 3; ++i)
                 PutLength(w, 1);
             w.Put(0, 2);
         },
         DecodeStatus::Corrupt},
        {"pre-tree incomplete (one 1-bit code)",
         [](BitWriter& w) {
             w.Put(1, 16), w.Put(1, 5);
             PutLength(w, 1);
         },
         DecodeStatus::Corrupt},
        {"pre-tree code length 17",
         [](BitWriter& w) {
             w.Put(1, 16), w.Put(2, 5);
             PutLength(w, 17);
         },
         DecodeStatus::Corrupt},
        {"literal count above 510",
         [](BitWriter& w) { w.Put(1, 16), w.Put(0, 5), w.Put(3, 5), w.Put(511, 9); },
         DecodeStatus::Corrupt},
        {"literal single symbol 510",
         [](BitWriter& w) { w.Put(1, 16), w.Put(0, 5), w.Put(0, 5), w.Put(0, 9), w.Put(510, 9); },
         DecodeStatus::Corrupt},
        {"literal table incomplete (one 1-bit code)",
         [](BitWriter& w) {
             w.Put(1, 16), w.Put(0, 5), w.Put(3, 5), w.Put(1, 9); // one length of 1
             w.Put(0, 4), w.Put(0, 4);
         },
         DecodeStatus::Corrupt},
        {"literal table of zero lengths only",
         [](BitWriter& w) {
             w.Put(1, 16), w.Put(0, 5), w.Put(0, 5), w.Put(5, 9); // five zeros from symbol 0
             w.Put(0, 4), w.Put(0, 4);
         },
         DecodeStatus::Corrupt},
        {"literal table of a zero run past the count (the run ends at the count)",
         [](BitWriter& w) {
             w.Put(1, 16), w.Put(0, 5), w.Put(1, 5), w.Put(10, 9), w.Put(15, 4); // 18 zeros
         },
         DecodeStatus::Corrupt},
        {"position count above 14",
         [](BitWriter& w) {
             GoodLiteralPart(w, 1);
             w.Put(15, 4);
         },
         DecodeStatus::Corrupt},
        {"position single symbol 14",
         [](BitWriter& w) {
             GoodLiteralPart(w, 1);
             w.Put(0, 4), w.Put(14, 4);
         },
         DecodeStatus::Corrupt},
        {"position table over-subscribed",
         [](BitWriter& w) {
             GoodLiteralPart(w, 1);
             w.Put(3, 4);
             for (int i = 0; i < 3; ++i)
                 PutLength(w, 1);
         },
         DecodeStatus::Corrupt},
        {"match from before the output", [](BitWriter& w) { SingleSymbolBlock(w, 1, 256, 0); },
         DecodeStatus::Corrupt},
        {"match from an empty position table",
         [](BitWriter& w) {
             SingleSymbolBlock(w, 1, 'q', 0);
             w.Put(1, 16), w.Put(0, 5), w.Put(0, 5), w.Put(0, 9), w.Put(256, 9);
             w.Put(2, 4), PutLength(w, 0), PutLength(w, 0); // two zero lengths
         },
         DecodeStatus::Corrupt},
        {"input ends inside the header", [](BitWriter& w) { w.Put(1, 16), w.Put(0, 3); },
         DecodeStatus::Truncated},
        {"input ends before the first block", [](BitWriter&) {}, DecodeStatus::Truncated},
    };
    for (const Broken& c : cases) {
        BitWriter w;
        c.write(w);
        const Bytes stream = w.Take();
        for (const auto& chunks : {kWholeStream, kOddChunks}) {
            const Decoded d = Lh5(stream, 2000, chunks);
            EXPECT_EQ(d.status, c.expected) << c.name;
        }
    }
}

TEST(LzhStaticBlocks, DistancesBeyondTheWindowAreCorrupt) {
    // -lh4- (4 KiB) takes the position table of -lh5-: code 13 can say 8192.
    BitWriter w;
    SingleSymbolBlock(w, 9000, 'q', 0);
    SingleSymbolBlock(w, 1, 256, 13);
    w.Put(0, 12); // 4096 + 0 + 1 = 4097
    const Bytes stream = w.Take();
    const Decoded lh4 = DecodeWith(Method::kLh4, stream, 9003);
    EXPECT_EQ(lh4.status, DecodeStatus::Corrupt);
    EXPECT_EQ(lh4.bytes, Bytes(9000, 'q')); // everything before the bad match
    const Decoded lh5 = DecodeWith(Method::kLh5, stream, 9003);
    EXPECT_EQ(lh5.status, DecodeStatus::Ok);

    // ARJ: 26624 bytes, with the -lh7- table: code 15 with low bits 10240 says 26625.
    BitWriter a;
    SingleSymbolBlock(a, 30000, 'q', 0, 5);
    SingleSymbolBlock(a, 1, 256, 15, 5);
    a.Put(26624 - 16384, 14);
    const Bytes arjTooFar = a.Take();
    EXPECT_EQ(DecodeWith(Method::kArj1, arjTooFar, 30003).status, DecodeStatus::Corrupt);
    EXPECT_EQ(DecodeWith(Method::kLh7, arjTooFar, 30003).status, DecodeStatus::Ok); // 64 KiB
}

TEST(LzhStaticBlocks, PiecesAreSixtyFourKibibytes) {
    BitWriter w;
    SingleSymbolBlock(w, 1, 'z', 0);
    SingleSymbolBlock(w, 0, 509, 0); // 65536 matches of 256 bytes
    const Bytes stream = w.Take();
    dvl::unzip::test::ChunkedInput in(stream, kOddChunks);
    dvl::unzip::test::RecordingOutput out;
    const uint64_t size = 1 + 1000000;
    EXPECT_EQ(DecodeLzhStatic(in, out, size, LhaStaticVariant(5)), DecodeStatus::Ok);
    EXPECT_EQ(out.bytes.size(), size);
    EXPECT_TRUE(
        std::all_of(out.bytes.begin(), out.bytes.end(), [](uint8_t b) { return b == 'z'; }));
    for (size_t i = 0; i + 1 < out.writes.size(); ++i)
        EXPECT_EQ(out.writes[i], size_t(65536)) << i;
    EXPECT_GT(out.writes.back(), 0u);
}

TEST(LzhStaticBlocks, WriteFailureStops) {
    BitWriter w;
    SingleSymbolBlock(w, 0, 'z', 0);
    const Bytes stream = w.Take();
    dvl::unzip::test::ChunkedInput in(stream);
    dvl::unzip::test::RecordingOutput out(1000);
    EXPECT_EQ(DecodeLzhStatic(in, out, 65536, LhaStaticVariant(5)), DecodeStatus::WriteFailed);
}

TEST(LzhStaticBlocks, InvalidVariantIsCorrupt) {
    const Bytes none;
    for (LzhStaticVariant v :
         {LzhStaticVariant{.windowBits = 11}, LzhStaticVariant{.windowBits = 17},
          LzhStaticVariant{.positionCodes = 18}, LzhStaticVariant{.positionCodeBits = 6}}) {
        const Decoded d = DecodeInChunks(none, kWholeStream, [&](ByteSource& in, ByteSink& out) {
            return DecodeLzhStatic(in, out, 10, v);
        });
        EXPECT_EQ(d.status, DecodeStatus::Corrupt);
    }
}

TEST(LzhStaticBlocks, EmptyOutputReadsNothing) {
    const Bytes none;
    for (Method m : {Method::kLh1, Method::kLh5, Method::kLzs, Method::kLz5, Method::kArj4}) {
        const Decoded d = DecodeWith(m, none, 0);
        EXPECT_EQ(d.status, DecodeStatus::Ok);
        EXPECT_TRUE(d.bytes.empty());
    }
}

// ---------------------------------------------------------------------------------------------
// -lh1-, -lzs-, -lz5-, ARJ method 4 by hand

// Made here by the jLHA library (JlhaEncode.java, raw) from kSmallText, and checked: the same
// library's archives of it test OK with lhasa.
const char kSmallText[] = "abracadabra, abracadabra! abracadabra, abracadabra! abracadabra, "
                          "abracadabra! ========================================\n";
const Bytes kSmallLh1 = {0xf6, 0xfb, 0xbf, 0xd8, 0xbe, 0xfc, 0x1f, 0x08, 0xd0, 0x36, 0xe3, 0x59,
                         0x28, 0x0c, 0xd6, 0xde, 0x4a, 0x06, 0x79, 0x36, 0x00, 0x0c, 0xb0};
const Bytes kSmallLzs = {0xb0, 0xd8, 0xae, 0x56, 0x1b, 0x1d, 0x86, 0xc8, 0xfd, 0xe5, 0x2c,
                         0x90, 0x3f, 0x7c, 0xc8, 0x64, 0x0f, 0xdf, 0xe0, 0x01, 0xe0, 0x23,
                         0xf2, 0x09, 0xe8, 0x1e, 0xf8, 0x27, 0x78, 0x2f, 0x9c, 0x28};
const Bytes kSmallLz5 = {0x7f, 0x61, 0x62, 0x72, 0x61, 0x63, 0x61, 0x64, 0xee, 0xf1, 0x1b,
                         0x2c, 0x20, 0xee, 0xf8, 0x21, 0x20, 0xee, 0xff, 0x00, 0x0f, 0x12,
                         0x0d, 0x11, 0x3d, 0x3c, 0x0f, 0x4e, 0x0f, 0x60, 0x00, 0x0a};

TEST(LzhJlha, SmallStoredStreams) {
    const Bytes text(kSmallText, kSmallText + sizeof kSmallText - 1);
    for (const auto& [method, stream] :
         {std::pair{Method::kLh1, kSmallLh1}, std::pair{Method::kLzs, kSmallLzs},
          std::pair{Method::kLz5, kSmallLz5}}) {
        ExpectDecodes(method, stream, text, "small");
        for (size_t cut = 0; cut < stream.size(); ++cut) {
            const Decoded d =
                DecodeWith(method, Bytes(stream.begin(), stream.begin() + long(cut)), text.size());
            EXPECT_EQ(d.status, DecodeStatus::Truncated) << int(method) << " cut " << cut;
            EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), text.begin()));
        }
    }
}

// The first code of a symbol, from the initial tree (leaves 0..313
// at nodes 0..313, node 314 + k joining nodes 2k and 2k + 1, the root at 626; a 1 bit takes an
// internal node's second child): the path from the root down to the leaf's node.
TEST(LzhDynamic, FirstSymbolOfTheInitialTree) {
    constexpr unsigned kSymbols = 314, kNodes = 627;
    for (unsigned symbol : {0u, unsigned('A'), 255u, 256u, 313u}) {
        std::vector<unsigned> bits;
        for (unsigned node = symbol; node != kNodes - 1;) {
            const unsigned parent = kSymbols + node / 2; // for node < 626
            bits.push_back(node & 1);
            node = parent;
        }
        BitWriter w;
        for (size_t i = bits.size(); i-- > 0;)
            w.Put(bits[i], 1);
        if (symbol < 256) {
            const Decoded d = DecodeWith(Method::kLh1, w.Take(), 1);
            EXPECT_EQ(d.status, DecodeStatus::Ok) << symbol;
            EXPECT_EQ(d.bytes, Bytes{uint8_t(symbol)}) << symbol;
        } else {
            // A match of symbol - 253 bytes from the spaces before the output: position code
            // 000 (upper bits 0) and six low bits 0: distance 1.
            w.Put(0, 3 + 6);
            const Decoded d = DecodeWith(Method::kLh1, w.Take(), symbol - 253);
            EXPECT_EQ(d.status, DecodeStatus::Ok) << symbol;
            EXPECT_EQ(d.bytes, Bytes(symbol - 253, ' ')) << symbol;
        }
    }
}

TEST(LzhJlha, SmallStreamsOfEveryLibraryMethod) {
    const Bytes input(kSmallText, kSmallText + sizeof kSmallText - 1);
    const auto streams = JlhaStreams(input, {"-lh1-", "-lh4-", "-lzs-", "-lz5-", "-lh5-"});
    if (!streams) GTEST_SKIP() << "no JDK to run the jLHA library with";
    for (const auto& [name, stream] : *streams)
        ExpectDecodes(*MethodOf(name), stream, input, name);
}

TEST(LzsHand, MatchesIntoThePrefill) {
    // -lzs-: a match at ring position 0 (distance 2032 at the start: all spaces), length 5; then
    // literal 'k'; then a match of the 'k' (ring position 2031), length 3.
    BitWriter w;
    w.Put(0, 1), w.Put(0, 11), w.Put(3, 4);
    w.Put(1, 1), w.Put('k', 8);
    w.Put(0, 1), w.Put(2031 + 5, 11), w.Put(1, 4);
    const Decoded d = DecodeWith(Method::kLzs, w.Take(), 9);
    EXPECT_EQ(d.status, DecodeStatus::Ok);
    EXPECT_EQ(d.bytes, test::Bytes("     kkkk"));
}

TEST(Lz5Hand, MatchesIntoThePrefill) {
    // LArc's ring: 13 x each byte value, then 0..255, 255..0, 128 zeros, 110 spaces, 18 zeros.
    // Items: 'A' x 13 (ring 65 * 13), bytes 'a'..'e' (3328 + 'a'), bytes 250..246 (3584 + 5),
    // 4 spaces (3968 + 2), a literal '!', and a copy of the '!' from ring 4078 + 30, 3 bytes.
    Bytes s;
    const auto match = [&](unsigned pos, unsigned len) {
        s.push_back(uint8_t(pos));
        s.push_back(uint8_t((pos >> 4 & 0xF0) | (len - 3)));
    };
    s.push_back(0x10); // items 0-3 matches, item 4 a literal, 5 a match
    match(65 * 13, 13);
    match(3328 + 'a', 5);
    match(3584 + 5, 5);
    match(3968 + 2, 4);
    s.push_back('!');
    match((4078 + 27) % 4096, 3);
    Bytes expected(13, 'A');
    for (char c : std::string("abcde"))
        expected.push_back(uint8_t(c));
    for (unsigned v = 250; v >= 246; --v)
        expected.push_back(uint8_t(v));
    expected.insert(expected.end(), 4, ' ');
    expected.push_back('!');
    expected.insert(expected.end(), 3, '!');
    for (const auto& chunks : {kWholeStream, kOddChunks}) {
        const Decoded d = DecodeWith(Method::kLz5, s, expected.size(), chunks);
        EXPECT_EQ(d.status, DecodeStatus::Ok);
        EXPECT_EQ(d.bytes, expected);
    }
    EXPECT_EQ(DecodeWith(Method::kLz5, Bytes(s.begin(), s.end() - 1), expected.size()).status,
              DecodeStatus::Truncated);
}

TEST(ArjFastestHand, CodesAsArjReadsThem) {
    BitWriter w;
    w.Put(0, 1), w.Put('x', 8);         // literal
    w.Put(0, 1), w.Put('y', 8);         // literal
    w.Put(0b10, 2), w.Put(1, 1);        // length value 1 + 1 = 2: 4 bytes
    w.Put(0, 1), w.Put(1, 9);           // distance 1 + 1 = 2
    w.Put(0b1111111, 7), w.Put(127, 7); // length value 254: 256 bytes
    w.Put(0b1111, 4), w.Put(0, 13);     // distance 7680 + 0 + 1: before the start
    const Bytes stream = w.Take();
    const Decoded d = DecodeWith(Method::kArj4, stream, 6);
    EXPECT_EQ(d.status, DecodeStatus::Ok);
    EXPECT_EQ(d.bytes, test::Bytes("xyxyxy"));
    const Decoded bad = DecodeWith(Method::kArj4, stream, 300);
    EXPECT_EQ(bad.status, DecodeStatus::Corrupt);
    EXPECT_EQ(bad.bytes, test::Bytes("xyxyxy"));
}

} // namespace
} // namespace dvl::codecs
