// ZIP: found through its end record, walked through its central directory.
#include "archive/dates.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"
#include "archive/unzip/zip_names.h"
#include "archive/unzip/zip_records.h"

#include <algorithm>
#include <vector>

namespace dvl::lister {

namespace {

using namespace unzip;

// The end record and an archive comment of up to 32746 bytes fit here.
constexpr int64_t kEndRecordWindow = 32768;
constexpr uint32_t kDirectoryAttribute = 0x10;

class ZipReader final : public Reader {
public:
    void Prepare(TLorvex& l) override;
    void Step(TLorvex& l) override;
    void Finish(TLorvex& l) override;

private:
    // The position of the end record; raises 25138 when there is none.
    int64_t FindEndRecord(TLorvex& l, EndRecord& end);
    bool HasCentralHeaderAt(TLorvex& l, int64_t position);
    void Fill(TLorvex& l, const CentralHeader& h);

    uint16_t recordedEntries_ = 0; // the end record's count
    uint32_t headersRead_ = 0;     // central headers met, folders included
    bool stoppedOnDamage_ = false; // the walk met a record that ends no directory
};

// Records that may follow the last central header.
bool EndsDirectory(uint32_t signature) {
    constexpr uint32_t kZip64EndRecord = 0x06064B50, kZip64Locator = 0x07064B50,
                       kDigitalSignature = 0x05054B50;
    return signature == kEndRecordSignature || signature == kZip64EndRecord ||
           signature == kZip64Locator || signature == kDigitalSignature;
}

int64_t ZipReader::FindEndRecord(TLorvex& l, EndRecord& end) {
    const int64_t size = l.ArchiveSize64();
    const int64_t window = std::min(size, kEndRecordWindow);
    std::vector<uint8_t> tail(size_t(window) + 2, 0);
    l.SeekInput(size - window);
    l.ReadInput(tail.data(), size_t(window));
    // The highest place wins; the window's first byte is never taken.
    for (int64_t p = window - 21; p >= 1; --p) {
        if (Le32(&tail[size_t(p)]) != kEndRecordSignature) continue;
        uint8_t record[kEndRecordSize] = {};
        l.SeekInput(size - window + p);
        l.ReadInput(record, sizeof record);
        end = EndRecord::Parse(record);
        return size - window + p;
    }
    l.RaiseError(l.ArchivePath(), "0", kErrHeaderId);
}

bool ZipReader::HasCentralHeaderAt(TLorvex& l, int64_t position) {
    std::fill_n(l.Header(), kCentralHeaderSize, 0);
    l.SeekInput(position);
    l.ReadInput(l.Header(), kCentralHeaderSize);
    return Le32(l.Header()) == kCentralHeaderSignature;
}

void ZipReader::Prepare(TLorvex& l) {
    EndRecord end{};
    const int64_t endPos = FindEndRecord(l, end);
    recordedEntries_ = end.totalEntries;
    headersRead_ = 0;
    stoppedOnDamage_ = false;
    if (end.commentLength != 0) {
        l.ReadPos = endPos + kEndRecordSize;
        l.SeekInput(l.ReadPos);
        l.ReadComment(end.commentLength, l.ArchiveComment);
    }

    // Behind a stub found through its resources the offsets count from the
    // stub's end, unless the archiver adjusted them to count the stub too.
    l.SetHeaderSize(kCentralHeaderSize);
    int64_t directory = end.centralOffset;
    const int32_t base = TZipCommon::SfxBase();
    if (base > 0 && l.StartOffset() == base + 1 && HasCentralHeaderAt(l, directory + base))
        directory += base;
    else if (!HasCentralHeaderAt(l, directory))
        l.RaiseError(l.ArchivePath(), "0", kErrHeaderId);
    l.HeaderPos = directory + 1;
    l.StopPos = l.ArchiveSize64();
}

void ZipReader::Step(TLorvex& l) {
    const CentralHeader h = CentralHeader::Parse(l.Header());
    if (h.signature != kCentralHeaderSignature) {
        l.EndWalk();
        if (l.EntryCount() == 0) l.RaiseError(l.ArchivePath(), "0", kErrBadFileHeader);
        stoppedOnDamage_ = !EndsDirectory(h.signature);
        return;
    }
    ++headersRead_;
    const std::string stored = l.ReadCountedName(h.nameLength);
    const int64_t afterName = l.ReadPos;
    const std::string extra = l.ReadCountedName(h.extraLength);
    const ZipNameFields fields{h.flags, h.versionMadeBy, extra};
    l.FileName = ZipEntryName(stored, fields);
    if (ZipNameIsOem(stored, fields)) l.NoteOemName(stored);
    l.FireReadFile();
    if (h.commentLength != 0) {
        l.SeekInput(afterName + h.extraLength);
        l.ReadComment(h.commentLength, l.FileComment);
    }

    const bool directory = h.externalAttr & kDirectoryAttribute;
    if ((directory && l.ShowBlankDirs()) || l.MatchesSpec()) {
        // Directories are reported with the number of the file before them.
        if (!directory) {
            l.CountEntry();
            l.AddTotals(h.packedSize, h.unpackedSize);
        }
        Fill(l, h);
        l.ReportEntry(int32_t(h.localOffset), l.EntryCount());
    }
    l.ReadPos = afterName + h.extraLength + h.commentLength;

    // The end of the directory, whether or not the end record's signature
    // follows with room for a header.
    if (l.WalkEnds() && l.EntryCount() == 0) l.RaiseError(l.ArchivePath(), "0", kErrBadFileHeader);
}

void ZipReader::Finish(TLorvex& l) {
    // Archivers that write more than 65535 entries without ZIP64 keep the
    // count's low 16 bits.
    if (recordedEntries_ != 0xFFFF && uint16_t(headersRead_) < recordedEntries_)
        l.ReportMissingEntries(uint16_t(headersRead_), recordedEntries_);
    else if (stoppedOnDamage_)
        l.ReportError(l.ArchivePath(), "0", kErrBadFileHeader);
}

void ZipReader::Fill(TLorvex& l, const CentralHeader& h) {
    l.FileDate = l.ConvertFileDate(h.dosDateTime);
    l.VersionMadeBy = h.versionMadeBy;
    l.VersionNeeded = h.versionNeeded;
    l.PackedSize = h.packedSize;
    l.UnpackedSize = h.unpackedSize;
    l.CRC = h.crc;
    l.Encrypted = h.flags & kFlagEncrypted;
    l.MethodCode = h.method;
    l.MethodName =
        MethodNameFor(l.ArcType(), h.method, {.zipFlags = h.flags, .attributes = h.externalAttr});
    l.InternalAttr = h.internalAttr;
    l.ExternalAttr = h.externalAttr;
    if (h.flags > 1) {
        const bool bit1 = h.flags & 2, bit2 = h.flags & 4;
        l.DeflateLevel = bit1 && bit2 ? 6 : bit2 ? 4 : bit1 ? 2 : 0;
    }
    l.Ratio = ComputeRatio(l.PackedSize, l.UnpackedSize);
}

} // namespace

std::unique_ptr<Reader> MakeZipReader() {
    return std::make_unique<ZipReader>();
}

} // namespace dvl::lister
