// ARJ: a main header, then local headers each followed by its file's data; a
// file may go on in the next volumes of a set (base.A01, base.A02, ...).
#include "archive/dates.h"
#include "archive/formats/arj_header.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"
#include "archive/text.h"

#include <memory>
#include <vector>

namespace dvl::lister {

namespace {

using formats::ArjHeader;
using formats::ArjHeaderKind;
using formats::ArjParse;

// What the driver reads of each header; the reader reads the rest itself.
constexpr int kHeaderSize = 34;
// A basic header and a trailer without extended headers fit in this; more is
// read only for a header that needs it.
constexpr size_t kFirstRead = 4096;
constexpr size_t kMaxHeaderRead = 1 << 20;

// The header at `pos` of the input, read whole.
ArjParse ReadHeader(TLorvex& l, int64_t pos, ArjHeaderKind kind, ArjHeader& header) {
    std::vector<uint8_t> bytes;
    for (size_t want = kFirstRead;; want *= 2) {
        bytes.resize(want);
        l.SeekInput(pos);
        bytes.resize(l.ReadInput(bytes.data(), bytes.size()));
        const ArjParse parsed = formats::ParseArjHeader(bytes, kind, header);
        if (parsed != ArjParse::Truncated || bytes.size() < want || want >= kMaxHeaderRead)
            return parsed;
    }
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
    volumeNumber_ = "0";
    const int64_t start = l.StartOffset() - 1;
    ArjHeader main;
    if (ReadHeader(l, start, ArjHeaderKind::Main, main) != ArjParse::Ok) {
        l.HeaderPos = l.StopPos + 1;
        return;
    }
    l.SetEntryName(main.name); // the archive's own name, until the first entry
    l.ArchiveComment = std::make_unique<std::string>(main.comment);
    l.ReadPos = start + int64_t(main.size);
    l.HeaderPos = l.ReadPos + 1;
}

void ArjReader::Step(TLorvex& l) {
    const int64_t start = l.HeaderPos - 1;
    ArjHeader h;
    if (ReadHeader(l, start, ArjHeaderKind::Local, h) != ArjParse::Ok) {
        l.EndWalk();
        return;
    }
    l.SetEntryName(h.name);
    l.FireReadFile();
    l.FileComment = std::make_unique<std::string>(h.comment);
    l.ReadPos = start + int64_t(h.size) + h.packedSize;

    int64_t packed = h.packedSize, unpacked = h.originalSize;
    l.VolumeName = ExtractFileName(CurrentVolume(l));
    if (h.flags & formats::kArjVolume) FollowVolumes(l, packed, unpacked);

    const bool directory = h.fileType == formats::kArjFolder;
    if (!(directory && l.ShowBlankDirs()) && !l.MatchesSpec()) return;
    l.CountEntry();
    l.AddTotals(packed, unpacked);
    // Archivers on Unix store the time as seconds since 1970.
    l.FileDate = h.hostOs == formats::kArjHostUnix ? TLorvex::ConvertUnixDate(h.dateTime)
                                                   : l.ConvertFileDate(h.dateTime);
    l.VersionMadeBy = h.version;
    l.VersionNeeded = h.versionNeeded;
    l.PackedSize = packed;
    l.UnpackedSize = unpacked;
    l.CRC = h.fileCrc;
    l.Encrypted = h.flags & formats::kArjGarbled;
    l.MethodCode = h.method;
    l.MethodName = MethodNameFor(l.ArcType(), h.method, {.fileType = h.fileType});
    l.InternalAttr = h.accessMode;
    l.ExternalAttr = h.accessMode;
    l.Ratio = ComputeRatio(packed, unpacked);
    l.ReportEntry(int32_t(start), l.EntryCount());
}

void ArjReader::FollowVolumes(TLorvex& l, int64_t& packed, int64_t& unpacked) {
    ArjHeader part;
    bool found = false; // a continuation header was read in the volume opened last
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
            return;
        }
        const std::string path = AddBackslash(folder) + name;
        if (!l.OpenVolume(path)) {
            l.OpenVolume(l.ArchivePath());
            l.RaiseError(path, volumeNumber_, kErrReadingFile);
        }
        l.VolumePath = path;
        l.StopPos = l.ArchiveSize64();

        // The volume's main header, then the header of the file's next part.
        found = false;
        ArjHeader main;
        if (ReadHeader(l, 0, ArjHeaderKind::Main, main) != ArjParse::Ok) break;
        l.ArchiveComment = std::make_unique<std::string>(main.comment);
        const int64_t partStart = int64_t(main.size);
        if (ReadHeader(l, partStart, ArjHeaderKind::Local, part) != ArjParse::Ok) break;
        found = true;
        packed += part.packedSize;
        unpacked += part.originalSize;
        l.ReadPos = partStart + int64_t(part.size) + part.packedSize;
    } while (part.flags & formats::kArjVolume);

    if (!found) {
        l.EndWalk();
        return;
    }
    l.SetEntryName(part.name);
    l.FileComment = std::make_unique<std::string>(part.comment);
}

} // namespace

std::unique_ptr<Reader> MakeArjReader() {
    return std::make_unique<ArjReader>();
}

} // namespace dvl::lister
