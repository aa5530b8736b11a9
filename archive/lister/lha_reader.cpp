// LHA/LZH: local headers of levels 0 to 3, each followed by its data. Levels 1
// to 3 carry extended headers, of which the file-name and directory-name
// headers give the entry's name.
#include "archive/dates.h"
#include "archive/formats/lha_header.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace dvl::lister {

namespace {

constexpr int kHeaderSize = 22;
constexpr uint32_t kDirectoryAttribute = 0x10, kArchiveAttribute = 0x20;

// The lister's input as the header parser reads it.
class ListerInput final : public formats::LhaInput {
public:
    explicit ListerInput(TLorvex& l) : l_(l) {}

    size_t ReadAt(int64_t offset, uint8_t* buffer, size_t n) override {
        if (offset < 0 || offset >= l_.ArchiveSize64()) return 0;
        l_.SeekInput(offset);
        return l_.ReadInput(buffer, n);
    }
    int64_t Size() const override { return l_.ArchiveSize64(); }

private:
    TLorvex& l_;
};

class LhaReader final : public Reader {
public:
    void Prepare(TLorvex& l) override { l.SetHeaderSize(kHeaderSize); }
    void Step(TLorvex& l) override;

private:
    static void SetNames(TLorvex& l, const formats::LhaHeader& h);
};

// FileName as OnReadFile sees it (the name alone), then with its directory.
void LhaReader::SetNames(TLorvex& l, const formats::LhaHeader& h) {
    const std::string unicode = formats::LhaUnicodePath(h);
    if (!unicode.empty()) {
        l.FileName = h.unicodeName;
        l.FireReadFile();
        l.FileName = unicode;
    } else {
        l.SetEntryName(h.name);
        l.FireReadFile();
        if (h.hasDirectory) l.SetEntryName(formats::LhaStoredPath(h));
    }
    if (h.folder) l.FileName = AddBackslash(l.FileName);
}

void LhaReader::Step(TLorvex& l) {
    const int64_t start = l.HeaderPos - 1;
    ListerInput input(l);
    formats::LhaHeader h;
    if (formats::ParseLhaHeader(input, start, h) != formats::LhaParse::Ok) {
        l.EndWalk();
        return;
    }
    SetNames(l, h);
    if (h.nextHeader <= start)
        l.EndWalk();
    else
        l.ReadPos = h.nextHeader;

    // Links are not listed (nothing is stored for them); folders are, with
    // ShowBlankDirs, as their name and a backslash.
    if (h.symbolicLink) return;
    if (!(h.folder && l.ShowBlankDirs()) && !l.MatchesSpec()) return;
    const int64_t packed = int64_t(std::min<uint64_t>(h.packedSize, INT64_MAX));
    const int64_t original = int64_t(std::min<uint64_t>(h.originalSize, INT64_MAX));
    const uint32_t attribute = h.folder ? (h.attribute | kDirectoryAttribute) : h.attribute;
    l.CountEntry();
    l.AddTotals(packed, original);
    l.FileDate = h.level >= 2 && h.unixTime ? TLorvex::ConvertUnixDate(*h.unixTime)
                                            : l.ConvertFileDate(h.dosTime);
    l.VersionMadeBy = l.VersionNeeded = 0;
    l.PackedSize = packed;
    l.UnpackedSize = original;
    l.CRC = h.dataCrc.value_or(0);
    l.Encrypted = 0;
    l.MethodCode = uint8_t(h.method[3]);
    l.MethodName = MethodNameFor(l.ArcType(), l.MethodCode, {.attributes = attribute});
    l.InternalAttr = kArchiveAttribute;
    l.ExternalAttr = attribute;
    l.Ratio = ComputeRatio(packed, original);
    l.ReportEntry(int32_t(start), l.EntryCount());
}

} // namespace

std::unique_ptr<Reader> MakeLhaReader() {
    return std::make_unique<LhaReader>();
}

} // namespace dvl::lister
