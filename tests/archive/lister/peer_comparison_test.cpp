// Every ZIP, CAB and ARJ archive at hand, listed by TLorvex and by a peer
// (unzip -Zv, cabextract -l, arj v with 7zz for ARJ's CRCs): names, sizes,
// CRCs and dates agree entry by entry.
#include "archive/lister/lorvex.h"
#include "tests/archive/lister/listing.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using test::Quote;

struct PeerEntry {
    std::string name{}, date{};
    int64_t packed = -1, unpacked = -1; // -1: the peer does not say
    std::optional<uint32_t> crc{};
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string Date(int y, int mo, int d, const std::string& hms) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %s", y, mo, d, hms.c_str());
    return text;
}

std::vector<PeerEntry> UnzipEntries(const fs::path& archive) {
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::regex date(
        R"(^\s+file last modified on \(DOS date/time\):\s+(\d+) (\w+) (\d+) (\S+))");
    const std::regex field(
        R"(^\s+(32-bit CRC value \(hex\)|compressed size|uncompressed size):\s+(\w+))");
    std::vector<PeerEntry> out;
    auto lines = Lines(test::RunAndCapture("unzip -Zv " + Quote(archive) + " 2>/dev/null"));
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        if (lines[i].rfind("Central directory entry #", 0) == 0) {
            size_t j = i + 2;
            while (j < lines.size() && (lines[j].find_first_not_of(' ') == std::string::npos ||
                                        lines[j].find("There are an extra") != std::string::npos))
                ++j;
            out.push_back({lines[j].substr(std::min(lines[j].size(), size_t(2)))});
        } else if (!out.empty() && std::regex_search(lines[i], m, date)) {
            int month =
                int(std::find(std::begin(months), std::end(months), m[2].str()) - months) + 1;
            out.back().date = Date(std::stoi(m[1]), month, std::stoi(m[3]), m[4]);
        } else if (!out.empty() && std::regex_search(lines[i], m, field)) {
            if (m[1] == "compressed size")
                out.back().packed = std::stoll(m[2]);
            else if (m[1] == "uncompressed size")
                out.back().unpacked = std::stoll(m[2]);
            else
                out.back().crc = uint32_t(std::stoul(m[2], nullptr, 16));
        }
    }
    return out;
}

std::vector<PeerEntry> CabextractEntries(const fs::path& archive) {
    const std::regex row(R"(^\s*(\d+) \| (\d\d)\.(\d\d)\.(\d{4}) (\S+) \| (.*)$)");
    std::vector<PeerEntry> out;
    for (const auto& line :
         Lines(test::RunAndCapture("cabextract -l " + Quote(archive) + " 2>/dev/null"))) {
        std::smatch m;
        if (!std::regex_match(line, m, row)) continue;
        PeerEntry e{m[6], Date(std::stoi(m[4]), std::stoi(m[3]), std::stoi(m[2]), m[5])};
        e.packed = e.unpacked = std::stoll(m[1]);
        out.push_back(e);
    }
    return out;
}

// arj v for names, sizes and dates; 7zz for the CRCs, in the same order.
std::vector<PeerEntry> ArjEntries(const fs::path& archive) {
    const std::regex name(R"(^\d{3}\) (.*)$)");
    const std::regex detail(R"(^\s*\d+ \S+\s+(\d+)\s+(\d+)\s+[\d.]+ (\d\d)-(\d\d)-(\d\d) (\S+))");
    std::vector<PeerEntry> out;
    for (const auto& line :
         Lines(test::RunAndCapture("arj v " + Quote(archive) + " 2>/dev/null"))) {
        std::smatch m;
        if (std::regex_match(line, m, name)) {
            out.push_back({m[1]});
        } else if (!out.empty() && out.back().unpacked < 0 && std::regex_search(line, m, detail)) {
            const int yy = std::stoi(m[3]);
            out.back().unpacked = std::stoll(m[1]);
            out.back().packed = std::stoll(m[2]);
            out.back().date =
                Date(yy < 80 ? 2000 + yy : 1900 + yy, std::stoi(m[4]), std::stoi(m[5]), m[6]);
        }
    }
    if (test::HaveTool("7zz")) {
        size_t k = 0;
        for (const auto& line :
             Lines(test::RunAndCapture("7zz l -slt " + Quote(archive) + " 2>/dev/null")))
            if (line.rfind("CRC = ", 0) == 0 && k < out.size() && line.size() > 6)
                out[k++].crc = uint32_t(std::stoul(line.substr(6), nullptr, 16));
    }
    return out;
}

