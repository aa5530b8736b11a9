// The CAB reader on cabinets made by gcab, on hand-built cabinet sets (for
// what no tool here writes: sets, reserve areas, damaged neighbours) and on
// the peer fixtures.
#include "archive/lister/lorvex.h"
#include "tests/archive/lister/listing.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using test::Listing;

// --- hand-built cabinets ----------------------------------------------------

struct CabFile {
    std::string name{};
    uint32_t size = 10;
    uint16_t folder = 0;
    uint16_t attributes = 0x20;
};

struct CabSpec {
    std::vector<CabFile> files{};
    std::string previous{}, next{}; // neighbours' names; empty when none
    uint16_t compression = 0;
    uint16_t headerReserve = 0; // a reserve area of this size when non-zero
    uint16_t folders = 1;
};

void PutText(std::vector<uint8_t>& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}
void Patch32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = uint8_t(v >> (8 * i));
}

constexpr uint16_t kDate = 0x3A8B, kTime = 0x7C21; // 2009-04-11 15:33:02

std::vector<uint8_t> BuildCab(const CabSpec& c) {
    std::vector<uint8_t> out = {'M', 'S', 'C', 'F'};
    const uint16_t flags =
        (c.previous.empty() ? 0 : 1) | (c.next.empty() ? 0 : 2) | (c.headerReserve ? 4 : 0);
    test::PutLe32(out, 0);
    test::PutLe32(out, 0); // cabinet size, patched
    test::PutLe32(out, 0);
    test::PutLe32(out, 0); // first file entry, patched
    test::PutLe32(out, 0);
    out.push_back(3); // version minor
    out.push_back(1); // version major
    test::PutLe16(out, c.folders);
    test::PutLe16(out, uint16_t(c.files.size()));
    test::PutLe16(out, flags);
    test::PutLe16(out, 1234); // set id
    test::PutLe16(out, 0);
    if (c.headerReserve) {
        test::PutLe16(out, c.headerReserve);
        out.push_back(0);
        out.push_back(0);
        out.resize(out.size() + c.headerReserve, 0xEE);
    }
    if (!c.previous.empty()) {
        PutText(out, c.previous);
        PutText(out, "disk before");
    }
    if (!c.next.empty()) {
        PutText(out, c.next);
        PutText(out, "disk after");
    }
    std::vector<size_t> folderOffsets;
    for (int i = 0; i < c.folders; ++i) {
        folderOffsets.push_back(out.size());
        test::PutLe32(out, 0); // first data block, patched
        test::PutLe16(out, 1);
        test::PutLe16(out, uint16_t(c.compression + i)); // each folder its own method
    }
    Patch32(out, 16, uint32_t(out.size()));
    for (const auto& f : c.files) {
        test::PutLe32(out, f.size);
        test::PutLe32(out, 0);
        test::PutLe16(out, f.folder);
        test::PutLe16(out, kDate);
        test::PutLe16(out, kTime);
        test::PutLe16(out, f.attributes);
        PutText(out, f.name);
    }
    for (size_t at : folderOffsets)
        Patch32(out, at, uint32_t(out.size()));
    test::PutLe32(out, 0);
    test::PutLe16(out, 32);
    test::PutLe16(out, 32);
    out.resize(out.size() + 32, 'd');
    Patch32(out, 8, uint32_t(out.size()));
    return out;
}

class CabReader : public ::testing::Test {
protected:
    fs::path Write(const std::string& name, const CabSpec& spec) {
        test::WriteFile(dir / name, BuildCab(spec));
        return dir / name;
    }
    test::KeepCurrentDir keep;
    test::TempDir dir;
};

