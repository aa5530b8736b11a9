// The shrink, reduce and implode decoders: real archives from the old DOS archivers, streams of
// the test encoders (checked by unzip and 7-Zip where they decode the method), hand-made streams
// for each failure, damaged copies, and the progress they report.
#include "archive/errors.h"
#include "archive/unzip/legacy_methods.h"
#include "archive/unzip/un_zip.h"
#include "platform/hooks.h"
#include "platform/paths.h"
#include "tests/archive/unzip/legacy_encoders.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <span>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using unzip::LegacyEntry;

std::string Win(const fs::path& p) {
    return platform::ToWindowsPath(p.string());
}

// Text with long and short repeats, sprinkled with the reduce marker byte 144 and zeros.
std::vector<uint8_t> Sample(size_t n, uint32_t seed, bool text) {
    static const char* words[] = {"archive ", "volume ", "header ", "the ", "of ",
                                  "data\n",   "disk ",   "old ",    "\x90 "};
    std::vector<uint8_t> out;
    uint32_t x = seed * 2654435761u + 1;
    while (out.size() < n) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        if (text)
            for (const char* c = words[x % 9]; *c && out.size() < n; ++c)
                out.push_back(uint8_t(*c));
        else
            out.push_back(uint8_t((x >> 8) & (x % 7 == 0 ? 0xFF : 0x0F)));
    }
    return out;
}

class VectorInput : public unzip::ByteSource {
public:
    VectorInput(const std::vector<uint8_t>& bytes, size_t chunk) : bytes_(bytes), chunk_(chunk) {}
    std::span<const uint8_t> Next() override {
        size_t n = std::min(chunk_, bytes_.size() - pos_);
        std::span<const uint8_t> s(bytes_.data() + pos_, n);
        pos_ += n;
        return s;
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t chunk_, pos_ = 0;
};

class VectorOutput : public unzip::ByteSink {
public:
    bool Write(const uint8_t* data, size_t n) override {
        bytes.insert(bytes.end(), data, data + n);
        return true;
    }
    std::vector<uint8_t> bytes;
};

struct Decoded {
    std::vector<uint8_t> bytes;
    std::string error; // empty when none was raised
    std::vector<uint8_t> progress;
};

// method 1 to 6, as in the central header.
Decoded Decode(int method, const std::vector<uint8_t>& packed, uint64_t unpacked,
               uint16_t flags = 0, size_t chunk = 4096) {
    Decoded d;
    VectorInput in(packed, chunk);
    VectorOutput out;
    unzip::ProgressMeter meter;
    meter.Start(10, [&](uint8_t p) { d.progress.push_back(p); });
    LegacyEntry entry{in, out, &meter, packed.size(), unpacked, flags};
    try {
        if (method == 1)
            unzip::Unshrink(entry);
        else if (method == 6)
            unzip::Explode(entry);
        else
            unzip::Unreduce(entry, method - 1);
    } catch (const E_RAISE& e) {
        d.error = e.what();
    }
    d.bytes = std::move(out.bytes);
    return d;
}

std::vector<uint8_t> Codes(std::initializer_list<std::pair<uint32_t, int>> codes) {
    test::BitWriter w;
    for (auto [value, bits] : codes)
        w.Put(value, bits);
    return w.Finish();
}

class LegacyMethods : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = fs::current_path(); // extraction changes the working folder
        fs::create_directory(dir / "out");
        platform::SetMessageBoxHook([this](const platform::MessageBoxRequest& r) {
            boxes.push_back(r.text);
            return platform::MessageResult::Ok;
        });
        unzip.OnError = [this](TZipCommon*, const std::string&, const std::string&, int32_t code) {
            codes.push_back(code);
        };
        unzip.OnEnd = [this](TZipCommon*, const std::string&, bool pass) {
            verdicts.push_back(pass);
        };
    }
    void TearDown() override {
        platform::SetMessageBoxHook(nullptr);
        fs::current_path(saved_);
    }

    void Extract(const fs::path& archive) {
        fs::remove_all(dir / "out");
        fs::create_directory(dir / "out");
        boxes.clear(), codes.clear(), verdicts.clear();
        unzip.SetArchiveFile(Win(archive));
        unzip.SetExtractDir(Win(dir / "out"));
        unzip.Extract();
    }

    // One entry of the given method wrapping a stream, written as `name`.
    fs::path Archive(const std::string& name, uint16_t method, uint16_t flags,
                     const std::vector<uint8_t>& data, const std::vector<uint8_t>& packed) {
        test::ZipWriter w;
        w.Add(
            {.name = "data.bin", .data = data, .packed = packed, .method = method, .flags = flags});
        test::WriteFile(dir / name, w.Build());
        return dir / name;
    }

    // The peers that decode shrink and implode must accept the stream before it is trusted.
    void ExpectPeersAccept(const fs::path& archive) {
        EXPECT_EQ(test::Run("unzip -tqq " + Quote(archive) + " >/dev/null 2>&1"), 0)
            << "unzip rejects " << archive;
        EXPECT_EQ(test::Run("7zz t " + Quote(archive) + " >/dev/null 2>&1"), 0)
            << "7zz rejects " << archive;
    }

    test::TempDir dir;
    TUnZIP unzip{nullptr};
    std::vector<std::string> boxes;
    std::vector<int32_t> codes;
    std::vector<bool> verdicts;

