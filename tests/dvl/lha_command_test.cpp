// dvl x, t and l on LHA archives: made by jlha at test time, taken from the
// peer fixtures (compared with what lhasa extracts), and damaged copies.
#include "tests/dvl/file_tree.h"
#include "tests/support/lha_writer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <sys/stat.h>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using test::Quote;

using test::FileState;

// Sets the MS-DOS attribute of the first header (level 0 or 1) and mends its
// checksum and, where an extended header holds one, its header CRC.
void SetAttribute(std::vector<uint8_t>& archive, uint8_t attribute) {
    archive[19] = attribute;
    const size_t base = size_t(archive[0]) + 2;
    uint8_t sum = 0;
    for (size_t i = 2; i < base; ++i)
        sum = uint8_t(sum + archive[i]);
    archive[1] = sum;
    if (archive[20] != 1) return;
    size_t end = base, crcAt = 0;
    for (size_t size = archive[base - 2] | archive[base - 1] << 8; size != 0;) {
        if (archive[end] == 0) crcAt = end + 1;
        end += size;
        size = archive[end - 2] | archive[end - 1] << 8;
    }
    if (crcAt == 0) return;
    archive[crcAt] = archive[crcAt + 1] = 0;
    const uint16_t crc = test::LhaCrc16(std::string(archive.begin(), archive.begin() + long(end)));
    archive[crcAt] = uint8_t(crc);
    archive[crcAt + 1] = uint8_t(crc >> 8);
}

class DvlLha : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(src_ / "sub");
        test::WriteFile(src_ / "a.txt", std::string("alpha\n"));
        test::WriteFile(src_ / "sub" / "big.txt", test::BigText());
        test::WriteFile(src_ / "ro.txt", std::string("read-only"));
        test::Run("touch -d '2001-02-03 04:05:06' a.txt sub/big.txt ro.txt", src_);
    }

    std::string Dvl(const std::string& args, int* status = nullptr) {
        return test::DvlIn(dir_.Path(), args, status);
    }

    test::TempDir dir_;
    fs::path src_ = dir_ / "src";
};

// Every method jlha writes, in every header level: the files, byte for byte
// and with their dates; a read-only attribute makes a read-only file.
TEST_F(DvlLha, JlhaArchivesOfEveryLevelAndMethod) {
    DVL_REQUIRE_TOOL("jlha");
    for (const int level : {0, 1, 2}) {
        for (const char method : {'5', '6', '7'}) {
            const std::string archive =
                "m" + std::string(1, method) + "_level" + std::to_string(level) + ".lzh";
            SCOPED_TRACE(archive);
            // ro.txt first, so that its header is the archive's first.
            ASSERT_EQ(test::Run("jlha c" + std::to_string(level) + "o" + method + " ../" + archive +
                                    " ro.txt a.txt sub/big.txt >/dev/null 2>&1",
                                src_),
                      0);
            if (level < 2) {
                std::vector<uint8_t> bytes = test::ReadFile(dir_ / archive);
                SetAttribute(bytes, 0x21);
                test::WriteFile(dir_ / archive, bytes);
            }
            fs::remove_all(dir_ / "ours");
            int status = -1;
            EXPECT_EQ(Dvl("x -o ours " + archive, &status), "");
            EXPECT_EQ(status, 0);
            auto expected = test::FileTree(src_);
            if (level < 2) expected["ro.txt"].writable = false; // the attribute set above
            EXPECT_EQ(test::FileTree(dir_ / "ours"), expected);
            EXPECT_EQ(Dvl("t " + archive, &status), archive + ": ok\n");
            EXPECT_EQ(status, 0);
            const std::string listed = Dvl("l --tsv " + archive, &status);
            EXPECT_EQ(status, 0);
            EXPECT_NE(listed.find("sub\\big.txt\t2001-02-03 04:05:06\t"), std::string::npos)
                << listed;
        }
    }
}

// Names as lhasa writes them: it lowers the case of names from MS-DOS
// archives, where dvl keeps them as stored.
std::map<std::string, FileState> LowerCaseNames(const std::map<std::string, FileState>& tree) {
    std::map<std::string, FileState> lowered;
    for (const auto& [name, state] : tree) {
        std::string lower = name;
        for (char& c : lower)
            c = char(std::tolower(uint8_t(c)));
        lowered[lower] = state;
    }
    return lowered;
}

