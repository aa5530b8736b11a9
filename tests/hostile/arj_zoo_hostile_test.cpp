// ARJ and ZOO archives whose names climb out of the destination, start at the
// root or a drive, or lead through a planted link: everything lands inside.
// Built by hand, as the archivers store no such names.
#include "archive/codecs/crc16.h"
#include "tests/hostile/hostile_harness.h"
#include "tests/support/zip_writer.h"

#include <cstring>

namespace dvl::hostile {
namespace {

using test::PutLe16;
using test::PutLe32;

constexpr uint32_t kDosDateTime = 0x3A8B7C21; // 2009-04-11 15:33:02, time word first

// One stored ARJ header (main, file or folder) with its data.
void AddArjHeader(std::vector<uint8_t>& out, const std::string& name, uint8_t fileType,
                  const std::string& data = {}) {
    const std::vector<uint8_t> bytes = Bytes(data);
    // First size 34, version 11, host MS-DOS, "/" separators, stored.
    std::vector<uint8_t> basic = {34, 11, 1, 0, 0x10, 0, fileType, 0};
    PutLe32(basic, kDosDateTime);
    PutLe32(basic, uint32_t(bytes.size()));
    PutLe32(basic, uint32_t(bytes.size()));
    PutLe32(basic, test::Crc32(bytes));
    PutLe16(basic, 0);    // file-spec position
    PutLe16(basic, 0x20); // archive attribute
    PutLe16(basic, 0);
    PutLe32(basic, 0); // extended file position
    basic.insert(basic.end(), name.begin(), name.end());
    basic.insert(basic.end(), {0, 0}); // name and empty comment ends
    PutLe16(out, 0xEA60);
    PutLe16(out, uint32_t(basic.size()));
    out.insert(out.end(), basic.begin(), basic.end());
    PutLe32(out, test::Crc32(basic));
    PutLe16(out, 0); // no extended header
    out.insert(out.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> BuildArj(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<uint8_t> out;
    AddArjHeader(out, "h.arj", 2);
    for (const auto& [name, data] : files)
        AddArjHeader(out, name, 0, data);
    PutLe32(out, 0x0000EA60);
    return out;
}

uint16_t Crc16(const std::vector<uint8_t>& bytes) {
    return codecs::Crc16Update(0, bytes.data(), bytes.size());
}

// A ZOO archive of stored files, each (directory, name, content).
std::vector<uint8_t> BuildZoo(const std::vector<std::array<std::string, 3>>& files) {
    constexpr uint32_t kTag = 0xFDC4A7DC;
    std::vector<uint8_t> out(20, 0);
    std::memcpy(out.data(), "ZOO 2.10 Archive.\x1A", 18);
    PutLe32(out, kTag);
    PutLe32(out, 42);
    PutLe32(out, uint32_t(-42));
    out.insert(out.end(), {2, 1, 1});
    PutLe32(out, 0); // no comment
    PutLe16(out, 0);
    out.push_back(0);
    for (size_t i = 0; i <= files.size(); ++i) {
        const bool closing = i == files.size();
        const auto [directory, name, content] = closing ? std::array<std::string, 3>{} : files[i];
        const std::vector<uint8_t> data = Bytes(content);
        std::vector<uint8_t> e;
        PutLe32(e, kTag);
        e.insert(e.end(), {2, 0}); // new style, stored
        PutLe32(e, 0);             // next, set below
        PutLe32(e, 0);             // data position, set below
        PutLe32(e, closing ? 0 : (kDosDateTime << 16 | kDosDateTime >> 16)); // date word first
        PutLe16(e, Crc16(data));
        PutLe32(e, uint32_t(data.size()));
        PutLe32(e, uint32_t(data.size()));
        e.insert(e.end(), {2, 1, 0, 0});
        PutLe32(e, 0); // no comment
        PutLe16(e, 0);
        std::string shortName = name;
        shortName.resize(13, '\0');
        e.insert(e.end(), shortName.begin(), shortName.end());
        const std::string dir = directory.empty() ? "" : directory + '\0';
        PutLe16(e, closing ? 0 : uint32_t(2 + dir.size()));
        e.push_back(0x7F); // time zone unknown
        PutLe16(e, 0);     // the entry's CRC, set below
        if (!closing) {
            e.insert(e.end(), {0, uint8_t(dir.size())});
            e.insert(e.end(), dir.begin(), dir.end());
        }
        const uint32_t dataAt = uint32_t(out.size() + e.size());
        std::memcpy(&e[10], &dataAt, 4);
        const uint32_t next = closing ? 0 : uint32_t(dataAt + data.size());
        std::memcpy(&e[6], &next, 4);
        if (!closing) {
            const uint16_t crc = Crc16(e);
            std::memcpy(&e[54], &crc, 2);
        }
        out.insert(out.end(), e.begin(), e.end());
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

TEST_F(Hostile, ArjAndZooNamesStayInsideTheDestination) {
    const auto arj = Save("h.arj", BuildArj({{"../../outside/victim.txt", "a"},
                                             {"/abs/abs.txt", "b"},
                                             {"C:\\dos\\d.txt", "c"},
                                             {"lnk/x.txt", "d"}}));
    ExpectBoth(arj, "ARJ", PlantLink, {"lnk"}, {Coded("x.txt", kErrLinkInPath)},
               {{"outside/victim.txt", "a"}, {"abs/abs.txt", "b"}, {"dos/d.txt", "c"}});

    const auto zoo = Save("h.zoo", BuildZoo({{"../../outside", "victim.txt", "a"},
                                             {"/abs", "abs.txt", "b"},
                                             {"C:\\dos", "d.txt", "c"},
                                             {"lnk", "x.txt", "d"}}));
    ExpectBoth(zoo, "ZOO", PlantLink, {"lnk"}, {Coded("x.txt", kErrLinkInPath)},
               {{"outside/victim.txt", "a"}, {"abs/abs.txt", "b"}, {"dos/d.txt", "c"}});
}

} // namespace
} // namespace dvl::hostile
