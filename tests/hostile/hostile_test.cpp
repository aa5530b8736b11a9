// Hostile and odd archives, extracted as users extract them: by `dvl x` and
// by dvl2's back ends. Whatever the archive holds and whatever already lies in
// the destination, nothing is written outside it, no link is followed or
// made, and every entry not written as stored has a row of its own.
#include "archive/errors.h"
#include "dvl2/core/front_end.h"
#include "platform/output_tree.h"
#include "platform/paths.h"
#include "tests/dvl2/harness.h"
#include "tests/support/ace_lz77_encoder.h"
#include "tests/support/ace_writer.h"
#include "tests/support/rar5_edit.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sstream>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Quote;

// A row as a person reads it: the entry it names and the error's text.
struct Row {
    std::string file, error;
    bool operator<(const Row& o) const { return std::tie(file, error) < std::tie(o.file, o.error); }
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << "{" << row.file << ", " << row.error << "}";
}

Row Coded(const std::string& file, int32_t code) {
    return {file, ErrorMessage(code)};
}

struct Outcome {
    int status = 0;
    std::vector<Row> rows;
};

// What a case expects besides its rows: files written (path below the
// destination -> content).
using Files = std::map<std::string, std::string>;

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(in_);
        fs::create_directories(outside_);
        test::WriteFile(outside_ / "victim.txt", std::string("keep"));
    }
    void TearDown() override { fs::current_path(cwd_); }

    fs::path Save(const std::string& name, const std::vector<uint8_t>& bytes) {
        test::WriteFile(in_ / name, bytes);
        return in_ / name;
    }

    // A fresh destination prepared by `setup` (links planted in it).
    void FreshDestination(const std::function<void(const fs::path&)>& setup) {
        fs::remove_all(dest_);
        fs::create_directories(dest_);
        if (setup) setup(dest_);
    }

    // dvl x -o dest ARCHIVE; rows from its error lines ("[code ]text (file)").
    Outcome RunDvl(const fs::path& archive, const std::string& command = "x -o") {
        Outcome outcome;
        const std::string target = command == "x -o" ? Quote(dest_) + " " : std::string();
        const std::string err = test::RunAndCapture(
            test::DvlProgram() + " " + command + " " + target + Quote(archive) + " 2>&1 >/dev/null",
            &outcome.status);
        std::istringstream lines(err);
        for (std::string line; std::getline(lines, line);) {
            const size_t open = line.rfind(" (");
            if (open == std::string::npos || line.back() != ')') {
                outcome.rows.push_back({"", line});
                continue;
            }
            std::string error = line.substr(0, open);
            if (error.size() > 6 && std::isdigit(uint8_t(error[0])) && error[5] == ' ')
                error.erase(0, 6);
            outcome.rows.push_back({line.substr(open + 2, line.size() - open - 3), error});
        }
        return outcome;
    }

    // dvl2's back end for the format, extracting (or testing) into dest.
    Outcome RunDvl2(const fs::path& archive, const std::string& format,
                    int mode = dvl2::kModeExtract) {
        dvl2::test::MessageBoxes boxes;
        dvl2::test::ScriptedView view;
        dvl2::FrontEnd frontEnd(view);
        dvl2::FrontState& state = frontEnd.State();
        state.ArchivePath = platform::ToWindowsPath(archive.string());
        state.ArchiveFormat = format;
        state.DestFolder = platform::ToWindowsPath(dest_.string()) + "\\";
        state.Mode = mode;
        frontEnd.RunOperation();
        Outcome outcome;
        for (const auto& row : view.log) {
            // The ZIP back end's rows carry the error's code.
            const bool coded = !row.error.empty() && std::isdigit(uint8_t(row.error[0]));
            outcome.rows.push_back(
                {row.file, coded ? ErrorMessage(std::stoi(row.error)) : row.error});
        }
        for (const auto& box : boxes.shown)
            outcome.rows.push_back({"box", box.text});
        outcome.status = outcome.rows.empty() ? 0 : 1;
        return outcome;
    }

    // Nothing but the victim outside the destination, untouched, and no link
    // in the destination that the case did not plant.
    void ExpectNothingOutside(const std::vector<std::string>& plantedLinks) {
        std::vector<std::string> top;
        for (const auto& e : fs::directory_iterator(root_.Path()))
            top.push_back(e.path().filename().string());
        std::sort(top.begin(), top.end());
        EXPECT_EQ(top, (std::vector<std::string>{"dest", "in", "outside"}));
        std::vector<std::string> outside;
        for (const auto& e : fs::recursive_directory_iterator(outside_))
            outside.push_back(fs::relative(e.path(), outside_).string());
        EXPECT_EQ(outside, std::vector<std::string>{"victim.txt"});
        EXPECT_EQ(test::ReadText(outside_ / "victim.txt"), "keep");
        // find walks folders deeper than a path may be long.
        std::istringstream links(
            test::RunAndCapture("cd " + Quote(dest_) + " && find . -type l -printf '%P\\n'"));
        for (std::string link; std::getline(links, link);)
            EXPECT_NE(std::find(plantedLinks.begin(), plantedLinks.end(), link), plantedLinks.end())
                << link << " is a link the archive made";
    }

    void ExpectFiles(const Files& files) {
        for (const auto& [path, content] : files)
            EXPECT_EQ(test::ReadText(dest_ / path), content) << path;
    }

    // Runs the archive through dvl and dvl2 into a fresh destination each
    // time, and checks rows, written files and the space outside.
    void ExpectBoth(const fs::path& archive, const std::string& format,
                    const std::function<void(const fs::path&)>& setup,
                    const std::vector<std::string>& plantedLinks, std::vector<Row> rows,
                    const Files& files) {
        std::sort(rows.begin(), rows.end());
        for (const bool viaDvl2 : {false, true}) {
            SCOPED_TRACE(viaDvl2 ? "dvl2" : "dvl");
            FreshDestination(setup);
            Outcome outcome = viaDvl2 ? RunDvl2(archive, format) : RunDvl(archive);
            std::sort(outcome.rows.begin(), outcome.rows.end());
            EXPECT_EQ(outcome.rows, rows);
            EXPECT_EQ(outcome.status, rows.empty() ? 0 : 1);
            ExpectFiles(files);
            ExpectNothingOutside(plantedLinks);
        }
    }

    // The link every case plants: dest/lnk -> ../outside.
    static void PlantLink(const fs::path& dest) { fs::create_symlink("../outside", dest / "lnk"); }

    fs::path cwd_ = fs::current_path();
    test::TempDir root_;
    fs::path dest_ = root_ / "dest";
    fs::path in_ = root_ / "in";
    fs::path outside_ = root_ / "outside";
};

