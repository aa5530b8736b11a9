// dvl l, run as a user or a script runs it.
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

namespace dvl {
namespace {

using test::Bytes;

namespace fs = std::filesystem;
using test::Quote;

const std::string& kDvl = test::DvlProgram();

class DvlList : public ::testing::Test {
protected:
    // Runs dvl in the temporary folder with stdin not a terminal; returns
    // stdout and stderr together, or what `pipe` makes of stdout.
    std::string Dvl(const std::string& args, int* status, const std::string& pipe = "") {
        return test::RunAndCapture("cd " + Quote(dir.Path()) + " && TZ=UTC0 " + kDvl + " " + args +
                                       " </dev/null " +
                                       (pipe.empty() ? "2>&1" : "2>/dev/null | " + pipe),
                                   status);
    }
    void MakeZip() {
        fs::create_directories(dir / "src" / "docs");
        test::WriteFile(dir / "src" / "docs" / "a.txt", std::string(5000, 'a'));
        test::WriteFile(dir / "src" / "b.bin", std::string("b"));
        ASSERT_EQ(test::Run("chmod 644 docs/a.txt b.bin && "
                            "touch -d '2005-06-07 08:09:10' docs/a.txt b.bin && "
                            "zip -q -X -9 ../t.zip docs docs/a.txt b.bin",
                            dir / "src"),
                  0);
    }
    test::TempDir dir;
};

TEST_F(DvlList, TsvAndJsonCarryTheSameFields) {
    DVL_REQUIRE_TOOL("zip");
    MakeZip();
    int status = -1;
    std::string tsv = Dvl("l --tsv t.zip", &status);
    EXPECT_EQ(status, 0) << tsv;
    // What deflate made of a.txt is zip's business; the rest is fixed.
    const size_t from = tsv.find('\t', tsv.find('\t') + 1) + 1;
    const std::string packed = tsv.substr(from, tsv.find('\t', from) - from);
    EXPECT_EQ(tsv, "docs\\a.txt\t2005-06-07 08:09:10\t" + packed +
                       "\t5000\t99\tDeflateX\t4CF45976\t2175008768\n"
                       "b.bin\t2005-06-07 08:09:10\t1\t1\t0\tStored\t71BEEFF9\t2175008768\n");

    std::string json = Dvl("l --json t.zip", &status);
    EXPECT_EQ(status, 0) << json;
    EXPECT_EQ(json, "{\"archive\":\"t.zip\",\"entries\":["
                    "{\"name\":\"docs\\\\a.txt\",\"date\":\"2005-06-07 08:09:10\",\"packed\":" +
                        packed +
                        ",\"unpacked\":5000,\"ratio\":99,\"crc\":\"4CF45976\","
                        "\"attributes\":2175008768,\"method\":\"DeflateX\"},"
                        "{\"name\":\"b.bin\",\"date\":\"2005-06-07 08:09:10\",\"packed\":1,"
                        "\"unpacked\":1,\"ratio\":0,\"crc\":\"71BEEFF9\",\"attributes\":2175008768,"
                        "\"method\":\"Stored\"}],"
                        "\"totals\":{\"files\":2,\"packed\":" +
                        std::to_string(std::stoll(packed) + 1) +
                        ",\"unpacked\":5001,\"ratio\":99}}\n");
}

TEST_F(DvlList, TextWithSpecAndBlankDirs) {
    DVL_REQUIRE_TOOL("zip");
    MakeZip();
    int status = -1;
    std::string out = Dvl("l t.zip", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("2005-06-07 08:09:10 "), std::string::npos) << out;
    EXPECT_NE(out.find("  5000  99% DeflateX 4CF45976 2175008768  docs\\a.txt\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("2 files, "), std::string::npos) << out;

    const struct {
        const char* options;
        const char* names;
    } cases[] = {
        {"--spec '*.bin'", "b.bin\n"},
        {"--blank-dirs", "docs\\\ndocs\\a.txt\nb.bin\n"},
        {"--spec '*.bin' --blank-dirs", "docs\\\nb.bin\n"},
    };
    for (const auto& c : cases) {
        out = Dvl(std::string("l --tsv ") + c.options + " t.zip", &status, "cut -f1");
        EXPECT_EQ(out, c.names) << c.options;
    }
}

TEST_F(DvlList, FailuresAndTheirExitStatus) {
    test::ZipWriter folders;
    folders.Add({.name = "only/", .externalAttr = 0x10});
    test::WriteFile(dir / "folders.zip", folders.Build());
    test::WriteFile(dir / "text.txt", std::string("no archive"));
    auto peer = test::PeerFixtures();
    if (!peer.empty())
        fs::copy_file(peer / "cab" / "test_read_format_cab_multi.p1.cab", dir / "first.cab");

    const struct {
        const char* args;
        int status;
        const char* output; // a part of what it prints
        bool needsPeer;
    } cases[] = {
        {"l missing.zip", 2, "25135 Error opening file (missing.zip)\n", false},
        {"l text.txt", 2, "25202 Unknown file type (text.txt)\n", false},
        {"l folders.zip", 1, "25108 Bad file header (folders.zip)\n", false},
        {"l --tsv first.cab", 1, "ones\t", true}, // the next cabinet is not there
        {"l --tsv first.cab", 1, "25132 File not found (first.cab)\n", true},
        {"l", 2, "usage: dvl l", false},
        {"l --tsv --json folders.zip", 2, "usage: dvl l", false},
        {"l --frobnicate folders.zip", 2, "usage: dvl l", false},
        {"l a.zip b.zip", 2, "usage: dvl l", false},
    };
    for (const auto& c : cases) {
        if (c.needsPeer && peer.empty()) continue;
        int status = -1;
        std::string out = Dvl(c.args, &status);
        EXPECT_EQ(status, c.status) << c.args << "\n" << out;
        EXPECT_NE(out.find(c.output), std::string::npos) << c.args << "\n" << out;
    }
}

TEST_F(DvlList, NamesThatWouldBreakTheLinesOrTheJson) {
    test::ZipWriter w;
    w.Add({.name = "tab\there.txt", .data = Bytes("t")});
    w.Add({.name = "bad-\xFF-utf8.txt", .data = Bytes("u"), .flags = 0x800});
    test::WriteFile(dir / "odd.zip", w.Build());
    int status = -1;
    std::string tsv = Dvl("l --tsv odd.zip", &status, "cut -f1");
    EXPECT_EQ(tsv, "tab?here.txt\nbad-\xFF-utf8.txt\n");
    std::string json = Dvl("l --json odd.zip", &status, "cat");
    EXPECT_NE(json.find("\"name\":\"tab\\u0009here.txt\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"name\":\"bad-\xEF\xBF\xBD-utf8.txt\""), std::string::npos) << json;
    if (test::HaveTool("python3")) {
        test::WriteFile(dir / "out.json", json);
        EXPECT_EQ(test::Run("python3 -m json.tool out.json >/dev/null", dir.Path()), 0);
    }
}

TEST_F(DvlList, AsksForAMissingVolumeOnATerminal) {
    DVL_REQUIRE_TOOL("script");
    auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    fs::create_directory(dir / "elsewhere");
    fs::copy_file(peer / "cab" / "test_read_format_cab_multi.p1.cab", dir / "p1.cab");
    fs::copy_file(peer / "cab" / "test_read_format_cab_multi.p2.cab",
                  dir / "elsewhere" / "test_read_format_cab_multi.p2.cab");
    const struct {
        std::string answer;
        int status;
        const char* output;
    } cases[] = {
        {(dir / "elsewhere").string(), 0, "ones\t"},
        {"", 1, "25132 File not found (test_read_format_cab_multi.p2.cab)"},
    };
    for (const auto& c : cases) {
        int status = -1;
        std::string out = test::RunAndCapture("cd " + Quote(dir.Path()) + " && printf '%s\\n' " +
                                                  Quote(c.answer) + " | script -qec " +
                                                  Quote(kDvl + " l --tsv p1.cab") + " /dev/null",
                                              &status);
        EXPECT_EQ(status, c.status) << out;
        EXPECT_NE(out.find("The next volume test_read_format_cab_multi.p2.cab is not in"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find(c.output), std::string::npos) << out;
    }
}

} // namespace
} // namespace dvl