private:
    fs::path saved_;
};

// --- real archives ----------------------------------------------------------------------------

TEST_F(LegacyMethods, ShrunkAndImplodedFixturesMatchUnzip) {
    DVL_REQUIRE_TOOL("unzip");
    fs::path peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    const char* archives[] = {"Zip.shrink.zip",
                              "SHRUNK.ZIP",
                              "shrink.zip",
                              "Zip.implode.zip",
                              "implode.zip",
                              "imploding-4Kdict-2trees.zip",
                              "imploding-8Kdict-3trees.zip",
                              "moby-imploded.zip"};
    for (const char* name : archives) {
        Extract(peer / "zip" / name);
        EXPECT_TRUE(codes.empty() && boxes.empty()) << name;
        EXPECT_TRUE(std::all_of(verdicts.begin(), verdicts.end(), [](bool v) { return v; }))
            << name;
        fs::remove_all(dir / "peer");
        ASSERT_EQ(
            test::Run("unzip -qq -o " + Quote(peer / "zip" / name) + " -d " + Quote(dir / "peer")),
            0)
            << name;
        size_t compared = 0;
        for (auto& e : fs::recursive_directory_iterator(dir / "peer")) {
            if (!e.is_regular_file()) continue;
            fs::path rel = fs::relative(e.path(), dir / "peer");
            EXPECT_EQ(test::ReadFile(dir / "out" / rel), test::ReadFile(e.path()))
                << name << " " << rel;
            ++compared;
        }
        EXPECT_EQ(compared, verdicts.size()) << name;
    }
}

// No tool here decodes reduce: the CRC-32 in the archive is the oracle.
TEST_F(LegacyMethods, ReducedFixturesPassTheirCrc) {
    fs::path peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    const std::pair<const char*, size_t> archives[] = {{"Zip.reduce1.zip", 3},
                                                       {"Zip.reduce2.zip", 3},
                                                       {"Zip.reduce3.zip", 3},
                                                       {"Zip.reduce4.zip", 3},
                                                       {"reduce.zip", 1}};
    for (auto [name, entries] : archives) {
        Extract(peer / "zip" / name);
        EXPECT_TRUE(codes.empty() && boxes.empty()) << name;
        EXPECT_EQ(verdicts, std::vector<bool>(entries, true)) << name;
    }
}

// --- streams of the test encoders, through the driver --------------------------------------------

struct GeneratedCase {
    const char* what;
    uint16_t method, flags;
    std::vector<uint8_t> data;
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> encode;
};

