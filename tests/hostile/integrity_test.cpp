// Archives that would destroy themselves, damaged directories, entries that
// claim more than they hold, and writes that fail: nothing read is destroyed,
// nothing damaged passes, and no file that looks complete is left when an
// entry fails.
#include "tests/hostile/hostile_harness.h"

#include "tests/support/rar5_edit.h"
#include "tests/support/zip_writer.h"

namespace dvl::hostile {
namespace {

using Integrity = Hostile;
using IntegrityRar = HostileRar;

// An entry with the archive's own name, extracted into the archive's folder,
// by name or, with --flat, from any folder: refused, and the archive extracts
// to its end.
TEST_F(Integrity, AnArchiveIsNeverReplacedByItsOwnEntry) {
    test::ZipWriter w;
    w.Add({.name = "self.zip", .data = Bytes("entry")});
    w.Add({.name = "sub/self.zip", .data = Bytes("entry")});
    w.Add({.name = "after.txt", .data = Bytes("after")});
    const std::vector<uint8_t> bytes = w.Build();
    const fs::path archive = Save("self.zip", bytes);

    Outcome outcome = RunDvl(archive, "x", "--flat", in_);
    EXPECT_EQ(outcome.rows, (std::vector<Row>{Coded("self.zip", kErrWouldReplaceArchive),
                                              Coded("self.zip", kErrWouldReplaceArchive)}));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(test::ReadFile(archive), bytes);
    EXPECT_EQ(test::ReadText(in_ / "after.txt"), "after");

    fs::remove(in_ / "after.txt");
    outcome = RunDvl2(archive, "ZIP", dvl2::kModeExtract, in_);
    EXPECT_EQ(outcome.rows, (std::vector<Row>{Coded("self.zip", kErrWouldReplaceArchive)}));
    EXPECT_EQ(test::ReadFile(archive), bytes);
    EXPECT_EQ(test::ReadText(in_ / "sub" / "self.zip"), "entry");
    EXPECT_EQ(test::ReadText(in_ / "after.txt"), "after");
}

TEST_F(IntegrityRar, AnArchiveIsNeverReplacedByItsOwnEntry) {
    const fs::path src = root_ / "src";
    fs::create_directories(src);
    test::WriteFile(src / "own.rar", std::string("entry"));
    test::WriteFile(src / "after.txt", std::string("after"));
    ASSERT_EQ(test::Run("rar a -inul " + Quote(in_ / "own.rar") + " own.rar after.txt", src), 0);
    fs::remove_all(src);
    const std::vector<uint8_t> bytes = test::ReadFile(in_ / "own.rar");
    for (const bool viaDvl2 : {false, true}) {
        SCOPED_TRACE(viaDvl2 ? "dvl2" : "dvl");
        const Outcome outcome = viaDvl2 ? RunDvl2(in_ / "own.rar", "RAR", dvl2::kModeExtract, in_)
                                        : RunDvl(in_ / "own.rar", "x", "", in_);
        EXPECT_EQ(outcome.rows,
                  (std::vector<Row>{{"own.rar", ErrorMessage(kErrWouldReplaceArchive)}}));
        EXPECT_EQ(test::ReadFile(in_ / "own.rar"), bytes);
        EXPECT_EQ(test::ReadText(in_ / "after.txt"), "after");
    }
}

// A central directory damaged after its second header: the entries before
// it extract, the rest are counted in a row, and a test fails.
TEST_F(Integrity, ADamagedDirectoryNeverPasses) {
    test::ZipWriter w;
    for (int i = 0; i < 5; ++i)
        w.Add({.name = "f" + std::to_string(i) + ".txt", .data = Bytes("data")});
    std::vector<uint8_t> zip = w.Build();
    const std::vector<uint8_t> central = {'P', 'K', 1, 2};
    auto at = std::search(zip.begin(), zip.end(), central.begin(), central.end());
    at = std::search(at + 1, zip.end(), central.begin(), central.end());
    at = std::search(at + 1, zip.end(), central.begin(), central.end());
    at[3] = 9;
    const fs::path archive = Save("cd.zip", zip);
    const std::vector<Row> rows = {Coded("3 of 5 entries", kErrDirectoryDamaged)};

    Outcome outcome = RunDvl(archive, "t");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.rows, rows);
    ExpectBoth(archive, "ZIP", nullptr, {}, rows, {{"f0.txt", "data"}, {"f1.txt", "data"}});
}

// Many central entries pointing at one stream claim far more than the
// archive holds: the first extracts, the others are refused at once. Sizes
// that disagree with the data are errors even when the CRC agrees, and an
// entry never decodes to more than its stored size.
TEST_F(Integrity, EntriesNeverClaimMoreThanTheArchiveHolds) {
    const std::vector<uint8_t> kernel(100000, 'k');
    test::ZipWriter w;
    w.Add({.name = "bomb0.bin", .data = kernel});
    std::vector<Row> rows;
    for (int i = 1; i < 200; ++i) {
        w.Add({.name = "bomb" + std::to_string(i) + ".bin", .data = kernel, .sharesDataWith = 0});
        rows.push_back(Coded("bomb" + std::to_string(i) + ".bin", kErrOverlappingData));
    }
    w.Add({.name = "claims4g.txt", .data = Bytes("four"), .sizeOverride = 0xFFFFFFF0});
    rows.push_back(Coded("claims4g.txt", kErrSizeDifferent));
    w.Add({.name = "claims2.txt", .data = Bytes("four"), .sizeOverride = 2});
    rows.push_back(Coded("claims2.txt", kErrSizeDifferent));
    w.Add({.name = "fine.txt", .data = Bytes("fine")});
    const fs::path archive = Save("bomb.zip", w.Build());
    std::sort(rows.begin(), rows.end());

    Outcome outcome = RunDvl(archive, "t");
    std::sort(outcome.rows.begin(), outcome.rows.end());
    EXPECT_EQ(outcome.rows, rows);
    ExpectBoth(archive, "ZIP", nullptr, {}, rows,
               {{"bomb0.bin", std::string(kernel.begin(), kernel.end())}, {"fine.txt", "fine"}});
    EXPECT_FALSE(fs::exists(dest_ / "bomb1.bin"));
    EXPECT_FALSE(fs::exists(dest_ / "claims4g.txt"));
    EXPECT_FALSE(fs::exists(dest_ / "claims2.txt"));
}

// A failed entry leaves no file that looks complete, and the file it would
// have replaced stays; --keep-broken keeps it under a name that says so.
TEST_F(Integrity, AFailedEntryLeavesNoFileThatLooksComplete) {
    test::ZipWriter w;
    w.Add({.name = "bad.txt", .data = Bytes("new but damaged"), .crcOverride = 1});
    w.Add({.name = "good.txt", .data = Bytes("good")});
    const fs::path archive = Save("bad.zip", w.Build());
    const auto oldFile = [](const fs::path& dest) {
        test::WriteFile(dest / "bad.txt", std::string("old"));
    };
    ExpectBoth(archive, "ZIP", oldFile, {}, {Coded("bad.txt", kErrFailsCrc)},
               {{"bad.txt", "old"}, {"good.txt", "good"}});
    for (const auto& e : fs::directory_iterator(dest_))
        EXPECT_EQ(e.path().filename().string().rfind(".dvl", 0), std::string::npos) << e.path();

    FreshDestination(nullptr);
    RunDvl(archive, "x", "--keep-broken");
    EXPECT_FALSE(fs::exists(dest_ / "bad.txt"));
    EXPECT_EQ(test::ReadText(dest_ / "bad.txt.broken"), "new but damaged");
}

// On a full disk the entry that filled it leaves nothing, nor harms the file
// it would replace, and every later entry is named, not written.
TEST_F(Integrity, AFullDiskStopsWritingAndNamesWhatWasNotWritten) {
    test::SmallDisk disk(64 * 1024);
    DVL_REQUIRE_SMALL_DISK(disk);
    std::vector<uint8_t> big(300000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7 + i / 13);
    test::ZipWriter w;
    w.Add({.name = "big.bin", .data = big});
    w.Add({.name = "small1.txt", .data = Bytes("one")});
    w.Add({.name = "small2.txt", .data = Bytes("two")});
    const fs::path archive = Save("full.zip", w.Build());
    const std::vector<Row> rows = {Coded("big.bin", kErrDiskFull),
                                   Coded("small1.txt", kErrDiskFull),
                                   Coded("small2.txt", kErrDiskFull)};
    for (const bool viaDvl2 : {false, true}) {
        SCOPED_TRACE(viaDvl2 ? "dvl2" : "dvl");
        for (const auto& e : fs::directory_iterator(disk.Path()))
            fs::remove_all(e.path());
        test::WriteFile(disk.Path() / "big.bin", std::string("old"));
        Outcome outcome = viaDvl2 ? RunDvl2(archive, "ZIP", dvl2::kModeExtract, disk.Path())
                                  : RunDvl(archive, "x", "", disk.Path());
        // dvl2 also shows the engine's message box for the stored entry's
        // short write.
        std::vector<Row> expected = rows;
        if (viaDvl2) expected.push_back({"box", ErrorMessage(kErrWritingFile)});
        std::sort(expected.begin(), expected.end());
        std::sort(outcome.rows.begin(), outcome.rows.end());
        EXPECT_EQ(outcome.rows, expected);
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(disk.Path()))
            left.push_back(e.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string>{"big.bin"});
        EXPECT_EQ(test::ReadText(disk.Path() / "big.bin"), "old");
    }
}

// A RAR archive cut at a header boundary, which the library walks to its
// "end" without a word, never tests "ok".
TEST_F(IntegrityRar, AnArchiveCutAtAHeaderNeverPasses) {
    const fs::path made = MakeRar("cut.rar", {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
    std::vector<uint8_t> bytes = test::ReadFile(made);
    size_t start = 0;
    test::Rar5FileHeader header;
    ASSERT_TRUE(test::FindRar5FileHeader(bytes, "c.txt", start, header));
    bytes.resize(start);
    const fs::path archive = Save("cut.rar", bytes);
    const Outcome viaDvl = RunDvl(archive, "t");
    EXPECT_EQ(viaDvl.status, 1);
    const Outcome viaDvl2 = RunDvl2(archive, "RAR", dvl2::kModeTest);
    for (const Outcome& outcome : {viaDvl, viaDvl2}) {
        ASSERT_EQ(outcome.rows.size(), 1u);
        EXPECT_EQ(outcome.rows[0].error, "Unexpected end of archive");
    }
}

} // namespace
} // namespace dvl::hostile
