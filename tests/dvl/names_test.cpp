// Entry names as users expect them: UTF-8 where the archive says or shows it,
// legacy names in the code page the user gives or a detector finds.
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

#include <sstream>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Quote;

class Names : public ::testing::Test {
protected:
    // The names dvl l gives (first field of --tsv), in order.
    std::vector<std::string> Listed(const fs::path& archive, const std::string& options = "",
                                    const std::string& environment = "") {
        std::istringstream out(test::RunAndCapture(environment + " " + test::DvlProgram() +
                                                   " l --tsv " + options + " " + Quote(archive)));
        std::vector<std::string> names;
        for (std::string line; std::getline(out, line);)
            names.push_back(line.substr(0, line.find('\t')));
        return names;
    }
    std::vector<std::string> Extracted(const fs::path& archive, const std::string& options = "") {
        fs::remove_all(dir / "out");
        test::RunAndCapture(test::DvlProgram() + " x -o " + Quote(dir / "out") + " " + options +
                            " " + Quote(archive));
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir / "out"))
            if (e.is_regular_file()) names.push_back(fs::relative(e.path(), dir / "out").string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TempDir dir;
};

std::vector<uint8_t> UnicodePathField(const std::string& stored, const std::string& utf8,
                                      bool rightCrc = true) {
    std::vector<uint8_t> field;
    test::PutLe16(field, 0x7075);
    test::PutLe16(field, uint32_t(5 + utf8.size()));
    field.push_back(1);
    test::PutLe32(field, test::Crc32(Bytes(stored)) ^ (rightCrc ? 0 : 1));
    field.insert(field.end(), utf8.begin(), utf8.end());
    return field;
}

TEST_F(Names, ZipNamesAreUtf8WhereTheArchiveSaysOrShowsIt) {
    const std::string cp437 = "Gr\x81\xE1"
                              "e.txt"; // Grüße in code page 437
    const struct {
        const char* what;
        test::ZipEntrySpec entry;
        const char* expected;
    } cases[] = {
        {"flag bit 11", {.name = "Grüße.txt", .flags = 0x0800}, "Grüße.txt"},
        {"Unicode path field",
         {.name = "Grusse.txt", .extra = UnicodePathField("Grusse.txt", "Grüße.txt")},
         "Grüße.txt"},
        {"field made for another name",
         {.name = cp437, .extra = UnicodePathField(cp437, "Other.txt", false)},
         "Grüße.txt"},
        {"Unix host, valid UTF-8", {.name = "Grüße.txt", .versionMadeBy = 0x0314}, "Grüße.txt"},
        {"Unix host, not UTF-8", {.name = cp437, .versionMadeBy = 0x0314}, "Grüße.txt"},
        {"MS-DOS host, code page 437", {.name = cp437}, "Grüße.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ZipWriter w;
        test::ZipEntrySpec entry = c.entry;
        entry.data = Bytes("data");
        w.Add(entry);
        test::WriteFile(dir / "n.zip", w.Build());
        EXPECT_EQ(Listed(dir / "n.zip"), std::vector<std::string>{c.expected});
        EXPECT_EQ(Extracted(dir / "n.zip"), std::vector<std::string>{c.expected});
    }
}

TEST_F(Names, ArchivesMadeByZipAndSevenZip) {
    DVL_REQUIRE_TOOL("zip");
    DVL_REQUIRE_TOOL("7zz");
    fs::create_directories(dir / "src");
    test::WriteFile(dir / "src" / "Grüße.txt", std::string("g"));
    ASSERT_EQ(test::Run("zip -q ../zip.zip Grüße.txt", dir / "src"), 0);
    ASSERT_EQ(test::Run("7zz a -tzip ../7z.zip Grüße.txt >/dev/null", dir / "src"), 0);
    for (const char* archive : {"zip.zip", "7z.zip"}) {
        SCOPED_TRACE(archive);
        EXPECT_EQ(Listed(dir / archive), std::vector<std::string>{"Grüße.txt"});
        EXPECT_EQ(Extracted(dir / archive), std::vector<std::string>{"Grüße.txt"});
    }
}

// Russian DOS names: found by the detector, or given; a code page given wins.
TEST_F(Names, LegacyNamesInTheirCodePage) {
    const std::string privet = "\xAF\xE0\xA8\xA2\xA5\xE2"; // привет in code page 866
    const std::string dokumenty = "\x84\xAE\xAA\xE3\xAC\xA5\xAD\xE2\xEB"; // Документы
    test::ZipWriter w;
    w.Add({.name = privet + ".txt", .data = Bytes("1")});
    w.Add({.name = dokumenty + "/" + privet + "2.txt", .data = Bytes("2")});
    test::WriteFile(dir / "ru.zip", w.Build());
    const std::vector<std::string> russian = {"привет.txt", "Документы\\привет2.txt"};
    EXPECT_EQ(Listed(dir / "ru.zip"), russian);
    EXPECT_EQ(Listed(dir / "ru.zip", "--codepage 866"), russian);
    EXPECT_EQ(Listed(dir / "ru.zip", "", "DOVREL_OEMCP=866"), russian);
    EXPECT_EQ(Listed(dir / "ru.zip", "--codepage 437")[0], "»α¿óÑΓ.txt");
    EXPECT_EQ(Extracted(dir / "ru.zip"),
              (std::vector<std::string>{"Документы/привет2.txt", "привет.txt"}));
    EXPECT_NE(test::RunAndCapture(test::DvlProgram() + " l --codepage nowhere " +
                                  Quote(dir / "ru.zip") + " 2>&1"),
              "");

    const fs::path peer = test::PeerFixtures() / "zip" / "test_read_format_zip_filename_cp866.zip";
    if (!fs::exists(peer)) GTEST_SKIP() << "peer fixtures are absent";
    EXPECT_EQ(Listed(peer), (std::vector<std::string>{"ПРИВЕТ", "привет"}));
}

// Japanese names of an LHA archive, in Shift-JIS (a level 0 header).
TEST_F(Names, ShiftJisNamesOfLha) {
    const auto level0 = [](const std::string& name, const std::string& data) {
        std::vector<uint8_t> h = {0, 0, '-', 'l', 'h', '0', '-'};
        test::PutLe32(h, uint32_t(data.size()));
        test::PutLe32(h, uint32_t(data.size()));
        test::PutLe32(h, 0x5A214C6A);
        h.push_back(0x20);
        h.push_back(0);
        h.push_back(uint8_t(name.size()));
        h.insert(h.end(), name.begin(), name.end());
        test::PutLe16(h, 0); // CRC-16 of the data, not looked at by a listing
        h[0] = uint8_t(h.size() - 2);
        uint8_t sum = 0;
        for (size_t i = 2; i < h.size(); ++i)
            sum = uint8_t(sum + h[i]);
        h[1] = sum;
        h.insert(h.end(), data.begin(), data.end());
        return h;
    };
    const std::string nihongo = "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x74\x83\x40\x83\x43\x83\x8B";
    const std::string document = "\x83\x68\x83\x4C\x83\x85\x83\x81\x83\x93\x83\x67";
    std::vector<uint8_t> archive = level0(nihongo + ".txt", "a");
    const std::vector<uint8_t> second = level0(document + ".txt", "b");
    archive.insert(archive.end(), second.begin(), second.end());
    archive.push_back(0);
    test::WriteFile(dir / "jp.lzh", archive);
    EXPECT_EQ(Listed(dir / "jp.lzh"),
              (std::vector<std::string>{"日本語のファイル.txt", "ドキュメント.txt"}));
}

} // namespace
} // namespace dvl