TEST_F(CabReader, CabinetsMadeByGcab) {
    DVL_REQUIRE_TOOL("gcab");
    fs::create_directories(dir / "src" / "sub");
    test::WriteFile(dir / "src" / "a.txt", std::string(5000, 'a'));
    test::WriteFile(dir / "src" / "sub" / "c.txt", std::string("c"));
    test::WriteFile(dir / "src" / "\xC3\xBC.txt", std::string("u"));
    ASSERT_EQ(test::Run("touch -d '2004-05-06 07:08:10' a.txt sub/c.txt \xC3\xBC.txt && "
                        "gcab -c ../plain.cab a.txt sub/c.txt \xC3\xBC.txt && "
                        "gcab -cz ../packed.cab a.txt sub/c.txt \xC3\xBC.txt",
                        dir / "src"),
              0);
    const struct {
        const char* file;
        const char* method;
    } cases[] = {{"plain.cab", "Stored"}, {"packed.cab", "MsZIP"}};
    for (const auto& c : cases) {
        Listing out = test::List(dir / c.file);
        ASSERT_TRUE(out.result) << c.file;
        // Names flagged as UTF-8 are taken as they are.
        ASSERT_EQ(test::Names(out),
                  (std::vector<std::string>{"a.txt", "sub\\c.txt", "\xC3\xBC.txt"}))
            << c.file;
        for (const auto& e : out.entries) {
            EXPECT_EQ(e.date, "2004-05-06 07:08:10") << c.file;
            EXPECT_EQ(e.method, c.method) << c.file;
            EXPECT_EQ(e.packed, e.unpacked) << c.file;
            EXPECT_EQ(e.ratio, 0u) << c.file;
            EXPECT_EQ(e.crc, 0u) << c.file;
            EXPECT_EQ(e.volume, c.file);
            EXPECT_EQ(e.versionMadeBy, 3);
            EXPECT_EQ(e.versionNeeded, 1);
        }
        EXPECT_EQ(out.entries[0].unpacked, 5000);
        EXPECT_EQ(out.entries[0].externalAttr, 0x20u);
        EXPECT_EQ(out.entries[0].offset, 0x2C); // the first file entry
        EXPECT_EQ(out.totals, 3);
    }
}

TEST_F(CabReader, AFileSpreadOverASetIsListedOnceWhereItBegins) {
    Write("one.cab", {.files = {{"a.txt"}, {"big.bin", 70000, 0xFFFE}}, .next = "two.cab"});
    Write("two.cab", {.files = {{"big.bin", 70000, 0xFFFF}},
                      .previous = "one.cab",
                      .next = "three.cab",
                      .compression = 1});
    // A reserve area puts this cabinet's file table beyond the first one's end.
    Write("three.cab", {.files = {{"big.bin", 70000, 0xFFFD}, {"d.txt", 5, 1}},
                        .previous = "two.cab",
                        .compression = 0x1503,
                        .headerReserve = 2000,
                        .folders = 2});
    Listing out = test::List(dir / "one.cab");
    EXPECT_TRUE(out.result);
    EXPECT_TRUE(out.codes.empty());
    EXPECT_EQ(out.readFiles.size(), 5u);
    ASSERT_EQ(test::Names(out), (std::vector<std::string>{"a.txt", "big.bin", "d.txt"}));
    EXPECT_EQ(out.entries[1].volume, "one.cab");
    EXPECT_EQ(out.entries[2].volume, "three.cab");
    // A file's method is its folder's.
    EXPECT_EQ(out.entries[2].method, "Unknown"); // 0x1504: the second folder of three.cab
    EXPECT_EQ(out.entries[2].methodCode, 0x1504);
    EXPECT_EQ(out.entries[2].number, 3);
    EXPECT_EQ(out.totals, 3);
    EXPECT_EQ(out.totalUnpacked, 10 + 70000 + 5);
}

TEST_F(CabReader, ASetThatNamesAnEarlierCabinetEnds) {
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> cabinets; // name, next
        std::vector<std::string> names;
    } cases[] = {
        {"names itself", {{"self.cab", "SELF.CAB"}}, {"self.cab-file"}},
        {"goes round",
         {{"p.cab", "q.cab"}, {"q.cab", "r.cab"}, {"r.cab", "q.cab"}},
         {"p.cab-file", "q.cab-file", "r.cab-file"}},
    };
    for (const auto& c : cases) {
        for (const auto& [name, next] : c.cabinets)
            Write(name, {.files = {{name + "-file"}}, .next = next});
        Listing out = test::List(dir / c.cabinets[0].first);
        EXPECT_TRUE(out.result) << c.what;
        EXPECT_EQ(test::Names(out), c.names) << c.what;
        EXPECT_EQ(out.totals, int32_t(c.names.size())) << c.what;
    }
}