std::vector<GeneratedCase> GeneratedCases() {
    using test::ImplodeOptions;
    auto implode = [](ImplodeOptions o) {
        return [o](const std::vector<uint8_t>& d) { return test::Implode(d, o); };
    };
    auto reduce = [](int f) {
        return [f](const std::vector<uint8_t>& d) { return test::Reduce(d, f); };
    };
    std::vector<uint8_t> zerosFirst(300, 0);
    auto tail = Sample(20000, 9, true);
    zerosFirst.insert(zerosFirst.end(), tail.begin(), tail.end());
    std::vector<GeneratedCase> cases = {
        // Codes grow to 13 bits and the full table is partly cleared again and again.
        {"shrink, 13-bit codes and clears", 1, 0, Sample(400000, 1, true),
         [](auto& d) { return test::Shrink(d); }},
        {"shrink, binary", 1, 0, Sample(150000, 2, false), [](auto& d) { return test::Shrink(d); }},
        // Clears long before the table is full, while codes still have children.
        {"shrink, early partial clears", 1, 0, Sample(60000, 3, true),
         [](auto& d) { return test::Shrink(d, {.clearAfterCodes = 300}); }},
        // Each new code is used at once: the string plus its own first byte.
        {"shrink, one repeated byte", 1, 0, std::vector<uint8_t>(70000, 'a'),
         [](auto& d) { return test::Shrink(d); }},
        {"implode 4K, 2 trees", 6, 0, Sample(120000, 4, true), implode({})},
        {"implode 8K, 2 trees", 6, 2, Sample(120000, 5, true), implode({.largeWindow = true})},
        {"implode 4K, 3 trees", 6, 4, Sample(120000, 6, false), implode({.literalTree = true})},
        {"implode 8K, 3 trees", 6, 6, Sample(120000, 7, true),
         implode({.largeWindow = true, .literalTree = true})},
        {"implode 4K, copies before the first byte", 6, 0, zerosFirst,
         implode({.matchBeforeStart = true})},
        {"implode 8K, 3 trees, copies before the first byte", 6, 6, zerosFirst,
         implode({.largeWindow = true, .literalTree = true, .matchBeforeStart = true})},
        {"reduce factor 1", 2, 0, Sample(100000, 8, true), reduce(1)},
        {"reduce factor 2", 3, 0, Sample(100000, 9, true), reduce(2)},
        {"reduce factor 3", 4, 0, Sample(100000, 10, false), reduce(3)},
        {"reduce factor 4", 5, 0, Sample(100000, 11, true), reduce(4)},
        {"reduce factor 4, copies before the first byte", 5, 0, zerosFirst, reduce(4)},
        {"reduce, one marker byte", 3, 0, {144}, reduce(2)},
    };
    return cases;
}

TEST_F(LegacyMethods, GeneratedStreamsExtractExactly) {
    DVL_REQUIRE_TOOL("unzip");
    DVL_REQUIRE_TOOL("7zz");
    for (const GeneratedCase& c : GeneratedCases()) {
        std::vector<uint8_t> packed = c.encode(c.data);
        fs::path archive = Archive("g.zip", c.method, c.flags, c.data, packed);
        if (c.method == 1 || c.method == 6) ExpectPeersAccept(archive);
        Extract(archive);
        EXPECT_TRUE(codes.empty() && boxes.empty()) << c.what;
        EXPECT_EQ(verdicts, std::vector<bool>{true}) << c.what;
        EXPECT_TRUE(test::ReadFile(dir / "out" / "data.bin") == c.data) << c.what;
    }
}

// A reduced stream is trusted only by the decoder it tests; the marker byte must cost two
// bytes in the expansion and decode to one.
TEST_F(LegacyMethods, ReduceMarkerByteAndLastByteSymbols) {
    std::vector<uint8_t> data = {'x', 144, 'y', 144, 144};
    for (int f = 1; f <= 4; ++f) {
        std::vector<uint8_t> packed = test::Reduce(data, f);
        Decoded d = Decode(f + 1, packed, data.size());
        EXPECT_EQ(d.error, "");
        EXPECT_EQ(d.bytes, data) << f;
    }
}