// --- ZIP ----------------------------------------------------------------

TEST_F(Hostile, ZipNeverWritesThroughALinkInThePathOrInTheFilesPlace) {
    test::ZipWriter w;
    w.Add({.name = "lnk/x.txt", .data = Bytes("x")});
    w.Add({.name = "LNK/y.txt", .data = Bytes("y")}); // another folder: names keep their case
    w.Add({.name = "deep/lnk/z.txt", .data = Bytes("z")});
    w.Add({.name = "victim.txt", .data = Bytes("archive")});
    w.Add({.name = "ok.txt", .data = Bytes("ok")});
    const fs::path archive = Save("links.zip", w.Build());
    const auto setup = [](const fs::path& dest) {
        PlantLink(dest);
        fs::create_directories(dest / "deep");
        fs::create_symlink("../../outside", dest / "deep" / "lnk");
        fs::create_symlink("../outside/victim.txt", dest / "victim.txt");
    };
    ExpectBoth(archive, "ZIP", setup, {"lnk", "deep/lnk", "victim.txt"},
               {Coded("x.txt", kErrLinkInPath), Coded("z.txt", kErrLinkInPath),
                Coded("victim.txt", kErrLinkInPath)},
               {{"LNK/y.txt", "y"}, {"ok.txt", "ok"}});
}

