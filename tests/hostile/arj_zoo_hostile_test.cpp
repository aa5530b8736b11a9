// ARJ and ZOO archives whose names climb out of the destination, start at the
// root or a drive, or lead through a planted link: everything lands inside.
// Built by hand, as the archivers store no such names.
#include "tests/hostile/hostile_harness.h"
#include "tests/support/zip_writer.h"
#include "tests/support/zoo_writer.h"

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

TEST_F(Hostile, ArjAndZooNamesStayInsideTheDestination) {
    const auto arj = Save("h.arj", BuildArj({{"../../outside/victim.txt", "a"},
                                             {"/abs/abs.txt", "b"},
                                             {"C:\\dos\\d.txt", "c"},
                                             {"lnk/x.txt", "d"}}));
    ExpectBoth(arj, "ARJ", PlantLink, {"lnk"}, {Coded("x.txt", kErrLinkInPath)},
               {{"outside/victim.txt", "a"}, {"abs/abs.txt", "b"}, {"dos/d.txt", "c"}});

    const auto zoo = Save("h.zoo", test::BuildZoo({{"../../outside", "victim.txt", "a"},
                                                   {"/abs", "abs.txt", "b"},
                                                   {"C:\\dos", "d.txt", "c"},
                                                   {"lnk", "x.txt", "d"}}));
    ExpectBoth(zoo, "ZOO", PlantLink, {"lnk"}, {Coded("x.txt", kErrLinkInPath)},
               {{"outside/victim.txt", "a"}, {"abs/abs.txt", "b"}, {"dos/d.txt", "c"}});
}

} // namespace
} // namespace dvl::hostile
