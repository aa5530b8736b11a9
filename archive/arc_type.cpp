#include "archive/arc_type.h"

#include <array>

namespace dvl {

const std::string& ArcTypeName(TArcType type) {
    // Padded to 10 characters, except the two entries that end in tabs.
    static const std::array<std::string, kArcTypeCount> names = {
        "Not avail.", "Unsupport.", "File Error", "Unknown   ", "ARC       ", "ARC SFX   ",
        "ARJ       ", "ARJ SFX   ", "BH        ", "BH  SFX   ", "CAB       ", "GZip      ",
        "HA        ", "LHA       ", "LHA SFX   ", "LZH       ", "LZH SFX\t",  "PAK       ",
        "PAK SFX   ", "RAR       ", "RAR SFX   ", "TAR       ", "UUE\t\t   ", "ZIP       ",
        "ZIP SFX   ", "ZIP250    ", "ZIP250 SFX", "ZOO       ",
    };
    static const std::string none;
    return type < kArcTypeCount ? names[type] : none;
}

namespace {

bool Pair(const uint8_t* b, uint8_t x, uint8_t y) {
    return b[0] == x && b[1] == y;
}

// The result of a signature: its own type from a file start, its executable
// variant (or atNA when it has none) inside an executable.
TArcType Pick(ProbeMode mode, TArcType plain, TArcType exe) {
    return mode == ProbeMode::FileStart ? plain : exe;
}

} // namespace

TArcType ClassifySignature(ProbeMode mode, const uint8_t b[4], int32_t& startOffset) {
    if (Pair(b, 0x50, 0x4B) && !(b[2] == 0x47 && b[3] == 0x34)) return Pick(mode, atZIP, atZipExe);
    if (b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 0x50)
        return Pick(mode, atZip250, atZip250Exe);
    if (b[0] == 'M' && b[1] == 'S' && b[2] == 'C' && b[3] == 'F') return Pick(mode, atCAB, atNA);
    if (b[0] == 0x42 && b[1] == 0x48 && b[2] == 0x05 && b[3] == 0x07)
        return Pick(mode, atBH, atBHExe);
    if (Pair(b, 'H', 'A')) return Pick(mode, atHA, atNA);
    if (b[0] == 0x1F &&
        (b[1] == 0x8B || b[1] == 0x9D || b[1] == 0x9E || b[1] == 0x1E || b[1] == 0xA0))
        return Pick(mode, atGZip, atNA);
    if (Pair(b, 0x60, 0xEA)) return Pick(mode, atARJ, atArjExe);
    if (Pair(b, 'Z', 'O')) return Pick(mode, atZOO, atNA);
    if (b[2] == '-' && b[3] == 'l') return Pick(mode, atLHA, atLhaExe);
    if (Pair(b, 'R', 'a')) return Pick(mode, atRAR, atRarExe);
    if (Pair(b, 0x1A, 0x0A) || Pair(b, 0x1A, 0x0B)) return Pick(mode, atPAK, atPakExe);
    if (Pair(b, 0x1A, 0x1E)) return Pick(mode, atARC, atNA);
    if (Pair(b, 0x1A, 0x08) || Pair(b, 0x1A, 0x09)) return Pick(mode, atARC, atArcExe);
    if (Pair(b, 0xB7, 0x92) || Pair(b, 0xB7, 0xDF)) {
        startOffset = 7717;
        return atArcExe;
    }
    return atUnknown;
}

} // namespace dvl
