// CAB: a cabinet header, a folder table and a file table, possibly continued
// in further cabinets of a set.
#include "archive/bytes.h"
#include "archive/formats/cab_header.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"
#include "archive/text.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace dvl::lister {

namespace {

constexpr int kFileEntrySize = int(formats::kCabFileFixedSize);
// The header, the names of a set and the folder table lie within this.
constexpr size_t kHeaderRead = 256 * 1024;

using formats::kCabContinuedBoth;
using formats::kCabContinuedFromPrevious;
using formats::kCabContinuedToNext;
using formats::kCabHasNext;
using formats::kCabNameIsUtf8;

struct Cabinet {
    int64_t firstFile = 0;
    uint8_t versionMinor = 0, versionMajor = 0;
    uint16_t fileCount = 0, flags = 0;
    std::string nextCabinet, nextDisk;
    std::vector<uint16_t> compression; // of each folder
};

enum class CabinetRead { Ok, BadSignature, NoFolder };

class CabReader final : public Reader {
public:
    void Prepare(TLorvex& l) override;
    void Step(TLorvex& l) override;
    void Finish(TLorvex& l) override;

private:
    CabinetRead ReadCabinet(TLorvex& l, int64_t start);
    void ListFile(TLorvex& l);
    void NextCabinet(TLorvex& l);
    uint16_t FolderCompression(uint16_t folder) const;
    // Each cabinet is read once, so that a set naming an earlier cabinet as
    // the next one ends rather than going round.
    bool Visited(const std::string& path) const;

