// The shared LHA header parser on headers built byte by byte: the fields of
// each level, and damage that must be reported rather than read past.
#include "archive/formats/lha_header.h"
#include "tests/support/lha_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace dvl::formats {
namespace {

class BytesInput final : public LhaInput {
public:
    explicit BytesInput(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    size_t ReadAt(int64_t offset, uint8_t* buffer, size_t n) override {
        if (offset < 0 || offset >= Size()) return 0;
        n = std::min(n, bytes_.size() - size_t(offset));
        std::memcpy(buffer, bytes_.data() + offset, n);
        return n;
    }
    int64_t Size() const override { return int64_t(bytes_.size()); }

private:
    std::vector<uint8_t> bytes_;
};

LhaParse Parse(const std::vector<uint8_t>& bytes, LhaHeader& header) {
    BytesInput input(bytes);
    return ParseLhaHeader(input, 0, header);
}

// Replaces the extended headers of a one-member level-2 archive (from offset
// 24, the first size) with `chain`, keeping the total size field right.
std::vector<uint8_t> Level2With(const std::vector<uint8_t>& chain, const std::string& data = "") {
    std::vector<uint8_t> bytes = test::LhaArchive({{.name = "n", .data = data}});
    bytes.resize(24);
    bytes.insert(bytes.end(), chain.begin(), chain.end());
    bytes[0] = uint8_t(bytes.size());
    bytes[1] = uint8_t(bytes.size() >> 8);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

std::string Le(uint64_t value, int width) {
    std::vector<uint8_t> out;
    test::PutLhaLe(out, value, width);
    return std::string(out.begin(), out.end());
}

TEST(LhaHeader, FieldsOfEachLevel) {
    for (const int level : {0, 1, 2}) {
        SCOPED_TRACE(level);
        LhaHeader h;
        const auto bytes = test::LhaArchive(
            {{.name = "a.txt", .data = "hello", .level = level, .attribute = 0x21}});
        ASSERT_EQ(Parse(bytes, h), LhaParse::Ok);
        EXPECT_EQ(h.method, "-lh0-");
        EXPECT_EQ(h.name, "a.txt");
        EXPECT_EQ(h.packedSize, 5u);
        EXPECT_EQ(h.originalSize, 5u);
        EXPECT_EQ(h.dataCrc, test::LhaCrc16("hello"));
        EXPECT_EQ(h.nextHeader, int64_t(bytes.size() - 1));
        EXPECT_EQ(h.dataOffset + 5, h.nextHeader);
        EXPECT_TRUE(h.checksumMatches);
        EXPECT_EQ(h.attribute, 0x21);
        EXPECT_EQ(h.unixTime.has_value(), level == 2);
    }
}

TEST(LhaHeader, ExtendedHeadersGiveSizesTimesModesAndUnicodeNames) {
    std::vector<uint8_t> chain;
    const std::pair<uint8_t, std::string> headers[] = {
        {0x54, Le(1234567890, 4)},
        {0x42, Le(1, 8) + Le(5'000'000'000, 8)},
        {0x50, Le(0100444, 2)},
        {0x44, std::string("c\0a\0f\0\xE9\0", 8)},
        {0x45, std::string("d\0\xFF\xFFx\0", 6)},
        {0x01, "cafe"},
        {0x02, "d\xFFx\xFF"},
    };
    test::PutLhaLe(chain, headers[0].second.size() + 3, 2);
    for (size_t i = 0; i < std::size(headers); ++i) {
        test::PutLhaExtended(chain, headers[i].first, headers[i].second);
        const size_t next = i + 1 < std::size(headers) ? headers[i + 1].second.size() + 3 : 0;
        chain[chain.size() - 2] = uint8_t(next);
    }
    LhaHeader h;
    ASSERT_EQ(Parse(Level2With(chain, "x"), h), LhaParse::Ok);
    EXPECT_TRUE(h.extendedIntact);
    EXPECT_EQ(h.unixTime, 1234567890);
    EXPECT_EQ(h.packedSize, 1u);
    EXPECT_EQ(h.originalSize, 5'000'000'000u);
    EXPECT_EQ(h.unixMode, 0100444);
    EXPECT_EQ(h.name, "cafe");
    EXPECT_EQ(LhaStoredPath(h), "d\\x\\cafe");
    EXPECT_EQ(LhaUnicodePath(h), "d\\x\\caf\xC3\xA9");
}

TEST(LhaHeader, NamesCarryingCommentsLinksAndFolders) {
    const struct {
        test::LhaMember member;
        std::string name, comment, target;
        bool folder, link;
    } cases[] = {
        {{.name = std::string("hello.txt\0note", 14), .level = 1},
         "hello.txt",
         "note",
         "",
         false,
         false},
        {{.name = "ln|../t", .method = "-lhd-"}, "ln", "", "../t", false, true},
        // A link whose path the archiver split at its last separator.
        {{.name = "file1", .directory = "dir2\xFFsymlink1|..\xFF", .method = "-lhd-"},
         "symlink1",
         "",
         "../file1",
         false,
         true},
        {{.name = "dir\\", .method = "-lhd-", .level = 0}, "dir\\", "", "", true, false},
        {{.name = "a|b"}, "a|b", "", "", false, false}, // a file may hold a bar
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LhaHeader h;
        ASSERT_EQ(Parse(test::LhaArchive({c.member}), h), LhaParse::Ok);
        EXPECT_EQ(h.name, c.name);
        EXPECT_EQ(h.comment, c.comment);
        EXPECT_EQ(h.linkTarget, c.target);
        EXPECT_EQ(h.folder, c.folder);
        EXPECT_EQ(h.symbolicLink, c.link);
    }
}

TEST(LhaHeader, DamageIsReportedNeverReadPast) {
    const auto level0 = test::LhaArchive({{.name = "a.txt", .data = "hello", .level = 0}});
    const auto level1 = test::LhaArchive({{.name = "a.txt", .directory = "d/", .level = 1}});
    const auto level2 = test::LhaArchive({{.name = "a.txt", .data = "hello"}});
    const auto edit = [](std::vector<uint8_t> bytes,
                         const std::function<void(std::vector<uint8_t>&)>& f) {
        f(bytes);
        return bytes;
    };
    std::vector<uint8_t> manyHeaders; // more extended headers than any header holds
    test::PutLhaLe(manyHeaders, 3, 2);
    for (int i = 0; i < 300; ++i) {
        manyHeaders.push_back(0x7E);
        test::PutLhaLe(manyHeaders, 3, 2);
    }
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        LhaParse parse;
        bool checksum = true, intact = true;
    } cases[] = {
        {"empty", {}, LhaParse::End},
        {"end byte", {0}, LhaParse::End},
        {"cut in the base", std::vector<uint8_t>(level0.begin(), level0.begin() + 15),
         LhaParse::Truncated},
        {"cut in the name", std::vector<uint8_t>(level0.begin(), level0.begin() + 24),
         LhaParse::Truncated},
        {"cut in an extended header", std::vector<uint8_t>(level1.begin(), level1.end() - 4),
         LhaParse::Truncated},
        {"no method", edit(level0, [](auto& b) { b[2] = 'x'; }), LhaParse::NotHeader},
        {"level 4", edit(level2, [](auto& b) { b[20] = 4; }), LhaParse::NotHeader},
        {"name beyond the header", edit(level0, [](auto& b) { b[21] = 200; }), LhaParse::NotHeader},
        {"level 2 shorter than its fields", edit(level2, [](auto& b) { b[0] = 20; }),
         LhaParse::NotHeader},
        {"checksum", edit(level0, [](auto& b) { b[23] ^= 1; }), LhaParse::Ok, false},
        {"extended header past the header", Level2With({60, 0, 1, 'x', 0, 0}), LhaParse::Ok, true,
         false},
        {"extended header size below its fields", Level2With({2, 0, 1, 0, 0}), LhaParse::Ok, true,
         false},
        {"endless chain", Level2With(manyHeaders), LhaParse::Ok, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LhaHeader h;
        ASSERT_EQ(Parse(c.bytes, h), c.parse);
        if (c.parse != LhaParse::Ok) continue;
        EXPECT_EQ(h.checksumMatches, c.checksum);
        EXPECT_EQ(h.extendedIntact, c.intact);
    }
}

} // namespace
} // namespace dvl::formats
