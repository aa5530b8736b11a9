#include "platform/pe_resources.h"

#include "platform/paths.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

namespace dvl::platform {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::TempDir;
using test::WriteFile;

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// A minimal PE image with one ".rsrc" section holding string tables, with the
// offsets of the fields that the malformed cases change.
struct Image {
    std::vector<uint8_t> bytes;
    size_t pe = 0x80, optional = 0, sectionTable = 0, resources = 0x200;
    size_t typeDirectory = 0x18, firstLanguage = 0, firstDataEntry = 0, firstData = 0;
};

constexpr uint32_t kResourceRva = 0x1000;

// blocks: block id -> its (up to 16) strings. `alias` repeats block entries
// that all point at the first block's data.
Image BuildImage(const std::map<uint16_t, std::vector<std::u16string>>& blocks, bool pe32plus,
                 int alias = 0) {
    Image img;
    std::vector<uint8_t> res;
    const size_t entries = blocks.size() + size_t(alias);
    // Root: one id entry, RT_STRING.
    Put16(res, 14, 1);
    Put32(res, 16, 6);
    Put32(res, 20, 0x80000000u | 0x18);
    // The type directory, then per block a language directory, a data entry
    // and the data.
    Put16(res, 0x18 + 14, uint32_t(entries));
    size_t at = 0x28 + entries * 8;
    size_t k = 0;
    for (const auto& [id, strings] : blocks) {
        const size_t language = at, dataEntry = at + 24, data = at + 40;
        Put32(res, 0x28 + k * 8, id);
        Put32(res, 0x28 + k * 8 + 4, 0x80000000u | uint32_t(language));
        Put16(res, language + 14, 1);
        Put32(res, language + 16, 0x409);
        Put32(res, language + 20, uint32_t(dataEntry));
        size_t p = data;
        for (size_t i = 0; i < 16; ++i) {
            const std::u16string s = i < strings.size() ? strings[i] : u"";
            Put16(res, p, uint32_t(s.size()));
            for (char16_t c : s)
                Put16(res, p += 2, c);
            p += 2;
        }
        Put32(res, dataEntry, kResourceRva + uint32_t(data));
        Put32(res, dataEntry + 4, uint32_t(p - data));
        if (k == 0) {
            img.firstLanguage = language;
            img.firstDataEntry = dataEntry;
            img.firstData = data;
        }
        at = (p + 3) & ~size_t(3);
        ++k;
    }
    for (int i = 0; i < alias; ++i, ++k) {
        Put32(res, 0x28 + k * 8, uint32_t(1000 + i));
        Put32(res, 0x28 + k * 8 + 4, 0x80000000u | uint32_t(img.firstLanguage));
    }
    res.resize(at);

    std::vector<uint8_t>& b = img.bytes;
    b.assign(0x200, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, uint32_t(img.pe));
    Put32(b, img.pe, 0x00004550);
    Put16(b, img.pe + 4, pe32plus ? 0x8664 : 0x14C);
    Put16(b, img.pe + 6, 1);
    const uint32_t optionalSize = pe32plus ? 240 : 224;
    Put16(b, img.pe + 20, optionalSize);
    img.optional = img.pe + 24;
    Put16(b, img.optional, pe32plus ? 0x20B : 0x10B);
    const size_t directories = img.optional + (pe32plus ? 112 : 96);
    Put32(b, directories - 4, 16);
    Put32(b, directories + 16, kResourceRva);
    Put32(b, directories + 20, uint32_t(res.size()));
    img.sectionTable = img.optional + optionalSize;
    const uint32_t raw = uint32_t((res.size() + 0x1FF) & ~size_t(0x1FF));
    std::memcpy(&b[img.sectionTable], ".rsrc", 5);
    Put32(b, img.sectionTable + 8, uint32_t(res.size()));
    Put32(b, img.sectionTable + 12, kResourceRva);
    Put32(b, img.sectionTable + 16, raw);
    Put32(b, img.sectionTable + 20, uint32_t(img.resources));
    b.insert(b.end(), res.begin(), res.end());
    b.resize(img.resources + raw);
    return img;
}

Image Standard(bool pe32plus = false) {
    return BuildImage(
        {{1, {u"", u"12345", u"two"}}, {3, {u"", u"", u"", u"", u"", u"", u"", u"", u"forty"}}},
        pe32plus);
}

TEST(PeResourcesBuilt, ReadsBothImageKinds) {
    for (bool pe32plus : {false, true}) {
        auto table = PeStringTable::FromImage(Standard(pe32plus).bytes);
        ASSERT_TRUE(table) << pe32plus;
        EXPECT_EQ(table->Load(1, 100), "12345");
        EXPECT_EQ(table->Load(2, 100), "two");
        EXPECT_EQ(table->Load(40, 100), "forty");
        EXPECT_EQ(table->Load(0, 100), ""); // an empty slot
        EXPECT_EQ(table->Load(3, 100), "");
        EXPECT_EQ(table->Load(16, 100), ""); // block 2 is absent
    }
}

TEST(PeResourcesMalformed, TableOfDamages) {
    using Damage = std::function<void(Image&)>;
    struct Case {
        const char* what;
        Damage damage;
        bool table;        // a table comes back at all
        const char* load1; // what id 1 then gives
    };
    const Case cases[] = {
        {"intact", [](Image&) {}, true, "12345"},
        {"no MZ", [](Image& i) { i.bytes[0] = 'X'; }, false, ""},
        {"e_lfanew huge", [](Image& i) { Put32(i.bytes, 0x3C, 0xFFFFFFFF); }, false, ""},
        {"e_lfanew at the end",
         [](Image& i) { Put32(i.bytes, 0x3C, uint32_t(i.bytes.size() - 10)); }, false, ""},
        {"no PE signature", [](Image& i) { i.bytes[i.pe + 1] = 'F'; }, false, ""},
        {"unknown magic", [](Image& i) { Put16(i.bytes, i.optional, 0x107); }, false, ""},
        {"optional header empty", [](Image& i) { Put16(i.bytes, i.pe + 20, 0); }, false, ""},
        {"optional header cut before the directory",
         [](Image& i) { Put16(i.bytes, i.pe + 20, 96 + 16); }, false, ""},
        {"optional header beyond the file", [](Image& i) { Put16(i.bytes, i.pe + 20, 0xFFFF); },
         false, ""},
        {"two directories only", [](Image& i) { Put32(i.bytes, i.optional + 92, 2); }, false, ""},
        {"no resource directory", [](Image& i) { Put32(i.bytes, i.optional + 96 + 16, 0); }, false,
         ""},
        {"resources in no section", [](Image& i) { Put32(i.bytes, i.optional + 96 + 16, 0x9000); },
         false, ""},
        {"section data beyond the file",
         [](Image& i) { Put32(i.bytes, i.sectionTable + 20, 0xFFFFFF00); }, false, ""},
        {"no sections", [](Image& i) { Put16(i.bytes, i.pe + 6, 0); }, false, ""},
        {"too many sections", [](Image& i) { Put16(i.bytes, i.pe + 6, 0xFFFF); }, true, "12345"},
        {"section raw size huge", [](Image& i) { Put32(i.bytes, i.sectionTable + 16, 0xFFFFFFFF); },
         true, "12345"},
        {"root counts huge",
         [](Image& i) {
             Put16(i.bytes, i.resources + 12, 0xFFFF);
             Put16(i.bytes, i.resources + 14, 0xFFFF);
         },
         true, "12345"}, // the entries past the real one hold garbage
        {"type entry points at the root",
         [](Image& i) { Put32(i.bytes, i.resources + 20, 0x80000000u); }, true, ""},
        {"type entry is no directory", [](Image& i) { Put32(i.bytes, i.resources + 20, 0x18); },
         true, ""},
        {"type directory far out", [](Image& i) { Put32(i.bytes, i.resources + 20, 0xFFFFFFFF); },
         true, ""},
        {"language directory is the type directory",
         [](Image& i) { Put32(i.bytes, i.resources + 0x28 + 4, 0x80000018u); }, true, ""},
        {"language entry loops to itself",
         [](Image& i) {
             Put32(i.bytes, i.resources + i.firstLanguage + 20,
                   0x80000000u | uint32_t(i.firstLanguage));
         },
         true, ""},
        {"language directory empty",
         [](Image& i) { Put16(i.bytes, i.resources + i.firstLanguage + 14, 0); }, true, ""},
        {"data entry far out",
         [](Image& i) { Put32(i.bytes, i.resources + i.firstLanguage + 20, 0x7FFFFFF0); }, true,
         ""},
        {"data outside the section",
         [](Image& i) { Put32(i.bytes, i.resources + i.firstDataEntry, 0x5000); }, true, ""},
        {"data size huge",
         [](Image& i) { Put32(i.bytes, i.resources + i.firstDataEntry + 4, 0xFFFFFFFF); }, true,
         "12345"},
        {"data size cuts the string",
         [](Image& i) { Put32(i.bytes, i.resources + i.firstDataEntry + 4, 2 + 2 + 8); }, true, ""},
        {"string length huge",
         [](Image& i) { Put16(i.bytes, i.resources + i.firstData + 2, 0xFFFF); }, true, ""},
        {"block id 0", [](Image& i) { Put32(i.bytes, i.resources + 0x28, 0); }, true, ""},
        {"block is named", [](Image& i) { Put32(i.bytes, i.resources + 0x28, 0x80000000u | 0x40); },
         true, ""},
    };
    for (const Case& c : cases) {
        Image img = Standard();
        c.damage(img);
        auto table = PeStringTable::FromImage(img.bytes);
        EXPECT_EQ(table.has_value(), c.table) << c.what;
        if (table) {
            EXPECT_EQ(table->Load(1, 100), c.load1) << c.what;
        }
    }
}

TEST(PeResourcesMalformed, EveryCutAndEveryByteSurvives) {
    for (bool pe32plus : {false, true}) {
        const Image img = Standard(pe32plus);
        for (size_t n = 0; n < img.bytes.size(); ++n) {
            std::vector<uint8_t> cut(img.bytes.begin(), img.bytes.begin() + long(n));
            auto table = PeStringTable::FromImage(cut);
            if (n < img.resources + 0x10) {
                EXPECT_FALSE(table) << n;
            }
            if (table) table->Load(1, 100);
        }
        for (size_t at = 0; at < img.bytes.size(); ++at) {
            for (uint8_t value : {uint8_t(0x00), uint8_t(0x7F), uint8_t(0x80), uint8_t(0xFF)}) {
                std::vector<uint8_t> bytes = img.bytes;
                bytes[at] = value;
                if (auto table = PeStringTable::FromImage(bytes)) {
                    for (uint32_t id : {0u, 1u, 2u, 40u})
                        table->Load(id, 1000);
                }
            }
        }
    }
}

TEST(PeResourcesMalformed, AliasedBlocksAreCapped) {
    // 4000 block entries sharing 16 strings of 1000 characters would decode to
    // 64 million characters; the image holds some 40 kB.
    std::vector<std::u16string> big(16, std::u16string(1000, u'x'));
    const Image img = BuildImage({{1, big}}, false, 4000);
    auto table = PeStringTable::FromImage(img.bytes);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->Load(0, 2000), std::string(1000, 'x'));
    size_t total = 0;
    for (uint32_t id = 0; id < 65536; ++id)
        total += table->Load(id, 2000).size();
    EXPECT_LE(total, img.bytes.size());
}

