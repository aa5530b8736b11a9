// ARJ: a main header, then local headers each followed by its file's data; a
// file may go on in the next volumes of a set (base.A01, base.A02, ...).
#include "archive/bytes.h"
#include "archive/dates.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"
#include "archive/text.h"

#include <algorithm>
#include <cstring>

namespace dvl::lister {

namespace {

constexpr int kHeaderSize = 34;
constexpr uint16_t kHeaderId = 0xEA60;
constexpr int64_t kTrailerSize = 4 + 2; // header CRC and extended-header size

enum ArjFlags : uint8_t {
    kGarbled = 0x01,
    kContinuesInNextVolume = 0x04,
    kExtendedFilePosition = 0x08,
};
constexpr uint8_t kDirectoryType = 3;
constexpr uint8_t kHostUnix = 2;

struct ArjHeader {
    uint16_t id, basicSize;
    uint8_t firstSize, version, versionNeeded, hostOs, flags, method, fileType;
    uint32_t dateTime, packed, unpacked, crc;
    uint16_t accessMode;

    static ArjHeader Parse(const uint8_t* b) {
        return {Le16(b),      Le16(b + 2),  b[4],         b[5],        b[6],
                b[7],         b[8],         b[9],         b[10],       Le32(b + 12),
                Le32(b + 16), Le32(b + 20), Le32(b + 24), Le16(b + 30)};
    }
};

// Where the name begins, from the header's start. The fixed part is as long
// as its first byte says: 30 in old archives, 34 with the extended file
// position, 46 with the extra dates of newer archivers. A header that flags
// an extended position its size does not count has it after the 34 bytes.
int64_t NameOffset(const ArjHeader& h, bool hasPosition) {
    return std::max<int64_t>(4 + h.firstSize, kHeaderSize + (hasPosition ? 4 : 0));
}

class ArjReader final : public Reader {
public:
    void Prepare(TLorvex& l) override;
    void Step(TLorvex& l) override;

private:
    // Follows a file into the next volumes, adding the sizes of its parts.
    void FollowVolumes(TLorvex& l, int64_t& packed, int64_t& unpacked);
    std::string CurrentVolume(TLorvex& l) const {
        return l.VolumePath.empty() ? l.ArchivePath() : l.VolumePath;
    }