// --- hand-made streams: clears, the string being defined, failures -------------------------------

TEST_F(LegacyMethods, HandMadeShrinkStreams) {
    const struct {
        const char* what;
        std::vector<uint8_t> packed;
        std::string bytes, error;
    } cases[] = {
        // 257 = ab, 258 = ba, 259 = (257)c; the clear frees 258 and 259 but keeps 257, which
        // lost its only child during the clear; the next new codes are 258 and 259 again.
        {"partial clear",
         Codes({{'a', 9},
                {'b', 9},
                {257, 9},
                {'c', 9},
                {256, 9},
                {2, 9},
                {257, 9},
                {258, 9},
                {259, 9}}),
         "ababc"
         "ab"
         "ca"
         "abc",
         ""},
        {"code being defined", Codes({{'a', 9}, {257, 9}, {258, 9}}),
         "a"
         "aa"
         "aaa",
         ""},
        {"10-bit codes", Codes({{'a', 9}, {256, 9}, {1, 9}, {'b', 10}, {257, 10}}), "abab", ""},
        {"no first code", {}, "", "Bad block"},
        {"unknown control", Codes({{'a', 9}, {256, 9}, {3, 9}}), "a", "Bad block"},
        {"code size beyond 13 bits",
         Codes({{'a', 9},
                {256, 9},
                {1, 9},
                {256, 10},
                {1, 10},
                {256, 11},
                {1, 11},
                {256, 12},
                {1, 12},
                {256, 13},
                {1, 13}}),
         "a", "Invalid code encountered"},
        // After the clear, 257 (the previous code, freed) is handed out with itself as parent.
        {"cycle", Codes({{'a', 9}, {'b', 9}, {257, 9}, {256, 9}, {2, 9}, {'x', 9}, {257, 9}}),
         "ababx", "Stack overflow"},
        // 257 is (300)a, and 300 was never defined.
        {"chain through an unused code", Codes({{300, 9}, {'a', 9}, {257, 9}}), ",a",
         "Invalid code encountered"},
    };
    for (auto& c : cases) {
        for (size_t chunk : {size_t(1), size_t(4096)}) {
            Decoded d = Decode(1, c.packed, 0, 0, chunk);
            EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), c.bytes) << c.what;
            EXPECT_EQ(d.error, c.error) << c.what;
        }
    }
}

TEST_F(LegacyMethods, HandMadeImplodeAndReduceFailures) {
    auto stream = [](std::initializer_list<std::pair<uint32_t, int>> bits) { return Codes(bits); };
    const struct {
        const char* what;
        int method;
        uint16_t flags;
        std::vector<uint8_t> packed;
        std::string error;
    } cases[] = {
        // Five runs of 16 lengths: 80 entries for a 64-symbol tree.
        {"implode tree too long", 6, 0,
         stream({{4, 8}, {0xFF, 8}, {0xFF, 8}, {0xFF, 8}, {0xFF, 8}, {0xFF, 8}}), "Bad block"},
        // Three 1-bit codes: the third wraps onto the first.
        {"implode ambiguous tree", 6, 0, stream({{0, 8}, {0x20, 8}}),
         "Ambiguous Shannon-Fano decode tree encountered"},
        // One 1-bit code per tree; a copy whose distance code takes the empty branch.
        {"implode empty link", 6, 0,
         stream({{0, 8}, {0x00, 8}, {0, 8}, {0x00, 8}, {0, 1}, {0, 6}, {1, 1}}),
         "Ambiguous Shannon-Fano decode tree encountered"},
        {"reduce followers beyond 32", 3, 0, stream({{40, 6}}), "Bad block"},
    };
    for (auto& c : cases) {
        Decoded d = Decode(c.method, c.packed, 1000, c.flags);
        EXPECT_EQ(d.error, c.error) << c.what;
        EXPECT_TRUE(d.bytes.empty()) << c.what;
    }
}