TEST_F(Hostile, ZipNamesTheFileSystemCannotHoldAsStored) {
    const std::string longName = std::string(300, 'n') + ".txt";
    const std::string fitted = platform::FittedName(longName);
    std::string deepPath; // longer than a path may be in one system call
    for (int i = 0; i < 25; ++i)
        deepPath += std::string(200, char('a' + i)) + "/";
    test::ZipWriter w;
    w.Add({.name = "what?.txt", .data = Bytes("q")});
    w.Add({.name = longName, .data = Bytes("long")});
    w.Add({.name = deepPath + "deep.txt", .data = Bytes("deep")});
    w.Add({.name = std::string("cut\0tail.txt", 12), .data = Bytes("cut")});
    w.Add({.name = std::string("\0first.txt", 10), .data = Bytes("lost")});
    w.Add({.name = "..", .data = Bytes("dots")});
    w.Add({.name = "after.txt", .data = Bytes("after")});
    const fs::path archive = Save("names.zip", w.Build());
    ExpectBoth(archive, "ZIP", nullptr, {},
               {Coded(fitted, kErrNameChanged), Coded("cut", kErrNameChanged),
                Coded("\u2400first.txt", kErrInvalidFileName), Coded("..", kErrInvalidFileName)},
               {{"what?.txt", "q"}, {fitted, "long"}, {"cut", "cut"}, {"after.txt", "after"}});
    // The deep file is there, reached folder by folder.
    EXPECT_EQ(test::RunAndCapture("cd " + Quote(dest_) + " && find . -name deep.txt | wc -l"),
              "1\n");
}

// --- ACE ----------------------------------------------------------------

TEST_F(Hostile, AceNeverWritesThroughALinkAndKeepsItsSolidStream) {
    // A solid archive: the refused member is still decoded for the next one.
    test::AceArchiveSpec spec;
    spec.solid = true;
    std::vector<uint8_t> history;
    for (const char* name : {"a.txt", "lnk\\x.txt", "c.txt"}) {
        test::AceMemberSpec m;
        m.name = name;
        const std::string text = std::string(name) + ": the quick brown fox jumps. ";
        for (int repeat = 0; repeat < 30; ++repeat)
            m.data.insert(m.data.end(), text.begin(), text.end());
        m.compType = 1;
        m.quality = 3;
        m.parm = 10;
        m.packed = test::EncodeAceLz77(test::ParseAceLz77(m.data, history, 20));
        history.insert(history.end(), m.data.begin(), m.data.end());
        spec.members.push_back(m);
    }
    const std::string longName = std::string(280, 'e') + ".txt";
    spec.members.push_back({.name = longName, .data = Bytes("long")});
    const fs::path archive = Save("links.ace", test::BuildAceArchive(spec));
    const std::string c(spec.members[2].data.begin(), spec.members[2].data.end());
    ExpectBoth(archive, "ACE", PlantLink, {"lnk"},
               {{"lnk\\x.txt", ErrorMessage(kErrLinkInPath)},
                // The header record holds 259 bytes of a name.
                {longName.substr(0, 259), ErrorMessage(kErrNameChanged)}},
               {{"c.txt", c}, {platform::FittedName(longName), "long"}});
}

// --- RAR ----------------------------------------------------------------

class HostileRar : public Hostile {
protected:
    void SetUp() override {
        DVL_REQUIRE_TOOL("rar");
        Hostile::SetUp();
    }
    // rar a ARCHIVE FILES... in a folder of files (name -> content; a name
    // ending in "@" + target is made a symbolic link to the target).
    fs::path MakeRar(const std::string& name, const std::map<std::string, std::string>& files,
                     const std::string& options = "") {
        const fs::path src = root_ / "src";
        fs::remove_all(src);
        std::string names;
        for (const auto& [file, content] : files) {
            fs::create_directories((src / file).parent_path());
            if (content.rfind("@", 0) == 0)
                fs::create_symlink(content.substr(1), src / file);
            else
                test::WriteFile(src / file, content);
            names += " " + Quote(file);
        }
        EXPECT_EQ(test::Run("rar a -inul " + options + " " + Quote(in_ / name) + names, src), 0);
        fs::remove_all(src);
        return in_ / name;
    }
};

TEST_F(HostileRar, NeverWritesThroughALinkNorMakesOne) {
    const fs::path archive = MakeRar("links.rar",
                                     {{"lnk/x.txt", "x"},
                                      {"LNK/y.txt", "y"},
                                      {"real.txt", "real"},
                                      {"rel.lnk", "@real.txt"},
                                      {"abs.lnk", "@/etc/passwd"},
                                      {"esc.lnk", "@../../outside"}},
                                     "-ol");
    ExpectBoth(archive, "RAR", PlantLink, {"lnk"},
               {{"x.txt", ErrorMessage(kErrLinkInPath)},
                {"rel.lnk", ErrorMessage(kErrLinkEntry)},
                {"abs.lnk", ErrorMessage(kErrLinkEntry)},
                {"esc.lnk", ErrorMessage(kErrLinkEntry)}},
               {{"LNK/y.txt", "y"}, {"real.txt", "real"}});
}

