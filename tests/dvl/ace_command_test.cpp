// dvl x, t and l on the ACE peer fixtures, compared with what unace extracts
// from them, run as a user runs them.
#include "tests/support/ace_writer.h"
#include "tests/support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using test::Quote;

// Path below the folder -> content, of every plain file in it.
std::map<std::string, std::vector<uint8_t>> Tree(const fs::path& folder) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            files[fs::relative(e.path(), folder).string()] = test::ReadFile(e.path());
    return files;
}

class DvlAce : public ::testing::Test {
protected:
    void SetUp() override {
        fixtures = test::PeerFixtures();
        if (fixtures.empty()) GTEST_SKIP() << "peer fixtures are absent";
        fixtures /= "ace";
    }
    // Runs dvl in the temporary folder; returns stdout and stderr together.
    std::string Dvl(const std::string& args, int* status) {
        return test::RunAndCapture(
            "cd " + Quote(dir.Path()) + " && " + test::DvlProgram() + " " + args + " 2>&1", status);
    }

    fs::path fixtures;
    test::TempDir dir;
};

TEST_F(DvlAce, ExtractsTestsAndListsAsUnaceDoes) {
    DVL_REQUIRE_TOOL("unace");
    // Volume sets are copied whole; the second volume is found beside the first.
    for (const char* name : {"multivol2.ace", "multivol2.c00", "Ace.method2-solid.ace",
                             "Ace.method1.ace", "onefile.ace", "ALCHT.ACE"})
        fs::copy_file(fixtures / name, dir / name);
    for (const char* archive : {"multivol2.ace", "Ace.method2-solid.ace", "Ace.method1.ace",
                                "onefile.ace", "ALCHT.ACE"}) {
        SCOPED_TRACE(archive);
        const std::string stem = fs::path(archive).stem().string();
        fs::create_directories(dir / ("ref-" + stem));
        ASSERT_EQ(
            test::Run("unace x -y " + Quote(dir / archive) + " >/dev/null", dir / ("ref-" + stem)),
            0);
        const auto expected = Tree(dir / ("ref-" + stem));
        ASSERT_FALSE(expected.empty());

        int status = -1;
        std::string out = Dvl("x -o " + Quote("out-" + stem + "/deep") + " " + archive, &status);
        EXPECT_EQ(status, 0) << out;
        EXPECT_EQ(out, "");
        EXPECT_EQ(Tree(dir / ("out-" + stem) / "deep"), expected);

        out = Dvl(std::string("t ") + archive, &status);
        EXPECT_EQ(status, 0) << out;
        EXPECT_EQ(out, std::string(archive) + ": ok\n");

        // One row per entry, folders included: volume, stored name, size.
        out = Dvl(std::string("l ") + archive, &status);
        EXPECT_EQ(status, 0) << out;
        std::istringstream lines(out);
        std::string volume, name, size;
        size_t files = 0;
        while (std::getline(lines, volume, '\t') && std::getline(lines, name, '\t') &&
               std::getline(lines, size)) {
            std::replace(name.begin(), name.end(), '\\', '/');
            const auto found = expected.find(name);
            if (found == expected.end()) {
                EXPECT_TRUE(fs::is_directory(dir / ("ref-" + stem) / name)) << name;
                continue;
            }
            EXPECT_EQ(size, std::to_string(found->second.size())) << name;
            ++files;
        }
        EXPECT_EQ(files, expected.size());
    }
}

// Failures as error-log rows, and an ACE self-extractor taken as ACE.
TEST_F(DvlAce, FailuresAndSelfExtractors) {
    fs::copy_file(fixtures / "handmade" / "badcrc.ace", dir / "badcrc.ace");
    fs::copy_file(fixtures / "multivol2.ace", dir / "multivol2.ace");
    fs::copy_file(fixtures / "passwd2.ace", dir / "passwd2.ace");
    test::AceArchiveSpec sfx{.members = {{.name = "in.txt", .data = test::Bytes("inside")}}};
    sfx.sfxStub = test::Bytes(std::string("MZ") + std::string(510, '\x90'));
    test::WriteFile(dir / "sfx.exe", test::BuildAceArchive(sfx));
    struct Case {
        std::string args;
        int status;
        std::string output;
    } cases[] = {
        {"t badcrc.ace", 1, "CRC error (hello.txt)\n"},
        {"t multivol2.ace", 1,
         "Missing or corrupt archive file (multivol2.c00)\nRead error (multivol2\\sdl2.m4)\n"},
        {"t sfx.exe", 0, "sfx.exe: ok\n"},
        {"t passwd2.ace", 1, "file is encrypted (passwd2.m4)\n"},
        {"t --password 1234 passwd2.ace", 0, "passwd2.ace: ok\n"},
        {"l sfx.exe", 0, "sfx.exe\tin.txt\t6\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        int status = -1;
        EXPECT_EQ(Dvl(c.args, &status), c.output);
        EXPECT_EQ(status, c.status);
    }
    int status = -1;
    EXPECT_EQ(Dvl("x -o out sfx.exe", &status), "");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::ReadFile(dir / "out" / "in.txt"), test::Bytes("inside"));
}

} // namespace
} // namespace dvl
