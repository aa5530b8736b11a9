// dvl x, t and l on ARJ archives made by arj at test time (every method, a
// volume set, garbled files) and on the ARJ and ZOO peer fixtures: every tree
// extracted equals what the peer tools extract, byte for byte and with dates.
#include "tests/dvl/file_tree.h"
#include "tests/support/test_support.h"
#include "tests/support/zoo_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <sys/stat.h>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using test::Quote;

using test::FileState;

class DvlArjZoo : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(src_ / "sub");
        test::WriteFile(src_ / "a.txt", std::string("alpha\n"));
        test::WriteFile(src_ / "sub" / "big.txt", test::BigText());
        std::vector<uint8_t> noise(70000);
        std::mt19937 rng(3);
        for (auto& b : noise)
            b = uint8_t(rng());
        test::WriteFile(src_ / "sub" / "noise.bin", noise);
        test::WriteFile(src_ / "ro.txt", std::string("read-only"));
        fs::permissions(src_ / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
        test::Run("touch -d '2001-02-03 04:05:06' a.txt sub/big.txt sub/noise.bin ro.txt", src_);
    }

    std::string Dvl(const std::string& args, int* status = nullptr) {
        return test::DvlIn(dir_.Path(), args, status);
    }

    // arj a ARCHIVE (in the test's folder) with the options, from src.
    void Arj(const std::string& options, const std::string& archive,
             const std::string& members = "-r '*'") {
        ASSERT_EQ(
            test::Run("arj a -y " + options + " ../" + archive + " " + members + " >/dev/null",
                      src_),
            0)
            << options;
    }

    // The tree the peer gives beside the one `dvl x` gives (with `options`),
    // and `dvl t` passing.
    void ExpectLikePeer(const std::string& archive, const std::string& peerCommand,
                        const std::string& options = "", bool dates = true) {
        fs::remove_all(dir_ / "peer");
        fs::remove_all(dir_ / "ours");
        fs::create_directories(dir_ / "peer");
        ASSERT_EQ(test::Run(peerCommand + " >/dev/null 2>&1", dir_ / "peer"), 0) << peerCommand;
        int status = -1;
        const std::string out = Dvl("x -o ours " + options + " " + Quote(archive), &status);
        EXPECT_EQ(out, "") << archive;
        EXPECT_EQ(status, 0) << out;
        EXPECT_EQ(test::FileTree(dir_ / "ours", dates), test::FileTree(dir_ / "peer", dates))
            << archive;
        EXPECT_FALSE(test::FileTree(dir_ / "ours").empty()) << archive;
        EXPECT_EQ(Dvl("t " + options + " " + Quote(archive), &status), archive + ": ok\n");
        EXPECT_EQ(status, 0);
    }

    test::TempDir dir_;
    fs::path src_ = dir_ / "src";
};

TEST_F(DvlArjZoo, EveryArjMethodExtractsAsArjDoes) {
    DVL_REQUIRE_TOOL("arj");
    for (int method = 0; method <= 4; ++method) {
        SCOPED_TRACE(method);
        const std::string archive = "m" + std::to_string(method) + ".arj";
        Arj("-m" + std::to_string(method), archive);
        ExpectLikePeer(archive, "arj x -y ../" + archive);
        EXPECT_FALSE(test::FileTree(dir_ / "ours").at("ro.txt").writable);
    }
}

// Each part of a split file is compressed and checked on its own; the parts
// make one file. A missing volume is named, and the file is not written.
TEST_F(DvlArjZoo, AFileSplitOverVolumesIsOneFile) {
    DVL_REQUIRE_TOOL("arj");
    for (const char* method : {"-m0", "-m1", "-m4"}) {
        SCOPED_TRACE(method);
        fs::remove_all(dir_ / "set");
        fs::create_directories(dir_ / "set");
        Arj(std::string(method) + " -v40K", "set/v.arj", "sub/big.txt sub/noise.bin a.txt");
        ASSERT_TRUE(fs::exists(dir_ / "set" / "v.a02"));
        ExpectLikePeer("set/v.arj", "arj x -y -v ../set/v.arj");

        fs::rename(dir_ / "set" / "v.a02", dir_ / "v.a02");
        fs::remove_all(dir_ / "ours");
        int status = -1;
        const std::string out = Dvl("x -o ours set/v.arj", &status);
        EXPECT_EQ(status, 1);
        EXPECT_NE(out.find("25132 File not found (v.a02)\n"), std::string::npos) << out;
        EXPECT_EQ(out.find(": ok"), std::string::npos);
        EXPECT_FALSE(fs::exists(dir_ / "ours" / "a.txt")); // it lies after the gap
        fs::rename(dir_ / "v.a02", dir_ / "set" / "v.a02");
    }
}