    Cabinet cab_;
    int32_t remaining_ = 0;
    std::vector<std::string> visited_;
};

CabinetRead CabReader::ReadCabinet(TLorvex& l, int64_t start) {
    std::vector<uint8_t> bytes(kHeaderRead);
    l.SeekInput(start);
    bytes.resize(l.ReadInput(bytes.data(), bytes.size()));
    formats::CabHeader header;
    const formats::CabParse parsed = formats::ParseCabHeader(bytes, header);
    if (parsed == formats::CabParse::NotCabinet) return CabinetRead::BadSignature;
    // The first folder must be there; the others only give their methods.
    if (parsed == formats::CabParse::Truncated && header.folders.empty())
        return CabinetRead::NoFolder;
    cab_ = {};
    cab_.firstFile = start + header.filesOffset;
    cab_.versionMinor = header.versionMinor;
    cab_.versionMajor = header.versionMajor;
    cab_.fileCount = header.fileCount;
    cab_.flags = header.flags;
    cab_.nextCabinet = header.nextCabinet;
    cab_.nextDisk = (header.flags & formats::kCabHasNext) ? header.nextDisk : "0";
    for (const formats::CabFolderRecord& folder : header.folders)
        cab_.compression.push_back(folder.compression);
    return CabinetRead::Ok;
}

void CabReader::Prepare(TLorvex& l) {
    l.SetHeaderSize(kFileEntrySize);
    visited_ = {UpperCaseAscii(l.ArchivePath())};
    switch (ReadCabinet(l, l.StartOffset() - 1)) {
    case CabinetRead::BadSignature:
        l.ReportError(l.ArchivePath(), "0", kErrBadFileHeader);
        l.HeaderPos = l.StopPos + 1;
        return;
    case CabinetRead::NoFolder:
        l.ReportError(l.ArchivePath(), "0", kErrReadingFile);
        l.HeaderPos = l.StopPos + 1;
        return;
    case CabinetRead::Ok:
        break;
    }
    l.HeaderPos = cab_.firstFile + 1;
    remaining_ = cab_.fileCount;
}

void CabReader::Step(TLorvex& l) {
    if (remaining_ > 0)
        ListFile(l);
    else if (cab_.flags & kCabHasNext)
        NextCabinet(l);
    else
        l.EndWalk();
}

void CabReader::Finish(TLorvex& l) {
    // The walk ran out of file before the cabinet's file table did.
    if (remaining_ > 0) {
        const std::string& cabinet = l.VolumePath.empty() ? l.ArchivePath() : l.VolumePath;
        l.ReportError(cabinet, "0", kErrUnexpectedEnd);
    }
}

uint16_t CabReader::FolderCompression(uint16_t folder) const {
    if (cab_.compression.empty()) return 0;
    if (folder < cab_.compression.size()) return cab_.compression[folder];
    // A file going on into the next cabinet lies in this cabinet's last folder.
    return folder == kCabContinuedToNext ? cab_.compression.back() : cab_.compression.front();
}

void CabReader::ListFile(TLorvex& l) {
    const uint8_t* h = l.Header();
    const uint32_t size = Le32(h);
    const uint16_t folder = Le16(h + 8);
    const uint16_t attributes = Le16(h + 14);
    const std::string stored = l.ReadZeroName();
    if (attributes & kCabNameIsUtf8)
        l.FileName = SlashToBackslash(stored);
    else
        l.SetEntryName(stored);
    l.FireReadFile();
    --remaining_;
    if (folder == kCabContinuedFromPrevious || folder == kCabContinuedBoth || !l.MatchesSpec())
        return;

    l.CountEntry();
    l.AddTotals(size, size);
    l.FileDate = l.ConvertFileDate(SwapHalves(Le32(h + 10))); // date word first
    l.VersionMadeBy = cab_.versionMinor;
    l.VersionNeeded = cab_.versionMajor;
    l.PackedSize = size;
    l.UnpackedSize = size;
    l.CRC = 0;
    l.Encrypted = 0;
    l.MethodCode = FolderCompression(folder);
    l.MethodName = MethodNameFor(l.ArcType(), l.MethodCode);
    l.InternalAttr = attributes;
    l.ExternalAttr = attributes;
    l.Ratio = 0;
    l.VolumeName = ExtractFileName(l.VolumePath.empty() ? l.ArchivePath() : l.VolumePath);
    l.ReportEntry(int32_t(l.HeaderPos - 1), l.EntryCount());
}

bool CabReader::Visited(const std::string& path) const {
    return std::find(visited_.begin(), visited_.end(), UpperCaseAscii(path)) != visited_.end();
}

void CabReader::NextCabinet(TLorvex& l) {
    // The members of a set share a folder: a stored name cannot lead elsewhere.
    const std::string name = ExtractFileName(SlashToBackslash(cab_.nextCabinet));
    const std::string disk = cab_.nextDisk;
    std::string next = AddBackslash(ExtractFileDir(l.ArchivePath())) + name;
    std::string dir = AddBackslash(ExtractFileDir(next)), fn = ExtractFileName(next);
    if (Visited(next) || !l.RequestVolume(dir, fn, disk)) {
        l.EndWalk();
        return;
    }
    next = AddBackslash(dir) + fn;
    if (Visited(next)) {
        l.EndWalk();
        return;
    }
    l.VolumePath = next;
    if (!TZipCommon::CloseInput()) l.RaiseError(next, disk, kErrClosingFile);
    if (!l.OpenVolume(next)) {
        l.OpenVolume(l.ArchivePath());
        l.RaiseError(name, disk, kErrReadingFile);
    }
    visited_.push_back(UpperCaseAscii(next));
    // The walk reads this cabinet to its own end.
    l.StopPos = l.ArchiveSize64();
    switch (ReadCabinet(l, 0)) {
    case CabinetRead::BadSignature:
        l.ReportError(name, disk, kErrBadFileHeader);
        l.EndWalk();
        return;
    case CabinetRead::NoFolder:
        l.ReportError(name, disk, kErrReadingFile);
        l.EndWalk();
        return;
    case CabinetRead::Ok:
        break;
    }
    l.ReadPos = cab_.firstFile;
    l.HeaderPos = l.ReadPos + 1;
    remaining_ = cab_.fileCount;
}

} // namespace

std::unique_ptr<Reader> MakeCabReader() {
    return std::make_unique<CabReader>();
}

} // namespace dvl::lister