TEST(PeResourcesFile, ReadsFilesAndRefusesOthers) {
    TempDir dir;
    const Image img = Standard();
    WriteFile(dir / "Strings.dll", img.bytes);
    WriteFile(dir / "text.txt", "MZ but nothing else");
    fs::create_directory(dir / "folder.dll");
    // Bigger than any string resource needs: refused before it is read.
    std::vector<uint8_t> head = img.bytes;
    WriteFile(dir / "huge.dll", head);
    fs::resize_file(dir / "huge.dll", (64u << 20) + 1);

    auto win = [&](const char* name) { return ToWindowsPath((dir / name).string()); };
    auto table = PeStringTable::FromFile(win("STRINGS.DLL"));
    ASSERT_TRUE(table);
    EXPECT_EQ(table->Load(1, 100), "12345");
    EXPECT_FALSE(PeStringTable::FromFile(win("text.txt")));
    EXPECT_FALSE(PeStringTable::FromFile(win("missing.dll")));
    EXPECT_FALSE(PeStringTable::FromFile(win("folder.dll")));
    EXPECT_FALSE(PeStringTable::FromFile(win("huge.dll")));
}

// Builds a resource-only DLL with the MinGW resource compiler and linker and
// checks it the way LoadString would be used.
void CheckLinkedDll(bool is64) {
    TempDir dir;
    WriteFile(dir / "strings.rc", "STRINGTABLE\n"
                                  "BEGIN\n"
                                  "  1, \"12345\"\n"
                                  "  2, \"Second string\"\n"
                                  "  3, \"third\"\n"
                                  "  4, \"A longer string here\"\n"
                                  "  5, L\"caf\\x00e9 \\x263a!\"\n"
                                  "  40, \"Block three\"\n"
                                  "  65535, \"last\"\n"
                                  "END\n");
    // The x86-64 linker has no built-in script for 32-bit images; a tiny one
    // that places the resources is all a resource-only DLL needs.
    WriteFile(dir / "pe32.ld", "SECTIONS {\n"
                               "  . = SIZEOF_HEADERS;\n"
                               "  .rsrc __image_base__ + __section_alignment__ : {\n"
                               "    *(.rsrc) *(SORT(.rsrc$*))\n"
                               "  }\n"
                               "}\n");
    // windres preprocesses with a MinGW gcc by default; the file needs none.
    const std::string compile = "x86_64-w64-mingw32-windres --preprocessor=cat " +
                                std::string(is64 ? "" : "-F pe-i386 ") +
                                "-O coff -o res.o strings.rc";
    const std::string link = is64 ? "x86_64-w64-mingw32-ld --dll -e 0 -o Strings.dll res.o"
                                  : "x86_64-w64-mingw32-ld -m i386pe --dll -e 0 -T pe32.ld "
                                    "-o Strings.dll res.o";
    ASSERT_EQ(test::Run(compile + " && " + link + " 2>&1", dir.Path()), 0);

    auto table = PeStringTable::FromFile(ToWindowsPath((dir / "strings.DLL").string()));
    ASSERT_TRUE(table);
    struct Case {
        uint32_t id;
        size_t buffer;
        std::string text;
    } cases[] = {
        {1, 256, "12345"},
        {1, 6, "12345"},
        {1, 5, "1234"},
        {1, 1, ""},
        {1, 0, ""},
        {2, 256, "Second string"},
        {3, 256, "third"},
        {4, 6, "A lon"},
        {4, 21, "A longer string here"},
        {5, 256, "caf\xE9 ?!"}, // U+00E9 fits in 8 bits, U+263A does not
        {40, 256, "Block three"},
        {65535, 256, "last"},
        {6, 256, ""},   // empty slot of a present block
        {0, 256, ""},   //
        {16, 256, ""},  // absent block
        {39, 256, ""},  //
        {100, 256, ""}, //
    };
    for (const Case& c : cases)
        EXPECT_EQ(table->Load(c.id, c.buffer), c.text) << c.id << " / " << c.buffer;
}

TEST(PeResourcesLinked, Pe32Plus) {
    DVL_REQUIRE_TOOL("x86_64-w64-mingw32-windres");
    DVL_REQUIRE_TOOL("x86_64-w64-mingw32-ld");
    CheckLinkedDll(true);
}

TEST(PeResourcesLinked, Pe32) {
    DVL_REQUIRE_TOOL("x86_64-w64-mingw32-windres");
    DVL_REQUIRE_TOOL("x86_64-w64-mingw32-ld");
    CheckLinkedDll(false);
}

} // namespace
} // namespace dvl::platform
