// ZOO: an archive header pointing at a chain of directory entries, each with
// the position of the next; an entry may carry a long name, a directory name
// and a comment.
#include "archive/bytes.h"
#include "archive/dates.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"
#include "archive/text.h"

#include <string>

namespace dvl::lister {

namespace {

constexpr int kHeaderSize = 58;
constexpr uint32_t kArchiveAttribute = 0x20;
constexpr uint8_t kEntryWithVariablePart = 2;

std::string UpToZero(std::string text) {
    text.resize(std::min(text.find('\0'), text.size()));
    return text;
}

class ZooReader final : public Reader {
public:
    void Prepare(TLorvex& l) override {
        l.SetHeaderSize(kHeaderSize);
        archiveHeaderRead_ = false;
    }
    void Step(TLorvex& l) override;

private:
    void ReadArchiveHeader(TLorvex& l);
    bool archiveHeaderRead_ = false;
};

void ZooReader::ReadArchiveHeader(TLorvex& l) {
    const uint8_t* h = l.Header();
    archiveHeaderRead_ = true;
    const uint32_t first = Le32(h + 24);
    // The header holds the first entry's position and its negation.
    if (uint32_t(first + Le32(h + 28)) != 0 || int32_t(first) <= 0) {
        l.ReadPos = l.ArchiveSize64();
        return;
    }
    if (const uint16_t length = Le16(h + 39); length != 0) {
        l.SeekInput(Le32(h + 35));
        l.ReadComment(length, l.ArchiveComment);
    }
    l.ReadPos = first;
}

void ZooReader::Step(TLorvex& l) {
    if (!archiveHeaderRead_) {
        ReadArchiveHeader(l);
        return;
    }
    const uint8_t* h = l.Header();
    const int64_t start = l.HeaderPos - 1;
    const uint8_t type = h[4], method = h[5];
    const int32_t next = int32_t(Le32(h + 6));
    const uint32_t dateTime = Le32(h + 14);
    const uint16_t crc = Le16(h + 18);
    const uint32_t original = Le32(h + 20), packed = Le32(h + 24);
    const uint32_t commentAt = Le32(h + 32);
    const uint16_t commentLength = Le16(h + 36);
    const std::string shortName = UpToZero(std::string(reinterpret_cast<const char*>(h + 38), 13));

    // The last entry of the chain points nowhere and describes no file.
    if (next <= 0) {
        l.EndWalk();
        return;
    }
    // Only a later entry is followed, so that a damaged chain cannot loop.
    const int64_t following = next > start ? next : l.StopPos;

    if (commentLength != 0) {
        l.SeekInput(commentAt);
        l.ReadComment(commentLength, l.FileComment);
    }
    std::string name = shortName, directory;
    if (type == kEntryWithVariablePart) {
        // The long name comes first, then the directory name.
        const uint8_t longLength = h[56], directoryLength = h[57];
        l.ReadPos = start + kHeaderSize;
        const std::string longName = UpToZero(l.ReadCountedName(longLength));
        if (!longName.empty()) name = longName;
        directory = UpToZero(l.ReadCountedName(directoryLength));
    }
    l.SetEntryName(directory, name);
    l.FireReadFile();
    l.ReadPos = following;
    if (!l.MatchesSpec()) return;

    l.CountEntry();
    l.AddTotals(packed, original);
    l.FileDate = l.ConvertFileDate(SwapHalves(dateTime));
    l.VersionMadeBy = h[28];
    l.VersionNeeded = h[29];
    l.PackedSize = packed;
    l.UnpackedSize = original;
    l.CRC = crc;
    l.Encrypted = 0;
    l.MethodCode = method;
    l.MethodName = MethodNameFor(l.ArcType(), method);
    l.InternalAttr = kArchiveAttribute;
    l.ExternalAttr = kArchiveAttribute;
    l.Ratio = ComputeRatio(packed, original);
    l.ReportEntry(int32_t(start), l.EntryCount());
}

} // namespace

std::unique_ptr<Reader> MakeZooReader() {
    return std::make_unique<ZooReader>();
}

} // namespace dvl::lister
