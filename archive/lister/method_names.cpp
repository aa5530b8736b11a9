#include "archive/lister/method_names.h"

#include <array>
#include <string_view>

namespace dvl::lister {

namespace {

constexpr std::string_view kUnknown = "Unknown";
constexpr std::string_view kDir = "Dir";

// The name at a method number in a table, or `other` beyond it.
template <size_t N>
std::string_view Pick(const std::array<std::string_view, N>& table, uint32_t method,
                      std::string_view other = kUnknown) {
    return method < N && !table[method].empty() ? table[method] : other;
}

std::string_view ZipName(uint32_t method, const MethodHints& h) {
    static constexpr std::array<std::string_view, 8> kNames = {
        "Stored", "Shrunk", "Reduce-1", "Reduce-2", "Reduce-3", "Reduce-4", "Imploded", "Tokened"};
    if (method == 8) {
        // Flag bits 1 and 2 carry the deflate option the archiver used.
        const bool bit1 = h.zipFlags & 2, bit2 = h.zipFlags & 4;
        if (bit1 && bit2) return "DeflateS";
        if (bit2) return "DeflateF";
        if (bit1) return "DeflateX";
        return "DeflateN";
    }
    return Pick(kNames, method, (h.attributes & 0x10) ? kDir : kUnknown);
}

std::string_view ArcName(uint32_t method, const MethodHints& h) {
    static constexpr std::array<std::string_view, 13> kNames = {
        "",         "Stored",   "Stored",   "Packed", "Squeezed", "crunched", "crunched",
        "crunched", "Crunched", "Squashed", "Pack10", "Pack11",   "Pack12"};
    return Pick(kNames, method, h.headerMethod == 30 ? kDir : kUnknown);
}

std::string_view PakName(uint32_t method) {
    static constexpr std::array<std::string_view, 12> kNames = {
        "",         "Stored",   "Stored",  "RLE",     "Squeezed", "FIXEDLEN",
        "FIXEDLEN", "FIXEDLEN", "VARIBLE", "VARIBLE", "Crushed",  "Distill"};
    return Pick(kNames, method);
}

std::string_view ArjName(uint32_t method, const MethodHints& h) {
    static constexpr std::array<std::string_view, 5> kNames = {"Stored", "Most", "2nd Most",
                                                               "2nd Fast", "Fastest"};
    return Pick(kNames, method, h.fileType == 3 ? kDir : kUnknown);
}

std::string_view RarName(uint32_t method, const MethodHints& h) {
    static constexpr std::array<std::string_view, 6> kNames = {"Stored", "Fastest", "Fast",
                                                               "Normal", "Good",    "Best"};
    const std::string_view other = (h.attributes & 0x10) ? kDir : kUnknown;
    return method >= 0x30 ? Pick(kNames, method - 0x30, other) : other;
}

std::string_view LhaName(uint32_t method, const MethodHints& h) {
    static constexpr std::array<std::string_view, 6> kNames = {"Stored",   "Frozen-1", "Frozen-2",
                                                               "Frozen-3", "Frozen-4", "Frozen-5"};
    const std::string_view other = (h.attributes & 0x10) ? kDir : kUnknown;
    return method >= '0' ? Pick(kNames, method - '0', other) : other;
}

std::string_view HaName(uint32_t method) {
    static constexpr std::array<std::string_view, 16> kNames = {
        "Cpy", "Asc", "HSC", "", "", "", "", "", "", "", "", "", "", "", "Dir", "Special"};
    return Pick(kNames, method);
}

} // namespace

std::string MethodNameFor(TArcType type, uint32_t method, const MethodHints& hints) {
    static constexpr std::array<std::string_view, 3> kBh = {"Stored", "Fused", "Deflate"};
    static constexpr std::array<std::string_view, 4> kCab = {"Stored", "MsZIP", "Quantum", "Lzx"};
    static constexpr std::array<std::string_view, 9> kGZip = {
        "Stored", "Compress", "Packed", "Lzh", "", "", "", "", "Deflate"};
    static constexpr std::array<std::string_view, 3> kZoo = {"Stored", "Fastest", "Greatest"};
    switch (type) {
    case atZIP:
    case atZipExe:
    case atZip250:
    case atZip250Exe:
        return std::string(ZipName(method, hints));
    case atARC:
    case atArcExe:
        return std::string(ArcName(method, hints));
    case atPAK:
    case atPakExe:
        return std::string(PakName(method));
    case atARJ:
    case atArjExe:
        return std::string(ArjName(method, hints));
    case atBH:
    case atBHExe:
        return std::string(Pick(kBh, method));
    case atCAB:
        return std::string(Pick(kCab, method & 0x0F)); // the high bits hold the window size
    case atGZip:
        return std::string(Pick(kGZip, method));
    case atHA:
        return std::string(HaName(method));
    case atLHA:
    case atLhaExe:
    case atLZH:
    case atLzhExe:
        return std::string(LhaName(method, hints));
    case atRAR:
    case atRarExe:
        return std::string(RarName(method, hints));
    case atZOO:
        return std::string(Pick(kZoo, method));
    default:
        return {};
    }
}

} // namespace dvl::lister
