#include "archive/arc_type.h"

#include <gtest/gtest.h>

namespace dvl {
namespace {

TEST(ArcTypeNames, PaddedToTenExceptTheTabbedOnes) {
    for (int t = 0; t < kArcTypeCount; ++t) {
        const std::string& name = ArcTypeName(TArcType(t));
        if (t == atLzhExe || t == atUUE)
            EXPECT_EQ(name.size(), 8u) << t;
        else
            EXPECT_EQ(name.size(), 10u) << t;
    }
    EXPECT_EQ(ArcTypeName(atNA), "Not avail.");
    EXPECT_EQ(ArcTypeName(atBHExe), "BH  SFX   ");
    EXPECT_EQ(ArcTypeName(atLzhExe), "LZH SFX\t");
    EXPECT_EQ(ArcTypeName(atUUE), "UUE\t\t   ");
    EXPECT_EQ(ArcTypeName(atZip250Exe), "ZIP250 SFX");
    EXPECT_EQ(ArcTypeName(atZOO), "ZOO       ");
}

struct SignatureCase {
    uint8_t bytes[4];
    TArcType fileStart;
    TArcType executable;
};

TEST(ClassifySignature, TableInBothModes) {
    const SignatureCase cases[] = {
        {{'P', 'K', 3, 4}, atZIP, atZipExe},
        {{'P', 'K', 0x47, 0x34}, atUnknown, atUnknown},
        {{'P', 'K', 0x47, 0x35}, atZIP, atZipExe},
        {{0, 0, 0, 0x50}, atZip250, atZip250Exe},
        {{'M', 'S', 'C', 'F'}, atCAB, atNA},
        {{0x42, 0x48, 5, 7}, atBH, atBHExe},
        {{'H', 'A', 2, 0}, atHA, atNA},
        {{0x1F, 0x8B, 8, 0}, atGZip, atNA},
        {{0x1F, 0x9D, 0, 0}, atGZip, atNA},
        {{0x1F, 0x9E, 0, 0}, atGZip, atNA},
        {{0x1F, 0x1E, 0, 0}, atGZip, atNA},
        {{0x1F, 0xA0, 0, 0}, atGZip, atNA},
        {{0x60, 0xEA, 0, 0}, atARJ, atArjExe},
        {{'Z', 'O', 'O', ' '}, atZOO, atNA},
        {{0x20, 0x1C, '-', 'l'}, atLHA, atLhaExe},
        {{'R', 'a', 'r', '!'}, atRAR, atRarExe},
        {{0x1A, 0x0A, 0, 0}, atPAK, atPakExe},
        {{0x1A, 0x0B, 0, 0}, atPAK, atPakExe},
        {{0x1A, 0x1E, 0, 0}, atARC, atNA},
        {{0x1A, 0x08, 0, 0}, atARC, atArcExe},
        {{0x1A, 0x09, 0, 0}, atARC, atArcExe},
        {{'M', 'Z', 0, 0}, atUnknown, atUnknown},
        {{0x1A, 0x02, 0, 0}, atUnknown, atUnknown},
    };
    for (const auto& c : cases) {
        int32_t offset = 1;
        EXPECT_EQ(ClassifySignature(ProbeMode::FileStart, c.bytes, offset), c.fileStart)
            << int(c.bytes[0]) << "," << int(c.bytes[1]);
        EXPECT_EQ(ClassifySignature(ProbeMode::Executable, c.bytes, offset), c.executable)
            << int(c.bytes[0]) << "," << int(c.bytes[1]);
        EXPECT_EQ(offset, 1);
    }
}

TEST(ClassifySignature, OldArcSelfExtractorSetsItsOffset) {
    for (uint8_t second : {0x92, 0xDF}) {
        const uint8_t bytes[4] = {0xB7, second, 0, 0};
        for (ProbeMode mode : {ProbeMode::FileStart, ProbeMode::Executable}) {
            int32_t offset = 1;
            EXPECT_EQ(ClassifySignature(mode, bytes, offset), atArcExe);
            EXPECT_EQ(offset, 7717);
        }
    }
}

TEST(ArcType, ZipFamilyIsTheFourZipTypes) {
    for (int t = 0; t < kArcTypeCount; ++t)
        EXPECT_EQ(IsZipFamily(TArcType(t)), t >= atZIP && t <= atZip250Exe) << t;
}

} // namespace
} // namespace dvl
