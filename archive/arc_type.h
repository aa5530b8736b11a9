// Archive types and their recognition from a few signature bytes.
#pragma once

#include <cstdint>
#include <string>

namespace dvl {

enum TArcType : uint8_t {
    atNA,
    atUnsupported,
    atFileError,
    atUnknown,
    atARC,
    atArcExe,
    atARJ,
    atArjExe,
    atBH,
    atBHExe,
    atCAB,
    atGZip,
    atHA,
    atLHA,
    atLhaExe,
    atLZH,
    atLzhExe,
    atPAK,
    atPakExe,
    atRAR,
    atRarExe,
    atTAR,
    atUUE,
    atZIP,
    atZipExe,
    atZip250,
    atZip250Exe,
    atZOO,
};
constexpr int kArcTypeCount = atZOO + 1;

// The fixed display name, padded as it is shown in listings.
const std::string& ArcTypeName(TArcType type);

constexpr bool IsZipFamily(TArcType type) {
    return type >= atZIP && type <= atZip250Exe;
}

// Where the four probe bytes were read: the start of a plain file, or a place
// inside an executable where a self-extractor's archive may begin.
enum class ProbeMode { Executable = 0, FileStart = 1 };

// Classifies four bytes. Formats without a self-extracting variant give atNA
// in executable mode. A self-extractor of one old ARC maker sets startOffset
// to where its archive begins.
TArcType ClassifySignature(ProbeMode mode, const uint8_t bytes[4], int32_t& startOffset);

} // namespace dvl
