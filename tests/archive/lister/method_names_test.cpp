// The method-name table: one row per rule of each format.
#include "archive/lister/method_names.h"

#include <gtest/gtest.h>

namespace dvl::lister {
namespace {

TEST(MethodNames, EveryFormatAndItsSpecialRules) {
    const struct {
        TArcType type;
        uint32_t method;
        MethodHints hints;
        const char* name;
    } cases[] = {
        {atZIP, 0, {}, "Stored"},
        {atZipExe, 1, {}, "Shrunk"},
        {atZIP, 2, {}, "Reduce-1"},
        {atZIP, 5, {}, "Reduce-4"},
        {atZip250, 6, {}, "Imploded"},
        {atZIP, 7, {}, "Tokened"},
        {atZIP, 8, {}, "DeflateN"},
        {atZIP, 8, {.zipFlags = 2}, "DeflateX"},
        {atZIP, 8, {.zipFlags = 4}, "DeflateF"},
        {atZip250Exe, 8, {.zipFlags = 6}, "DeflateS"},
        {atZIP, 9, {}, "Unknown"},
        {atZIP, 99, {.attributes = 0x10}, "Dir"},
        {atARC, 1, {}, "Stored"},
        {atArcExe, 3, {}, "Packed"},
        {atARC, 6, {}, "crunched"},
        {atARC, 8, {}, "Crunched"},
        {atARC, 9, {}, "Squashed"},
        {atARC, 12, {}, "Pack12"},
        {atARC, 0, {.headerMethod = 30}, "Dir"},
        {atARC, 13, {}, "Unknown"},
        {atPAK, 3, {}, "RLE"},
        {atPakExe, 7, {}, "FIXEDLEN"},
        {atPAK, 9, {}, "VARIBLE"},
        {atPAK, 10, {}, "Crushed"},
        {atPAK, 11, {}, "Distill"},
        {atPAK, 12, {}, "Unknown"},
        {atARJ, 0, {}, "Stored"},
        {atARJ, 2, {}, "2nd Most"},
        {atArjExe, 4, {}, "Fastest"},
        {atARJ, 5, {.fileType = 3}, "Dir"},
        {atARJ, 5, {}, "Unknown"},
        {atBH, 1, {}, "Fused"},
        {atBHExe, 2, {}, "Deflate"},
        {atBH, 3, {}, "Unknown"},
        {atCAB, 0, {}, "Stored"},
        {atCAB, 1, {}, "MsZIP"},
        {atCAB, 0x1002, {}, "Quantum"}, // only the low four bits count
        {atCAB, 0x1503, {}, "Lzx"},
        {atCAB, 4, {}, "Unknown"},
        {atGZip, 1, {}, "Compress"},
        {atGZip, 3, {}, "Lzh"},
        {atGZip, 8, {}, "Deflate"},
        {atGZip, 4, {}, "Unknown"},
        {atHA, 0, {}, "Cpy"},
        {atHA, 2, {}, "HSC"},
        {atHA, 14, {}, "Dir"},
        {atHA, 15, {}, "Special"},
        {atHA, 7, {}, "Unknown"},
        {atLHA, '0', {}, "Stored"},
        {atLzhExe, '5', {}, "Frozen-5"},
        {atLZH, '6', {}, "Unknown"},
        {atRAR, 0x30, {}, "Stored"},
        {atRarExe, 0x35, {}, "Best"},
        {atRAR, 0x36, {.attributes = 0x10}, "Dir"},
        {atRAR, 0x29, {}, "Unknown"},
        {atZOO, 2, {}, "Greatest"},
        {atZOO, 3, {}, "Unknown"},
        {atTAR, 0, {}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MethodNameFor(c.type, c.method, c.hints), c.name)
            << int(c.type) << " method " << c.method;
}

} // namespace
} // namespace dvl::lister