TEST_F(DvlArjZoo, GarbledFilesNeedTheirPassword) {
    DVL_REQUIRE_TOOL("arj");
    const std::pair<const char*, const char*> cases[] = {
        {"-m0", "g0.arj"}, {"-m1", "g1.arj"}, {"-m4 -v40K", "g4.arj"}};
    for (const auto& [options, archive] : cases) {
        SCOPED_TRACE(options);
        Arj(std::string(options) + " -gsecret", archive, "a.txt sub/big.txt sub/noise.bin");
        ExpectLikePeer(archive, "arj x -y -v -gsecret ../" + std::string(archive),
                       "--password secret");

        fs::remove_all(dir_ / "ours");
        int status = -1;
        EXPECT_EQ(Dvl("x -o ours " + std::string(archive), &status),
                  "25190 Password protected (a.txt)\n25190 Password protected (big.txt)\n"
                  "25190 Password protected (noise.bin)\n");
        EXPECT_EQ(status, 1);
        EXPECT_TRUE(test::FileTree(dir_ / "ours").empty());
        EXPECT_EQ(Dvl("t --password wrong " + std::string(archive), &status),
                  "25120 File fails CRC check (a.txt)\n25120 File fails CRC check (big.txt)\n"
                  "25120 File fails CRC check (noise.bin)\n");
        EXPECT_EQ(status, 1);
    }
}

TEST_F(DvlArjZoo, PeerFixturesExtractAsTheirToolsDo) {
    DVL_REQUIRE_TOOL("arj");
    const fs::path fixtures = test::PeerFixtures();
    if (!fs::exists(fixtures / "arj")) GTEST_SKIP() << "peer fixtures are absent";
    const std::map<std::string, std::string> passwords = {{"Arj.encrypted.arj", "test"},
                                                          {"test_encrypted.arj", "ark"}};
    for (const auto& e : fs::directory_iterator(fixtures / "arj")) {
        if (e.path().extension() != ".arj") continue;
        const std::string name = e.path().filename().string();
        SCOPED_TRACE(name);
        const auto password = passwords.find(name);
        const bool garbled = password != passwords.end();
        ExpectLikePeer(e.path().string(),
                       "arj x -y -v " + (garbled ? "-g" + password->second + " " : "") +
                           Quote(e.path()),
                       garbled ? "--password " + password->second : "");
    }
    DVL_REQUIRE_TOOL("unar");
    // The ZOO fixture's dates carry a time zone that unar applies.
    const fs::path zoo = fixtures / "zoo" / "t.zoo";
    ExpectLikePeer(zoo.string(), "unar -q -D -o . " + Quote(zoo), "", false);
    int status = -1;
    const std::string listed = Dvl("l --tsv " + Quote(zoo), &status);
    EXPECT_EQ(status, 0) << listed;
    EXPECT_NE(listed.find("t2.txt"), std::string::npos) << listed;
}

// A DOS self-extractor: an MZ program whose image ends where the archive
// begins. Its files come out as from the archive alone.
TEST_F(DvlArjZoo, ASelfExtractorExtractsItsArchive) {
    DVL_REQUIRE_TOOL("arj");
    Arj("-m1", "plain.arj", "a.txt sub/big.txt");
    constexpr size_t kImage = 1000;
    std::vector<uint8_t> sfx(kImage, 0);
    sfx[0] = 'M', sfx[1] = 'Z';
    constexpr size_t kLastPage = kImage % 512, kPages = (kImage + 511) / 512;
    sfx[2] = uint8_t(kLastPage), sfx[3] = uint8_t(kLastPage >> 8);
    sfx[4] = uint8_t(kPages), sfx[5] = uint8_t(kPages >> 8);
    const std::vector<uint8_t> archive = test::ReadFile(dir_ / "plain.arj");
    sfx.insert(sfx.end(), archive.begin(), archive.end());
    test::WriteFile(dir_ / "sfx.exe", sfx);
    ExpectLikePeer("sfx.exe", "arj x -y ../plain.arj");
}

// The -lh5- stream of the one member of a level-2 LHA archive.
std::vector<uint8_t> Lh5Stream(const fs::path& archive) {
    const std::vector<uint8_t> bytes = test::ReadFile(archive);
    if (bytes.size() < 22 || bytes[20] != 2) return {};
    const size_t headerSize = size_t(bytes[0] | bytes[1] << 8);
    const size_t packed = size_t(bytes[7] | bytes[8] << 8 | bytes[9] << 16 | bytes[10] << 24);
    if (headerSize + packed > bytes.size()) return {};
    return {bytes.begin() + ptrdiff_t(headerSize), bytes.begin() + ptrdiff_t(headerSize + packed)};
}