TEST_F(CabReader, ANextCabinetThatIsMissingOrDamaged) {
    fs::create_directory(dir / "elsewhere");
    Write("first.cab", {.files = {{"a.txt"}}, .next = "second.cab"});
    test::WriteFile(dir / "elsewhere" / "second.cab", BuildCab({.files = {{"b.txt"}}}));
    test::WriteFile(dir / "damaged.cab", std::string(200, 'x'));
    Write("to-damaged.cab", {.files = {{"a.txt"}}, .next = "damaged.cab"});
    const std::string elsewhere = test::Win(dir / "elsewhere") + "\\";

    enum Handler { None, Points, Declines };
    const struct {
        const char* what;
        const char* first;
        Handler handler;
        std::vector<std::string> names;
        std::vector<int32_t> codes;
    } cases[] = {
        {"no handler", "first.cab", None, {"a.txt"}, {25132}},
        {"a handler that knows where", "first.cab", Points, {"a.txt", "b.txt"}, {}},
        {"a handler that declines", "first.cab", Declines, {"a.txt"}, {}},
        {"damaged", "to-damaged.cab", None, {"a.txt"}, {25108}},
    };
    for (const auto& c : cases) {
        int asked = 0;
        Listing out = test::List(dir / c.first, [&](TLorvex& l) {
            if (c.handler == None) return;
            l.OnNextVolume = [&, c](TZipCommon*, std::string& d, std::string& fn,
                                    const std::string& volume, bool& cancel) {
                ++asked;
                EXPECT_EQ(fn, "second.cab");
                EXPECT_EQ(volume, "disk after");
                if (c.handler == Points)
                    d = elsewhere;
                else
                    cancel = true;
            };
        });
        EXPECT_TRUE(out.result) << c.what;
        EXPECT_EQ(test::Names(out), c.names) << c.what;
        EXPECT_EQ(out.codes, c.codes) << c.what;
        EXPECT_EQ(out.totals, int32_t(c.names.size())) << c.what;
        EXPECT_EQ(asked, c.handler == None ? 0 : 1) << c.what;
    }
}

TEST_F(CabReader, AMissingFirstCabinetIsAskedForBeforeAnythingOpens) {
    fs::create_directory(dir / "moved");
    auto path = Write("gone.cab", {.files = {{"a.txt"}}});
    test::KeepCurrentDir keep;
    Listing out;
    TLorvex lister(nullptr);
    test::Record(lister, out);
    lister.SetArchiveFile(test::Win(path));
    fs::rename(path, dir / "moved" / "gone.cab");
    lister.OnNextVolume = [&](TZipCommon*, std::string& d, std::string&, const std::string&,
                              bool&) {
        out.events.push_back("NextVolume");
        d = test::Win(dir / "moved") + "\\";
    };
    EXPECT_TRUE(lister.Activate());
    ASSERT_GE(out.events.size(), 2u);
    EXPECT_EQ(out.events[0], "NextVolume");
    EXPECT_EQ(out.events[1], "Activate");
    EXPECT_EQ(test::Names(out), std::vector<std::string>{"a.txt"});

    // Declined: nothing opens, no totals, and the result is still true.
    out = {};
    lister.SetArchiveFile(test::Win(dir / "moved" / "gone.cab"));
    fs::remove(dir / "moved" / "gone.cab");
    lister.OnNextVolume = [&](TZipCommon*, std::string&, std::string&, const std::string&,
                              bool& cancel) { cancel = true; };
    EXPECT_TRUE(lister.Activate());
    EXPECT_EQ(out.events, std::vector<std::string>{"Deactivate"});
}

TEST_F(CabReader, PeerCabinetSetListsItsFileOnce) {
    auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    Listing out = test::List(peer / "cab" / "test_read_format_cab_multi.p1.cab");
    EXPECT_TRUE(out.codes.empty());
    EXPECT_EQ(test::Names(out), std::vector<std::string>{"ones"});
    EXPECT_EQ(out.readFiles, (std::vector<std::string>{"ones", "ones"}));

    // The first cabinet alone: its neighbour is reported missing.
    fs::copy_file(peer / "cab" / "test_read_format_cab_multi.p1.cab", dir / "p1.cab");
    out = test::List(dir / "p1.cab");
    EXPECT_TRUE(out.result);
    EXPECT_EQ(out.codes, std::vector<int32_t>{25132});
    EXPECT_EQ(out.totals, 1);
}

} // namespace
} // namespace dvl