// Without a literal tree, literals are 8 bits and the shortest copy is 2 bytes; a copy before
// the first byte reads zeros.
TEST_F(LegacyMethods, ImplodeWithoutLiteralTree) {
    // Length and distance trees: one run of 64 six-bit codes each; symbol s has code 63 - s.
    test::BitWriter w;
    for (int t = 0; t < 2; ++t)
        w.Put(3, 8), w.Put(0xF5, 8), w.Put(0xF5, 8), w.Put(0xF5, 8), w.Put(0xF5, 8);
    w.Put(1, 1), w.Put('Q', 8);                                   // literal Q
    w.Put(0, 1), w.Put(0, 6), w.PutCode(63, 6), w.PutCode(63, 6); // distance 1, length 2
    w.Put(0, 1), w.Put(9, 6), w.PutCode(63, 6), w.PutCode(62, 6); // distance 10, length 3
    Decoded d = Decode(6, w.Finish(), 6);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{'Q', 'Q', 'Q', 0, 0, 0}));
}

// --- damaged copies ---------------------------------------------------------------------------

TEST_F(LegacyMethods, TruncatedAndFlippedStreamsEndCleanly) {
    std::vector<uint8_t> data = Sample(30000, 12, true);
    const struct {
        int method;
        uint16_t flags;
        std::vector<uint8_t> packed;
    } streams[] = {{1, 0, test::Shrink(data)},
                   {6, 6, test::Implode(data, {.largeWindow = true, .literalTree = true})},
                   {6, 0, test::Implode(data, {})},
                   {3, 0, test::Reduce(data, 2)}};
    for (auto& s : streams) {
        for (size_t keep :
             {size_t(0), size_t(1), size_t(2), s.packed.size() / 3, s.packed.size() - 1}) {
            std::vector<uint8_t> cut(s.packed.begin(), s.packed.begin() + long(keep));
            Decoded d = Decode(s.method, cut, data.size(), s.flags);
            EXPECT_LE(d.bytes.size(), data.size());
            EXPECT_TRUE(!d.error.empty() || d.bytes != data) << s.method << " kept " << keep;
        }
        for (size_t bit = 5; bit < s.packed.size() * 8; bit += 997) {
            std::vector<uint8_t> flipped = s.packed;
            flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
            Decoded d = Decode(s.method, flipped, data.size(), s.flags);
            EXPECT_LE(d.bytes.size(), s.method == 1 ? SIZE_MAX : data.size());
        }
    }
    // Through the driver, a truncated entry ends with a failing verdict.
    for (auto& s : streams) {
        std::vector<uint8_t> cut(s.packed.begin(), s.packed.begin() + long(s.packed.size() / 2));
        Extract(Archive("t.zip", uint16_t(s.method), s.flags, data, cut));
        EXPECT_EQ(verdicts, std::vector<bool>{false}) << s.method;
    }
}

// --- progress ---------------------------------------------------------------------------------