// The fixtures other archivers made: the tree lhasa extracts (7-Zip where
// lhasa reads nothing), with its dates.
TEST_F(DvlLha, PeerFixturesExtractAsLhasaDoes) {
    DVL_REQUIRE_TOOL("lhasa");
    DVL_REQUIRE_TOOL("7zz");
    const fs::path fixtures = test::PeerFixtures() / "lha";
    if (!fs::exists(fixtures)) GTEST_SKIP() << "peer fixtures are absent";
    const std::string links = "26912 Not written: a symbolic link (symlink1)\n"
                              "26912 Not written: a symbolic link (symlink2)\n";
    const struct Special {
        std::string peer = "lhasa xq"; // run in the peer's folder with the archive's path
        std::string rows{};            // of dvl x
        bool tests = true;             // dvl t says ok
    } plain;
    const std::map<std::string, Special> special = {
        {"lha_unix114i_h0_subdir.lzh", {.peer = "7zz x -y"}},
        {"unlha32_h2_lhx.lzh",
         {.rows = "25200 Unsupported compression method (GPL-2)\n", .tests = false}},
        {"test_read_format_lha_header0.lzh", {.rows = links}},
        {"test_read_format_lha_header1.lzh", {.rows = links}},
        {"test_read_format_lha_header2.lzh", {.rows = links}},
        {"test_read_format_lha_lh6.lzh", {.rows = links}},
        {"test_read_format_lha_lh7.lzh", {.rows = links}},
        {"test_read_format_lha_withjunk.lzh", {.rows = links}},
    };
    int compared = 0;
    for (const auto& file : fs::directory_iterator(fixtures)) {
        const std::string name = file.path().filename().string();
        SCOPED_TRACE(name);
        const auto found = special.find(name);
        const Special& c = found == special.end() ? plain : found->second;
        fs::remove_all(dir_ / "peer");
        fs::remove_all(dir_ / "ours");
        fs::create_directories(dir_ / "peer");
        test::Run(c.peer + " " + Quote(file.path()) + " >/dev/null 2>&1", dir_ / "peer");
        int status = -1;
        EXPECT_EQ(Dvl("x -o ours " + Quote(file.path()), &status), c.rows);
        EXPECT_EQ(status, c.rows.empty() ? 0 : 1);
        // What this layer cannot decode is not written.
        const auto peer = c.tests ? LowerCaseNames(test::FileTree(dir_ / "peer"))
                                  : std::map<std::string, FileState>{};
        EXPECT_EQ(LowerCaseNames(test::FileTree(dir_ / "ours")), peer);
        const std::string tested = Dvl("t " + Quote(file.path()), &status);
        EXPECT_EQ(tested == file.path().string() + ": ok\n", c.tests) << tested;
        EXPECT_EQ(status, c.tests ? 0 : 1);
        ++compared;
    }
    EXPECT_GE(compared, 25);
}

// A Unix link stored as "name|target" is reported, never made; folders are
// made, empty ones too.
TEST_F(DvlLha, LinksAreNeverMadeAndFoldersAre) {
    test::WriteFile(dir_ / "links.lzh", test::LhaArchive({
                                            {.name = "", .directory = "empty/", .method = "-lhd-"},
                                            {.name = "link|a.txt", .method = "-lhd-"},
                                            {.name = "a.txt", .data = "alpha\n"},
                                        }));
    int status = -1;
    EXPECT_EQ(Dvl("x -o ours links.lzh", &status), "26912 Not written: a symbolic link (link)\n");
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(fs::is_directory(dir_ / "ours" / "empty"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "ours" / "link")));
    EXPECT_EQ(test::ReadText(dir_ / "ours" / "a.txt"), "alpha\n");
    EXPECT_EQ(Dvl("t links.lzh", &status), "links.lzh: ok\n");
}

// Amiga archivers store protection bits in the attribute byte: a denied
// write makes the file read-only; a denied execute (0x02) is no MS-DOS
// "hidden".
TEST_F(DvlLha, AmigaProtectionBitsGiveReadOnly) {
    test::WriteFile(
        dir_ / "amiga.lzh",
        test::LhaArchive({
            {.name = "locked.txt", .data = "l", .level = 1, .attribute = 0x06, .os = 'A'},
            {.name = "plain.txt", .data = "p", .level = 1, .attribute = 0x02, .os = 'A'},
        }));
    int status = -1;
    EXPECT_EQ(Dvl("x -o ours amiga.lzh", &status), "");
    EXPECT_EQ(status, 0);
    const auto writable = [&](const char* name) {
        return (fs::status(dir_ / "ours" / name).permissions() & fs::perms::owner_write) !=
               fs::perms::none;
    };
    EXPECT_FALSE(writable("locked.txt"));
    EXPECT_TRUE(writable("plain.txt"));
}

// Damaged copies: an error row and exit status 1, never a crash, a hang or
// an "ok".
TEST_F(DvlLha, DamageIsReportedNeverPassed) {
    DVL_REQUIRE_TOOL("jlha");
    for (const char* options : {"c1o5", "c2o6"}) {
        SCOPED_TRACE(options);
        ASSERT_EQ(test::Run(std::string("jlha ") + options +
                                " ../whole.lzh a.txt sub/big.txt >/dev/null 2>&1",
                            src_),
                  0);
        const std::vector<uint8_t> whole = test::ReadFile(dir_ / "whole.lzh");
        fs::remove(dir_ / "whole.lzh");
        for (int round = 0; round < 16; ++round) {
            std::vector<uint8_t> bytes = whole;
            if (round % 2 == 0)
                bytes.resize(bytes.size() * size_t(round + 1) / 17);
            else
                bytes[size_t(round) * 7919 % bytes.size()] ^= 0x5A;
            test::WriteFile(dir_ / "bad.lzh", bytes);
            for (const char* command : {"t bad.lzh", "x -o ours bad.lzh"}) {
                int status = -1;
                const std::string out = Dvl(command, &status);
                EXPECT_EQ(status, 1) << round << " " << command << ": " << out;
                EXPECT_EQ(out.find(": ok"), std::string::npos) << round;
            }
        }
    }
}

} // namespace
} // namespace dvl