TEST_F(HostileRar, HardLinksStayInsideAndOverlongNamesAreNamed) {
    const fs::path src = root_ / "src";
    fs::create_directories(src);
    test::WriteFile(src / "real.txt", std::string("real"));
    fs::create_hard_link(src / "real.txt", src / "hard.txt");
    const std::string shortName = std::string(250, 'n') + ".txt";
    test::WriteFile(src / shortName, std::string("long"));
    test::WriteFile(src / "after.txt", std::string("after"));
    ASSERT_EQ(test::Run("rar a -inul -oh " + Quote(in_ / "h.rar") + " real.txt hard.txt " +
                            Quote(shortName) + " after.txt",
                        src),
              0);
    fs::remove_all(src);
    // A name longer than any file system takes, as no archiver here can write.
    const std::string longName = std::string(300, 'n') + ".txt";
    std::vector<uint8_t> bytes = test::ReadFile(in_ / "h.rar");
    ASSERT_TRUE(test::EditRar5FileHeader(bytes, shortName,
                                         [&](test::Rar5FileHeader& h) { h.name = longName; }));
    const fs::path archive = Save("h.rar", bytes);
    ExpectBoth(archive, "RAR", nullptr, {}, {{longName, ErrorMessage(kErrInvalidFileName)}},
               {{"real.txt", "real"}, {"hard.txt", "real"}, {"after.txt", "after"}});
}

// A later header the library finds broken ends the walk with a row: the
// archive never tests "ok".
TEST_F(HostileRar, BrokenLaterHeaderIsNeverOk) {
    const fs::path made = MakeRar("o.rar", {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
    std::vector<uint8_t> bytes = test::ReadFile(made);
    size_t start = 0;
    test::Rar5FileHeader header;
    ASSERT_TRUE(test::FindRar5FileHeader(bytes, "b.txt", start, header));
    bytes[start] ^= 0xFF; // the header's CRC
    const fs::path archive = Save("o.rar", bytes);
    const Outcome viaDvl = RunDvl(archive, "t");
    EXPECT_EQ(viaDvl.status, 1);
    const Outcome viaDvl2 = RunDvl2(archive, "RAR", dvl2::kModeTest);
    for (const Outcome& outcome : {viaDvl, viaDvl2}) {
        ASSERT_EQ(outcome.rows.size(), 1u);
        EXPECT_EQ(outcome.rows[0].error, "File header broken");
    }
}

// --- Listing ------------------------------------------------------------

TEST_F(Hostile, ListingsThatStopOnDamageFail) {
    test::ZipWriter w;
    for (int i = 0; i < 5; ++i)
        w.Add({.name = "f" + std::to_string(i) + ".txt", .data = Bytes("data")});
    std::vector<uint8_t> zip = w.Build();
    // The third central header's signature damaged.
    const std::vector<uint8_t> central = {'P', 'K', 1, 2};
    auto at = std::search(zip.begin(), zip.end(), central.begin(), central.end());
    for (int k = 0; k < 2; ++k)
        at = std::search(at + 1, zip.end(), central.begin(), central.end());
    at[2] = 0x33;
    Outcome outcome = RunDvl(Save("cd.zip", zip), "l");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.rows, (std::vector<Row>{Coded("cd.zip", kErrBadFileHeader)}));

    const fs::path cabinet = test::PeerFixtures() / "cab" / "test_read_format_cab_1.cab";
    if (!fs::exists(cabinet)) GTEST_SKIP() << "peer fixtures are absent";
    std::vector<uint8_t> cab = test::ReadFile(cabinet);
    cab.resize(cab[16] + 30); // into the second file's record
    outcome = RunDvl(Save("cut.cab", cab), "l");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.rows, (std::vector<Row>{Coded("cut.cab", kErrUnexpectedEnd)}));
}

} // namespace
} // namespace dvl