// The reports are those of an evaluation before every byte fetch, whatever the chunking: every
// byte is fetched, then (for shrink always, for reduce when its last bit ends a byte) the end of
// the input, which reports 100; unreduce evaluates once more after its last byte.
TEST_F(LegacyMethods, ProgressAsIfFetchedByteByByte) {
    std::vector<uint8_t> data = Sample(200000, 13, true);
    const struct {
        int method;
        std::vector<uint8_t> packed;
        size_t minHundreds, maxHundreds;
    } cases[] = {{1, test::Shrink(data), 1, 1}, {3, test::Reduce(data, 2), 1, 2}};
    for (auto& c : cases) {
        std::vector<uint8_t> fetches;
        unzip::ProgressMeter reference;
        reference.Start(10, [&](uint8_t p) { fetches.push_back(p); });
        reference.Sweep(0, c.packed.size(), c.packed.size());
        ASSERT_FALSE(fetches.empty());
        std::vector<uint8_t> first;
        for (size_t chunk : {size_t(1), size_t(1000), size_t(65536)}) {
            Decoded d = Decode(c.method, c.packed, data.size(), 0, chunk);
            ASSERT_EQ(d.bytes, data);
            ASSERT_GE(d.progress.size(), fetches.size());
            EXPECT_TRUE(std::equal(fetches.begin(), fetches.end(), d.progress.begin()));
            size_t hundreds = d.progress.size() - fetches.size();
            EXPECT_TRUE(hundreds >= c.minHundreds && hundreds <= c.maxHundreds) << c.method;
            EXPECT_TRUE(std::all_of(d.progress.begin() + long(fetches.size()), d.progress.end(),
                                    [](uint8_t p) { return p == 100; }));
            if (first.empty()) first = d.progress;
            EXPECT_EQ(d.progress, first) << c.method << " chunk " << chunk;
        }
    }
}

// Not a test: writes the benchmark archives of bench/legacy_methods.sh into the folder named by
// DVL_LEGACY_BENCH_OUT (each at least 20 MB, entries of 4 MiB) and the plain data beside them.
TEST(LegacyBenchArchives, DISABLED_Write) {
    const char* folder = std::getenv("DVL_LEGACY_BENCH_OUT");
    if (!folder) GTEST_SKIP() << "DVL_LEGACY_BENCH_OUT is not set";
    fs::path out(folder);
    fs::create_directories(out / "data");
    const size_t kEntry = size_t(4) << 20, kArchive = size_t(20) << 20;
    std::vector<std::vector<uint8_t>> entries;
    auto entry = [&](size_t i) -> const std::vector<uint8_t>& {
        while (entries.size() <= i) {
            // Alternating text-like and binary-like stretches of 256 KiB.
            std::vector<uint8_t> d;
            for (uint32_t part = 0; d.size() < kEntry; ++part) {
                auto s = Sample(256 << 10, uint32_t(entries.size() * 64 + part), part % 2 == 0);
                d.insert(d.end(), s.begin(), s.end());
            }
            test::WriteFile(out / "data" / ("part" + std::to_string(entries.size()) + ".bin"), d);
            entries.push_back(std::move(d));
        }
        return entries[i];
    };
    const struct {
        const char* name;
        uint16_t method, flags;
        std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> encode;
    } kinds[] = {
        {"shrink", 1, 0, [](auto& d) { return test::Shrink(d); }},
        {"reduce1", 2, 0, [](auto& d) { return test::Reduce(d, 1); }},
        {"reduce2", 3, 0, [](auto& d) { return test::Reduce(d, 2); }},
        {"reduce3", 4, 0, [](auto& d) { return test::Reduce(d, 3); }},
        {"reduce4", 5, 0, [](auto& d) { return test::Reduce(d, 4); }},
        {"implode-4k-2trees", 6, 0, [](auto& d) { return test::Implode(d, {}); }},
        {"implode-8k-3trees", 6, 6,
         [](auto& d) { return test::Implode(d, {.largeWindow = true, .literalTree = true}); }},
    };
    for (auto& k : kinds) {
        test::ZipWriter w;
        size_t packedTotal = 0, n = 0;
        for (; packedTotal < kArchive; ++n) {
            std::vector<uint8_t> packed = k.encode(entry(n));
            packedTotal += packed.size();
            w.Add({.name = "part" + std::to_string(n) + ".bin",
                   .data = entry(n),
                   .packed = std::move(packed),
                   .method = k.method,
                   .flags = k.flags});
        }
        test::WriteFile(out / (std::string(k.name) + ".zip"), w.Build());
        std::printf("%s: %zu entries, %zu packed bytes\n", k.name, n, packedTotal);
    }
    // The data of the largest archive, for the deflate comparison.
    std::printf("entries written: %zu\n", entries.size());
}

} // namespace
} // namespace dvl
