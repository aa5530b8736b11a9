// dvl i, run as a user runs it, on archives made by real tools.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace dvl {
namespace {

using test::Quote;

const std::string& kDvl = test::DvlProgram();

TEST(DvlIdentify, OneLinePerArchive) {
    DVL_REQUIRE_TOOL("zip");
    DVL_REQUIRE_TOOL("tar");
    test::TempDir dir;
    test::WriteFile(dir / "a.txt", std::string(400, 'a'));
    ASSERT_EQ(test::Run("zip -q -X a.zip a.txt && tar cf a.t a.txt && uuencode a.txt a.txt > a.uue",
                        dir.Path()),
              0);
    int status = -1;
    std::string out = test::RunAndCapture(
        "cd " + Quote(dir.Path()) + " && " + kDvl + " i a.zip a.t a.uue a.txt", &status);
    EXPECT_EQ(status, 0);
    size_t zipSize = test::ReadFile(dir / "a.zip").size();
    size_t tSize = test::ReadFile(dir / "a.t").size();
    size_t uueSize = test::ReadFile(dir / "a.uue").size();
    EXPECT_EQ(out, "a.zip\tZIP\tStartOffset=1 ArchiveSize=" + std::to_string(zipSize) +
                       " SfxBase=0\n"
                       "a.t\tTAR\tStartOffset=1 ArchiveSize=" +
                       std::to_string(tSize) +
                       " SfxBase=0\n"
                       "a.uue\tUUE\tStartOffset=1 ArchiveSize=" +
                       std::to_string(uueSize) +
                       " SfxBase=0\n"
                       "a.txt\tUnknown\tStartOffset=1 ArchiveSize=400 SfxBase=0\n");
}

TEST(DvlIdentify, UnreadableFileAndUsageExitTwo) {
    test::TempDir dir;
    test::WriteFile(dir / "x.zip", std::string("PK\3\4......"));
    int status = -1;
    std::string out = test::RunAndCapture(
        kDvl + " i " + Quote(dir / "missing.zip") + " " + Quote(dir / "x.zip") + " 2>&1", &status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(out.find("25135 Error opening file ("), std::string::npos) << out;
    EXPECT_NE(out.find("x.zip\tZIP\t"), std::string::npos) << out; // the others still run
    test::RunAndCapture(kDvl + " i 2>/dev/null", &status);
    EXPECT_EQ(status, 2);
    test::RunAndCapture(kDvl + " frobnicate 2>/dev/null", &status);
    EXPECT_EQ(status, 2);
}

TEST(DvlIdentify, PeerFixtures) {
    auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    const std::pair<const char*, const char*> cases[] = {
        {"cab/t.cab", "CAB"},
        {"arj/t.arj", "ARJ"},
        {"lha/lha255e_lh5.lzh", "LHA"},
        {"rar/Rar5.rar", "RAR"},
        {"rar/Rar2.rar", "RAR"},
        {"gzip/t.txt.gz", "GZip"},
        {"arc/Arc.crunched.arc", "ARC"},
        {"arc/t.arc", "Unknown"},
        {"lha/lha213_sfx.exe", "LHA SFX"},
        {"compress/t.txt.Z", "GZip"},
    };
    for (auto [file, type] : cases) {
        std::string out = test::RunAndCapture(kDvl + " i " + Quote(peer / file));
        EXPECT_NE(out.find(std::string("\t") + type + "\t"), std::string::npos) << file << out;
    }
}

} // namespace
} // namespace dvl
