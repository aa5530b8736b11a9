// Hostile LHA archives: names that climb out of the destination or are
// absolute, a directory header that climbs out, a link in the path, a
// stored link.
#include "tests/hostile/hostile_harness.h"
#include "tests/support/lha_writer.h"

namespace dvl::hostile {
namespace {

TEST_F(Hostile, LhaStaysInsideTheDestination) {
    const fs::path archive =
        Save("h.lzh", test::LhaArchive({
                          {.name = "../../outside/victim.txt", .data = "up", .level = 0},
                          {.name = "/abs/abs.txt", .data = "abs", .level = 1},
                          {.name = "C:\\dos\\d.txt", .data = "d", .level = 0},
                          {.name = "x.txt",
                           .directory = "..\xFF..\xFF"
                                        "outside\xFF",
                           .data = "dir"},
                          {.name = "y.txt", .directory = "/../abs/", .data = "y", .level = 1},
                          {.name = "x.txt", .directory = "lnk/", .data = "l"},
                          {.name = "s|../outside/victim.txt", .method = "-lhd-"},
                      }));
    ExpectBoth(archive, "LHA", PlantLink, {"lnk"},
               {Coded("x.txt", kErrLinkInPath), Coded("s", kErrLinkEntry)},
               {{"outside/victim.txt", "up"},
                {"abs/abs.txt", "abs"},
                {"dos/d.txt", "d"},
                {"outside/x.txt", "dir"},
                {"abs/y.txt", "y"}});
}

} // namespace
} // namespace dvl::hostile
