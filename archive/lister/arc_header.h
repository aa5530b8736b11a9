// The ARC local header, whose layout PAK shares: a marker, the method, a
// 13-byte name, the packed size, the DOS date-time, a 16-bit CRC and the
// original size (absent for method 1, which stores its data as is).
#pragma once

#include "archive/bytes.h"
#include "archive/dates.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"
#include "archive/text.h"

#include <cstring>
#include <string>

namespace dvl::lister {

constexpr int kArcHeaderSize = 29;
constexpr uint8_t kArcMarker = 0x1A;

struct ArcHeader {
    uint8_t method;
    std::string name;
    int64_t packed, original;
    int64_t length; // header bytes before the entry's data
};

// False for the end of the archive (or anything that is not a header).
inline bool ParseArcHeader(const uint8_t* h, ArcHeader& header) {
    if (h[0] != kArcMarker || h[1] == 0) return false;
    const char* stored = reinterpret_cast<const char*>(h + 2);
    header.method = h[1];
    header.name.assign(stored, strnlen(stored, 13));
    header.packed = Le32(h + 15);
    const bool old = header.method == 1;
    header.original = old ? header.packed : int64_t(Le32(h + 25));
    header.length = old ? 25 : kArcHeaderSize;
    return true;
}

// Counts and reports the entry of a header at `start` (zero-based).
inline void ReportArcEntry(TLorvex& l, const uint8_t* h, int64_t start, const ArcHeader& header,
                           uint32_t attribute, MethodHints hints = {}) {
    l.CountEntry();
    l.AddTotals(header.packed, header.original);
    l.FileDate = l.ConvertFileDate(SwapHalves(Le32(h + 19)));
    l.VersionMadeBy = l.VersionNeeded = 0;
    l.PackedSize = header.packed;
    l.UnpackedSize = header.original;
    l.CRC = Le16(h + 23);
    l.Encrypted = 0;
    l.MethodCode = header.method;
    l.MethodName = MethodNameFor(l.ArcType(), header.method, hints);
    l.InternalAttr = l.ExternalAttr = attribute;
    l.Ratio = ComputeRatio(header.packed, header.original);
    l.ReportEntry(int32_t(start), l.EntryCount());
}

} // namespace dvl::lister