// ZOO's packed methods, which no archive at hand uses: LZW from an encoder of
// the test's own (past the 8192 codes, where the code width stops growing),
// and -lh5- as jlha writes it; each in a folder, extracted and tested.
TEST_F(DvlArjZoo, ZooLzwAndLh5MembersExtract) {
    DVL_REQUIRE_TOOL("jlha");
    const std::string big = test::ReadText(src_ / "sub" / "big.txt");
    const std::string noise = test::ReadText(src_ / "sub" / "noise.bin");
    ASSERT_EQ(test::Run("jlha aq0o52 ../big.lzh sub/big.txt >/dev/null", src_), 0);
    const std::vector<uint8_t> lh5 = Lh5Stream(dir_ / "big.lzh");
    ASSERT_FALSE(lh5.empty());
    const std::vector<uint8_t> lzw = test::ZooLzw(big + noise);
    test::WriteFile(dir_ / "m.zoo", test::BuildZoo({{"one", "lzw.txt", big + noise, 1, lzw},
                                                    {"two", "lh5.txt", big, 2, lh5},
                                                    {"", "empty.txt", "", 1, test::ZooLzw("")}}));
    int status = -1;
    EXPECT_EQ(Dvl("x -o out m.zoo", &status), "");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::ReadText(dir_ / "out" / "one" / "lzw.txt"), big + noise);
    EXPECT_EQ(test::ReadText(dir_ / "out" / "two" / "lh5.txt"), big);
    EXPECT_EQ(test::ReadText(dir_ / "out" / "empty.txt"), "");
    EXPECT_EQ(Dvl("t m.zoo", &status), "m.zoo: ok\n");

    // The LZW stream cut short: that member fails, the others pass.
    std::vector<uint8_t> cut = lzw;
    cut.resize(cut.size() / 2);
    test::WriteFile(dir_ / "cut.zoo", test::BuildZoo({{"one", "lzw.txt", big + noise, 1, cut},
                                                      {"two", "lh5.txt", big, 2, lh5}}));
    const std::string out = Dvl("t cut.zoo", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("lzw.txt"), std::string::npos) << out;
    EXPECT_EQ(out.find("lh5.txt"), std::string::npos) << out;
}

// Damaged copies: an error row and exit status 1, never a crash, a hang or
// an "ok". Every byte of an ARJ archive is checked (headers and data have
// their CRCs); a ZOO archive is flipped where its entries and data lie, as
// its padding and the archive header's text are checked by nothing.
TEST_F(DvlArjZoo, DamageIsReportedNeverPassed) {
    struct Damaged {
        std::string name;
        size_t flipFrom, flipTo; // flipped bytes lie in [flipFrom, flipTo)
    };
    std::vector<Damaged> archives;
    if (test::HaveTool("arj")) {
        Arj("-m0", "d0.arj", "a.txt sub/big.txt");
        Arj("-m1", "d1.arj", "a.txt sub/big.txt");
        archives = {{"d0.arj", 0, fs::file_size(dir_ / "d0.arj")},
                    {"d1.arj", 0, fs::file_size(dir_ / "d1.arj")}};
    }
    const fs::path zoo = test::PeerFixtures() / "zoo" / "t.zoo";
    if (fs::exists(zoo)) {
        fs::copy_file(zoo, dir_ / "t.zoo");
        archives.push_back({"t.zoo", 42, 42 + 66}); // the first entry
        archives.push_back({"t.zoo", 113, 115});    // its data
    }
    if (archives.empty()) GTEST_SKIP() << "neither arj nor the peer fixtures are here";
    for (const auto& [name, flipFrom, flipTo] : archives) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> whole = test::ReadFile(dir_ / name);
        for (int round = 0; round < 16; ++round) {
            std::vector<uint8_t> bytes = whole;
            if (round % 2 == 0)
                bytes.resize(bytes.size() * size_t(round + 1) / 17);
            else
                bytes[flipFrom + size_t(round) * 7919 % (flipTo - flipFrom)] ^= 0x5A;
            const std::string bad = "bad" + fs::path(name).extension().string();
            test::WriteFile(dir_ / bad, bytes);
            int status = -1;
            const std::string out = Dvl("t " + bad, &status);
            EXPECT_EQ(status, 1) << round << ": " << out;
            EXPECT_EQ(out.find(": ok"), std::string::npos) << round;
        }
    }
}

} // namespace
} // namespace dvl