    std::string volumeFolder_;
    std::string volumeNumber_ = "0";
};

void ArjReader::Prepare(TLorvex& l) {
    l.SetHeaderSize(kHeaderSize);
    const int64_t start = l.StartOffset() - 1;
    l.SeekInput(start);
    l.ReadInput(l.Header(), kHeaderSize);
    l.ReadPos = start + kHeaderSize;
    const ArjHeader main = ArjHeader::Parse(l.Header());
    if (main.id == kHeaderId) {
        l.ReadPos = start + NameOffset(main, false);
        l.SetEntryName(l.ReadZeroName()); // the archive's own name, until the first entry
        l.SeekInput(l.ReadPos);
        l.ReadComment(0, l.ArchiveComment);
    }
    l.ReadPos += kTrailerSize;
    l.HeaderPos = l.ReadPos + 1;
    volumeNumber_ = "0";
}

void ArjReader::Step(TLorvex& l) {
    const ArjHeader h = ArjHeader::Parse(l.Header());
    if (h.id != kHeaderId || h.basicSize == 0) {
        l.EndWalk();
        return;
    }
    l.ReadPos = l.HeaderPos - 1 + NameOffset(h, h.flags & kExtendedFilePosition);
    l.SetEntryName(l.ReadZeroName());
    l.FireReadFile();
    l.SeekInput(l.ReadPos);
    l.ReadComment(0, l.FileComment);
    l.ReadPos += kTrailerSize + h.packed;

    int64_t packed = h.packed, unpacked = h.unpacked;
    l.VolumeName = ExtractFileName(CurrentVolume(l));
    if (h.flags & kContinuesInNextVolume) FollowVolumes(l, packed, unpacked);

    const bool directory = h.fileType == kDirectoryType;
    if (!(directory && l.ShowBlankDirs()) && !l.MatchesSpec()) return;
    l.CountEntry();
    l.AddTotals(packed, unpacked);
    // Archivers on Unix store the time as seconds since 1970.
    l.FileDate = h.hostOs == kHostUnix ? TLorvex::ConvertUnixDate(h.dateTime)
                                       : l.ConvertFileDate(h.dateTime);
    l.VersionMadeBy = h.version;
    l.VersionNeeded = h.versionNeeded;
    l.PackedSize = packed;
    l.UnpackedSize = unpacked;
    l.CRC = h.crc;
    l.Encrypted = h.flags & kGarbled;
    l.MethodCode = h.method;
    l.MethodName = MethodNameFor(l.ArcType(), h.method, {.fileType = h.fileType});
    l.InternalAttr = h.accessMode;
    l.ExternalAttr = h.accessMode;
    l.Ratio = ComputeRatio(packed, unpacked);
    l.ReportEntry(int32_t(l.HeaderPos - 1), l.EntryCount());
}

void ArjReader::FollowVolumes(TLorvex& l, int64_t& packed, int64_t& unpacked) {
    uint8_t work[kHeaderSize];
    std::memcpy(work, l.Header(), kHeaderSize);
    int64_t partStart = -1; // the continuation header read last
    do {
        std::string name = l.ArchivePath();
        TZipCommon::NextVolumeName(volumeFolder_, name, volumeNumber_);
        if (name.empty()) l.RaiseError(volumeFolder_, volumeNumber_, kErrOpeningFile);
        const std::string current = CurrentVolume(l);
        if (!TZipCommon::CloseInput())
            l.RaiseError(l.ArchivePath(), volumeNumber_, kErrClosingFile);
        std::string folder = volumeFolder_;
        if (!l.RequestVolume(folder, name, volumeNumber_)) {
            // Listing goes on where it was, with the parts found so far.
            if (!l.OpenVolume(current)) l.RaiseError(current, volumeNumber_, kErrReadingFile);
            break;
        }
        const std::string path = AddBackslash(folder) + name;
        if (!l.OpenVolume(path)) {
            l.OpenVolume(l.ArchivePath());
            l.RaiseError(path, volumeNumber_, kErrReadingFile);
        }
        l.VolumePath = path;
        l.StopPos = l.ArchiveSize64();
        partStart = -1;

        // The volume's main header, then the header of the file's next part.
        std::memset(work, 0, sizeof work);
        l.SeekInput(0);
        l.ReadPos = int64_t(l.ReadInput(work, sizeof work));
        const ArjHeader main = ArjHeader::Parse(work);
        if (main.id == kHeaderId) {
            l.ReadPos = NameOffset(main, false);
            l.ReadZeroName(); // the name the volume was made with
            l.SeekInput(l.ReadPos);
            l.ReadComment(0, l.ArchiveComment);
            l.ReadPos += kTrailerSize;
            partStart = l.ReadPos;
            std::memset(work, 0, sizeof work);
            l.SeekInput(partStart);
            l.ReadPos += int64_t(l.ReadInput(work, sizeof work));
        }
        const ArjHeader part = ArjHeader::Parse(work);
        packed += part.packed;
        unpacked += part.unpacked;
    } while (work[8] & kContinuesInNextVolume);

    const ArjHeader part = ArjHeader::Parse(work);
    if (partStart < 0 || part.id != kHeaderId) return;
    // A continued part always records where in the file it begins.
    l.ReadPos = partStart + NameOffset(part, true);
    l.SetEntryName(l.ReadZeroName());
    l.SeekInput(l.ReadPos);
    l.ReadComment(0, l.FileComment);
    l.ReadPos += kTrailerSize + part.packed;
}

} // namespace

std::unique_ptr<Reader> MakeArjReader() {
    return std::make_unique<ArjReader>();
}

} // namespace dvl::lister
