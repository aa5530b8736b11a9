// The TAR reader on archives made by GNU tar and bsdtar, on hand-built blocks
// and on the peer fixtures, compared with bsdtar's listing.
#include "archive/lister/lorvex.h"
#include "tests/archive/lister/listing.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace dvl {
namespace {

namespace fs = std::filesystem;

class TarReader : public ::testing::Test {
protected:
    test::KeepCurrentDir keep;
    test::TempDir dir;
    test::TimeZone utc{"UTC0"};
};

// Names and sizes as bsdtar lists them ("-rw-r--r-- 0 u g SIZE date NAME"),
// plain files only, with backslashes for slashes.
std::vector<std::pair<std::string, int64_t>> PeerFiles(const fs::path& archive) {
    std::istringstream in(test::RunAndCapture("bsdtar -tvf " + test::Quote(archive)));
    std::vector<std::pair<std::string, int64_t>> files;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || (line[0] != '-' && line[0] != 'h')) continue;
        std::istringstream fields(line);
        std::string mode, links, user, group, month, day, time, name;
        int64_t size = 0;
        fields >> mode >> links >> user >> group >> size >> month >> day >> time;
        std::getline(fields, name);
        name = name.substr(1);
        if (const size_t link = name.find(" link to "); link != std::string::npos)
            name.resize(link);
        for (char& c : name)
            if (c == '/') c = '\\';
        files.emplace_back(name, size);
    }
    return files;
}

std::vector<std::pair<std::string, int64_t>> Listed(const test::Listing& l) {
    std::vector<std::pair<std::string, int64_t>> files;
    for (const auto& e : l.entries)
        files.emplace_back(e.name, e.unpacked);
    return files;
}

TEST_F(TarReader, ArchivesMadeByGnuTar) {
    DVL_REQUIRE_TOOL("tar");
    DVL_REQUIRE_TOOL("bsdtar");
    fs::create_directories(dir / "in/sub/empty");
    for (int size : {0, 1, 511, 512, 513})
        test::WriteFile(dir / ("in/sub/f" + std::to_string(size)), std::string(size_t(size), 'a'));
    const std::string longName(150, 'n');
    test::WriteFile(dir / ("in/" + longName), std::string("long"));
    ASSERT_EQ(test::Run("touch -d '2011-03-04 05:06:08 UTC' in/sub/f1 && "
                        "tar --format=gnu -cf gnu.tar in && "
                        "tar --format=gnu --label=VOLUME -cf label.tar in && "
                        "tar --format=posix -cf pax.tar in && "
                        "tar --format=ustar -cf ustar.tar in/sub",
                        dir.Path()),
              0);
    for (const char* name : {"gnu.tar", "label.tar", "pax.tar", "ustar.tar"}) {
        SCOPED_TRACE(name);
        const auto l = test::List(dir / name);
        ASSERT_TRUE(l.result);
        EXPECT_EQ(Listed(l), PeerFiles(dir / name));
        EXPECT_EQ(l.totals, int32_t(l.entries.size()));
        for (const auto& e : l.entries) {
            EXPECT_EQ(e.method, "Stored");
            EXPECT_EQ(e.packed, e.unpacked);
            if (e.name == "in\\sub\\f1") {
                EXPECT_EQ(e.date, "2011-03-04 05:06:08");
            }
        }
    }
    // Folders are not listed, with or without ShowBlankDirs; the long name
    // comes whole.
    const auto gnu = test::List(dir / "gnu.tar", [](TLorvex& l) { l.SetShowBlankDirs(true); });
    EXPECT_EQ(gnu.entries.size(), 6u);
    EXPECT_EQ(gnu.readFiles.front(), "in\\");
    bool sawLong = false;
    for (const auto& e : gnu.entries)
        sawLong |= e.name == "in\\" + longName;
    EXPECT_TRUE(sawLong);
}

