// Hostile and odd archives, extracted as users extract them: by `dvl x` and
// by dvl2's back ends. Whatever the archive holds and whatever already lies in
// the destination, nothing is written outside it, no link is followed or
// made, and every entry not written as stored has a row of its own.
#include "tests/hostile/hostile_harness.h"

#include "platform/output_tree.h"
#include "tests/support/ace_lz77_encoder.h"
#include "tests/support/ace_writer.h"
#include "tests/support/rar5_edit.h"
#include "tests/support/zip_writer.h"

namespace dvl::hostile {
namespace {

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

// --- Formats of the extraction layer -------------------------------------

// GNU tar keeps names as --transform makes them when given -P: climbing,
// absolute and drive-letter names, a path through the planted link, a
// symbolic link entry and a hard link whose target climbs out.
TEST_F(Hostile, TarAndEncodedTextStayInsideTheDestination) {
    DVL_REQUIRE_TOOL("tar");
    const fs::path src = root_ / "src";
    fs::create_directories(src);
    test::WriteFile(src / "a.txt", std::string("a"));
    test::WriteFile(src / "l.txt", std::string("l"));
    fs::create_hard_link(src / "a.txt", src / "h.txt");
    fs::create_symlink("../../outside/victim.txt", src / "s.txt");
    const fs::path tar = in_ / "h.tar";
    const auto add = [&](const std::string& from, const std::string& to, const char* mode) {
        ASSERT_EQ(test::Run("tar -P " + std::string(mode) + " " + Quote(tar) +
                                " --transform=" + Quote("s," + from + "," + to + ",") + " " + from,
                            src),
                  0);
    };
    add("a.txt", "../../outside/victim.txt", "-cf"); // h.txt links to this name too
    add("h.txt", "h.txt", "-rf");
    add("l.txt", "/abs/abs.txt", "-rf");
    add("l.txt", "lnk/x.txt", "-rf");
    add("l.txt", "C:\\\\dos\\\\d.txt", "-rf");
    add("s.txt", "s.txt", "-rf");
    fs::remove_all(src);
    ExpectBoth(
        tar, "TAR", PlantLink, {"lnk"},
        {Coded("x.txt", kErrLinkInPath), Coded("s.txt", kErrLinkEntry)},
        {{"outside/victim.txt", "a"}, {"h.txt", "a"}, {"abs/abs.txt", "l"}, {"dos/d.txt", "l"}});

    // Text of more than 200 bytes, as detection by the extension asks.
    const std::string text = std::string(4, '\n') + std::string(200, '-') + "\n" +
                             "begin 644 ../../outside/victim.txt\n!80``\n`\nend\n"
                             "begin 644 lnk/x.txt\n!80``\n`\nend\n"
                             "begin 644 /abs/u.txt\n!80``\n`\nend\n";
    test::WriteFile(in_ / "h.uue", text);
    ExpectBoth(in_ / "h.uue", "UUE", PlantLink, {"lnk"}, {Coded("x.txt", kErrLinkInPath)},
               {{"outside/victim.txt", "a"}, {"abs/u.txt", "a"}});
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
    EXPECT_EQ(outcome.rows, (std::vector<Row>{Coded("3 of 5 entries", kErrDirectoryDamaged)}));

    const fs::path cabinet = test::PeerFixtures() / "cab" / "test_read_format_cab_1.cab";
    if (!fs::exists(cabinet)) GTEST_SKIP() << "peer fixtures are absent";
    std::vector<uint8_t> cab = test::ReadFile(cabinet);
    cab.resize(cab[16] + 30); // into the second file's record
    outcome = RunDvl(Save("cut.cab", cab), "l");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.rows, (std::vector<Row>{Coded("cut.cab", kErrUnexpectedEnd)}));
}

} // namespace
} // namespace dvl::hostile
