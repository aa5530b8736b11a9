// The BH and HA readers on hand-built archives (no tool here writes either).
#include "archive/lister/lorvex.h"
#include "tests/archive/lister/listing.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace dvl {
namespace {

class BhHaReader : public ::testing::Test {
protected:
    test::KeepCurrentDir keep;
    test::TempDir dir;
    test::TimeZone utc{"UTC0"};
};

struct BhEntry {
    std::string name{};
    uint8_t method = 2, flags = 0;
    uint32_t packed = 12, original = 40;
    uint16_t attributes = 0x20;
};

std::vector<uint8_t> BuildBh(const std::vector<BhEntry>& entries) {
    std::vector<uint8_t> out;
    for (const auto& e : entries) {
        test::PutLe32(out, 0x07054842);
        test::PutLe16(out, uint32_t(37 + e.name.size()));
        out.push_back(0);
        out.push_back(21); // made by
        out.push_back(20); // needed
        out.push_back(e.flags);
        out.push_back(e.method);
        test::PutLe32(out, 0x3A8B7C21); // 2009-04-11 15:33:02, time word first
        test::PutLe32(out, e.packed);
        test::PutLe32(out, e.original);
        test::PutLe32(out, 0xCAFEF00D);
        test::PutLe16(out, e.attributes);
        out.resize(out.size() + 4, 0);
        out.push_back(uint8_t(e.name.size()));
        out.resize(out.size() + 3, 0);
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.resize(out.size() + e.packed, 'd');
    }
    return out;
}

TEST_F(BhHaReader, BhEntries) {
    auto bytes = BuildBh({{.name = "FIRST.TXT"},
                          {.name = "SECRET.DOC", .method = 0, .flags = 1, .attributes = 0x21},
                          {.name = "THIRD.BIN", .method = 1, .packed = 0, .original = 0}});
    test::WriteFile(dir / "built.bh", bytes);
    const auto l = test::List(dir / "built.bh");
    ASSERT_TRUE(l.result);
    EXPECT_EQ(test::Names(l), (std::vector<std::string>{"FIRST.TXT", "SECRET.DOC", "THIRD.BIN"}));
    EXPECT_EQ(l.entries[0].method, "Deflate");
    EXPECT_EQ(l.entries[0].date, "2009-04-11 15:33:02");
    EXPECT_EQ(l.entries[0].crc, 0xCAFEF00Du);
    EXPECT_EQ(l.entries[0].versionMadeBy, 21);
    EXPECT_EQ(l.entries[0].versionNeeded, 20);
    EXPECT_EQ(l.entries[1].method, "Stored");
    EXPECT_EQ(l.entries[1].encrypted, 1u);
    EXPECT_EQ(l.entries[1].externalAttr, 0x21u);
    EXPECT_EQ(l.entries[2].method, "Fused");
    EXPECT_EQ(l.entries[1].offset, 37 + 9 + 12);
    EXPECT_EQ(l.totals, 3);

    // A damaged signature ends the walk quietly.
    bytes[37 + 9 + 12] ^= 0xFF;
    test::WriteFile(dir / "damaged.bh", bytes);
    const auto damaged = test::List(dir / "damaged.bh");
    EXPECT_TRUE(damaged.result);
    EXPECT_EQ(test::Names(damaged), std::vector<std::string>{"FIRST.TXT"});
    EXPECT_TRUE(damaged.codes.empty());
}

struct HaEntry {
    std::string path{}, name{};
    uint8_t method = 2;
    uint32_t packed = 9, original = 30;
    std::string machine = std::string("\x01\x20", 2);
};

std::vector<uint8_t> BuildHa(const std::vector<HaEntry>& entries) {
    std::vector<uint8_t> out = {'H', 'A'};
    test::PutLe16(out, uint32_t(entries.size()));
    for (const auto& e : entries) {
        out.push_back(uint8_t(0x20 | e.method));
        test::PutLe32(out, e.packed);
        test::PutLe32(out, e.original);
        test::PutLe32(out, 0x12345678);
        test::PutLe32(out, 1234567890); // 2009-02-13 23:31:30 UTC
        out.insert(out.end(), e.path.begin(), e.path.end());
        out.push_back(0);
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.push_back(0);
        out.push_back(uint8_t(e.machine.size()));
        out.insert(out.end(), e.machine.begin(), e.machine.end());
        out.resize(out.size() + e.packed, 'd');
    }
    return out;
}

TEST_F(BhHaReader, HaEntriesKeepTheirPath) {
    const auto bytes = BuildHa({{.name = "top.txt"},
                                {.path = "docs\xFFold\xFF", .name = "deep.txt", .method = 0},
                                {.path = "dir", .name = "x.c", .method = 1, .machine = ""},
                                {.name = "last.bin", .method = 9}});
    test::WriteFile(dir / "built.ha", bytes);
    const auto l = test::List(dir / "built.ha");
    ASSERT_TRUE(l.result);
    EXPECT_EQ(test::Names(l),
              (std::vector<std::string>{"top.txt", "docs\\old\\deep.txt", "dir\\x.c", "last.bin"}));
    EXPECT_EQ(l.entries[0].method, "HSC");
    EXPECT_EQ(l.entries[1].method, "Cpy");
    EXPECT_EQ(l.entries[2].method, "Asc");
    EXPECT_EQ(l.entries[0].versionMadeBy, 2);
    EXPECT_EQ(l.entries[0].crc, 0x12345678u);
    EXPECT_EQ(l.entries[0].unpacked, 30);
    EXPECT_EQ(l.entries[0].date, "2009-02-13 23:31:30");
    EXPECT_EQ(l.entries[0].offset, 3);
    EXPECT_EQ(l.totals, 4);
}

} // namespace
} // namespace dvl
