// dvl x, t and l on RAR archives made by rar at test time, run as a user
// runs them.
#include "tests/support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using test::Quote;

const std::string kDvl = std::string(DVL_BIN_DIR) + "/dvl";

std::string Noise(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = char(gen());
    return s;
}

class DvlRar : public ::testing::Test {
protected:
    void SetUp() override {
        DVL_REQUIRE_TOOL("rar");
        fs::create_directories(dir / "src" / "sub");
        test::WriteFile(dir / "src" / "a.txt", std::string(5000, 'a'));
        test::WriteFile(dir / "src" / "sub" / "b.bin", Noise(120000, 1));
    }
    // Makes an archive of src with rar and the given switches.
    void Rar(const std::string& archive, const std::string& switches) {
        ASSERT_EQ(
            test::Run("rar a -idq -r " + switches + " " + Quote(dir / archive) + " '*' >/dev/null",
                      dir / "src"),
            0);
    }
    // Runs dvl in the temporary folder; returns stdout and stderr together.
    std::string Dvl(const std::string& args, int* status) {
        return test::RunAndCapture("cd " + Quote(dir.Path()) + " && " + kDvl + " " + args + " 2>&1",
                                   status);
    }

    test::TempDir dir;
};

TEST_F(DvlRar, ExtractsTestsAndListsASolidArchive) {
    Rar("s.rar", "-s -m5");
    int status = -1;
    std::string out = Dvl("x -o dest s.rar", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "");
    EXPECT_EQ(test::ReadFile(dir / "dest" / "a.txt"), test::ReadFile(dir / "src" / "a.txt"));
    EXPECT_EQ(test::ReadFile(dir / "dest" / "sub" / "b.bin"),
              test::ReadFile(dir / "src" / "sub" / "b.bin"));

    out = Dvl("t s.rar", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "s.rar: ok\n");

    out = Dvl("l s.rar", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("s.rar\ta.txt\t5000\n"), std::string::npos) << out;
    EXPECT_NE(out.find("s.rar\tb.bin\t120000\n"), std::string::npos) << out;
    EXPECT_NE(out.find("s.rar\tsub\t0\n"), std::string::npos) << out;
}

TEST_F(DvlRar, FailuresAreReportedWithTheirExitStatus) {
    Rar("p.rar", "-m0 -psecret");
    Rar("hp.rar", "-hpsecret");
    Rar("v.rar", "-m0 -v40k");
    ASSERT_TRUE(fs::exists(dir / "v.part3.rar"));
    fs::remove(dir / "v.part2.rar");
    Rar("plain.rar", "-m0");
    std::vector<uint8_t> bytes = test::ReadFile(dir / "plain.rar");
    const std::string text = Noise(120000, 1).substr(60000, 16);
    const auto at = std::search(bytes.begin(), bytes.end(), text.begin(), text.end(),
                                [](uint8_t a, char b) { return a == uint8_t(b); });
    ASSERT_NE(at, bytes.end());
    at[3] ^= 0xFF;
    test::WriteFile(dir / "bad.rar", bytes);

    struct Case {
        std::string args;
        int status;
        std::string output;
    } cases[] = {
        {"t --password secret p.rar", 0, "p.rar: ok\n"},
        {"x -o out1 p.rar", 1, "Password required (b.bin)\n"},
        {"t hp.rar", 2, "Password required (hp.rar)\n"},
        {"t bad.rar", 1, "CRC error (b.bin)\n"},
        {"x -o out2 v.part1.rar", 1,
         "Can't find file (" + (dir / "v.part2.rar").string() + ")\nVolume open error (b.bin)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        int status = -1;
        EXPECT_EQ(Dvl(c.args, &status), c.output);
        EXPECT_EQ(status, c.status);
    }
    EXPECT_FALSE(fs::exists(dir / "out2" / "sub" / "b.bin"));
}

// Encrypted entries and headers of older versions, with their passwords.
TEST(DvlRarFixtures, PasswordsOpenEncryptedEntriesAndHeaders) {
    const fs::path fixtures = test::PeerFixtures();
    if (fixtures.empty()) GTEST_SKIP() << "peer fixtures are absent";
    struct Case {
        const char* archive;
        const char* password;
    } cases[] = {
        {"Rar.encrypted_filesAndHeader.rar", "test"},
        {"Rar5.encrypted_filesOnly.rar", "test"},
        {"rar3-comment-hpsw.rar", "password"},
        {"rar5-hpsw.rar", "password"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        const std::string archive = (fixtures / "rar" / c.archive).string();
        int status = -1;
        std::string out = test::RunAndCapture(
            kDvl + " t --password " + c.password + " " + Quote(archive) + " 2>&1", &status);
        EXPECT_EQ(status, 0) << out;
        out =
            test::RunAndCapture(kDvl + " t --password wrong " + Quote(archive) + " 2>&1", &status);
        EXPECT_NE(status, 0) << out;
    }
}

// Self-extractors, of no type that detection knows, are opened by the library.
TEST(DvlRarFixtures, SelfExtractorsAreTakenAsRar) {
    const fs::path fixtures = test::PeerFixtures();
    if (fixtures.empty()) GTEST_SKIP() << "peer fixtures are absent";
    test::TempDir dir;
    for (const char* name : {"test_read_format_rar_sfx.exe", "testfile.rar5.wincon.sfx.exe",
                             "testfile.rar3.dos_sfx.exe", "rar5-crc.sfx"}) {
        SCOPED_TRACE(name);
        const fs::path archive = fixtures / "rar" / name;
        int status = -1;
        std::string out = test::RunAndCapture(kDvl + " t " + Quote(archive) + " 2>&1", &status);
        EXPECT_EQ(status, 0) << out;
        out = test::RunAndCapture(
            kDvl + " x -o " + Quote(dir / name) + " " + Quote(archive) + " 2>&1", &status);
        EXPECT_EQ(status, 0) << out;
        EXPECT_FALSE(fs::is_empty(dir / name));
    }
}

} // namespace
} // namespace dvl