bool Printable(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

void Compare(const fs::path& archive, const std::vector<PeerEntry>& peerAll) {
    SCOPED_TRACE(archive.filename().string());
    std::vector<PeerEntry> peer;
    for (const auto& e : peerAll) // folders that only ZIP peers show
        if (e.name.empty() || (e.name.back() != '/' && e.name.back() != '\\')) peer.push_back(e);
    ASSERT_FALSE(peer.empty()) << "the peer listed nothing";
    test::Listing ours = test::List(archive);
    EXPECT_TRUE(ours.result);
    ASSERT_EQ(ours.entries.size(), peer.size());
    for (size_t i = 0; i < peer.size(); ++i) {
        const auto& o = ours.entries[i];
        const auto& p = peer[i];
        SCOPED_TRACE(p.name);
        std::string name = o.name;
        std::replace(name.begin(), name.end(), '\\', '/');
        if (Printable(p.name)) {
            EXPECT_EQ(name, p.name);
        }
        if (!p.date.empty()) {
            EXPECT_EQ(o.date, p.date);
        }
        if (o.packed == 0xFFFFFFFF) continue; // sizes kept in a ZIP64 field
        if (p.packed >= 0) {
            EXPECT_EQ(o.packed, p.packed);
        }
        if (p.unpacked >= 0) {
            EXPECT_EQ(o.unpacked, p.unpacked);
        }
        if (p.crc) {
            EXPECT_EQ(o.crc, *p.crc);
        }
    }
}

// Members of sets and files that detection does not take as archives of
// their kind; each is covered elsewhere.
bool Excluded(const std::string& name) {
    static const std::regex parts(R"(split|multi|\.z\d\d$|\.\d{3}$|^test_read_format_zip_sfx$)");
    return std::regex_search(name, parts);
}

class PeerComparison : public ::testing::Test {
protected:
    test::KeepCurrentDir keep;
    test::TempDir dir;
    test::TimeZone utc{"UTC0"}; // the peers and the lister show local times alike
};

TEST_F(PeerComparison, Zip) {
    DVL_REQUIRE_TOOL("zip");
    DVL_REQUIRE_TOOL("unzip");
    fs::create_directories(dir / "src" / "docs" / "deep");
    test::WriteFile(dir / "src" / "docs" / "a.txt", std::string(20000, 'a'));
    test::WriteFile(dir / "src" / "docs" / "deep" / "b.txt", std::string("b"));
    test::WriteFile(dir / "src" / "c.bin", std::vector<uint8_t>(3000, 7));
    ASSERT_EQ(test::Run("zip -qr ../made.zip . && echo note | zip -qz ../made.zip", dir / "src"),
              0);
    Compare(dir / "made.zip", UnzipEntries(dir / "made.zip"));
    auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    for (const auto& e : fs::directory_iterator(peer / "zip"))
        if (!Excluded(e.path().filename().string())) Compare(e.path(), UnzipEntries(e.path()));
}

TEST_F(PeerComparison, Cab) {
    DVL_REQUIRE_TOOL("gcab");
    DVL_REQUIRE_TOOL("cabextract");
    fs::create_directories(dir / "src" / "sub");
    test::WriteFile(dir / "src" / "a.txt", std::string(40000, 'a'));
    test::WriteFile(dir / "src" / "sub" / "b.txt", std::string("b"));
    ASSERT_EQ(test::Run("gcab -cz ../made.cab a.txt sub/b.txt", dir / "src"), 0);
    Compare(dir / "made.cab", CabextractEntries(dir / "made.cab"));
    auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    for (const auto& e : fs::directory_iterator(peer / "cab"))
        if (!Excluded(e.path().filename().string())) Compare(e.path(), CabextractEntries(e.path()));
}

TEST_F(PeerComparison, Arj) {
    DVL_REQUIRE_TOOL("arj");
    fs::create_directories(dir / "src" / "sub");
    test::WriteFile(dir / "src" / "a.txt", std::string(40000, 'a'));
    test::WriteFile(dir / "src" / "sub" / "b.txt", std::string("b"));
    ASSERT_EQ(test::Run("arj a -y -r ../made.arj a.txt sub >/dev/null", dir / "src"), 0);
    Compare(dir / "made.arj", ArjEntries(dir / "made.arj"));
    auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    for (const auto& e : fs::directory_iterator(peer / "arj"))
        if (!Excluded(e.path().filename().string())) Compare(e.path(), ArjEntries(e.path()));
}

} // namespace
} // namespace dvl