// One header block: name, size, type and a valid checksum.
void AddBlock(std::vector<uint8_t>& out, const std::string& name, int64_t size, char type,
              const std::string& data = {}) {
    uint8_t h[512] = {};
    std::memcpy(h, name.data(), std::min<size_t>(name.size(), 100));
    std::snprintf(reinterpret_cast<char*>(h + 100), 8, "%07o", 0644);
    std::snprintf(reinterpret_cast<char*>(h + 124), 12, "%011llo", (unsigned long long)size);
    std::snprintf(reinterpret_cast<char*>(h + 136), 12, "%011o", 1000000000);
    h[156] = uint8_t(type);
    std::memset(h + 148, ' ', 8);
    unsigned sum = 0;
    for (uint8_t b : h)
        sum += b;
    std::snprintf(reinterpret_cast<char*>(h + 148), 8, "%06o", sum);
    out.insert(out.end(), h, h + 512);
    std::string body = data.empty() ? std::string(size_t(size), 'x') : data;
    body.resize(size_t((size + 511) / 512 * 512), '\0');
    out.insert(out.end(), body.begin(), body.end());
}

TEST_F(TarReader, FilterBlockRoundingAndEnd) {
    std::vector<uint8_t> bytes;
    AddBlock(bytes, "a.txt", 512, '0');
    AddBlock(bytes, "skip.dat", 1, '0');
    AddBlock(bytes, "dir/", 0, '5');
    AddBlock(bytes, "dir/link", 0, '2');
    AddBlock(bytes, "b.txt", 513, '\0');
    bytes.resize(bytes.size() + 1024, 0);
    AddBlock(bytes, "after-end.txt", 3, '0');
    test::WriteFile(dir / "built.tar", bytes);

    const auto all = test::List(dir / "built.tar");
    EXPECT_EQ(test::Names(all), (std::vector<std::string>{"a.txt", "skip.dat", "b.txt"}));
    EXPECT_EQ(all.readFiles.size(), 5u);
    EXPECT_EQ(all.entries[2].offset, 512 * 6);
    EXPECT_EQ(all.entries[0].date, "2001-09-09 01:46:40");
    EXPECT_EQ(all.totalUnpacked, 512 + 1 + 513);

    const auto txt = test::List(dir / "built.tar", [](TLorvex& l) { l.SetFileSpec("*.txt"); });
    EXPECT_EQ(test::Names(txt), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(txt.entries[1].number, 2);
}

TEST_F(TarReader, LongNamesAndBinarySizes) {
    std::vector<uint8_t> bytes;
    const std::string deep = std::string(120, 'd') + "/file.txt";
    AddBlock(bytes, "././@LongLink", int64_t(deep.size() + 1), 'L', deep + '\0');
    AddBlock(bytes, deep.substr(0, 99), 5, '0');
    const std::string pax = "28 path=pax/named/entry.bin\n";
    AddBlock(bytes, "PaxHeader/entry", int64_t(pax.size()), 'x', pax);
    AddBlock(bytes, "entry.bin", 7, '0');
    // A size beyond the file ends the walk instead of wrapping round.
    AddBlock(bytes, "huge.bin", 0, '0');
    bytes[bytes.size() - 512 + 124] = 0x80;
    for (int i = 1; i < 12; ++i)
        bytes[bytes.size() - 512 + 124 + size_t(i)] = i == 6 ? 1 : 0; // 2^40
    AddBlock(bytes, "never.bin", 1, '0');
    test::WriteFile(dir / "long.tar", bytes);

    const auto l = test::List(dir / "long.tar");
    ASSERT_TRUE(l.result);
    ASSERT_EQ(l.entries.size(), 3u);
    EXPECT_EQ(l.entries[0].name, std::string(120, 'd') + "\\file.txt");
    EXPECT_EQ(l.entries[0].unpacked, 5);
    EXPECT_EQ(l.entries[1].name, "pax\\named\\entry.bin");
    EXPECT_EQ(l.entries[2].name, "huge.bin");
    EXPECT_EQ(l.entries[2].unpacked, int64_t(1) << 40);
}

TEST_F(TarReader, PeerFixtures) {
    DVL_REQUIRE_TOOL("bsdtar");
    const auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    for (const char* name : {"tar/t.tar", "tar/test_compat_gtar_1.tar",
                             "tar/test_read_format_tar_empty_with_gnulabel.tar"}) {
        SCOPED_TRACE(name);
        const auto l = test::List(peer / name);
        EXPECT_EQ(Listed(l), PeerFiles(peer / name));
    }
}

} // namespace
} // namespace dvl
